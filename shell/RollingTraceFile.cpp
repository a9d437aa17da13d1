#include "shell/RollingTraceFile.h"

#include <filesystem>
#include <system_error>

RollingTraceFile::RollingTraceFile(std::string path, std::uintmax_t rollBytes)
    : m_strPath(std::move(path)), m_nRollBytes(rollBytes) {
  Open();
}

void RollingTraceFile::Open() {
  // A trace turned on again continues the file of the last time.
  m_out.open(m_strPath, std::ios::binary | std::ios::app);
  std::error_code error;
  const std::uintmax_t size = std::filesystem::file_size(m_strPath, error);
  m_nSize = error ? 0 : size;
}

void RollingTraceFile::Roll() {
  m_out.close();
  std::error_code error;
  std::filesystem::rename(m_strPath, OlderPath(), error);
  // Were the rename refused, appending on would grow the file without end.
  m_out.open(m_strPath, std::ios::binary | std::ios::trunc);
  m_nSize = 0;
}

void RollingTraceFile::Write(const std::string& line) {
  const std::uintmax_t bytes = line.size() + 1;
  if (m_nSize > 0 && m_nSize + bytes > m_nRollBytes) Roll();
  m_out << line << '\n';
  m_out.flush();
  m_nSize += bytes;
}
