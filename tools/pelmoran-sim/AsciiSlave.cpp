#include "AsciiSlave.h"

#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>
#include <string>

namespace {

constexpr int kCrcLength = 2;
constexpr uint8_t kExceptionFlag = 0x80;
constexpr uint8_t kIllegalFunction = 1;

uint16_t Crc16(const std::vector<uint8_t>& data) {
  uint16_t crc = 0xFFFF;
  for (uint8_t b : data) {
    crc ^= b;
    for (int bit = 0; bit < 8; ++bit) {
      crc =
          (crc & 1) ? static_cast<uint16_t>((crc >> 1) ^ 0xA001) : static_cast<uint16_t>(crc >> 1);
    }
  }
  return crc;
}

}  // namespace

AsciiSlave::AsciiSlave(SimTables& tables, SerialLine& line, int slave)
    : m_tables(tables),
      m_line(line),
      m_nSlave(slave),
      m_pCtx(modbus_new_rtu(line.MasterDevice().c_str(), 19200, 'N', 8, 1)) {
  if (m_pCtx == nullptr) throw std::runtime_error("cannot create a Modbus context");
  if (::socketpair(AF_UNIX, SOCK_STREAM, 0, m_pair) != 0) {
    modbus_free(m_pCtx);
    throw std::runtime_error("cannot create a socket pair");
  }
  modbus_set_slave(m_pCtx, slave);
  modbus_set_socket(m_pCtx, m_pair[0]);
}

AsciiSlave::~AsciiSlave() {
  ::close(m_pair[0]);
  ::close(m_pair[1]);
  modbus_free(m_pCtx);
}

void AsciiSlave::CollectFds(std::vector<int>& fds) const { fds.push_back(m_line.Fd()); }

void AsciiSlave::OnReadable(int) {
  uint8_t buffer[512];
  const ssize_t n = ::read(m_line.Fd(), buffer, sizeof buffer);
  if (n < 0 && (errno == EINTR || errno == EAGAIN)) return;
  // Otherwise the line would stay readable and the loop spin on it.
  if (n <= 0) throw std::runtime_error("the line " + m_line.MasterDevice() + " was lost");
  std::vector<std::vector<uint8_t>> frames;
  m_framer.Feed(buffer, static_cast<size_t>(n), frames);
  for (const auto& frame : frames) Answer(frame);
}

AsciiSlave::Verdict AsciiSlave::Judge(const std::vector<uint8_t>& frame) {
  if (frame.size() < 2) return Verdict::kDrop;
  switch (frame[1]) {
    case 1:
    case 2:
    case 3:
    case 4:
    case 5:
    case 6: return frame.size() == 6 ? Verdict::kServe : Verdict::kDrop;
    case 15:
    case 16:
      return frame.size() >= 7 && frame.size() == 7u + frame[6] ? Verdict::kServe : Verdict::kDrop;
    default: return Verdict::kIllegalFunction;
  }
}

void AsciiSlave::Answer(const std::vector<uint8_t>& frame) {
  if (frame[0] != m_nSlave && frame[0] != 0) return;
  const Verdict verdict = Judge(frame);
  if (verdict == Verdict::kDrop) return;
  if (verdict == Verdict::kIllegalFunction) {
    if (frame[0] != 0)
      Send({frame[0], static_cast<uint8_t>(frame[1] | kExceptionFlag), kIllegalFunction});
    return;
  }
  std::vector<uint8_t> rtu = frame;
  const uint16_t crc = Crc16(rtu);
  rtu.push_back(static_cast<uint8_t>(crc & 0xFF));
  rtu.push_back(static_cast<uint8_t>(crc >> 8));
  modbus_reply(m_pCtx, rtu.data(), static_cast<int>(rtu.size()), m_tables.Mapping());
  // A broadcast is carried out without an answer.
  std::vector<uint8_t> reply = TakeRtuReply();
  if (reply.size() > kCrcLength) {
    reply.resize(reply.size() - kCrcLength);
    Send(reply);
  }
}

std::vector<uint8_t> AsciiSlave::TakeRtuReply() {
  uint8_t buffer[MODBUS_RTU_MAX_ADU_LENGTH];
  const ssize_t n = ::recv(m_pair[1], buffer, sizeof buffer, MSG_DONTWAIT);
  if (n <= 0) return {};
  return std::vector<uint8_t>(buffer, buffer + n);
}

void AsciiSlave::Send(const std::vector<uint8_t>& frame) {
  const std::string text = AsciiFramer::Encode(frame);
  size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = ::write(m_line.Fd(), text.data() + done, text.size() - done);
    if (n <= 0) return;
    done += static_cast<size_t>(n);
  }
}
