// A serial device opened and set up through termios from the 28-byte settings.
#pragma once

#include <cstdint>
#include <string>

#include "modbuslib/modbuslib.h"

namespace mbl {

class SerialPort {
 public:
  // Non-blocking descriptor, or -1 when the device cannot be opened, is not
  // a terminal, or is held by another connection. A setting the device
  // refuses is left out and the port stays usable. kernelRs485 tells whether
  // the driver turns RTS around for each transmission itself.
  static int open(const std::string& path, const SerialSettings& settings, bool& kernelRs485);
  static void setRts(int fd, bool on);
  // TIOCSRS485 with RTS high during sending (or after it) and the delays
  // around it; errno is left as the driver set it when refused.
  static bool setRs485(int fd, bool rtsOnSend, uint32_t beforeMs, uint32_t afterMs);
  // Bytes still waiting in the output queue (0 when the driver cannot tell).
  static int pendingOutput(int fd);
  // Start, data, parity and stop bits of one character on the line.
  static unsigned bitsPerCharacter(const SerialSettings& settings);

 private:
  static void applyFraming(int fd, const SerialSettings& settings);
  static void applySpeed(int fd, uint32_t baudRate);
  static bool applyOtherSpeed(int fd, uint32_t baudRate);
  static void applyControlLines(int fd, const SerialSettings& settings, bool& kernelRs485);
  static bool enableKernelRs485(int fd);
};

}  // namespace mbl
