// The benchmarks' line and slaves over real pseudo-terminals: socat's pair
// carries bytes both ways, the RTU slave counts exactly the requests it
// answered, and the ASCII slave finds frames however the bytes arrive.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <modbus.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "AsciiSlave.h"
#include "ChildProcess.h"
#include "PtyPair.h"
#include "RtuSlave.h"

namespace {

constexpr int kWaitMs = 5000;

// An end of the pair in raw mode, closed with the test.
class RawEnd {
 public:
  explicit RawEnd(const std::string& device)
      : fd_(open(device.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC)) {
    termios t{};
    tcgetattr(fd_, &t);
    cfmakeraw(&t);
    tcsetattr(fd_, TCSANOW, &t);
  }
  ~RawEnd() { close(fd_); }
  void send(const std::string& text) const {
    ASSERT_EQ(write(fd_, text.data(), text.size()), static_cast<ssize_t>(text.size()));
  }
  // Everything that arrives until `until` has been seen, or the wait ends.
  std::string receiveUntil(const std::string& until) const {
    std::string text;
    pollfd p{fd_, POLLIN, 0};
    while (text.find(until) == std::string::npos && poll(&p, 1, kWaitMs) > 0) {
      char chunk[256];
      const ssize_t n = read(fd_, chunk, sizeof chunk);
      if (n <= 0) break;
      text.append(chunk, static_cast<size_t>(n));
    }
    return text;
  }

 private:
  int fd_;
};

TEST(PtyPair, CarriesBytesBothWays) {
  bench::PtyPair pair;
  ASSERT_NE(pair.first(), pair.second());
  RawEnd a(pair.first());
  RawEnd b(pair.second());
  a.send("to b\n");
  EXPECT_EQ(b.receiveUntil("\n"), "to b\n");
  b.send("to a\n");
  EXPECT_EQ(a.receiveUntil("\n"), "to a\n");
}

TEST(ChildProcess, ErrorOutputAndEnvironment) {
  setenv("BENCH_PEER_VALUE", "outer", 1);
  bench::ChildProcess child({"sh", "-c", "echo \"$BENCH_PEER_VALUE\" >&2; echo second >&2"},
                            {"BENCH_PEER_VALUE=inner"}, "");
  EXPECT_EQ(child.readErrorLine(std::chrono::milliseconds(kWaitMs)), "inner");
  EXPECT_EQ(child.readErrorLine(std::chrono::milliseconds(kWaitMs)), "second");
  EXPECT_EQ(child.readErrorLine(std::chrono::milliseconds(kWaitMs)), std::nullopt);
}

TEST(RtuSlave, CountsTheRequestsItAnswers) {
  bench::PtyPair pair;
  bench::RtuSlave slave(pair.second(), 19200);
  modbus_t* ctx = modbus_new_rtu(pair.first().c_str(), 19200, 'N', 8, 1);
  ASSERT_NE(ctx, nullptr);
  modbus_set_slave(ctx, bench::RtuSlave::kNode);
  ASSERT_EQ(modbus_connect(ctx), 0);
  uint16_t regs[3] = {};
  for (const int address : {0, 100, bench::RtuSlave::kRegisters - 3}) {
    ASSERT_EQ(modbus_read_registers(ctx, address, 3, regs), 3);
    EXPECT_EQ(regs[2], address + 2);
  }
  // Exception answers are answers too.
  EXPECT_EQ(modbus_read_registers(ctx, bench::RtuSlave::kRegisters, 1, regs), -1);
  EXPECT_EQ(errno, EMBXILADD);
  modbus_close(ctx);
  modbus_free(ctx);
  EXPECT_EQ(slave.answered(), 4);
}

TEST(AsciiSlave, FindsFramesInPiecesAndAfterNoise) {
  bench::PtyPair pair;
  bench::AsciiSlave slave(pair.second());
  RawEnd master(pair.first());
  master.send("noise:0103000000");
  master.send("02FA\r\n:010300000002FB\r\n:010300000002FA\r\n");
  const std::string answer = ":01030400000001F7\r\n";
  EXPECT_EQ(master.receiveUntil(answer + answer), answer + answer);
  EXPECT_EQ(slave.answered(), 2);
}

}  // namespace
