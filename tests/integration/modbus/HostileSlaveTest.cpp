// The library against a slave of the tests' own that frames every byte itself
// and misbehaves on command: late answers, noise, spoiled checksums, write
// echoes that lie, and Daniels/ENRON 32-bit registers.
#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <cstdlib>
#include <tuple>

#include "CallbackRecorder.h"
#include "HostileSlave.h"
#include "platform/Log.h"

using namespace std::chrono_literals;

namespace {

constexpr int kTimeoutMs = 1500;
constexpr int kShortTimeoutMs = 300;
constexpr int kExchanges = 200;
constexpr int kAlternations = 40;
// The slave's answer to the next request comes right after its copy, but a
// loaded test machine may hold it up for longer than the default 3.5 characters
// (under the sanitizers, beside a compile, past 20 ms).
constexpr uint32_t kSettleUs = 100000;
const std::string kLate = "late 450";

int connectTcp(int port, int timeoutMs) {
  TcpOptions options{};
  options.protocol = 1;
  options.timeoutMs = static_cast<uint32_t>(timeoutMs);
  const int handle = ConnectTCP2(inet_addr("127.0.0.1"), static_cast<uint32_t>(port), &options);
  return CallbackRecorder::waitLink(handle, MBS_EVENT_CONNECTED, 5s) ? handle : -1;
}

int connectSerial(const std::string& transport, const std::string& device, bool daniels,
                  int timeoutMs) {
  static int nextCom = 60;
  const int com = nextCom++;
  setenv(("PELMORAN_COM" + std::to_string(com)).c_str(), device.c_str(), 1);
  SerialSettings settings{};
  settings.baudRate = 19200;
  settings.wordLength = 8;
  settings.dtrControl = 1;
  const auto connect = transport == "rtu" ? (daniels ? ConnectDanielsRTU : ConnectRTU)
                                          : (daniels ? ConnectDanielsASCII : ConnectASCII);
  return connect(com, timeoutMs, &settings);
}

// RTU or ASCII framing on TCP, as a serial device server passes it.
int connectNetLine(const std::string& transport, int port, bool daniels, int timeoutMs) {
  const bool rtu = transport.rfind("rtu", 0) == 0;
  const int framing = rtu ? (daniels ? MBS_FRAMING_DANIELS_RTU : MBS_FRAMING_RTU)
                          : (daniels ? MBS_FRAMING_DANIELS_ASCII : MBS_FRAMING_ASCII);
  const int handle = ConnectNetLine("localhost", static_cast<uint32_t>(port), MBS_NET_TCP,
                                    framing, timeoutMs);
  return CallbackRecorder::waitLink(handle, MBS_EVENT_CONNECTED, 5s) ? handle : -1;
}

RequestHeader header(uint8_t function, uint16_t address, uint16_t length) {
  return RequestHeader{1, function, address, length};
}

std::string hexOf(const std::string& text) {
  std::string hex;
  for (unsigned char c : text) {
    char byte[4];
    std::snprintf(byte, sizeof byte, "%02x ", c);
    hex += byte;
  }
  return hex;
}

// Test names cannot hold the dash of "rtu-tcp".
std::string nameOf(std::string transport) {
  std::replace(transport.begin(), transport.end(), '-', '_');
  return transport;
}

const auto kTransports = ::testing::Values("tcp", "rtu", "ascii", "rtu-tcp", "ascii-tcp");

}  // namespace

class HostileTest : public ::testing::Test {
 protected:
  void open(const std::string& transport, int timeoutMs = kTimeoutMs,
            const std::string& dialect = "standard") {
    EnableConnectionCallback(&CallbackRecorder::onLink);
    slave_ = std::make_unique<HostileSlave>(transport, dialect);
    ASSERT_TRUE(slave_->ready()) << "the hostile slave did not start";
    if (transport == "tcp") {
      handle_ = connectTcp(slave_->tcpPort(), timeoutMs);
    } else if (transport.ends_with("-tcp")) {
      handle_ = connectNetLine(transport, slave_->tcpPort(), dialect == "enron", timeoutMs);
    } else {
      handle_ = connectSerial(transport, slave_->masterDevice(), dialect == "enron", timeoutMs);
    }
    ASSERT_NE(handle_, -1);
    EnableModbusCallback(handle_, &CallbackRecorder::onResponse);
  }
  void TearDown() override {
    if (handle_ != -1) CloseConnection(handle_);
  }
  int run(RequestHeader h, std::vector<uint16_t>& words) {
    return CallbackRecorder::exchange(handle_, h, words);
  }
  // Ten standard registers from a wire address, each different from any other fill.
  std::vector<uint16_t> fill(int wireAddress, uint16_t base) {
    std::vector<uint32_t> values;
    for (uint16_t i = 0; i < 10; ++i) values.push_back(base + i);
    slave_->set(wireAddress, values);
    return std::vector<uint16_t>(values.begin(), values.end());
  }
  ModbusCounters counters() {
    ModbusCounters c{};
    EXPECT_EQ(GetModbusCounters(handle_, &c), MBS_OK);
    return c;
  }

  std::unique_ptr<HostileSlave> slave_;
  int handle_ = -1;
};

// A slave that answers after the time-out: its answer must never be taken for a later request.
class LateAnswerTest : public HostileTest, public ::testing::WithParamInterface<std::string> {
 protected:
  void SetUp() override { open(GetParam(), kShortTimeoutMs); }
};

TEST_P(LateAnswerTest, ALateReadAnswerNeverBecomesTheNextReadsData) {
  const auto wanted = fill(100, 2000);
  const auto after = fill(200, 3000);
  std::vector<uint16_t> words;
  slave_->behave(kLate);
  ASSERT_EQ(run(header(3, 1, 10), words), MBS_POLL_TIMEOUT);
  const int status = run(header(3, 101, 10), words);
  // A late answer that fits the next request on a serial line may cost that request a failure;
  // on TCP its transaction id gives it away.
  if (GetParam() == "tcp" || status == MBS_OK) {
    ASSERT_EQ(status, MBS_OK);
    EXPECT_EQ(words, wanted) << "the late answer was taken for the next read";
  } else {
    EXPECT_GT(status, MBS_OK);
  }
  ASSERT_EQ(run(header(3, 201, 10), words), MBS_OK);
  EXPECT_EQ(words, after);
  const auto c = counters();
  EXPECT_EQ(c.timeouts, status == MBS_POLL_TIMEOUT ? 2u : 1u);
  EXPECT_GE(c.discarded, 1u);
}

TEST_P(LateAnswerTest, ALateWriteEchoIsSkippedAndTheNextPollGetsItsOwnAnswer) {
  const auto wanted = fill(100, 2000);
  std::vector<uint16_t> words{4321};
  slave_->behave(kLate);
  ASSERT_EQ(run(header(6, 51, 1), words), MBS_POLL_TIMEOUT);
  ASSERT_EQ(run(header(3, 101, 10), words), MBS_OK);
  EXPECT_EQ(words, wanted);
  const auto c = counters();
  EXPECT_EQ(c.timeouts, 1u);
  EXPECT_GE(c.discarded, 1u);
}

INSTANTIATE_TEST_SUITE_P(Transports, LateAnswerTest, kTransports,
                         [](const auto& info) { return nameOf(info.param); });

// Bytes around an answer on a serial line: noise is skipped, a spoiled checksum is
// reported; a converter that closes the connection mid-answer fails only that
// request, with a count of its own, and the link comes back by itself.
struct LineCase {
  const char* name;
  const char* transport;
  std::string behaviour;
  int status;
  uint32_t ModbusCounters::*counter;
};
void PrintTo(const LineCase& c, std::ostream* os) { *os << c.name; }

class NoisyLineTest : public HostileTest, public ::testing::WithParamInterface<LineCase> {
 protected:
  void SetUp() override { open(GetParam().transport); }
};

TEST_P(NoisyLineTest, TheAnswerIsFoundOrItsFaultReportedAndTheLineRecovers) {
  const auto wanted = fill(100, 2000);
  std::vector<uint16_t> words;
  slave_->behave(GetParam().behaviour);
  ASSERT_EQ(run(header(3, 101, 10), words), GetParam().status);
  if (GetParam().status == MBS_OK) {
    EXPECT_EQ(words, wanted);
  }
  EXPECT_GE(counters().*GetParam().counter, 1u);
  if (GetParam().status == MBS_SVR_NOT_CONNECTED) {
    ASSERT_TRUE(CallbackRecorder::waitLinkCount(handle_, MBS_EVENT_CONNECTED, 2, 5s));
  }
  ASSERT_EQ(run(header(3, 101, 10), words), MBS_OK);
  EXPECT_EQ(words, wanted);
}

// A pseudo-terminal has no RS-485 mode: asked for it, the port says so in the
// log, naming itself and the driver's reason, and goes on working.
TEST_F(HostileTest, AnRs485ModeTheDriverRefusesIsLoggedAndTheLineWorksOn) {
  std::mutex mutex;
  std::condition_variable logged;
  std::vector<std::string> lines;
  platform::ScopedLogSink sink([&](const platform::LogRecord& record) {
    std::lock_guard lock(mutex);
    lines.emplace_back(record.text);
    logged.notify_all();
  });
  open("rtu");
  const auto wanted = fill(100, 2000);
  ASSERT_EQ(SetRs485Mode(handle_, MBS_RS485_RTS_ON_SEND, 1, 2), MBS_OK);
  EXPECT_EQ(SetRs485Mode(handle_, 3, 0, 0), MBS_INVALID_LENGTH);
  {
    std::unique_lock lock(mutex);
    ASSERT_TRUE(logged.wait_for(lock, 5s, [&] { return !lines.empty(); }));
    EXPECT_NE(lines[0].find("(" + slave_->masterDevice() + "): RS-485 mode refused by the driver: "),
              std::string::npos)
        << lines[0];
    EXPECT_NE(lines[0].find("Inappropriate ioctl"), std::string::npos) << lines[0];
  }
  std::vector<uint16_t> words;
  ASSERT_EQ(run(header(3, 101, 10), words), MBS_OK);
  EXPECT_EQ(words, wanted);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, NoisyLineTest,
    ::testing::Values(
        LineCase{"RtuNoise", "rtu", "noise ff 00 55 aa 13", MBS_OK, &ModbusCounters::discarded},
        // Right slave and function, but a byte count no ten-register answer has.
        LineCase{"RtuNoiseLikeAHeader", "rtu", "noise 01 03 7f", MBS_OK,
                 &ModbusCounters::discarded},
        LineCase{"AsciiGarbageAndHalfAFrame", "ascii", "noise " + hexOf("#~?:0103140007"), MBS_OK,
                 &ModbusCounters::discarded},
        LineCase{"RtuBadCrc", "rtu", "bad-crc", MBS_INVALID_CHECKSUM,
                 &ModbusCounters::checksumErrors},
        LineCase{"AsciiBadLrc", "ascii", "bad-crc", MBS_INVALID_CHECKSUM,
                 &ModbusCounters::checksumErrors},
        LineCase{"RtuOverTcpNoise", "rtu-tcp", "noise ff 00 55 aa 13", MBS_OK,
                 &ModbusCounters::discarded},
        // A converter passing on another slave's answer first.
        LineCase{"RtuOverTcpOtherSlave", "rtu-tcp", "noise 02 03 02 00 07 bd 86", MBS_OK,
                 &ModbusCounters::discarded},
        LineCase{"RtuOverTcpBadCrc", "rtu-tcp", "bad-crc", MBS_INVALID_CHECKSUM,
                 &ModbusCounters::checksumErrors},
        LineCase{"AsciiOverTcpBadLrc", "ascii-tcp", "bad-crc", MBS_INVALID_CHECKSUM,
                 &ModbusCounters::checksumErrors},
        LineCase{"RtuOverTcpClosedMidFrame", "rtu-tcp", "cut 4", MBS_SVR_NOT_CONNECTED,
                 &ModbusCounters::linkLosses}),
    [](const auto& info) { return std::string(info.param.name); });

// A write echo must repeat the request: address and value, or address and quantity.
struct EchoCase {
  const char* name;
  uint8_t function;
  const char* behaviour;
  int status;
};
void PrintTo(const EchoCase& c, std::ostream* os) { *os << c.name; }

class WriteEchoTest : public HostileTest,
                      public ::testing::WithParamInterface<std::tuple<std::string, EchoCase>> {
 protected:
  void SetUp() override { open(std::get<0>(GetParam())); }
};

TEST_P(WriteEchoTest, AnEchoThatDiffersFromTheRequestIsAnInvalidResponse) {
  const EchoCase& echo = std::get<1>(GetParam());
  if (*echo.behaviour != '\0') slave_->behave(echo.behaviour);
  const uint16_t length = echo.function < 15 ? 1 : 3;
  std::vector<uint16_t> words(length, 1);
  EXPECT_EQ(run(header(echo.function, 11, length), words), echo.status);
  EXPECT_EQ(counters().invalidResponses, echo.status == MBS_OK ? 0u : 1u);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, WriteEchoTest,
    ::testing::Combine(
        kTransports,
        ::testing::Values(
            EchoCase{"Coil", 5, "", MBS_OK},
            EchoCase{"CoilOtherValue", 5, "wrong-value", MBS_INVALID_RESPONSE},
            EchoCase{"CoilOtherAddress", 5, "wrong-address", MBS_INVALID_RESPONSE},
            EchoCase{"Register", 6, "", MBS_OK},
            EchoCase{"RegisterOtherValue", 6, "wrong-value", MBS_INVALID_RESPONSE},
            EchoCase{"RegisterOtherAddress", 6, "wrong-address", MBS_INVALID_RESPONSE},
            EchoCase{"Coils", 15, "", MBS_OK},
            EchoCase{"CoilsOtherAddress", 15, "wrong-address", MBS_INVALID_RESPONSE},
            EchoCase{"CoilsOtherQuantity", 15, "wrong-quantity", MBS_INVALID_RESPONSE},
            EchoCase{"Registers", 16, "", MBS_OK},
            EchoCase{"RegistersOtherAddress", 16, "wrong-address", MBS_INVALID_RESPONSE},
            EchoCase{"RegistersOtherQuantity", 16, "wrong-quantity", MBS_INVALID_RESPONSE})),
    [](const auto& info) {
      return nameOf(std::get<0>(info.param)) + "_" + std::get<1>(info.param).name;
    });

// A slave that repeats each answer (or junk after it) while two register runs are
// polled in turn: no answer carries the other run's data with a good status.
struct HabitCase {
  const char* name;
  const char* transport;
  const char* dialect;
  const char* habit;
  int maxFailures;
};
void PrintTo(const HabitCase& c, std::ostream* os) { *os << c.name; }

class HabitTest : public HostileTest, public ::testing::WithParamInterface<HabitCase> {
 protected:
  void SetUp() override { open(GetParam().transport, kTimeoutMs, GetParam().dialect); }
};

TEST_P(HabitTest, EachPollGetsItsOwnRunsData) {
  const HabitCase& c = GetParam();
  const std::vector<uint16_t> runs[] = {fill(100, 2000), fill(200, 3000)};
  const uint16_t pointOffset = std::string(c.dialect) == "standard" ? 1 : 0;
  if (std::string(c.transport) != "tcp") {  // a serial framing
    ASSERT_EQ(SetLineTiming(handle_, 0, kSettleUs), MBS_OK);
  }
  slave_->habit(c.habit);
  int failures = 0;
  std::vector<uint16_t> words;
  for (int i = 0; i < kAlternations; ++i) {
    const int which = i % 2;
    const auto address = static_cast<uint16_t>(100 * (which + 1) + pointOffset);
    if (run(header(3, address, 10), words) != MBS_OK) {
      ++failures;
      continue;
    }
    EXPECT_EQ(words, runs[which]) << "poll " << i << " got the other run's data";
  }
  EXPECT_LE(failures, c.maxFailures);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, HabitTest,
    ::testing::Values(HabitCase{"RtuDuplicated", "rtu", "standard", "duplicate 5", 0},
                      HabitCase{"AsciiDuplicated", "ascii", "standard", "duplicate 5", 0},
                      HabitCase{"EnronRtuDuplicated", "rtu", "enron", "duplicate 5", 0},
                      HabitCase{"RtuOverTcpDuplicated", "rtu-tcp", "standard", "duplicate 5", 0},
                      HabitCase{"TcpJunkAfterAnswer", "tcp", "standard", "junk ff 00 ff 00 ff", 1}),
    [](const auto& info) { return std::string(info.param.name); });

// Daniels/ENRON: addresses as given, and 32-bit registers in 5001-5999 and 7001-7999.
class EnronTest : public HostileTest, public ::testing::WithParamInterface<std::string> {
 protected:
  void SetUp() override { open(GetParam(), kTimeoutMs, "enron"); }
};

TEST_P(EnronTest, ThirtyTwoBitRegistersReadAsTwoWordsHighWordFirst) {
  slave_->set(7001, {0x12345678, 0x9ABCDEF0});
  slave_->set(5998, {0x00010002, 0xFFFF0000});
  std::vector<uint16_t> words;
  ASSERT_EQ(run(header(3, 7001, 4), words), MBS_OK);
  EXPECT_EQ(words, (std::vector<uint16_t>{0x1234, 0x5678, 0x9ABC, 0xDEF0}));
  ASSERT_EQ(run(header(3, 5998, 4), words), MBS_OK);
  EXPECT_EQ(words, (std::vector<uint16_t>{0x0001, 0x0002, 0xFFFF, 0x0000}));
}

TEST_P(EnronTest, AWriteOfTwoWordsChangesOneThirtyTwoBitRegister) {
  slave_->set(7001, {1, 2, 3});
  std::vector<uint16_t> words{0xCAFE, 0xF00D};
  ASSERT_EQ(run(header(16, 7002, 2), words), MBS_OK);
  EXPECT_EQ(slave_->get(7001, 3), (std::vector<uint32_t>{1, 0xCAFEF00D, 3}));
}

TEST_P(EnronTest, SixteenBitRegistersAreAddressedAsGiven) {
  slave_->set(3000, {11, 22, 33, 44});
  std::vector<uint16_t> words;
  ASSERT_EQ(run(header(3, 3001, 3), words), MBS_OK);
  EXPECT_EQ(words, (std::vector<uint16_t>{22, 33, 44}));
}

INSTANTIATE_TEST_SUITE_P(Transports, EnronTest,
                         ::testing::Values("rtu", "ascii", "rtu-tcp", "ascii-tcp"),
                         [](const auto& info) { return nameOf(info.param); });

// Many ordinary exchanges: each answered and counted once, nothing else counted.
class CountersTest : public HostileTest, public ::testing::WithParamInterface<std::string> {
 protected:
  void SetUp() override { open(GetParam()); }
};

TEST_P(CountersTest, EveryExchangeIsCountedOnceAndAClosedHandleHasNone) {
  const auto wanted = fill(0, 500);
  std::vector<uint16_t> words;
  for (int i = 0; i < kExchanges; ++i) {
    ASSERT_EQ(run(header(3, 1, 10), words), MBS_OK) << "exchange " << i;
    ASSERT_EQ(words, wanted) << "exchange " << i;
  }
  const auto c = counters();
  EXPECT_EQ(c.requests, static_cast<uint32_t>(kExchanges));
  EXPECT_EQ(c.answers, static_cast<uint32_t>(kExchanges));
  EXPECT_EQ(c.timeouts + c.checksumErrors + c.invalidResponses + c.discarded, 0u);
  CloseConnection(handle_);
  ModbusCounters closed{};
  EXPECT_EQ(GetModbusCounters(handle_, &closed), MBS_INVALID_HANDLE);
  handle_ = -1;
}

INSTANTIATE_TEST_SUITE_P(Transports, CountersTest, kTransports,
                         [](const auto& info) { return nameOf(info.param); });
