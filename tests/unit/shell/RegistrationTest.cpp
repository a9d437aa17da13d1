// The registration record and the service unit, written to and removed from
// a configuration directory of the test's own.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "tagserver/tagserver.h"

namespace {

namespace fs = std::filesystem;

const GUID kId = {0x01234567, 0x89AB, 0xCDEF, {0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF}};
constexpr const char* kProgId = "Korvane.Modbus_OPC_Server";

std::string ReadAll(const fs::path& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

class RegistrationTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/pelmoran-reg-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    root_ = pattern;
    SaveEnv("XDG_CONFIG_HOME", savedXdg_, hadXdg_);
    SaveEnv("HOME", savedHome_, hadHome_);
    SaveEnv("PELMORAN_CONFIG_DIR", savedDir_, hadDir_);
    unsetenv("PELMORAN_CONFIG_DIR");
    setenv("XDG_CONFIG_HOME", (root_ / "xdg").c_str(), 1);
    setenv("HOME", (root_ / "home").c_str(), 1);
  }
  void TearDown() override {
    RestoreEnv("XDG_CONFIG_HOME", savedXdg_, hadXdg_);
    RestoreEnv("HOME", savedHome_, hadHome_);
    RestoreEnv("PELMORAN_CONFIG_DIR", savedDir_, hadDir_);
    fs::remove_all(root_);
  }
  fs::path Record() const {
    return root_ / "xdg/pelmoran" / (std::string(kProgId) + ".registration");
  }
  fs::path Unit() const { return root_ / "xdg/systemd/user/pelmoran.service"; }

  fs::path root_;

 private:
  static void SaveEnv(const char* name, std::string& value, bool& had) {
    const char* v = getenv(name);
    had = v != nullptr;
    if (had) value = v;
  }
  static void RestoreEnv(const char* name, const std::string& value, bool had) {
    if (had)
      setenv(name, value.c_str(), 1);
    else
      unsetenv(name);
  }
  std::string savedXdg_, savedHome_, savedDir_;
  bool hadXdg_ = false, hadHome_ = false, hadDir_ = false;
};

TEST_F(RegistrationTest, RecordHoldsEveryField) {
  ASSERT_EQ(RegisterOPCServer(&kId, kProgId, "Korvane Software OPC Server for Modbus",
                              "/opt/pel/pelmoran.EXE -Minimize"),
            0);
  std::string record = ReadAll(Record());
  EXPECT_NE(record.find("ProgID=Korvane.Modbus_OPC_Server\n"), std::string::npos);
  EXPECT_NE(record.find("Description=Korvane Software OPC Server for Modbus\n"), std::string::npos);
  EXPECT_NE(record.find("ClassID={01234567-89AB-CDEF-0123-456789ABCDEF}\n"), std::string::npos);
  EXPECT_NE(record.find("ServerCommand=/opt/pel/pelmoran.EXE -Minimize\n"), std::string::npos);
  EXPECT_NE(record.find("EndpointURL="), std::string::npos);
  EXPECT_FALSE(fs::exists(Unit()));
}

TEST_F(RegistrationTest, RecordNamesWhereClientsWillReachTheServer) {
  unsetenv("PELMORAN_OPCUA_ENDPOINT");
  RegisterOPCServer(&kId, kProgId, "d", "c");
  EXPECT_NE(ReadAll(Record()).find("EndpointURL=opc.tcp://127.0.0.1:4840\n"), std::string::npos);
  setenv("PELMORAN_OPCUA_ENDPOINT", "opc.tcp://127.0.0.1:4999", 1);
  RegisterOPCServer(&kId, kProgId, "d", "c");
  EXPECT_NE(ReadAll(Record()).find("EndpointURL=opc.tcp://127.0.0.1:4999\n"), std::string::npos);
  // A free port is not known before the server runs.
  setenv("PELMORAN_OPCUA_ENDPOINT", "opc.tcp://127.0.0.1:0", 1);
  RegisterOPCServer(&kId, kProgId, "d", "c");
  EXPECT_NE(ReadAll(Record()).find("EndpointURL=\n"), std::string::npos);
  setenv("PELMORAN_OPCUA_ENDPOINT", "garbage", 1);
  EXPECT_EQ(RegisterOPCServer(&kId, kProgId, "d", "c"), 0);
  EXPECT_NE(ReadAll(Record()).find("EndpointURL=\n"), std::string::npos);
  unsetenv("PELMORAN_OPCUA_ENDPOINT");
}

TEST_F(RegistrationTest, RegisteringAgainReplacesTheRecordWhole) {
  RegisterOPCServer(&kId, kProgId, "first", "/a/pelmoran.EXE -Minimize");
  RegisterOPCServer(&kId, kProgId, "second", "/b/pelmoran.EXE -Minimize");
  std::string record = ReadAll(Record());
  EXPECT_EQ(record.find("first"), std::string::npos);
  EXPECT_NE(record.find("ServerCommand=/b/pelmoran.EXE -Minimize\n"), std::string::npos);
  int files = 0;
  for (const auto& entry : fs::directory_iterator(Record().parent_path())) {
    (void)entry;
    ++files;
  }
  EXPECT_EQ(files, 1);  // no temporary file left behind
}

TEST_F(RegistrationTest, ServiceUnitRunsTheProgramHeadless) {
  fs::path bin = root_ / "my bin";
  fs::create_directories(bin);
  std::ofstream(bin / "pelmoran") << "#!/bin/sh\n";
  std::string command = (bin / "pelmoran.EXE").string() + " -Minimize";
  RegisterOPCServer(&kId, kProgId, "Modbus 100% server", command.c_str());
  ASSERT_EQ(RegisterOPCService(kProgId), 0);
  std::string unit = ReadAll(Unit());
  // The file that exists is started; a blank in its directory stays inside one word.
  EXPECT_NE(
      unit.find("ExecStart=\"" + (bin / "pelmoran").string() + "\" \"-Minimize\" \"-Headless\"\n"),
      std::string::npos)
      << unit;
  EXPECT_NE(unit.find("Description=Modbus 100%% server\n"), std::string::npos) << unit;
  EXPECT_NE(unit.find("[Install]\nWantedBy=default.target\n"), std::string::npos);
}

TEST_F(RegistrationTest, ServiceWithoutRecordWritesNothing) {
  EXPECT_NE(RegisterOPCService(kProgId), 0);
  EXPECT_FALSE(fs::exists(Unit()));
}

TEST_F(RegistrationTest, UnregisterRemovesRecordAndUnit) {
  RegisterOPCServer(&kId, kProgId, "d", "/x/pelmoran.EXE -Minimize");
  RegisterOPCService(kProgId);
  ASSERT_TRUE(fs::exists(Record()));
  ASSERT_TRUE(fs::exists(Unit()));
  EXPECT_EQ(UnregisterOPCServer(&kId, kProgId), 0);
  EXPECT_FALSE(fs::exists(Record()));
  EXPECT_FALSE(fs::exists(Unit()));
  // Nothing registered: removing again is harmless.
  EXPECT_EQ(UnregisterOPCServer(&kId, kProgId), 0);
}

TEST_F(RegistrationTest, WithoutUsableXdgTheHomeConfigurationIsUsed) {
  setenv("XDG_CONFIG_HOME", "relative/dir", 1);
  RegisterOPCServer(&kId, kProgId, "d", "/x/pelmoran.EXE -Minimize");
  EXPECT_TRUE(
      fs::exists(root_ / "home/.config/pelmoran" / (std::string(kProgId) + ".registration")));
  EXPECT_FALSE(fs::exists("relative"));
  unsetenv("XDG_CONFIG_HOME");
  UnregisterOPCServer(&kId, kProgId);
  EXPECT_FALSE(
      fs::exists(root_ / "home/.config/pelmoran" / (std::string(kProgId) + ".registration")));
}

TEST_F(RegistrationTest, TheRecordFollowsTheProgramsDirectoryTheUnitStaysWhereSystemdLooks) {
  setenv("PELMORAN_CONFIG_DIR", (root_ / "plant").c_str(), 1);
  const fs::path record = root_ / "plant" / (std::string(kProgId) + ".registration");
  ASSERT_EQ(RegisterOPCServer(&kId, kProgId, "d", "/x/pelmoran.EXE -Minimize"), 0);
  ASSERT_EQ(RegisterOPCService(kProgId), 0);
  EXPECT_TRUE(fs::exists(record));
  EXPECT_FALSE(fs::exists(Record()));
  EXPECT_TRUE(fs::exists(Unit()));
  UnregisterOPCServer(&kId, kProgId);
  EXPECT_FALSE(fs::exists(record));
  EXPECT_FALSE(fs::exists(Unit()));
}

TEST_F(RegistrationTest, UnsafeInputIsRefusedAndWritesNothing) {
  EXPECT_NE(RegisterOPCServer(&kId, "../escape", "d", "c"), 0);
  EXPECT_NE(RegisterOPCServer(&kId, "", "d", "c"), 0);
  EXPECT_NE(RegisterOPCServer(&kId, nullptr, "d", "c"), 0);
  EXPECT_NE(RegisterOPCServer(nullptr, kProgId, "d", "c"), 0);
  EXPECT_NE(RegisterOPCServer(&kId, kProgId, "two\nlines", "c"), 0);
  EXPECT_NE(RegisterOPCServer(&kId, kProgId, "d", "cmd\nExecStart=/bin/evil"), 0);
  EXPECT_NE(RegisterOPCService("a/b"), 0);
  EXPECT_FALSE(fs::exists(root_ / "xdg"));
  EXPECT_FALSE(fs::exists(root_ / "escape.registration"));
}

TEST_F(RegistrationTest, UnwritableDirectoryFailsWithoutCrash) {
  fs::create_directories(root_ / "xdg");
  std::ofstream(root_ / "xdg/pelmoran") << "a file where the directory should be";
  EXPECT_NE(RegisterOPCServer(&kId, kProgId, "d", "c"), 0);
}

}  // namespace
