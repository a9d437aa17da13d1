#include <gtest/gtest.h>
#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <string>

#include "platform/ConfigLocation.h"

namespace {

// An environment and file system of the test's own.
struct FakeSystem {
  std::map<std::string, std::string> env;
  std::set<std::string> writable;
  std::set<std::string> existing;

  ConfigLocationProbe Probe() {
    return {
        [this](const char* name) -> const char* {
          auto it = env.find(name);
          return it == env.end() ? nullptr : it->second.c_str();
        },
        [this](const std::string& dir) { return writable.count(dir) != 0; },
        [this](const std::string& path) { return existing.count(path) != 0; },
    };
  }
};

TEST(ConfigLocation, BuildFolderKeepsTheFileBesideTheExecutable) {
  FakeSystem sys;
  sys.env["HOME"] = "/home/op";
  sys.writable.insert("/work/build/shell/");
  EXPECT_EQ(ConfigDirectory("/work/build/shell/", sys.Probe()), "/work/build/shell/");
  EXPECT_EQ(ConfigDirectory("/work/build/shell", sys.Probe()), "/work/build/shell/");
}

TEST(ConfigLocation, InstalledOrReadOnlyProgramUsesTheUserConfigDirectory) {
  FakeSystem sys;
  sys.env["HOME"] = "/home/op";
  // Installed: writable for root, but the installed manual marks the prefix.
  sys.writable.insert("/usr/bin/");
  sys.existing.insert("/usr/bin/../share/doc/pelmoran/");
  EXPECT_EQ(ConfigDirectory("/usr/bin", sys.Probe()), "/home/op/.config/pelmoran/");
  // Not installed, but its folder cannot be written.
  EXPECT_EQ(ConfigDirectory("/opt/readonly/", sys.Probe()), "/home/op/.config/pelmoran/");
  sys.env["XDG_CONFIG_HOME"] = "/srv/cfg/";
  EXPECT_EQ(ConfigDirectory("/usr/bin", sys.Probe()), "/srv/cfg/pelmoran/");
  // A relative XDG_CONFIG_HOME is not a valid base directory.
  sys.env["XDG_CONFIG_HOME"] = "cfg";
  EXPECT_EQ(ConfigDirectory("/usr/bin", sys.Probe()), "/home/op/.config/pelmoran/");
}

TEST(ConfigLocation, EnvironmentVariableWinsEverywhereAndEmptyIsUnset) {
  FakeSystem sys;
  sys.env["HOME"] = "/home/op";
  sys.writable.insert("/work/build/shell/");
  sys.env["PELMORAN_CONFIG_DIR"] = "/etc/pelmoran";
  EXPECT_EQ(ConfigDirectory("/work/build/shell/", sys.Probe()), "/etc/pelmoran/");
  EXPECT_EQ(ConfigDirectory("/usr/bin/", sys.Probe()), "/etc/pelmoran/");
  sys.env["PELMORAN_CONFIG_DIR"] = "";
  EXPECT_EQ(ConfigDirectory("/work/build/shell/", sys.Probe()), "/work/build/shell/");
}

// The lookup of files that never lie beside the executable.
TEST(ConfigLocation, UserDirectoryHonoursTheVariableThenXdgThenHome) {
  // base: where systemd reads a user's units; the variable never moves it.
  const struct {
    std::map<std::string, std::string> env;
    std::string directory;
    std::string base;
  } cases[] = {
      {{{"HOME", "/home/op"}}, "/home/op/.config/pelmoran/", "/home/op/.config/"},
      {{{"HOME", "/home/op"}, {"XDG_CONFIG_HOME", "/srv/cfg"}}, "/srv/cfg/pelmoran/", "/srv/cfg/"},
      {{{"HOME", "/home/op"}, {"XDG_CONFIG_HOME", "cfg"}},
       "/home/op/.config/pelmoran/",
       "/home/op/.config/"},
      {{{"HOME", "/home/op"}, {"XDG_CONFIG_HOME", "/srv/cfg"}, {"PELMORAN_CONFIG_DIR", "/etc/p"}},
       "/etc/p/",
       "/srv/cfg/"},
      {{{"HOME", "/home/op"}, {"PELMORAN_CONFIG_DIR", ""}},
       "/home/op/.config/pelmoran/",
       "/home/op/.config/"},
  };
  for (const auto& c : cases) {
    FakeSystem sys;
    sys.env = c.env;
    EXPECT_EQ(UserConfigDirectory(sys.Probe()), c.directory);
    EXPECT_EQ(XdgConfigHome(sys.Probe()), c.base);
  }
}

TEST(ConfigLocation, WithoutHomeTheAccountsHomeIsUsed) {
  const char* saved = std::getenv("HOME");
  const std::string home = saved != nullptr ? saved : "";
  ::unsetenv("HOME");
  const passwd* account = getpwuid(getuid());
  ASSERT_NE(account, nullptr);
  const char* found = SystemProbe().getEnv("HOME");
  if (saved != nullptr) ::setenv("HOME", home.c_str(), 1);
  ASSERT_NE(found, nullptr);
  EXPECT_STREQ(found, account->pw_dir);
}

TEST(ConfigLocation, HelpBesideTheExecutableElseTheInstalledManual) {
  FakeSystem sys;
  sys.existing.insert("/work/build/shell/help/index.html");
  EXPECT_EQ(HelpIndexPath("/work/build/shell", sys.Probe()), "/work/build/shell/help/index.html");
  EXPECT_EQ(HelpIndexPath("/usr/bin/", sys.Probe()),
            "/usr/bin/../share/doc/pelmoran/help/index.html");
}

TEST(ConfigLocation, FilePathCreatesTheChosenDirectory) {
  const auto base =
      std::filesystem::temp_directory_path() /
      ("pelmoran-cfg-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()));
  std::filesystem::remove_all(base);
  const std::string dir = (base / "nested" / "dir").string();
  ::setenv("PELMORAN_CONFIG_DIR", dir.c_str(), 1);
  const std::string path = ConfigFilePath("/nonexistent/bin/");
  ::unsetenv("PELMORAN_CONFIG_DIR");
  EXPECT_EQ(path, dir + "/pelmoran.tst");
  EXPECT_TRUE(std::filesystem::is_directory(dir));
  std::filesystem::remove_all(base);
}

}  // namespace
