// The command line and the library calls of start-up, in the order they are
// made, against a recording tag-server and Modbus binding.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "link/ModbusBinding.h"
#include "pointdb/TagServerBinding.h"
#include "shell/CommandLine.h"
#include "shell/Startup.h"

namespace {

std::vector<std::string> g_calls;
std::vector<GUID> g_classIds;

int FakeRegister(const GUID* clsid, const char* progId, const char* description,
                 const char* command) {
  g_classIds.push_back(*clsid);
  g_calls.push_back(std::string("RegisterOPCServer|") + progId + "|" + description + "|" + command);
  return 0;
}
int FakeUnregister(const GUID* clsid, const char* progId) {
  g_classIds.push_back(*clsid);
  g_calls.push_back(std::string("UnregisterOPCServer|") + progId);
  return 0;
}
int FakeService(const char* progId) {
  g_calls.push_back(std::string("RegisterOPCService|") + progId);
  return 0;
}
int FakeInit(const GUID* clsid, int rate) {
  g_classIds.push_back(*clsid);
  g_calls.push_back("InitOPCServer|" + std::to_string(rate));
  return 0;
}
int FakeSecurity(const OPCSecuritySettings* settings) {
  g_calls.push_back(std::string("SetOPCSecurity|") + settings->directory + "|" +
                    std::to_string(settings->allowNoneOnNetwork) + "|" +
                    std::to_string(settings->anonymous));
  return 0;
}
void WriteCallback(int32_t, VARIANT*, int32_t*) {}
void LinkCallback(int, int) {}
int FakeEnableWrite(OPCWriteCallback callback, int enable) {
  g_calls.push_back(std::string("EnableWriteCallback|") +
                    (callback == &WriteCallback ? "ours" : "other") + "|" + std::to_string(enable));
  return 0;
}
void FakeEnableConnection(ConnectionCallback callback) {
  g_calls.push_back(std::string("EnableConnectionCallback|") +
                    (callback == &LinkCallback ? "ours" : "other"));
}

const std::string kRegister =
    "RegisterOPCServer|Korvane.Modbus_OPC_Server|Korvane Software OPC Server for Modbus|"
    "/opt/pel/pelmoran.EXE -Minimize";
const std::string kUnregister = "UnregisterOPCServer|Korvane.Modbus_OPC_Server";
const std::string kService = "RegisterOPCService|Korvane.Modbus_OPC_Server";

class StartupTest : public ::testing::Test {
 protected:
  void SetUp() override {
    saved_ = TagServer();
    savedModbus_ = Modbus();
    TagServer() = TagServerBinding{};
    TagServer().RegisterOPCServer = &FakeRegister;
    TagServer().UnregisterOPCServer = &FakeUnregister;
    TagServer().RegisterOPCService = &FakeService;
    TagServer().InitOPCServer = &FakeInit;
    TagServer().EnableWriteCallback = &FakeEnableWrite;
    Modbus().EnableConnectionCallback = &FakeEnableConnection;
    g_calls.clear();
    g_classIds.clear();
  }
  void TearDown() override {
    TagServer() = saved_;
    Modbus() = savedModbus_;
  }

  // Runs start-up as the program does: the ending switches, then (when the
  // program goes on) the normal start.
  bool Start(const std::string& commandLine) {
    Startup startup("/opt/pel/");
    if (startup.RunEndingSwitch(CommandLine(commandLine))) return false;
    startup.StartLibraries(&WriteCallback, &LinkCallback);
    return true;
  }

  const std::vector<std::string> normalStart_ = {kRegister, "InitOPCServer|250",
                                                 "EnableWriteCallback|ours|1",
                                                 "EnableConnectionCallback|ours"};

 private:
  TagServerBinding saved_;
  ModbusBinding savedModbus_;
};

TEST(CommandLineSplit, DelimitersNeverGiveEmptyTokens) {
  EXPECT_TRUE(CommandLine::Split("").empty());
  EXPECT_TRUE(CommandLine::Split(" -/ //--  ").empty());
  EXPECT_EQ(CommandLine::Split("--a//b  c-"), (std::vector<std::string>{"a", "b", "c"}));
  EXPECT_EQ(CommandLine::Split("Reg-Server"), (std::vector<std::string>{"Reg", "Server"}));
  EXPECT_EQ(CommandLine::Split("x\ty"), (std::vector<std::string>{"x\ty"}));
}

TEST(CommandLineSplit, JoinsArgumentsAfterTheProgramName) {
  const char* argv[] = {"/usr/bin/pelmoran", "-Minimize", "/Headless"};
  EXPECT_EQ(CommandLine::JoinArguments(3, argv), "-Minimize /Headless");
  EXPECT_EQ(CommandLine::JoinArguments(1, argv), "");
}

TEST(CommandLineParse, MatchesWholeTokensIgnoringCase) {
  EXPECT_EQ(CommandLine("/RegServer").m_nEnding, CommandLine::RegServer);
  EXPECT_EQ(CommandLine("-REGSERVER").m_nEnding, CommandLine::RegServer);
  EXPECT_EQ(CommandLine("regserver").m_nEnding, CommandLine::RegServer);
  EXPECT_EQ(CommandLine("RegServerX").m_nEnding, CommandLine::None);
  EXPECT_EQ(CommandLine("Reg-Server").m_nEnding, CommandLine::None);
  EXPECT_EQ(CommandLine("-unregserver").m_nEnding, CommandLine::UnregServer);
  EXPECT_EQ(CommandLine("/sErViCe").m_nEnding, CommandLine::Service);
  EXPECT_TRUE(CommandLine("-MINIMIZE").m_bMinimize);
  EXPECT_TRUE(CommandLine("-headless").m_bHeadless);
  EXPECT_FALSE(CommandLine("-Head-less").m_bHeadless);
  EXPECT_FALSE(CommandLine("-Minimized").m_bMinimize);
}

TEST(CommandLineParse, FirstEndingSwitchEndsTheLook) {
  CommandLine unreg("-UnregServer -Minimize -Headless");
  EXPECT_EQ(unreg.m_nEnding, CommandLine::UnregServer);
  EXPECT_FALSE(unreg.m_bMinimize);
  EXPECT_FALSE(unreg.m_bHeadless);
  EXPECT_EQ(CommandLine("-RegServer -UnregServer").m_nEnding, CommandLine::RegServer);
  EXPECT_EQ(CommandLine("-Service /RegServer").m_nEnding, CommandLine::Service);
  CommandLine minimizeFirst("-Minimize -Headless -RegServer");
  EXPECT_EQ(minimizeFirst.m_nEnding, CommandLine::RegServer);
  EXPECT_TRUE(minimizeFirst.m_bMinimize);
  EXPECT_TRUE(minimizeFirst.m_bHeadless);
}

TEST_F(StartupTest, EmptyLineStartsNormallyInTheFixedOrder) {
  EXPECT_TRUE(Start(""));
  EXPECT_EQ(g_calls, normalStart_);
}

TEST_F(StartupTest, RegServerInEveryWritingRegistersAndEnds) {
  for (const char* line :
       {"/RegServer", "-RegServer", "-REGSERVER", "-Minimize -RegServer", "  //regserver  "}) {
    g_calls.clear();
    EXPECT_FALSE(Start(line)) << line;
    EXPECT_EQ(g_calls, std::vector<std::string>{kRegister}) << line;
  }
}

TEST_F(StartupTest, UnregServerUnregistersAndEnds) {
  EXPECT_FALSE(Start("-UnregServer -Minimize"));
  EXPECT_EQ(g_calls, std::vector<std::string>{kUnregister});
}

TEST_F(StartupTest, ServiceRegistersThenRegistersTheService) {
  EXPECT_FALSE(Start("-Service"));
  EXPECT_EQ(g_calls, (std::vector<std::string>{kRegister, kService}));
}

TEST_F(StartupTest, NearMissesRegisterNothingAndStartNormally) {
  for (const char* line : {"RegServerX", "Reg-Server", "-Minimize", "-Headless", "file.tst"}) {
    g_calls.clear();
    EXPECT_TRUE(Start(line)) << line;
    EXPECT_EQ(g_calls, normalStart_) << line;
  }
}

TEST_F(StartupTest, OneClassIdInEveryCall) {
  Start("-UnregServer");
  Start("-Service");
  Start("");
  ASSERT_EQ(g_classIds.size(), 4u);
  for (const GUID& id : g_classIds) EXPECT_TRUE(id == Startup::kClassId);
}

TEST(StartupPaths, CommandAndConfigurationLieBesideTheExecutable) {
  const std::string dir = ::testing::TempDir() + "pelmoran a b/";
  std::filesystem::create_directories(dir);
  Startup startup(dir);
  EXPECT_EQ(startup.ServerCommand(), dir + "pelmoran.EXE -Minimize");
  EXPECT_EQ(startup.ConfigPath(), dir + "pelmoran.tst");
  std::filesystem::remove_all(dir);
  const std::string running = Startup::ExecutableDirectory();
  ASSERT_FALSE(running.empty());
  EXPECT_EQ(running.front(), '/');
  EXPECT_EQ(running.back(), '/');
}

}  // namespace

TEST_F(StartupTest, TheEndpointsSecuritySettingsGoToTheServerBeforeItStarts) {
  char folder[] = "/tmp/pelmoran-startup-test-XXXXXX";
  const std::string dir = std::string(mkdtemp(folder)) + "/";
  setenv("PELMORAN_CONFIG_DIR", dir.c_str(), 1);
  TagServer().SetOPCSecurity = &FakeSecurity;
  struct Case {
    const char* ini;
    std::string call;
  };
  const Case cases[] = {
      {"", "SetOPCSecurity|" + dir + "|0|-1"},
      {"[OpcUa]\nAnonymous=off\nAllowNoneOnNetwork=1\n", "SetOPCSecurity|" + dir + "|1|0"},
      {"[OpcUa]\nAnonymous=read\n", "SetOPCSecurity|" + dir + "|0|1"},
      {"[OpcUa]\nAnonymous = readwrite\nAllowNoneOnNetwork=yes\n",
       "SetOPCSecurity|" + dir + "|0|2"},
      {"[OpcUa]\nAnonymous=everyone\n", "SetOPCSecurity|" + dir + "|0|-1"},
  };
  for (const Case& c : cases) {
    std::ofstream(dir + "pelmoran.ini") << c.ini;
    g_calls.clear();
    EXPECT_TRUE(Start(""));
    std::vector<std::string> expected = normalStart_;
    expected.insert(expected.begin() + 1, c.call);
    EXPECT_EQ(g_calls, expected) << c.ini;
  }
  unsetenv("PELMORAN_CONFIG_DIR");
  std::filesystem::remove_all(dir);
}
