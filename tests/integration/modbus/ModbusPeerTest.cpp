// The library against pymodbus slaves over Modbus/TCP and over RTU and ASCII
// on socat pseudo-terminals.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>

#include "CallbackRecorder.h"
#include "PeerSlave.h"

using namespace std::chrono_literals;

namespace {

constexpr int kTimeoutMs = 1500;

int connectTcp(int port, int timeoutMs = kTimeoutMs) {
  TcpOptions options{};
  options.protocol = 1;
  options.timeoutMs = static_cast<uint32_t>(timeoutMs);
  return ConnectTCP2(inet_addr("127.0.0.1"), static_cast<uint32_t>(port), &options);
}

int connectSerial(const std::string& mode, const std::string& device) {
  static int nextCom = 40;
  const int com = nextCom++;
  setenv(("PELMORAN_COM" + std::to_string(com)).c_str(), device.c_str(), 1);
  SerialSettings settings{};
  settings.baudRate = 19200;
  settings.wordLength = 8;
  settings.dtrControl = 1;
  return mode == "rtu" ? ConnectRTU(com, kTimeoutMs, &settings)
                       : ConnectASCII(com, kTimeoutMs, &settings);
}

int freePort() {
  const int s = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a);
  socklen_t len = sizeof a;
  getsockname(s, reinterpret_cast<sockaddr*>(&a), &len);
  close(s);
  return ntohs(a.sin_port);
}

// "rtu-tcp", "ascii-udp", "tcp-udp": a framing on a network transport, as a
// serial device server carries it; the host is given by name.
int connectNetLine(const std::string& mode, int port, int timeoutMs = kTimeoutMs) {
  const std::string framing = mode.substr(0, mode.find('-'));
  const int code = framing == "rtu"     ? MBS_FRAMING_RTU
                   : framing == "ascii" ? MBS_FRAMING_ASCII
                                        : MBS_FRAMING_MBAP;
  const int transport = mode.ends_with("-udp") ? MBS_NET_UDP : MBS_NET_TCP;
  return ConnectNetLine("localhost", static_cast<uint32_t>(port), transport, code, timeoutMs);
}

bool overNetwork(const std::string& mode) { return mode.find('-') != std::string::npos; }

RequestHeader header(uint8_t node, uint8_t function, uint16_t address, uint16_t length) {
  return RequestHeader{node, function, address, length};
}

std::vector<int> asInts(const std::vector<uint16_t>& words) {
  return std::vector<int>(words.begin(), words.end());
}

}  // namespace

// Every transport against the same pymodbus slave contents.
class PeerTransportTest : public ::testing::TestWithParam<std::string> {
 protected:
  void SetUp() override {
    EnableConnectionCallback(&CallbackRecorder::onLink);
    slave_ = std::make_unique<PeerSlave>(GetParam());
    ASSERT_TRUE(slave_->ready()) << "the pymodbus slave did not start";
    if (GetParam() == "tcp") {
      handle_ = connectTcp(slave_->tcpPort());
      ASSERT_NE(handle_, -1);
      ASSERT_TRUE(CallbackRecorder::waitLink(handle_, MBS_EVENT_CONNECTED, 5s));
    } else if (overNetwork(GetParam())) {
      handle_ = connectNetLine(GetParam(), slave_->tcpPort());
      ASSERT_NE(handle_, -1);
      ASSERT_TRUE(CallbackRecorder::waitLink(handle_, MBS_EVENT_CONNECTED, 5s));
    } else {
      handle_ = connectSerial(GetParam(), slave_->masterDevice());
      ASSERT_NE(handle_, -1);
    }
    EnableModbusCallback(handle_, &CallbackRecorder::onResponse);
  }
  void TearDown() override {
    CloseConnection(handle_);
    slave_->stop();
  }
  int run(RequestHeader h, std::vector<uint16_t>& words) {
    return CallbackRecorder::exchange(handle_, h, words);
  }

  std::unique_ptr<PeerSlave> slave_;
  int handle_ = -1;
};

TEST_P(PeerTransportTest, ReadsEveryTableAsTheSlaveHoldsIt) {
  slave_->set("co", 10, {1, 0, 0, 1, 1, 1, 0, 1, 1});
  slave_->set("di", 20, {0, 1, 1, 0, 1});
  slave_->set("hr", 30, {0, 65535, 4660, 17});
  slave_->set("ir", 40, {9, 8, 7});
  std::vector<uint16_t> words;
  // Point addresses are 1-based: point 11 is wire address 10.
  ASSERT_EQ(run(header(1, 1, 11, 9), words), MBS_OK);
  EXPECT_EQ(asInts(words), (std::vector<int>{1, 0, 0, 1, 1, 1, 0, 1, 1}));
  ASSERT_EQ(run(header(1, 2, 21, 5), words), MBS_OK);
  EXPECT_EQ(asInts(words), (std::vector<int>{0, 1, 1, 0, 1}));
  ASSERT_EQ(run(header(1, 3, 31, 4), words), MBS_OK);
  EXPECT_EQ(asInts(words), (std::vector<int>{0, 65535, 4660, 17}));
  ASSERT_EQ(run(header(1, 4, 41, 3), words), MBS_OK);
  EXPECT_EQ(asInts(words), (std::vector<int>{9, 8, 7}));
}

TEST_P(PeerTransportTest, WritesReachTheSlave) {
  std::vector<uint16_t> words{1234};
  ASSERT_EQ(run(header(1, 5, 51, 1), words), MBS_OK);
  EXPECT_EQ(slave_->get("co", 50, 1), std::vector<int>{1});
  words = {0};
  ASSERT_EQ(run(header(1, 5, 51, 1), words), MBS_OK);
  EXPECT_EQ(slave_->get("co", 50, 1), std::vector<int>{0});

  words = {54321};
  ASSERT_EQ(run(header(1, 6, 61, 1), words), MBS_OK);
  EXPECT_EQ(slave_->get("hr", 60, 1), std::vector<int>{54321});

  words = {1, 0, 7, 1, 0, 0, 0, 1, 1, 0};
  ASSERT_EQ(run(header(1, 15, 71, 10), words), MBS_OK);
  EXPECT_EQ(slave_->get("co", 70, 10), (std::vector<int>{1, 0, 1, 1, 0, 0, 0, 1, 1, 0}));

  words = {11, 0xFFFF, 33};
  ASSERT_EQ(run(header(1, 16, 81, 3), words), MBS_OK);
  EXPECT_EQ(slave_->get("hr", 80, 3), (std::vector<int>{11, 65535, 33}));
}

// Function 22: the slave's register becomes (register AND and) OR (or AND NOT
// and), so the bits outside the AND mask's zeros are its own.
TEST_P(PeerTransportTest, MaskWriteChangesOnlyTheBitsItNames) {
  struct Case {
    uint16_t before;
    uint16_t andMask;
    uint16_t orMask;
    int after;
  };
  const Case cases[] = {
      {0xA5A5, 0xFFEF, 0x0010, 0xA5B5},  // set bit 4
      {0xA5A5, 0xFFFE, 0x0000, 0xA5A4},  // clear bit 0
      {0x1234, 0xF0F2, 0x0025, 0x1035},  // the protocol document's example, widened
  };
  for (const Case& c : cases) {
    slave_->set("hr", 90, {c.before});
    std::vector<uint16_t> words{c.andMask, c.orMask};
    ASSERT_EQ(run(header(1, 22, 91, 2), words), MBS_OK);
    EXPECT_EQ(slave_->get("hr", 90, 1), std::vector<int>{c.after});
  }
  std::vector<uint16_t> one{0xFFFF};
  EXPECT_EQ(run(header(1, 22, 91, 1), one), MBS_INVALID_LENGTH) << "two masks or none";
  std::vector<uint16_t> masks{0, 0};
  EXPECT_EQ(run(header(1, 22, 2001, 2), masks), 2) << "past the slave's registers";
}

TEST_P(PeerTransportTest, SlaveExceptionsAndSilenceBecomeStatuses) {
  std::vector<uint16_t> words;
  // The slave holds wire addresses 0-1999; point 2000 with two registers runs past it.
  EXPECT_EQ(run(header(1, 3, 2000, 2), words), 2);
  words = {5};
  EXPECT_EQ(run(header(1, 6, 2001, 1), words), 2);
  // A unit the slave does not serve never answers.
  EXPECT_EQ(run(header(9, 3, 1, 1), words), MBS_POLL_TIMEOUT);
  // The line is usable again after a timeout.
  slave_->set("hr", 0, {42});
  ASSERT_EQ(run(header(1, 3, 1, 1), words), MBS_OK);
  EXPECT_EQ(words[0], 42);
}

TEST_P(PeerTransportTest, LongReadsAreSplitAndDeliveredAsOne) {
  std::vector<uint16_t> words;
  ASSERT_EQ(run(header(1, 3, 1, 1000), words), MBS_OK);
  ASSERT_EQ(words.size(), 1000u);
  for (int i = 0; i < 1000; ++i) ASSERT_EQ(words[i], i) << "register " << i;
  ASSERT_EQ(run(header(1, 4, 501, 700), words), MBS_OK);
  for (int i = 0; i < 700; ++i) ASSERT_EQ(words[i], 1500 + i) << "input register " << i;
  ASSERT_EQ(run(header(1, 1, 1, 2000), words), MBS_OK);
  for (int i = 0; i < 2000; ++i) ASSERT_EQ(words[i], i % 2) << "coil " << i;
  // A split read whose later part runs past the slave's table fails as a whole.
  EXPECT_EQ(run(header(1, 3, 1901, 200), words), 2);
}

INSTANTIATE_TEST_SUITE_P(Transports, PeerTransportTest,
                         ::testing::Values("tcp", "rtu", "ascii", "rtu-tcp", "ascii-tcp", "rtu-udp",
                                           "ascii-udp", "tcp-udp"),
                         [](const auto& info) {
                           std::string name = info.param;
                           std::replace(name.begin(), name.end(), '-', '_');
                           return name;
                         });

// A server that goes away gives one event 4 and refuses requests meanwhile;
// once back on its port it is in use again soon, however long it was away: a
// converter's line comes back by itself, a Modbus/TCP connection (by address
// or by host name, resolved again) is made anew by its owner.
struct ReturnCase {
  const char* name;
  const char* mode;
  bool byName;
};

class ReturnTest : public ::testing::TestWithParam<ReturnCase> {
 protected:
  void SetUp() override { EnableConnectionCallback(&CallbackRecorder::onLink); }
  int connect(int port) const {
    if (std::string(GetParam().mode) != "tcp") return connectNetLine(GetParam().mode, port);
    return GetParam().byName ? ConnectTCPHost("localhost", port, nullptr) : connectTcp(port);
  }
};

TEST_P(ReturnTest, ASlaveRestartedOnItsPortIsPolledAgainWithinFiveSeconds) {
  auto slave = std::make_unique<PeerSlave>(GetParam().mode);
  ASSERT_TRUE(slave->ready());
  const int port = slave->tcpPort();
  const int handle = connect(port);
  ASSERT_TRUE(CallbackRecorder::waitLink(handle, MBS_EVENT_CONNECTED, 5s));
  EnableModbusCallback(handle, &CallbackRecorder::onResponse);
  slave->stop();
  ASSERT_TRUE(CallbackRecorder::waitLink(handle, MBS_EVENT_TERMINATED, 5s));
  const RequestHeader h = header(1, 3, 1, 2);
  EXPECT_EQ(PollMODBUS(handle, &h), MBS_SVR_NOT_CONNECTED);
  slave = std::make_unique<PeerSlave>(GetParam().mode, port);
  ASSERT_TRUE(slave->ready());
  int again = handle;
  if (std::string(GetParam().mode) == "tcp") {
    again = connect(port);
    ASSERT_TRUE(CallbackRecorder::waitLink(again, MBS_EVENT_CONNECTED, 5s));
    EnableModbusCallback(again, &CallbackRecorder::onResponse);
  } else {
    ASSERT_TRUE(CallbackRecorder::waitLinkCount(handle, MBS_EVENT_CONNECTED, 2, 5s));
  }
  std::vector<uint16_t> words;
  ASSERT_EQ(CallbackRecorder::exchange(again, h, words), MBS_OK);
  EXPECT_EQ(asInts(words), (std::vector<int>{0, 1}));
  // A second event 4 would have come long before the exchange was over.
  EXPECT_EQ(CallbackRecorder::linkEvents(handle, MBS_EVENT_TERMINATED), 1);
  if (again != handle) {
    EXPECT_EQ(CallbackRecorder::linkEvents(again, MBS_EVENT_TERMINATED), 0);
    CloseConnection(again);
  }
  CloseConnection(handle);
}

INSTANTIATE_TEST_SUITE_P(Transports, ReturnTest,
                         ::testing::Values(ReturnCase{"tcp", "tcp", false},
                                           ReturnCase{"tcp_by_name", "tcp", true},
                                           ReturnCase{"rtu_tcp", "rtu-tcp", false}),
                         [](const auto& info) { return std::string(info.param.name); });

// Datagrams get lost: a request is sent again as often as asked before it
// times out, and an answer that comes twice is taken once.
TEST(DatagramTest, ALostRequestIsSentAgainAndAnAnswerTwiceIsTakenOnce) {
  EnableConnectionCallback(&CallbackRecorder::onLink);
  // A socket of the test's own plays the lossy network in front of nothing:
  // it drops the first datagram and answers the second twice.
  const int sock = socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(bind(sock, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
  socklen_t len = sizeof a;
  getsockname(sock, reinterpret_cast<sockaddr*>(&a), &len);
  const int handle =
      ConnectNetLine("127.0.0.1", ntohs(a.sin_port), MBS_NET_UDP, MBS_FRAMING_RTU, 300);
  ASSERT_TRUE(CallbackRecorder::waitLink(handle, MBS_EVENT_CONNECTED, 5s));
  EnableModbusCallback(handle, &CallbackRecorder::onResponse);
  ASSERT_EQ(SetRequestRetries(handle, 1), MBS_OK);
  const RequestHeader h = header(1, 3, 1, 1);
  ASSERT_EQ(PollMODBUS(handle, &h), MBS_OK);
  uint8_t request[64];
  sockaddr_in from{};
  socklen_t fromLen = sizeof from;
  ASSERT_EQ(recvfrom(sock, request, sizeof request, 0, nullptr, nullptr), 8);  // lost
  ASSERT_EQ(
      recvfrom(sock, request, sizeof request, 0, reinterpret_cast<sockaddr*>(&from), &fromLen), 8);
  const uint8_t answer[] = {0x01, 0x03, 0x02, 0x00, 0x2A, 0x39, 0x9B};
  for (int copy = 0; copy < 2; ++copy) {
    sendto(sock, answer, sizeof answer, 0, reinterpret_cast<sockaddr*>(&from), fromLen);
  }
  ASSERT_TRUE(CallbackRecorder::waitResponses(handle, 1, 5s));
  RequestHeader out{};
  uint16_t word = 0;
  EXPECT_EQ(MODBUSResponse(handle, &out, &word, 1), MBS_OK);
  EXPECT_EQ(word, 42);
  // The copy is discarded, never kept for the next request: this one times out.
  std::vector<uint16_t> words;
  ASSERT_EQ(SetRequestRetries(handle, 0), MBS_OK);
  EXPECT_EQ(CallbackRecorder::exchange(handle, h, words), MBS_POLL_TIMEOUT);
  ModbusCounters c{};
  ASSERT_EQ(GetModbusCounters(handle, &c), MBS_OK);
  EXPECT_EQ(c.requests, 2u);
  EXPECT_EQ(c.answers, 1u);
  EXPECT_EQ(c.timeouts, 1u);
  EXPECT_GE(c.discarded, 1u);
  CloseConnection(handle);
  close(sock);
}

// What only a Modbus/TCP connection has: its link and its events.
class TcpLinkTest : public ::testing::Test {
 protected:
  void SetUp() override { EnableConnectionCallback(&CallbackRecorder::onLink); }
};

TEST_F(TcpLinkTest, ConnectToNothingGivesEvent4AndRequestsAreRefused) {
  const int handle = connectTcp(freePort());
  ASSERT_NE(handle, -1);
  ASSERT_TRUE(CallbackRecorder::waitLink(handle, MBS_EVENT_TERMINATED, 5s));
  EXPECT_EQ(CallbackRecorder::linkEvents(handle, MBS_EVENT_CONNECTED), 0);
  const RequestHeader h = header(1, 3, 1, 1);
  EXPECT_EQ(PollMODBUS(handle, &h), MBS_SVR_NOT_CONNECTED);
  CloseConnection(handle);
}

TEST_F(TcpLinkTest, OneRequestAtATimeAndCloseSilencesTheOutstandingOne) {
  PeerSlave slave("tcp");
  ASSERT_TRUE(slave.ready());
  const int handle = connectTcp(slave.tcpPort(), 600);
  ASSERT_TRUE(CallbackRecorder::waitLink(handle, MBS_EVENT_CONNECTED, 5s));
  EnableModbusCallback(handle, &CallbackRecorder::onResponse);
  // Unit 9 is not served, so the request stays outstanding until its timeout.
  const RequestHeader silent = header(9, 3, 1, 1);
  ASSERT_EQ(PollMODBUS(handle, &silent), MBS_OK);
  const RequestHeader other = header(1, 3, 1, 1);
  EXPECT_EQ(PollMODBUS(handle, &other), MBS_MSG_OVERRUN);
  CloseConnection(handle);
  // The same silent request on a connection made after the close times out
  // later than the closed one would have.
  const int later = connectTcp(slave.tcpPort(), 600);
  ASSERT_TRUE(CallbackRecorder::waitLink(later, MBS_EVENT_CONNECTED, 5s));
  EnableModbusCallback(later, &CallbackRecorder::onResponse);
  std::vector<uint16_t> words;
  EXPECT_EQ(CallbackRecorder::exchange(later, silent, words), MBS_POLL_TIMEOUT);
  CloseConnection(later);
  EXPECT_EQ(CallbackRecorder::responses(handle), 0);
  EXPECT_EQ(PollMODBUS(handle, &other), MBS_INVALID_HANDLE);
  uint16_t word = 0;
  RequestHeader out{};
  EXPECT_EQ(MODBUSResponse(handle, &out, &word, 1), MBS_INVALID_HANDLE);
}
