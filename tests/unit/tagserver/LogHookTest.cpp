// The log hook: every client connection the server refuses, closes or loses
// is told with the client's address and the reason.
#include <gtest/gtest.h>

#include <asio.hpp>
#include <condition_variable>
#include <cstdlib>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "tagserver/UaLimits.h"
#include "tagserver/tagserver.h"

namespace {

using Socket = asio::ip::tcp::socket;

struct Line {
  int level;
  std::string text;
};

std::mutex mutex;
std::condition_variable changed;
std::vector<Line> lines;

void OnLog(int level, const char* text) {
  std::lock_guard lock(mutex);
  lines.push_back({level, text});
  changed.notify_all();
}

bool WaitFor(const std::string& start, Line& found) {
  std::unique_lock lock(mutex);
  return changed.wait_for(lock, std::chrono::seconds(10), [&] {
    for (const Line& line : lines) {
      if (line.text.rfind(start, 0) != 0) continue;
      found = line;
      return true;
    }
    return false;
  });
}

// A Hello as a client writes it: version 0, the buffer sizes, no limits, no URL.
std::vector<uint8_t> Hello(uint32_t bufferSize) {
  std::vector<uint8_t> bytes = {'H', 'E', 'L', 'F'};
  auto add = [&bytes](uint32_t v) {
    for (int shift = 0; shift < 32; shift += 8) bytes.push_back(static_cast<uint8_t>(v >> shift));
  };
  const uint32_t fields[] = {32, 0, bufferSize, bufferSize, 0, 0, 0xFFFFFFFFu};
  for (uint32_t field : fields) add(field);
  return bytes;
}

std::string ClientName(const Socket& socket) {
  const auto at = socket.local_endpoint();
  return "OPC UA client " + at.address().to_string() + ":" + std::to_string(at.port());
}

class LogHook : public ::testing::Test {
 protected:
  void SetUp() override {
    EnableOPCLogCallback(&OnLog);
    setenv("PELMORAN_OPCUA_ENDPOINT", "opc.tcp://127.0.0.1:0", 1);
    GUID clsid{};
    ASSERT_EQ(InitOPCServer(&clsid, 250), 0);
    const std::string url = GetOPCServerURL();
    port_ = static_cast<uint16_t>(std::atoi(url.c_str() + url.rfind(':') + 1));
  }
  void TearDown() override {
    ShutdownOPCServer();
    EnableOPCLogCallback(nullptr);
    unsetenv("PELMORAN_OPCUA_ENDPOINT");
  }
  std::unique_ptr<Socket> Connect() {
    auto socket = std::make_unique<Socket>(io_);
    socket->connect({asio::ip::make_address("127.0.0.1"), port_});
    return socket;
  }
  static std::string ReadType(Socket& socket) {
    std::vector<char> head(8);
    asio::read(socket, asio::buffer(head));
    const uint32_t size = static_cast<uint8_t>(head[4]) | static_cast<uint8_t>(head[5]) << 8 |
                          static_cast<uint8_t>(head[6]) << 16 |
                          static_cast<uint32_t>(static_cast<uint8_t>(head[7])) << 24;
    std::vector<char> rest(size - 8);
    asio::read(socket, asio::buffer(rest));
    return std::string(head.data(), 4);
  }

  asio::io_context io_;
  uint16_t port_ = 0;
};

TEST_F(LogHook, RefusedClosedAndLostConnectionsNameTheClientAndTheReason) {
  struct Case {
    const char* what;
    std::function<void(Socket&)> act;
    std::string told;
  };
  const std::vector<uint8_t> notHello = {'M', 'S', 'G', 'F', 8, 0, 0, 0};
  const Case cases[] = {
      {"buffers too small",
       [](Socket& s) {
         asio::write(s, asio::buffer(Hello(1024)));
         EXPECT_EQ(ReadType(s), "ERRF");
       },
       ": connection refused: buffer sizes below 8192 (0x80AC0000)"},
      {"no Hello first",
       [&](Socket& s) {
         asio::write(s, asio::buffer(notHello));
         EXPECT_EQ(ReadType(s), "ERRF");
       },
       ": connection refused: Hello expected first (0x807E0000)"},
      {"gone without closing its channel",
       [](Socket& s) {
         asio::write(s, asio::buffer(Hello(65536)));
         EXPECT_EQ(ReadType(s), "ACKF");
         s.close();
       },
       ": connection lost: closed by the client"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    auto socket = Connect();
    const std::string client = ClientName(*socket);
    c.act(*socket);
    Line line{};
    ASSERT_TRUE(WaitFor(client, line));
    EXPECT_EQ(line.text, client + c.told);
    EXPECT_EQ(line.level, OPC_LOG_WARNING);
  }
}

TEST_F(LogHook, AConnectionBeyondTheLimitIsRefused) {
  std::vector<std::unique_ptr<Socket>> open;
  for (size_t i = 0; i < tagserver::limits::kMaxConnections; ++i) open.push_back(Connect());
  // The server has taken all of them once the last one is answered.
  asio::write(*open.back(), asio::buffer(Hello(65536)));
  ASSERT_EQ(ReadType(*open.back()), "ACKF");
  auto refused = Connect();
  Line line{};
  ASSERT_TRUE(WaitFor(ClientName(*refused), line));
  EXPECT_EQ(line.text,
            ClientName(*refused) + ": connection refused: 100 connections are open already");
}

}  // namespace

// Why the server could not start as asked is a line of the log, not of its
// standard error, so that the program shows it wherever it shows its log.
TEST(ServerStartLog, AServerThatCannotStartAsAskedSaysWhyInTheLog) {
  asio::io_context io;
  asio::ip::tcp::acceptor taken(io, {asio::ip::make_address("127.0.0.1"), 0});
  const std::string busy = "127.0.0.1:" + std::to_string(taken.local_endpoint().port());
  struct Case {
    std::string setting;
    std::string told;
  };
  const Case cases[] = {
      {"http://127.0.0.1:4840",
       "PELMORAN_OPCUA_ENDPOINT=http://127.0.0.1:4840: the endpoint must begin with opc.tcp://"},
      {"opc.tcp://" + busy, "OPC UA server cannot listen on " + busy + ": "},
  };
  EnableOPCLogCallback(&OnLog);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.setting);
    setenv("PELMORAN_OPCUA_ENDPOINT", c.setting.c_str(), 1);
    GUID clsid{};
    EXPECT_EQ(InitOPCServer(&clsid, 250), -1);
    Line line{};
    ASSERT_TRUE(WaitFor(c.told, line));
    EXPECT_EQ(line.level, OPC_LOG_ERROR);
  }
  EnableOPCLogCallback(nullptr);
  unsetenv("PELMORAN_OPCUA_ENDPOINT");
}
