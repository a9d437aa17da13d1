#include "modbuslib/SerialPort.h"

#include <fcntl.h>
#include <linux/serial.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <functional>
#include <map>

namespace mbl {

namespace {

// The kernel's termios2, declared here because its header clashes with the
// C library's termios.
struct Termios2 {
  tcflag_t c_iflag, c_oflag, c_cflag, c_lflag;
  cc_t c_line;
  cc_t c_cc[19];
  speed_t c_ispeed, c_ospeed;
};
constexpr unsigned long kGetTermios2 = _IOR('T', 0x2A, Termios2);
constexpr unsigned long kSetTermios2 = _IOW('T', 0x2B, Termios2);
constexpr tcflag_t kOtherBaud = 0010000;  // BOTHER
constexpr int kInputSpeedShift = 16;      // IBSHIFT

// Each change on its own, so that one the device refuses leaves the others.
void tryChange(int fd, const std::function<void(termios&)>& change) {
  termios t{};
  if (tcgetattr(fd, &t) != 0) return;
  change(t);
  tcsetattr(fd, TCSANOW, &t);
}

const std::map<uint32_t, speed_t>& standardSpeeds() {
  static const std::map<uint32_t, speed_t> speeds{
      {50, B50},         {75, B75},         {110, B110},        {134, B134},
      {150, B150},       {200, B200},       {300, B300},        {600, B600},
      {1200, B1200},     {1800, B1800},     {2400, B2400},      {4800, B4800},
      {9600, B9600},     {19200, B19200},   {38400, B38400},    {57600, B57600},
      {115200, B115200}, {230400, B230400}, {460800, B460800},  {500000, B500000},
      {576000, B576000}, {921600, B921600}, {1000000, B1000000}};
  return speeds;
}

}  // namespace

int SerialPort::open(const std::string& path, const SerialSettings& settings, bool& kernelRs485) {
  const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return -1;
  termios probe{};
  if (tcgetattr(fd, &probe) != 0 || flock(fd, LOCK_EX | LOCK_NB) != 0) {
    ::close(fd);
    return -1;
  }
  applyFraming(fd, settings);
  applySpeed(fd, settings.baudRate);
  applyControlLines(fd, settings, kernelRs485);
  tcflush(fd, TCIOFLUSH);
  return fd;
}

void SerialPort::applyFraming(int fd, const SerialSettings& s) {
  tryChange(fd, [](termios& t) {
    cfmakeraw(&t);
    t.c_cflag |= CLOCAL | CREAD;
    t.c_cflag &= ~(CRTSCTS | CSTOPB | PARENB | PARODD);
    // With VMIN 0 a read of an empty line returns 0, which cannot be told
    // from end of file; with 1 it fails with EAGAIN on this non-blocking
    // descriptor, and readiness says when data is there.
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 0;
  });
  if (s.wordLength == 7) {
    tryChange(fd, [](termios& t) { t.c_cflag = (t.c_cflag & ~CSIZE) | CS7; });
  }
  if (s.parity == 1 || s.parity == 2) {
    tryChange(fd, [odd = s.parity == 1](termios& t) {
      t.c_cflag |= PARENB;
      if (odd) t.c_cflag |= PARODD;
    });
  }
  if (s.stopBits == 2) tryChange(fd, [](termios& t) { t.c_cflag |= CSTOPB; });
}

void SerialPort::applySpeed(int fd, uint32_t baudRate) {
  const auto it = standardSpeeds().find(baudRate);
  if (it != standardSpeeds().end()) {
    tryChange(fd, [speed = it->second](termios& t) { cfsetspeed(&t, speed); });
    return;
  }
  applyOtherSpeed(fd, baudRate);
}

bool SerialPort::applyOtherSpeed(int fd, uint32_t baudRate) {
  // Rates outside the table (14400, 56000, 128000, 256000) go to the driver as numbers.
  Termios2 t{};
  if (ioctl(fd, kGetTermios2, &t) != 0) return false;
  t.c_cflag = (t.c_cflag & ~static_cast<tcflag_t>(CBAUD)) | kOtherBaud;
  t.c_cflag = (t.c_cflag & ~static_cast<tcflag_t>(CBAUD << kInputSpeedShift)) |
              (kOtherBaud << kInputSpeedShift);
  t.c_ispeed = baudRate;
  t.c_ospeed = baudRate;
  return ioctl(fd, kSetTermios2, &t) == 0;
}

void SerialPort::applyControlLines(int fd, const SerialSettings& s, bool& kernelRs485) {
  kernelRs485 = false;
  int dtr = TIOCM_DTR;
  // Linux has no DTR handshake; the line is held on as for "enabled".
  ioctl(fd, s.dtrControl == 0 ? TIOCMBIC : TIOCMBIS, &dtr);
  int rts = TIOCM_RTS;
  switch (s.rtsControl) {
    case 1: ioctl(fd, TIOCMBIS, &rts); break;
    case 2: tryChange(fd, [](termios& t) { t.c_cflag |= CRTSCTS; }); break;
    case 3:
      kernelRs485 = enableKernelRs485(fd);
      if (!kernelRs485) ioctl(fd, TIOCMBIC, &rts);
      break;
    default: ioctl(fd, TIOCMBIC, &rts); break;
  }
}

bool SerialPort::enableKernelRs485(int fd) {
  serial_rs485 rs485{};
  rs485.flags = SER_RS485_ENABLED | SER_RS485_RTS_ON_SEND;
  return ioctl(fd, TIOCSRS485, &rs485) == 0;
}

bool SerialPort::setRs485(int fd, bool rtsOnSend, uint32_t beforeMs, uint32_t afterMs) {
  serial_rs485 rs485{};
  rs485.flags = SER_RS485_ENABLED | (rtsOnSend ? SER_RS485_RTS_ON_SEND : SER_RS485_RTS_AFTER_SEND);
  rs485.delay_rts_before_send = beforeMs;
  rs485.delay_rts_after_send = afterMs;
  return ioctl(fd, TIOCSRS485, &rs485) == 0;
}

void SerialPort::setRts(int fd, bool on) {
  int rts = TIOCM_RTS;
  ioctl(fd, on ? TIOCMBIS : TIOCMBIC, &rts);
}

int SerialPort::pendingOutput(int fd) {
  int pending = 0;
  if (ioctl(fd, TIOCOUTQ, &pending) != 0) return 0;
  return pending;
}

unsigned SerialPort::bitsPerCharacter(const SerialSettings& s) {
  const unsigned data = s.wordLength == 7 ? 7 : 8;
  const unsigned parity = (s.parity == 1 || s.parity == 2) ? 1 : 0;
  const unsigned stop = s.stopBits == 2 ? 2 : 1;
  return 1 + data + parity + stop;
}

}  // namespace mbl
