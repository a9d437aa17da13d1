// Where the window program's frame trace goes: a text file in the
// configuration directory that is rolled when it would grow past a size, so
// a trace left on for days takes at most twice that on disk. The one older
// file is the same name with ".1".
#pragma once

#include <cstdint>
#include <fstream>
#include <string>

class RollingTraceFile {
 public:
  static constexpr const char* kFileName = "pelmoran-trace.log";
  static constexpr std::uintmax_t kRollBytes = 4 * 1024 * 1024;

  explicit RollingTraceFile(std::string path, std::uintmax_t rollBytes = kRollBytes);

  // Appends the line and its newline; a line that would take the file past
  // the size starts a fresh file, the current one becoming the older one.
  void Write(const std::string& line);
  const std::string& Path() const { return m_strPath; }
  std::string OlderPath() const { return m_strPath + ".1"; }

 private:
  void Open();
  void Roll();

  std::string m_strPath;
  std::uintmax_t m_nRollBytes;
  std::uintmax_t m_nSize = 0;
  std::ofstream m_out;
};
