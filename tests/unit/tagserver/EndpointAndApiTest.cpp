// The listening address setting and the library's entry points around the
// server thread.
#include <gtest/gtest.h>

#include <asio.hpp>
#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>

#include "TestClient.h"
#include "tagserver/EndpointSetting.h"
#include "tagserver/tagserver.h"

namespace tagserver {
namespace {

TEST(EndpointSetting, AcceptsAddressesWithPorts) {
  struct Case {
    std::string text, host;
    uint16_t port;
  };
  std::vector<Case> cases = {{"opc.tcp://0.0.0.0:4840", "0.0.0.0", 4840},
                             {"opc.tcp://127.0.0.1:0", "127.0.0.1", 0},
                             {"opc.tcp://localhost:4841/", "127.0.0.1", 4841},
                             {"opc.tcp://[::1]:65535", "::1", 65535},
                             {"opc.tcp://192.168.1.20:48010", "192.168.1.20", 48010}};
  for (const auto& c : cases) {
    EndpointSetting at;
    std::string error;
    ASSERT_TRUE(ParseEndpointSetting(c.text, at, error)) << c.text << ": " << error;
    EXPECT_EQ(at.host, c.host) << c.text;
    EXPECT_EQ(at.port, c.port) << c.text;
  }
}

TEST(EndpointSetting, RefusesWhatIsNotSuchAUrl) {
  for (const char* text :
       {"127.0.0.1:4840", "http://127.0.0.1:4840", "opc.tcp://127.0.0.1",
        "opc.tcp://127.0.0.1:", "opc.tcp://127.0.0.1:65536", "opc.tcp://127.0.0.1:-1",
        "opc.tcp://127.0.0.1:48a0", "opc.tcp://plc.example.com:4840", "opc.tcp://:4840"}) {
    EndpointSetting at;
    std::string error;
    EXPECT_FALSE(ParseEndpointSetting(text, at, error)) << text;
    EXPECT_FALSE(error.empty()) << text;
    EXPECT_EQ(at.host, "127.0.0.1") << text;
    EXPECT_EQ(at.port, 4840) << text;
  }
}

TEST(EndpointSetting, TheUrlNamesTheChosenPortAndAReachableHost) {
  EXPECT_EQ(EndpointUrl({"127.0.0.1", 0}, 50123), "opc.tcp://127.0.0.1:50123");
  EXPECT_EQ(EndpointUrl({"::1", 4840}, 4840), "opc.tcp://[::1]:4840");
  std::string any = EndpointUrl({"0.0.0.0", 4840}, 4840);
  EXPECT_EQ(any.find("0.0.0.0"), std::string::npos) << any;
  EXPECT_EQ(any.rfind(":4840"), any.size() - 5);
}

class Api : public ::testing::Test {
 protected:
  void TearDown() override {
    ShutdownOPCServer();
    unsetenv("PELMORAN_OPCUA_ENDPOINT");
  }
  GUID clsid{};
};

TEST_F(Api, StartsOnAFreePortAndStopsCleanly) {
  setenv("PELMORAN_OPCUA_ENDPOINT", "opc.tcp://127.0.0.1:0", 1);
  EXPECT_STREQ(GetOPCServerURL(), "");
  ASSERT_EQ(InitOPCServer(&clsid, 250), 0);
  std::string url = GetOPCServerURL();
  ASSERT_EQ(url.rfind("opc.tcp://127.0.0.1:", 0), 0u) << url;
  int port = std::atoi(url.c_str() + url.rfind(':') + 1);
  EXPECT_GT(port, 0);
  // Something listens there and answers Hello with Acknowledge.
  asio::io_context io;
  asio::ip::tcp::socket socket(io);
  socket.connect({asio::ip::make_address("127.0.0.1"), static_cast<uint16_t>(port)});
  asio::write(socket, asio::buffer(test::TestClient::HelloBytes(65536, 65536, 0, 0)));
  char head[4];
  asio::read(socket, asio::buffer(head));
  EXPECT_EQ(std::string(head, 4), "ACKF");
  EXPECT_EQ(GetOPCClientCount(), 1);
  // A client gone is forgotten at the next housekeeping tick.
  socket.close();
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (GetOPCClientCount() != 0 && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_EQ(GetOPCClientCount(), 0);
  EXPECT_EQ(InitOPCServer(&clsid, 250), 0);  // a second start changes nothing
  EXPECT_EQ(GetOPCServerURL(), url);
  ShutdownOPCServer();
  EXPECT_STREQ(GetOPCServerURL(), "");
  EXPECT_EQ(GetOPCClientCount(), 0);
}

TEST_F(Api, AProgramThatExitsWithTheServerRunningEndsNormally) {
  setenv("PELMORAN_OPCUA_ENDPOINT", "opc.tcp://127.0.0.1:0", 1);
  EXPECT_EXIT(
      {
        if (InitOPCServer(&clsid, 250) != 0) std::_Exit(2);
        std::exit(7);
      },
      ::testing::ExitedWithCode(7), "");
}

TEST_F(Api, AMalformedSettingKeepsTheServerDown) {
  setenv("PELMORAN_OPCUA_ENDPOINT", "tcp://everywhere", 1);
  EXPECT_EQ(InitOPCServer(&clsid, 250), -1);
  EXPECT_STREQ(GetOPCServerURL(), "");
}

TEST_F(Api, TagsLiveBeforeAndWithoutTheServer) {
  VARIANT v = test::FloatVariant(1);
  int32_t h = CreateOPCTag("API.T", v, 192, 1);
  EXPECT_GT(h, 0);
  EXPECT_EQ(UpdateOPCTag(h, v, 0), 0);
  EXPECT_EQ(UpdateOPCTagStatus(h, v, OPC_STATUS_BAD_TIMEOUT, 0), 0);
  EXPECT_EQ(RemoveOPCTag(h), 0);
  EXPECT_EQ(RemoveOPCTag(h), -1);
  EXPECT_EQ(UpdateOPCTag(h, v, 192), -1);
  EXPECT_EQ(UpdateOPCTagStatus(h, v, OPC_STATUS_GOOD, 0), -1);
  EXPECT_EQ(CreateOPCTag(nullptr, v, 192, 1), -1);
}

}  // namespace
}  // namespace tagserver
