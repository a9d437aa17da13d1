// The users file: what logs in, what is kept, and lines that are not ours.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "tagserver/UserDirectory.h"

using tagserver::UserDirectory;
using tagserver::UserRole;

TEST(UserDirectoryTest, LoginsRolesAndChanges) {
  char folder[] = "/tmp/pelmoran-users-test-XXXXXX";
  const std::string root = mkdtemp(folder);
  UserDirectory users(root + "/opcua-users");
  std::string error;
  ASSERT_TRUE(users.Add("alice", "s3cret", UserRole::ReadWrite, error)) << error;
  ASSERT_TRUE(users.Add("bob", "pass:word\xc3\xa9", UserRole::ReadOnly, error)) << error;
  // Someone's hand-edited lines and damage are skipped, not fatal.
  std::ofstream(users.Path(), std::ios::app) << "garbage line\ncarol:admin:pbkdf2-sha256:1:00:00\n";

  struct Case {
    const char* name;
    const char* password;
    std::optional<UserRole> role;
  };
  const Case cases[] = {
      {"alice", "s3cret", UserRole::ReadWrite}, {"bob", "pass:word\xc3\xa9", UserRole::ReadOnly},
      {"alice", "S3cret", std::nullopt},        {"alice", "", std::nullopt},
      {"nobody", "s3cret", std::nullopt},       {"carol", "", std::nullopt},
  };
  for (const Case& c : cases) EXPECT_EQ(users.Authenticate(c.name, c.password), c.role) << c.name;

  std::ifstream in(users.Path());
  std::stringstream text;
  text << in.rdbuf();
  EXPECT_EQ(text.str().find("s3cret"), std::string::npos) << "no password in clear";
  struct stat info {};
  ASSERT_EQ(stat(users.Path().c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);

  ASSERT_TRUE(users.Add("alice", "new one", UserRole::ReadOnly, error));
  EXPECT_EQ(users.Authenticate("alice", "s3cret"), std::nullopt);
  EXPECT_EQ(users.Authenticate("alice", "new one"), UserRole::ReadOnly);
  ASSERT_TRUE(users.Remove("bob", error));
  EXPECT_EQ(users.Authenticate("bob", "pass:word\xc3\xa9"), std::nullopt);
  EXPECT_FALSE(users.Remove("bob", error));
  EXPECT_FALSE(users.Add("bad:name", "x", UserRole::ReadOnly, error));
  EXPECT_FALSE(users.Add("eve", "", UserRole::ReadOnly, error));
  std::filesystem::remove_all(root);
}
