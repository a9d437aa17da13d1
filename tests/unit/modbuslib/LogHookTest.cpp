// The log hook: a connection that cannot be made or is lost is told once,
// with the device or address, on the library's thread.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

#include "CallbackRecorder.h"
#include "ScriptedSlave.h"
#include "ScriptedTcpServer.h"

using namespace std::chrono_literals;

namespace {

struct Line {
  int level;
  std::string text;
};

class LogRecorder {
 public:
  static void onLog(int level, const char* text) {
    std::lock_guard lock(mutex_);
    lines_.push_back({level, text});
    changed_.notify_all();
  }
  // The first line that contains part, waited for.
  static bool waitFor(const std::string& part, Line& found) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, 5s, [&] {
      for (const Line& line : lines_) {
        if (line.text.find(part) == std::string::npos) continue;
        found = line;
        return true;
      }
      return false;
    });
  }
  static long count(const std::string& part) {
    std::lock_guard lock(mutex_);
    return std::count_if(lines_.begin(), lines_.end(), [&](const Line& line) {
      return line.text.find(part) != std::string::npos;
    });
  }

 private:
  static inline std::mutex mutex_;
  static inline std::condition_variable changed_;
  static inline std::vector<Line> lines_;
};

class LogHook : public ::testing::Test {
 protected:
  void SetUp() override {
    EnableLogCallback(&LogRecorder::onLog);
    EnableConnectionCallback(&CallbackRecorder::onLink);
  }
  void TearDown() override { EnableLogCallback(nullptr); }
};

// A loopback port on which nothing listens.
uint16_t closedPort() {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in at{};
  at.sin_family = AF_INET;
  at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof at;
  bind(fd, reinterpret_cast<sockaddr*>(&at), size);
  getsockname(fd, reinterpret_cast<sockaddr*>(&at), &size);
  close(fd);
  return ntohs(at.sin_port);
}

std::string tcpName(uint16_t port) { return "Modbus/TCP 127.0.0.1:" + std::to_string(port); }

}  // namespace

TEST_F(LogHook, SerialPortsThatCannotBeOpened) {
  ScriptedSlave held([](const ScriptedSlave::Bytes&) { return ScriptedSlave::Bytes{}; });
  const SerialSettings settings = serialSettings8N1();
  const int holder = ConnectRTU(held.comPort(), 1000, &settings);
  ASSERT_NE(holder, -1);
  setenv("PELMORAN_COM97", "/nonexistent/pelmoran-port", 1);
  struct Case {
    int comPort;
    std::string start;
    std::string end;
  };
  const Case cases[] = {
      {97, "COM97 (/nonexistent/pelmoran-port)", ": cannot open: No such file or directory"},
      {0, "COM0", ": no such port"},
      {held.comPort(), "COM" + std::to_string(held.comPort()) + " (/dev/",
       ": cannot open: in use by another program"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.start);
    EXPECT_EQ(ConnectASCII(c.comPort, 1000, &settings), -1);
    Line line{};
    ASSERT_TRUE(LogRecorder::waitFor(c.end, line));
    EXPECT_EQ(line.text.rfind(c.start, 0), 0u) << line.text;
    EXPECT_EQ(line.level, MBS_LOG_ERROR);
  }
  CloseConnection(holder);
  unsetenv("PELMORAN_COM97");
}

TEST_F(LogHook, TcpConnectionRefusedThenOneDroppedByItsPeer) {
  const uint16_t refused = closedPort();
  TcpOptions options{};
  options.timeoutMs = 1000;
  const int failed = ConnectTCP2(inet_addr("127.0.0.1"), refused, &options);
  ASSERT_TRUE(CallbackRecorder::waitLink(failed, MBS_EVENT_TERMINATED, 5s));
  Line line{};
  ASSERT_TRUE(
      LogRecorder::waitFor(tcpName(refused) + ": cannot connect: Connection refused", line));
  EXPECT_EQ(line.level, MBS_LOG_WARNING);

  ScriptedTcpServer server([](const ScriptedTcpServer::Bytes&) {
    return ScriptedTcpServer::Reply{{}, true};
  });
  const int dropped = ConnectTCP2(inet_addr("127.0.0.1"), server.port(), &options);
  ASSERT_TRUE(CallbackRecorder::waitLink(dropped, MBS_EVENT_CONNECTED, 5s));
  const RequestHeader h{1, 3, 1, 1};
  ASSERT_EQ(PollMODBUS(dropped, &h), MBS_OK);
  const std::string lost = tcpName(server.port()) + ": connection lost: closed by the peer";
  ASSERT_TRUE(LogRecorder::waitFor(lost, line));
  EXPECT_EQ(line.level, MBS_LOG_WARNING);
  CloseConnection(dropped);
  CloseConnection(failed);
}

// The program tries a server that is away again every few seconds, each time
// with a new connection: the log tells the reason once, not once per attempt.
TEST_F(LogHook, AServerTriedAgainAndAgainIsToldOnceWhileItStaysAway) {
  const uint16_t refused = closedPort();
  TcpOptions options{};
  options.timeoutMs = 1000;
  constexpr int kAttempts = 5;
  for (int i = 0; i < kAttempts; ++i) {
    const int attempt = ConnectTCP2(inet_addr("127.0.0.1"), refused, &options);
    ASSERT_TRUE(CallbackRecorder::waitLink(attempt, MBS_EVENT_TERMINATED, 5s));
    CloseConnection(attempt);
  }
  // A line for another server comes after every line of the attempts above.
  const uint16_t other = closedPort();
  const int last = ConnectTCP2(inet_addr("127.0.0.1"), other, &options);
  Line line{};
  ASSERT_TRUE(LogRecorder::waitFor(tcpName(other) + ": cannot connect", line));
  EXPECT_EQ(LogRecorder::count(tcpName(refused) + ": cannot connect"), 1);
  CloseConnection(last);
}

TEST_F(LogHook, ASerialLineThatFailsIsToldOnceWhileItStaysDown) {
  auto slave = std::make_unique<ScriptedSlave>(
      [](const ScriptedSlave::Bytes&) { return ScriptedSlave::Bytes{}; });
  const SerialSettings settings = serialSettings8N1();
  const int handle = ConnectRTU(slave->comPort(), 300, &settings);
  ASSERT_NE(handle, -1);
  EnableModbusCallback(handle, &CallbackRecorder::onResponse);
  const std::string name = "COM" + std::to_string(slave->comPort()) + " (/dev/";
  slave.reset();  // the other end of the line goes away
  Line line{};
  ASSERT_TRUE(LogRecorder::waitFor(name, line));
  EXPECT_NE(line.text.find(": line error: "), std::string::npos) << line.text;
  EXPECT_EQ(line.level, MBS_LOG_WARNING);
  std::vector<uint16_t> words;
  EXPECT_EQ(CallbackRecorder::exchange(handle, RequestHeader{1, 3, 1, 1}, words),
            MBS_SVR_NOT_CONNECTED);
  // The line is tried again every 100 ms meanwhile; after a whole time-out
  // on a silent line beside it, it has still been told only once.
  ScriptedSlave silent([](const ScriptedSlave::Bytes&) { return ScriptedSlave::Bytes{}; });
  const int other = ConnectRTU(silent.comPort(), 300, &settings);
  ASSERT_NE(other, -1);
  EnableModbusCallback(other, &CallbackRecorder::onResponse);
  EXPECT_EQ(CallbackRecorder::exchange(other, RequestHeader{1, 3, 1, 1}, words), MBS_POLL_TIMEOUT);
  EXPECT_EQ(LogRecorder::count(name), 1);
  CloseConnection(other);
  CloseConnection(handle);
}

TEST_F(LogHook, NoLineAfterTheHookIsTakenAway) {
  EnableLogCallback(nullptr);
  const uint16_t refused = closedPort();
  TcpOptions options{};
  const int failed = ConnectTCP2(inet_addr("127.0.0.1"), refused, &options);
  // The line of a drop comes before its link event.
  ASSERT_TRUE(CallbackRecorder::waitLink(failed, MBS_EVENT_TERMINATED, 5s));
  EnableLogCallback(&LogRecorder::onLog);
  const std::string marker = "/nonexistent/pelmoran-marker";
  setenv("PELMORAN_COM96", marker.c_str(), 1);
  const SerialSettings settings = serialSettings8N1();
  EXPECT_EQ(ConnectRTU(96, 1000, &settings), -1);
  Line line{};
  ASSERT_TRUE(LogRecorder::waitFor(marker, line));
  EXPECT_EQ(LogRecorder::count(tcpName(refused)), 0);
  CloseConnection(failed);
  unsetenv("PELMORAN_COM96");
}
