#include "AsciiSlave.h"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <optional>
#include <stdexcept>
#include <vector>

namespace bench {

namespace {

constexpr uint8_t kReadHolding = 3;
constexpr uint8_t kExceptionFlag = 0x80;
constexpr uint8_t kIllegalFunction = 1;
constexpr uint8_t kIllegalAddress = 2;
constexpr uint8_t kIllegalValue = 3;
constexpr size_t kReadPduSize = 5;  // function, address, quantity
constexpr int kMaxQuantity = 125;
// Longer than any request may be; a frame that never ends is dropped.
constexpr size_t kMaxFrameChars = 600;
constexpr int kStopCheckMs = 100;

std::optional<std::vector<uint8_t>> decodeHex(std::string_view digits) {
  if (digits.size() % 2 != 0) return std::nullopt;
  std::vector<uint8_t> bytes;
  for (size_t i = 0; i < digits.size(); i += 2) {
    unsigned value = 0;
    for (const char c : digits.substr(i, 2)) {
      const int nibble = (c >= '0' && c <= '9')   ? c - '0'
                         : (c >= 'A' && c <= 'F') ? c - 'A' + 10
                         : (c >= 'a' && c <= 'f') ? c - 'a' + 10
                                                  : -1;
      if (nibble < 0) return std::nullopt;
      value = value * 16 + static_cast<unsigned>(nibble);
    }
    bytes.push_back(static_cast<uint8_t>(value));
  }
  return bytes;
}

uint8_t sumOf(const std::vector<uint8_t>& bytes) {
  unsigned sum = 0;
  for (const uint8_t b : bytes) sum += b;
  return static_cast<uint8_t>(sum);
}

std::string frameOf(std::vector<uint8_t> bytes) {
  // The LRC makes the sum of all bytes, itself included, zero.
  bytes.push_back(static_cast<uint8_t>(-sumOf(bytes)));
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string frame = ":";
  for (const uint8_t b : bytes) {
    frame += kHex[b >> 4];
    frame += kHex[b & 0x0F];
  }
  return frame + "\r\n";
}

std::string exceptionAnswer(uint8_t function, uint8_t code) {
  return frameOf({AsciiSlave::kNode, static_cast<uint8_t>(function | kExceptionFlag), code});
}

std::string readAnswer(const std::vector<uint8_t>& pdu) {
  if (pdu.size() != kReadPduSize) return exceptionAnswer(kReadHolding, kIllegalValue);
  const int address = pdu[1] << 8 | pdu[2];
  const int quantity = pdu[3] << 8 | pdu[4];
  if (quantity < 1 || quantity > kMaxQuantity) {
    return exceptionAnswer(kReadHolding, kIllegalValue);
  }
  if (address + quantity > AsciiSlave::kRegisters) {
    return exceptionAnswer(kReadHolding, kIllegalAddress);
  }
  std::vector<uint8_t> bytes{AsciiSlave::kNode, kReadHolding, static_cast<uint8_t>(2 * quantity)};
  for (int value = address; value < address + quantity; ++value) {
    bytes.push_back(static_cast<uint8_t>(value >> 8));
    bytes.push_back(static_cast<uint8_t>(value));
  }
  return frameOf(std::move(bytes));
}

void writeAll(int fd, const std::string& text) {
  size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = write(fd, text.data() + done, text.size() - done);
    if (n > 0) {
      done += static_cast<size_t>(n);
      continue;
    }
    pollfd p{fd, POLLOUT, 0};
    if (poll(&p, 1, kStopCheckMs) < 0) return;
  }
}

}  // namespace

AsciiSlave::AsciiSlave(const std::string& device)
    : fd_(open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC)) {
  termios t{};
  if (fd_ < 0 || tcgetattr(fd_, &t) != 0) {
    if (fd_ >= 0) close(fd_);
    throw std::runtime_error("cannot serve ASCII on " + device);
  }
  cfmakeraw(&t);
  cfsetspeed(&t, B19200);
  tcsetattr(fd_, TCSANOW, &t);
  server_ = std::thread([this] { serve(); });
}

AsciiSlave::~AsciiSlave() {
  stop_ = true;
  server_.join();
  close(fd_);
}

std::string AsciiSlave::answer(std::string_view digits) {
  const auto bytes = decodeHex(digits);
  // Node, function and LRC at least; a damaged or foreign frame gets silence.
  if (!bytes || bytes->size() < 3 || sumOf(*bytes) != 0 || bytes->front() != kNode) return {};
  const std::vector<uint8_t> pdu(bytes->begin() + 1, bytes->end() - 1);
  if (pdu.front() != kReadHolding) return exceptionAnswer(pdu.front(), kIllegalFunction);
  return readAnswer(pdu);
}

void AsciiSlave::serve() {
  while (!stop_) {
    pollfd p{fd_, POLLIN, 0};
    if (poll(&p, 1, kStopCheckMs) <= 0) continue;
    char chunk[512];
    const ssize_t n = read(fd_, chunk, sizeof chunk);
    if (n <= 0) continue;
    received_.append(chunk, static_cast<size_t>(n));
    answerFrames();
  }
}

void AsciiSlave::answerFrames() {
  for (;;) {
    const size_t start = received_.find(':');
    received_.erase(0, start == std::string::npos ? received_.size() : start);
    const size_t end = received_.find("\r\n");
    if (end == std::string::npos) {
      if (received_.size() > kMaxFrameChars) received_.clear();
      return;
    }
    const std::string reply = answer(std::string_view(received_).substr(1, end - 1));
    received_.erase(0, end + 2);
    if (reply.empty()) continue;
    ++answered_;
    writeAll(fd_, reply);
  }
}

}  // namespace bench
