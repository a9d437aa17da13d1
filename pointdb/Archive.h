// The framework's binary archive: items stored one after the other without
// alignment, integers and floats little-endian, strings with a length prefix.
// A storing archive collects the bytes in memory, so that the file they go to
// is only replaced once everything has been written; a loading archive reads
// from bytes already in memory and never reaches beyond their end.
#pragma once

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

// Thrown when what is read cannot be what was written.
class ArchiveException : public std::runtime_error {
 public:
  enum Cause {
    endOfFile,  // the data ends inside an item
    badCount,   // a count or length claims more than the rest of the data
    badSchema,  // the items were read but their values cannot be used
  };
  ArchiveException(Cause cause, const std::string& reason);

  Cause m_cause;
};

class Archive {
 public:
  // Storing into an empty buffer.
  Archive();
  // Loading from bytes that must outlive the archive.
  explicit Archive(std::string_view bytes);

  bool IsStoring() const;
  bool IsLoading() const;

  Archive& operator<<(uint8_t value);
  Archive& operator<<(uint16_t value);
  Archive& operator<<(int32_t value);
  Archive& operator<<(float value);
  Archive& operator<<(double value);  // IEEE 754, little-endian, 8 bytes
  Archive& operator<<(const std::string& value);
  void Write(const void* data, size_t size);

  Archive& operator>>(uint8_t& value);
  Archive& operator>>(uint16_t& value);
  Archive& operator>>(int32_t& value);
  Archive& operator>>(float& value);
  Archive& operator>>(double& value);
  // Wide strings are converted to UTF-8.
  Archive& operator>>(std::string& value);
  void Read(void* data, size_t size);
  // Reads an int32 count of items that take at least minItemBytes each; a
  // negative count, or one that cannot fit in what remains, is damage.
  int32_t ReadCount(size_t minItemBytes);

  size_t GetRemaining() const;
  // The bytes stored so far.
  const std::string& GetBuffer() const;

  // The file the archive is bound for or comes from; empty when none.
  std::string m_strFileName;

 private:
  uint32_t ReadStringLength(bool& wide);
  void RequireLoading() const;
  void RequireStoring() const;

  bool m_bStoring;
  std::string m_stored;
  std::string_view m_loaded;
  size_t m_nPosition = 0;
};
