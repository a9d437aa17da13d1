#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>

#include <unistd.h>

#include "tagserver/UserDirectory.h"
#include "web/WebAccess.h"

namespace web {
namespace {

// "viewer:secret", "engineer:secret", "viewer:wrong" in base64.
constexpr const char* kViewer = "Basic dmlld2VyOnNlY3JldA==";
constexpr const char* kEngineer = "Basic ZW5naW5lZXI6c2VjcmV0";
constexpr const char* kWrong = "Basic dmlld2VyOndyb25n";
// The size the user file keeps a hash at.
constexpr size_t kHashSize = 32;

class WebAccessTest : public ::testing::Test {
 protected:
  void SetUp() override {
    path = std::filesystem::temp_directory_path() /
           ("web-access-" + std::to_string(::getpid()) + "-users");
    auto users = std::make_shared<tagserver::UserDirectory>(path.string());
    // Fast and plain: the roles are what is under test, not the hash.
    users->SetHasher([this](const std::string& password, const std::vector<uint8_t>& salt,
                            uint32_t) {
      ++hashes;
      std::vector<uint8_t> out(salt);
      out.insert(out.end(), password.begin(), password.end());
      out.resize(kHashSize);
      return out;
    });
    std::string error;
    ASSERT_TRUE(users->Add("viewer", "secret", tagserver::UserRole::ReadOnly, error)) << error;
    ASSERT_TRUE(users->Add("engineer", "secret", tagserver::UserRole::ReadWrite, error)) << error;
    directory = users;
  }
  void TearDown() override { std::filesystem::remove(path); }

  std::filesystem::path path;
  std::shared_ptr<tagserver::UserDirectory> directory;
  int hashes = 0;
};

TEST_F(WebAccessTest, GrantsTheUsersRolesAndRefusesTheRestWithTheirStatus) {
  struct Case {
    const char* name;
    bool anonymousLoopbackRead;
    std::string authorization;
    std::string address;
    bool https;
    int status;
    WebRole role;
  };
  const Case cases[] = {
      {"no login", false, "", "127.0.0.1", true, 401, WebRole::None},
      {"anonymous reader on loopback", true, "", "127.0.0.1", false, 200, WebRole::Read},
      {"anonymous reader on IPv6 loopback", true, "", "::1", true, 200, WebRole::Read},
      {"anonymous elsewhere", true, "", "192.0.2.7", true, 401, WebRole::None},
      {"password in clear", false, kViewer, "127.0.0.1", false, 403, WebRole::None},
      {"not basic", false, "Bearer abc", "127.0.0.1", true, 400, WebRole::None},
      {"not base64", false, "Basic !!!!", "127.0.0.1", true, 400, WebRole::None},
      {"no colon", false, "Basic dmlld2Vy", "127.0.0.1", true, 400, WebRole::None},
      {"wrong password", false, kWrong, "192.0.2.8", true, 401, WebRole::None},
      {"reader", false, kViewer, "192.0.2.7", true, 200, WebRole::Read},
      {"read-write user", false, kEngineer, "192.0.2.7", true, 200, WebRole::ReadWrite},
  };
  for (const Case& c : cases) {
    WebAccess access(directory, c.anonymousLoopbackRead);
    AccessAnswer answer = access.Check({c.authorization, c.address, c.https});
    EXPECT_EQ(answer.status, c.status) << c.name << ": " << answer.message;
    EXPECT_EQ(answer.role, c.role) << c.name;
    if (c.status != 200) {
      EXPECT_FALSE(answer.message.empty()) << c.name;
    }
  }
}

TEST_F(WebAccessTest, AGoodPasswordIsHashedOnceThenRememberedAndAWrongOneEveryTime) {
  WebAccess access(directory, false);
  const int before = hashes;
  for (int i = 0; i < 3; ++i) EXPECT_EQ(access.Check({kViewer, "192.0.2.7", true}).status, 200);
  const int afterGood = hashes - before;
  EXPECT_EQ(access.Check({kWrong, "192.0.2.9", true}).status, 401);
  EXPECT_EQ(access.Check({kWrong, "192.0.2.9", true}).status, 401);
  EXPECT_EQ(hashes - before - afterGood, 2);
  // One hash for the login, not one per request.
  EXPECT_EQ(afterGood, 1);
}

}  // namespace
}  // namespace web
