// The simulator's end of a serial line: a real device set to the requested
// line settings, or a pseudo-terminal it creates for a master on this machine.
#pragma once

#include <string>

struct LineSettings {
  int nBaud = 19200;
  char cParity = 'N';  // N, E or O
  int nDataBits = 8;
  int nStopBits = 1;
};

class SerialLine {
 public:
  // device "pty" creates a pseudo-terminal; link, when not empty, becomes a
  // symbolic link to the device the master must open. Throws
  // std::runtime_error with the reason when the line cannot be opened.
  SerialLine(const std::string& device, const LineSettings& settings, const std::string& link);
  ~SerialLine();
  SerialLine(const SerialLine&) = delete;
  SerialLine& operator=(const SerialLine&) = delete;

  int Fd() const { return m_fd; }
  // The device a master opens: the given device, or the pseudo-terminal's.
  const std::string& MasterDevice() const { return m_strMasterDevice; }

 private:
  void CreatePty();
  void OpenDevice(const std::string& device, const LineSettings& settings);

  int m_fd = -1;
  // Kept open so that the pseudo-terminal survives a master closing it.
  int m_nPtyPeer = -1;
  std::string m_strMasterDevice;
  std::string m_strLink;
};
