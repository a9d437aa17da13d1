// Other masters on a serial line that the library polls, through the line's
// shared Modbus/TCP port: a pymodbus RTU slave on a socat pseudo-terminal,
// mbpoll and pymodbus clients, and raw requests of the test's own.
#include <gtest/gtest.h>

#include <asio.hpp>
#include <atomic>
#include <cstdlib>
#include <sstream>
#include <thread>

#include "CallbackRecorder.h"
#include "PeerProcess.h"
#include "PeerSlave.h"

using namespace std::chrono_literals;

namespace {

constexpr int kTimeoutMs = 300;
constexpr int kTotalExchanges = 10000;

int connectRtu(const std::string& device) {
  static int nextCom = 70;
  const int com = nextCom++;
  setenv(("PELMORAN_COM" + std::to_string(com)).c_str(), device.c_str(), 1);
  SerialSettings settings{};
  settings.baudRate = 19200;
  settings.wordLength = 8;
  settings.dtrControl = 1;
  return ConnectRTU(com, kTimeoutMs, &settings);
}

// A master of the test's own on the shared port, byte for byte.
class RawMaster {
 public:
  explicit RawMaster(uint16_t port) : socket_(io_) {
    socket_.connect({asio::ip::make_address("127.0.0.1"), port});
  }
  void send(const std::vector<uint8_t>& bytes) { asio::write(socket_, asio::buffer(bytes)); }
  // The next answer, whole; empty when the server closed the connection.
  std::vector<uint8_t> answer() {
    std::vector<uint8_t> frame(6);
    asio::error_code ec;
    asio::read(socket_, asio::buffer(frame), ec);
    if (ec) return {};
    frame.resize(6 + (frame[4] << 8 | frame[5]));
    asio::read(socket_, asio::buffer(frame.data() + 6, frame.size() - 6), ec);
    return ec ? std::vector<uint8_t>{} : frame;
  }

 private:
  asio::io_context io_;
  asio::ip::tcp::socket socket_;
};

std::vector<uint8_t> mbap(uint16_t transaction, uint8_t unit, std::vector<uint8_t> pdu) {
  std::vector<uint8_t> frame(7 + pdu.size());
  frame[0] = static_cast<uint8_t>(transaction >> 8);
  frame[1] = static_cast<uint8_t>(transaction);
  frame[5] = static_cast<uint8_t>(pdu.size() + 1);
  frame[6] = unit;
  std::copy(pdu.begin(), pdu.end(), frame.begin() + 7);
  return frame;
}

}  // namespace

class SharedLineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    slave_ = std::make_unique<PeerSlave>("rtu");
    ASSERT_TRUE(slave_->ready());
    EnableConnectionCallback(&CallbackRecorder::onLink);
    handle_ = connectRtu(slave_->masterDevice());
    ASSERT_GT(handle_, 0);
    EnableModbusCallback(handle_, &CallbackRecorder::onResponse);
  }
  void TearDown() override {
    if (handle_ > 0) CloseConnection(handle_);
    if (slave_) slave_->stop();
  }
  uint16_t share(uint16_t clients, uint16_t queued) {
    SharedLineSettings settings{nullptr, 0, clients, queued};
    uint16_t port = 0;
    EXPECT_EQ(ShareLine(handle_, &settings, &port), MBS_OK);
    return port;
  }

  std::unique_ptr<PeerSlave> slave_;
  int handle_ = 0;
};

TEST_F(SharedLineTest, EveryMasterGetsItsOwnAnswers) {
  const uint16_t port = share(4, 4);
  ASSERT_GT(port, 0);
  std::atomic<bool> mastersDone{false};
  int gatewayGood = 0;
  int gatewayMixed = 0;
  // The gateway's own polls of holding registers 300..309, whose values are their addresses.
  std::thread gateway([&] {
    std::vector<uint16_t> expected(10);
    for (int i = 0; i < 10; ++i) expected[i] = static_cast<uint16_t>(300 + i);
    while (!mastersDone) {
      std::vector<uint16_t> words;
      const int status = CallbackRecorder::exchange(handle_, {1, 3, 301, 10}, words);
      (status == MBS_OK && words == expected ? gatewayGood : gatewayMixed)++;
    }
  });
  PeerProcess masters({"/usr/bin/python3", SHARED_LINE_MASTERS_SCRIPT, "--port",
                       std::to_string(port), "--reads", "1000"});
  std::istringstream done(masters.readLine(100s));
  mastersDone = true;
  gateway.join();
  std::string word;
  int pyGood = -1, pyMixed = -1, mbGood = -1, mbMixed = -1;
  done >> word >> pyGood >> pyMixed >> mbGood >> mbMixed;
  ASSERT_EQ(word, "done");
  // The counts, for the record (--gtest_output=xml).
  for (const auto& [key, count] :
       {std::pair{"gateway_good", gatewayGood}, {"pymodbus_good", pyGood}, {"mbpoll_good", mbGood}})
    RecordProperty(key, count);
  EXPECT_EQ(pyMixed, 0);
  EXPECT_EQ(mbMixed, 0);
  EXPECT_EQ(gatewayMixed, 0);
  EXPECT_EQ(pyGood, 1000);
  EXPECT_GT(mbGood, 0);
  // The gateway goes on alone until the line has carried enough exchanges.
  std::vector<uint16_t> words;
  for (int total = gatewayGood + pyGood + mbGood; total < kTotalExchanges; ++total) {
    ASSERT_EQ(CallbackRecorder::exchange(handle_, {1, 3, 301, 10}, words), MBS_OK);
    ASSERT_EQ(words[9], 309);
  }
}

TEST_F(SharedLineTest, EachRequestGetsItsFittingAnswer) {
  RawMaster master(share(4, 4));
  struct Case {
    const char* what;
    uint8_t unit;
    std::vector<uint8_t> pdu;
    std::vector<uint8_t> answer;
  };
  const std::vector<Case> cases{
      {"a read, answered by the slave", 1, {3, 0, 20, 0, 2}, {3, 4, 0, 20, 0, 21}},
      {"a write, echoed by the slave", 1, {6, 0, 30, 0x12, 0x34}, {6, 0, 30, 0x12, 0x34}},
      {"the slave's own exception", 1, {3, 0x07, 0xD0, 0, 1}, {0x83, 2}},
      {"an unsupported function", 1, {0x11}, {0x91, 1}},
      {"a quantity of zero", 1, {3, 0, 0, 0, 0}, {0x83, 3}},
      {"a range past the last address", 1, {3, 0xFF, 0xFF, 0, 2}, {0x83, 2}},
      {"a byte count that does not fit", 1, {16, 0, 0, 0, 1, 3, 0, 0, 0}, {0x90, 3}},
      {"a broadcast", 0, {6, 0, 30, 0, 1}, {0x86, 0x0A}},
      {"a slave that never answers", 9, {3, 0, 0, 0, 1}, {0x83, 0x0B}},
  };
  uint16_t transaction = 0x4100;
  for (const auto& c : cases) {
    ++transaction;
    master.send(mbap(transaction, c.unit, c.pdu));
    EXPECT_EQ(master.answer(), mbap(transaction, c.unit, c.answer)) << c.what;
  }
  master.send(mbap(1, 1, {3, 0, 30, 0, 1}));
  EXPECT_EQ(master.answer(), mbap(1, 1, {3, 2, 0x12, 0x34}));
}

TEST_F(SharedLineTest, MastersPastTheLimitsAreTurnedAwayAtOnce) {
  struct Limits {
    uint16_t clients;
    uint16_t queued;
  };
  for (const Limits limits : {Limits{1, 1}, Limits{2, 3}}) {
    const uint16_t port = share(limits.clients, limits.queued);
    std::vector<std::unique_ptr<RawMaster>> admitted;
    for (int i = 0; i < limits.clients; ++i) {
      admitted.push_back(std::make_unique<RawMaster>(port));
      // Answered, so the master holds its place.
      admitted.back()->send(mbap(1, 1, {3, 0, 0, 0, 1}));
      ASSERT_EQ(admitted.back()->answer().size(), 11u);
    }
    RawMaster refused(port);
    EXPECT_TRUE(refused.answer().empty()) << limits.clients << " clients";
    // One more request than the queue holds, sent at once: the last is busy.
    std::vector<uint8_t> burst;
    for (uint16_t t = 1; t <= limits.queued + 1; ++t) {
      const auto request = mbap(t, 1, {3, 0, 5, 0, 1});
      burst.insert(burst.end(), request.begin(), request.end());
    }
    admitted.front()->send(burst);
    int busy = 0;
    int good = 0;
    for (int i = 0; i <= limits.queued; ++i) {
      const auto answer = admitted.front()->answer();
      if (answer == mbap(limits.queued + 1, 1, {0x83, 6})) ++busy;
      if (answer == mbap(answer.at(1), 1, {3, 2, 0, 5})) ++good;
    }
    EXPECT_EQ(busy, 1) << limits.queued << " queued";
    EXPECT_EQ(good, limits.queued) << limits.queued << " queued";
  }
}
