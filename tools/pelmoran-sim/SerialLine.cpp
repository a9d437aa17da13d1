#include "SerialLine.h"

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

namespace {

std::runtime_error SystemError(const std::string& what) {
  return std::runtime_error(what + ": " + std::strerror(errno));
}

speed_t BaudConstant(int baud) {
  switch (baud) {
    case 1200: return B1200;
    case 2400: return B2400;
    case 4800: return B4800;
    case 9600: return B9600;
    case 19200: return B19200;
    case 38400: return B38400;
    case 57600: return B57600;
    case 115200: return B115200;
    default: throw std::runtime_error("unsupported baud rate " + std::to_string(baud));
  }
}

void ApplySettings(int fd, const LineSettings& settings) {
  termios tio{};
  if (tcgetattr(fd, &tio) != 0) throw SystemError("tcgetattr");
  cfmakeraw(&tio);
  tio.c_cflag |= CLOCAL | CREAD;
  tio.c_cflag &= ~(CSIZE | PARENB | PARODD | CSTOPB);
  tio.c_cflag |= settings.nDataBits == 7 ? CS7 : CS8;
  if (settings.cParity != 'N') tio.c_cflag |= PARENB;
  if (settings.cParity == 'O') tio.c_cflag |= PARODD;
  if (settings.nStopBits == 2) tio.c_cflag |= CSTOPB;
  const speed_t speed = BaudConstant(settings.nBaud);
  cfsetispeed(&tio, speed);
  cfsetospeed(&tio, speed);
  if (tcsetattr(fd, TCSANOW, &tio) != 0) throw SystemError("tcsetattr");
}

}  // namespace

SerialLine::SerialLine(const std::string& device, const LineSettings& settings,
                       const std::string& link)
    : m_strLink(link) {
  if (device == "pty") {
    CreatePty();
  } else {
    OpenDevice(device, settings);
  }
  if (!m_strLink.empty()) {
    ::unlink(m_strLink.c_str());
    if (::symlink(m_strMasterDevice.c_str(), m_strLink.c_str()) != 0) {
      throw SystemError("cannot link " + m_strLink);
    }
  }
}

SerialLine::~SerialLine() {
  if (!m_strLink.empty()) ::unlink(m_strLink.c_str());
  if (m_nPtyPeer >= 0) ::close(m_nPtyPeer);
  if (m_fd >= 0) ::close(m_fd);
}

void SerialLine::CreatePty() {
  m_fd = ::posix_openpt(O_RDWR | O_NOCTTY);
  if (m_fd < 0) throw SystemError("posix_openpt");
  if (::grantpt(m_fd) != 0 || ::unlockpt(m_fd) != 0) throw SystemError("pseudo-terminal");
  const char* name = ::ptsname(m_fd);
  if (name == nullptr) throw SystemError("ptsname");
  m_strMasterDevice = name;
  m_nPtyPeer = ::open(name, O_RDWR | O_NOCTTY);
  if (m_nPtyPeer < 0) throw SystemError("cannot open " + m_strMasterDevice);
  // No echo and no line editing until the master sets its own modes.
  termios tio{};
  if (tcgetattr(m_nPtyPeer, &tio) == 0) {
    cfmakeraw(&tio);
    tcsetattr(m_nPtyPeer, TCSANOW, &tio);
  }
}

void SerialLine::OpenDevice(const std::string& device, const LineSettings& settings) {
  m_fd = ::open(device.c_str(), O_RDWR | O_NOCTTY);
  if (m_fd < 0) throw SystemError("cannot open " + device);
  m_strMasterDevice = device;
  ApplySettings(m_fd, settings);
}
