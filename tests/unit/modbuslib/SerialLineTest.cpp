// Whole requests on a serial line against the test's own scripted slaves:
// damaged and wrong answers, Daniels/ENRON registers, refusals at once.
#include <gtest/gtest.h>
#include <sys/ioctl.h>
#include <termios.h>

#include <atomic>
#include <future>
#include <thread>

#include "CallbackRecorder.h"
#include "ScriptedSlave.h"

using namespace std::chrono_literals;
using Bytes = ScriptedSlave::Bytes;

namespace {

constexpr int kTimeoutMs = 1000;

// As the library counts time: 100 ns ticks since 1601-01-01 UTC.
int64_t fileTimeNow() {
  constexpr int64_t kUnixEpochTicks = 116444736000000000LL;
  auto since = std::chrono::system_clock::now().time_since_epoch();
  return std::chrono::duration_cast<std::chrono::nanoseconds>(since).count() / 100 +
         kUnixEpochTicks;
}

// Answers a standard RTU read of holding registers with values 100, 101, ...
Bytes goodRegisters(const Bytes& request) {
  const int count = request[4] << 8 | request[5];
  Bytes reply{request[0], request[1], static_cast<uint8_t>(count * 2)};
  for (int i = 0; i < count; ++i) {
    reply.push_back(0);
    reply.push_back(static_cast<uint8_t>(100 + i));
  }
  return ScriptedSlave::rtu(reply);
}

class RtuLine : public ::testing::Test {
 protected:
  void open(ScriptedSlave::Script script,
            int (*connect)(int, int, const SerialSettings*) = &ConnectRTU) {
    slave_ = std::make_unique<ScriptedSlave>(std::move(script));
    const SerialSettings settings = serialSettings8N1();
    handle_ = connect(slave_->comPort(), kTimeoutMs, &settings);
    ASSERT_NE(handle_, -1);
    EnableModbusCallback(handle_, &CallbackRecorder::onResponse);
  }
  void TearDown() override { CloseConnection(handle_); }
  int run(RequestHeader h, std::vector<uint16_t>& words) {
    return CallbackRecorder::exchange(handle_, h, words);
  }

  // Scripts count their answers here; declared first, so the slave's thread
  // has stopped before it goes.
  std::atomic<int> answer_{0};
  std::unique_ptr<ScriptedSlave> slave_;
  int handle_ = -1;
};

}  // namespace

TEST_F(RtuLine, DamagedOrForeignAnswersGiveTheirStatuses) {
  open([this](const Bytes& request) -> Bytes {
    Bytes good = goodRegisters(request);
    switch (answer_++) {
      case 0: good[3] ^= 0x01; return good;  // data changed under the CRC
      case 1: good[0] = 7; return ScriptedSlave::rtu(Bytes(good.begin(), good.end() - 2));
      case 2: return ScriptedSlave::rtu({request[0], 4, 2, 0, 1});        // another function
      case 3: return ScriptedSlave::rtu({request[0], 3, 4, 0, 1, 0, 2});  // byte count 4 for 1
      case 4: return ScriptedSlave::rtu({request[0], 0x83, 2});
      case 5: return Bytes(good.begin(), good.begin() + 4);  // cut short
      default: return good;
    }
  });
  std::vector<uint16_t> words;
  const RequestHeader one{1, 3, 1, 1};
  EXPECT_EQ(run(one, words), MBS_INVALID_CHECKSUM);
  // A frame that does not fit the request is nobody's answer: it is dropped
  // and the request waits on for its own, which never comes.
  EXPECT_EQ(run(one, words), MBS_POLL_TIMEOUT);
  EXPECT_EQ(run(one, words), MBS_POLL_TIMEOUT);
  EXPECT_EQ(run(one, words), MBS_POLL_TIMEOUT);
  EXPECT_EQ(run(one, words), 2);
  EXPECT_EQ(run(one, words), MBS_POLL_TIMEOUT);
  ASSERT_EQ(run(one, words), MBS_OK);
  EXPECT_EQ(words[0], 100);
  ModbusCounters counters{};
  ASSERT_EQ(GetModbusCounters(handle_, &counters), MBS_OK);
  EXPECT_EQ(counters.requests, 7u);
  EXPECT_EQ(counters.timeouts, 4u);
  EXPECT_EQ(counters.checksumErrors, 1u);
  EXPECT_EQ(counters.answers, 2u);
  EXPECT_GE(counters.discarded, 4u);
  // Every request went out with a sound CRC and the 1-based point made 0-based.
  for (const Bytes& r : slave_->requests()) {
    ASSERT_EQ(r.size(), 8u);
    EXPECT_EQ(r, ScriptedSlave::rtu({1, 3, 0, 0, 0, 1}));
  }
}

// An RS-485 adapter that hears its own transmission hands the request back
// before the slave's answer; a single-register write's echo looks like an
// acceptance, so what the slave said must follow it.
TEST_F(RtuLine, TheLinesEchoOfAWriteIsNotTheSlavesAnswer) {
  struct Case {
    bool refused;
    int status;
  };
  const Case cases[] = {{true, 2}, {false, MBS_OK}};
  open([this, cases](const Bytes& request) -> Bytes {
    Bytes bytes = request;
    const Bytes answer = cases[answer_++].refused ? ScriptedSlave::rtu({1, 0x86, 2}) : request;
    bytes.insert(bytes.end(), answer.begin(), answer.end());
    return bytes;
  });
  for (const Case& c : cases) {
    std::vector<uint16_t> words{7};
    EXPECT_EQ(run(RequestHeader{1, 6, 11, 1}, words), c.status);
  }
}

// The time of a result is when the library settled it, between the slave's
// writing its answer (or the time-out running out) and the callback.
TEST_F(RtuLine, EachResultTellsWhenItWasSettled) {
  std::atomic<int64_t> answering{0};
  open([&](const Bytes& request) -> Bytes {
    answering = fileTimeNow();
    return answer_++ == 0 ? goodRegisters(request) : Bytes{};
  });
  int64_t at = -1;
  EXPECT_EQ(MODBUSResponseTime(handle_, &at), MBS_UNINITIALIZED);
  EXPECT_EQ(MODBUSResponseTime(handle_ + 1000, &at), MBS_INVALID_HANDLE);
  std::vector<uint16_t> words;
  ASSERT_EQ(run(RequestHeader{1, 3, 1, 1}, words), MBS_OK);
  int64_t handled = fileTimeNow();
  ASSERT_EQ(MODBUSResponseTime(handle_, &at), MBS_OK);
  EXPECT_GE(at, answering.load());
  EXPECT_LE(at, handled);
  // Fetching later does not move it.
  int64_t again = -1;
  ASSERT_EQ(MODBUSResponseTime(handle_, &again), MBS_OK);
  EXPECT_EQ(again, at);

  int64_t sent = fileTimeNow();
  ASSERT_EQ(run(RequestHeader{1, 3, 1, 1}, words), MBS_POLL_TIMEOUT);
  handled = fileTimeNow();
  ASSERT_EQ(MODBUSResponseTime(handle_, &at), MBS_OK);
  EXPECT_GE(at, sent + kTimeoutMs * 10000LL);
  EXPECT_LE(at, handled);
}

TEST_F(RtuLine, EachRequestCallsBackExactlyOnce) {
  open(goodRegisters);
  std::vector<uint16_t> words;
  for (int i = 0; i < 5; ++i) ASSERT_EQ(run(RequestHeader{1, 3, 10, 3}, words), MBS_OK);
  EXPECT_EQ(CallbackRecorder::responses(handle_), 5);
  // A refusal at once is not followed by a callback, nor is any request by a
  // second one: one more request brings the count to 6 exactly.
  const RequestHeader bad{1, 7, 1, 1};
  EXPECT_EQ(PollMODBUS(handle_, &bad), MBS_INVALID_COMMAND);
  ASSERT_EQ(run(RequestHeader{1, 3, 10, 3}, words), MBS_OK);
  EXPECT_EQ(CallbackRecorder::responses(handle_), 6);
}

TEST_F(RtuLine, RequestsTheLibraryRefusesAtOnce) {
  open(goodRegisters);
  const uint16_t data[2] = {1, 2};
  auto poll = [&](RequestHeader h) { return PollMODBUS(handle_, &h); };
  auto write = [&](RequestHeader h) { return WriteMODBUS(handle_, &h, data); };
  EXPECT_EQ(poll({1, 8, 1, 1}), MBS_INVALID_COMMAND);
  EXPECT_EQ(poll({1, 6, 1, 1}), MBS_INVALID_COMMAND);  // a write through the read entry
  EXPECT_EQ(write({1, 3, 1, 1}), MBS_INVALID_COMMAND);
  EXPECT_EQ(PollMODBUS(handle_, nullptr), MBS_INVALID_COMMAND);
  EXPECT_EQ(poll({1, 3, 1, 0}), MBS_INVALID_LENGTH);
  EXPECT_EQ(poll({1, 3, 1, 2001}), MBS_INVALID_LENGTH);
  EXPECT_EQ(poll({1, 1, 1, 2001}), MBS_INVALID_LENGTH);
  EXPECT_EQ(write({1, 16, 1, 124}), MBS_INVALID_LENGTH);
  EXPECT_EQ(poll({1, 3, 0, 1}), MBS_INVALID_ADDRESS);
  EXPECT_EQ(poll({1, 3, 65535, 3}), MBS_INVALID_ADDRESS);
  EXPECT_EQ(poll({0, 3, 1, 1}), MBS_INVALID_NODE);
  EXPECT_EQ(poll({248, 3, 1, 1}), MBS_INVALID_NODE);
  EXPECT_EQ(WriteMODBUS(handle_, nullptr, data), MBS_INVALID_COMMAND);
  EXPECT_TRUE(slave_->requests().empty());
  // Nothing finished yet.
  RequestHeader out{};
  uint16_t word = 0;
  EXPECT_EQ(MODBUSResponse(handle_, &out, &word, 1), MBS_UNINITIALIZED);
}

TEST_F(RtuLine, SecondRequestWhileOneIsOutstandingIsOverrun) {
  open([](const Bytes&) { return Bytes{}; });
  const RequestHeader h{1, 3, 1, 1};
  ASSERT_EQ(PollMODBUS(handle_, &h), MBS_OK);
  EXPECT_EQ(PollMODBUS(handle_, &h), MBS_MSG_OVERRUN);
  ASSERT_TRUE(CallbackRecorder::waitResponses(handle_, 1, 5s));
  RequestHeader out{};
  std::vector<uint16_t> words(2000);
  EXPECT_EQ(MODBUSResponse(handle_, &out, words.data(), 2000), MBS_POLL_TIMEOUT);
  EXPECT_EQ(out.function, 3);
  EXPECT_EQ(out.length, 1);
}

TEST_F(RtuLine, WritesGoOutAsModbusFrames) {
  open([](const Bytes& request) -> Bytes {
    if (request[0] == 0) return {};  // broadcast: nobody answers
    return ScriptedSlave::rtu(Bytes(request.begin(), request.begin() + 6));
  });
  std::vector<uint16_t> words{77};
  ASSERT_EQ(run(RequestHeader{2, 5, 8, 1}, words), MBS_OK);
  words = {0xBEEF};
  ASSERT_EQ(run(RequestHeader{2, 6, 9, 1}, words), MBS_OK);
  words = {1, 0, 0, 1, 1, 0, 0, 0, 1};
  ASSERT_EQ(run(RequestHeader{2, 15, 10, 9}, words), MBS_OK);
  words = {0x1234, 0x5678};
  ASSERT_EQ(run(RequestHeader{2, 16, 11, 2}, words), MBS_OK);
  EXPECT_EQ(words, (std::vector<uint16_t>{0x1234, 0x5678}));
  words = {5};
  ASSERT_EQ(run(RequestHeader{0, 6, 1, 1}, words), MBS_OK);
  // The broadcast finished when it was sent; the slave sees it a moment later.
  const auto r = slave_->waitForRequests(5, 5s);
  ASSERT_EQ(r.size(), 5u);
  EXPECT_EQ(r[0], ScriptedSlave::rtu({2, 5, 0, 7, 0xFF, 0x00}));
  EXPECT_EQ(r[1], ScriptedSlave::rtu({2, 6, 0, 8, 0xBE, 0xEF}));
  EXPECT_EQ(r[2], ScriptedSlave::rtu({2, 15, 0, 9, 0, 9, 2, 0x19, 0x01}));
  EXPECT_EQ(r[3], ScriptedSlave::rtu({2, 16, 0, 10, 0, 2, 4, 0x12, 0x34, 0x56, 0x78}));
  EXPECT_EQ(r[4], ScriptedSlave::rtu({0, 6, 0, 0, 0, 5}));
}

TEST_F(RtuLine, AsciiLrcDamageAndGoodAnswers) {
  open(
      [this](const Bytes& request) -> Bytes {
        const Bytes body = ScriptedSlave::asciiBody(request);
        Bytes reply = ScriptedSlave::ascii({body[0], 3, 2, 0x12, 0x34});
        if (answer_++ == 0) reply[reply.size() - 3] ^= 0x01;  // LRC digit changed
        return reply;
      },
      &ConnectASCII);
  std::vector<uint16_t> words;
  EXPECT_EQ(run(RequestHeader{5, 3, 100, 1}, words), MBS_INVALID_CHECKSUM);
  ASSERT_EQ(run(RequestHeader{5, 3, 100, 1}, words), MBS_OK);
  EXPECT_EQ(words[0], 0x1234);
  const auto r = slave_->requests();
  ASSERT_FALSE(r.empty());
  EXPECT_EQ(r[0], ScriptedSlave::ascii({5, 3, 0, 99, 0, 1}));
}

// Daniels/ENRON: 32-bit registers in 5001-5999 and 7001-7999, addresses as they stand.
TEST_F(RtuLine, DanielsRegistersCarryFourBytesEach) {
  open(
      [](const Bytes& request) -> Bytes {
        const int address = request[2] << 8 | request[3];
        const int count = request[4] << 8 | request[5];
        if (request[1] == 16)
          return ScriptedSlave::rtu(Bytes(request.begin(), request.begin() + 6));
        const int width =
            (address >= 5001 && address <= 5999) || (address >= 7001 && address <= 7999) ? 4 : 2;
        Bytes reply{request[0], request[1], static_cast<uint8_t>(count * width)};
        for (int i = 0; i < count * width; ++i) reply.push_back(static_cast<uint8_t>(i + 1));
        return ScriptedSlave::rtu(reply);
      },
      &ConnectDanielsRTU);
  std::vector<uint16_t> words;
  ASSERT_EQ(run(RequestHeader{1, 3, 7001, 4}, words), MBS_OK);
  EXPECT_EQ(words, (std::vector<uint16_t>{0x0102, 0x0304, 0x0506, 0x0708}));
  ASSERT_EQ(run(RequestHeader{1, 4, 5010, 2}, words), MBS_OK);
  EXPECT_EQ(words, (std::vector<uint16_t>{0x0102, 0x0304}));
  ASSERT_EQ(run(RequestHeader{1, 3, 40, 2}, words), MBS_OK);
  EXPECT_EQ(words, (std::vector<uint16_t>{0x0102, 0x0304}));
  words = {0x4049, 0x0FDB};
  ASSERT_EQ(run(RequestHeader{1, 16, 7002, 2}, words), MBS_OK);
  const RequestHeader odd{1, 3, 7001, 3};
  EXPECT_EQ(PollMODBUS(handle_, &odd), MBS_INVALID_LENGTH);

  const auto r = slave_->requests();
  ASSERT_EQ(r.size(), 4u);
  EXPECT_EQ(r[0], ScriptedSlave::rtu({1, 3, 0x1B, 0x59, 0, 2}));
  EXPECT_EQ(r[1], ScriptedSlave::rtu({1, 4, 0x13, 0x92, 0, 1}));
  EXPECT_EQ(r[2], ScriptedSlave::rtu({1, 3, 0, 40, 0, 2}));
  EXPECT_EQ(r[3], ScriptedSlave::rtu({1, 16, 0x1B, 0x5A, 0, 1, 4, 0x40, 0x49, 0x0F, 0xDB}));
}

TEST_F(RtuLine, LongDanielsReadsAreSplitOnWholeRegisters) {
  open(
      [](const Bytes& request) -> Bytes {
        const int count = request[4] << 8 | request[5];
        Bytes reply{request[0], request[1], static_cast<uint8_t>(count * 4)};
        for (int i = 0; i < count; ++i) {
          // Each register holds its own wire address in the high word.
          const int address = (request[2] << 8 | request[3]) + i;
          reply.insert(reply.end(), {static_cast<uint8_t>(address >> 8),
                                     static_cast<uint8_t>(address & 0xFF), 0, 1});
        }
        return ScriptedSlave::rtu(reply);
      },
      &ConnectDanielsRTU);
  std::vector<uint16_t> words;
  ASSERT_EQ(run(RequestHeader{1, 4, 7001, 300}, words), MBS_OK);
  for (int i = 0; i < 150; ++i) {
    ASSERT_EQ(words[2 * i], 7001 + i) << i;
    ASSERT_EQ(words[2 * i + 1], 1) << i;
  }
  EXPECT_EQ(slave_->requests().size(), 3u);
}

TEST_F(RtuLine, DanielsAsciiUsesTheSameRegisterWidths) {
  open(
      [](const Bytes& request) -> Bytes {
        const Bytes body = ScriptedSlave::asciiBody(request);
        return ScriptedSlave::ascii({body[0], 3, 4, 0xDE, 0xAD, 0xBE, 0xEF});
      },
      &ConnectDanielsASCII);
  std::vector<uint16_t> words;
  ASSERT_EQ(run(RequestHeader{3, 3, 5001, 2}, words), MBS_OK);
  EXPECT_EQ(words, (std::vector<uint16_t>{0xDEAD, 0xBEEF}));
  EXPECT_EQ(slave_->requests().at(0), ScriptedSlave::ascii({3, 3, 0x13, 0x89, 0, 1}));
}

TEST_F(RtuLine, SettingsAPseudoTerminalCannotTakeLeaveThePortUsable) {
  slave_ = std::make_unique<ScriptedSlave>(goodRegisters);
  for (uint32_t baud : {14400u, 56000u, 128000u, 256000u, 9600u}) {
    SerialSettings settings = serialSettings8N1(baud);
    settings.parity = 2;
    settings.stopBits = 2;
    settings.wordLength = 7;
    settings.rtsControl = 3;
    settings.dtrControl = 2;
    const int handle = ConnectRTU(slave_->comPort(), kTimeoutMs, &settings);
    ASSERT_NE(handle, -1) << baud;
    // The same port cannot be opened twice.
    EXPECT_EQ(ConnectRTU(slave_->comPort(), kTimeoutMs, &settings), -1);
    EnableModbusCallback(handle, &CallbackRecorder::onResponse);
    std::vector<uint16_t> words;
    EXPECT_EQ(CallbackRecorder::exchange(handle, RequestHeader{1, 3, 1, 2}, words), MBS_OK) << baud;
    CloseConnection(handle);
  }
}

// The kernel's termios2, for reading back a rate outside the standard table.
struct KernelTermios2 {
  tcflag_t c_iflag, c_oflag, c_cflag, c_lflag;
  cc_t c_line;
  cc_t c_cc[19];
  speed_t c_ispeed, c_ospeed;
};

TEST_F(RtuLine, SettingsTheDeviceTakesAreOnIt) {
  slave_ = std::make_unique<ScriptedSlave>(goodRegisters);
  SerialSettings settings = serialSettings8N1(56000);
  settings.stopBits = 2;
  settings.rtsControl = 2;
  settings.parity = 1;  // a pseudo-terminal refuses this one
  handle_ = ConnectRTU(slave_->comPort(), kTimeoutMs, &settings);
  ASSERT_NE(handle_, -1);
  termios t{};
  ASSERT_EQ(tcgetattr(slave_->deviceFd(), &t), 0);
  EXPECT_TRUE(t.c_cflag & CSTOPB);
  EXPECT_TRUE(t.c_cflag & CRTSCTS);
  EXPECT_EQ(t.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
  EXPECT_EQ(t.c_lflag & (ICANON | ECHO), 0u);
  KernelTermios2 t2{};
  ASSERT_EQ(ioctl(slave_->deviceFd(), _IOR('T', 0x2A, KernelTermios2), &t2), 0);
  EXPECT_EQ(t2.c_ospeed, 56000u);
  EXPECT_EQ(t2.c_ispeed, 56000u);
  CloseConnection(handle_);

  settings = serialSettings8N1(9600);
  handle_ = ConnectRTU(slave_->comPort(), kTimeoutMs, &settings);
  ASSERT_NE(handle_, -1);
  ASSERT_EQ(tcgetattr(slave_->deviceFd(), &t), 0);
  EXPECT_EQ(cfgetospeed(&t), static_cast<speed_t>(B9600));
  EXPECT_FALSE(t.c_cflag & CSTOPB);
  EXPECT_FALSE(t.c_cflag & CRTSCTS);
}

TEST(ModbusEntryPoints, UnknownHandlesAndImpossibleConnects) {
  const RequestHeader h{1, 3, 1, 1};
  uint16_t word = 0;
  RequestHeader out{};
  EXPECT_EQ(PollMODBUS(987654, &h), MBS_INVALID_HANDLE);
  EXPECT_EQ(WriteMODBUS(-1, &h, &word), MBS_INVALID_HANDLE);
  EXPECT_EQ(MODBUSResponse(987654, &out, &word, 1), MBS_INVALID_HANDLE);
  CloseConnection(987654);
  EnableModbusCallback(987654, &CallbackRecorder::onResponse);
  const SerialSettings settings = serialSettings8N1();
  EXPECT_EQ(ConnectRTU(0, 1000, &settings), -1);
  EXPECT_EQ(ConnectRTU(1, 1000, nullptr), -1);
  setenv("PELMORAN_COM99", "/nonexistent/tty", 1);
  EXPECT_EQ(ConnectASCII(99, 1000, &settings), -1);
  setenv("PELMORAN_COM98", "/dev/null", 1);  // not a terminal
  EXPECT_EQ(ConnectRTU(98, 1000, &settings), -1);
  TcpOptions options{};
  EXPECT_EQ(ConnectTCP2(0xFFFFFFFFu, 502, &options), -1);
  EXPECT_EQ(ConnectTCP2(0x0100007Fu, 0, &options), -1);
}

TEST(ModbusEntryPoints, CloseFromInsideTheCallbackAndAfterwardsSilence) {
  static int closingHandle = -1;
  static std::atomic<int> calls{0};
  static std::promise<void> closed;
  ScriptedSlave slave(goodRegisters);
  const SerialSettings settings = serialSettings8N1();
  closingHandle = ConnectRTU(slave.comPort(), kTimeoutMs, &settings);
  ASSERT_NE(closingHandle, -1);
  EnableModbusCallback(closingHandle, [](int handle, int, int) {
    ++calls;
    RequestHeader out{};
    uint16_t word = 0;
    MODBUSResponse(handle, &out, &word, 1);
    CloseConnection(handle);
    closed.set_value();
  });
  const RequestHeader h{1, 3, 1, 1};
  ASSERT_EQ(PollMODBUS(closingHandle, &h), MBS_OK);
  ASSERT_EQ(closed.get_future().wait_for(5s), std::future_status::ready);
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(PollMODBUS(closingHandle, &h), MBS_INVALID_HANDLE);
}

TEST(ModbusEntryPoints, ThreadsPollingTheirOwnLinesAtOnceEachGetTheirOwnAnswers) {
  constexpr int kLines = 4;
  constexpr int kPolls = 25;
  std::vector<std::unique_ptr<ScriptedSlave>> slaves;
  std::vector<int> handles;
  for (int i = 0; i < kLines; ++i) {
    slaves.push_back(std::make_unique<ScriptedSlave>(goodRegisters));
    const SerialSettings settings = serialSettings8N1(115200);
    handles.push_back(ConnectRTU(slaves.back()->comPort(), kTimeoutMs, &settings));
    ASSERT_NE(handles.back(), -1);
    EnableModbusCallback(handles.back(), &CallbackRecorder::onResponse);
  }
  std::atomic<int> good{0};
  std::vector<std::thread> threads;
  for (int i = 0; i < kLines; ++i) {
    threads.emplace_back([&, i] {
      for (int n = 0; n < kPolls; ++n) {
        std::vector<uint16_t> words;
        const uint16_t length = static_cast<uint16_t>(1 + (n + i) % 7);
        if (CallbackRecorder::exchange(handles[i], RequestHeader{1, 3, 1, length}, words) ==
                MBS_OK &&
            words.size() == length && words[length - 1] == 100 + length - 1) {
          ++good;
        }
      }
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(good, kLines * kPolls);
  for (int handle : handles) {
    EXPECT_EQ(CallbackRecorder::responses(handle), kPolls);
    CloseConnection(handle);
  }
}
