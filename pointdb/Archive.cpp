#include "pointdb/Archive.h"

#include <bit>
#include <cstring>

namespace {

// Prefix values that announce a longer length or the wide form.
constexpr uint8_t kByteEscape = 0xFF;
constexpr uint16_t kWideMarker = 0xFFFE;
constexpr uint16_t kWordEscape = 0xFFFF;

void AppendUtf8(std::string& out, uint32_t code) {
  if (code < 0x80) {
    out += static_cast<char>(code);
  } else if (code < 0x800) {
    out += static_cast<char>(0xC0 | (code >> 6));
    out += static_cast<char>(0x80 | (code & 0x3F));
  } else if (code < 0x10000) {
    out += static_cast<char>(0xE0 | (code >> 12));
    out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (code & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (code >> 18));
    out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (code & 0x3F));
  }
}

bool IsHighSurrogate(uint16_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
bool IsLowSurrogate(uint16_t unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }

// A lone surrogate becomes U+FFFD, as the platform's own conversion does.
std::string Utf16ToUtf8(const std::u16string& units) {
  std::string out;
  out.reserve(units.size());
  for (size_t i = 0; i < units.size(); ++i) {
    const uint16_t unit = units[i];
    if (IsHighSurrogate(unit) && i + 1 < units.size() && IsLowSurrogate(units[i + 1])) {
      AppendUtf8(out, 0x10000 + ((unit - 0xD800u) << 10) + (units[i + 1] - 0xDC00u));
      ++i;
    } else if (IsHighSurrogate(unit) || IsLowSurrogate(unit)) {
      AppendUtf8(out, 0xFFFD);
    } else {
      AppendUtf8(out, unit);
    }
  }
  return out;
}

}  // namespace

ArchiveException::ArchiveException(Cause cause, const std::string& reason)
    : std::runtime_error(reason), m_cause(cause) {}

Archive::Archive() : m_bStoring(true) {}

Archive::Archive(std::string_view bytes) : m_bStoring(false), m_loaded(bytes) {}

bool Archive::IsStoring() const { return m_bStoring; }

bool Archive::IsLoading() const { return !m_bStoring; }

void Archive::RequireStoring() const {
  if (!m_bStoring) throw std::logic_error("storing into a loading archive");
}

void Archive::RequireLoading() const {
  if (m_bStoring) throw std::logic_error("loading from a storing archive");
}

void Archive::Write(const void* data, size_t size) {
  RequireStoring();
  m_stored.append(static_cast<const char*>(data), size);
}

Archive& Archive::operator<<(uint8_t value) {
  Write(&value, 1);
  return *this;
}

Archive& Archive::operator<<(uint16_t value) {
  const uint8_t bytes[2] = {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8)};
  Write(bytes, sizeof bytes);
  return *this;
}

Archive& Archive::operator<<(int32_t value) {
  const auto bits = static_cast<uint32_t>(value);
  const uint8_t bytes[4] = {static_cast<uint8_t>(bits), static_cast<uint8_t>(bits >> 8),
                            static_cast<uint8_t>(bits >> 16), static_cast<uint8_t>(bits >> 24)};
  Write(bytes, sizeof bytes);
  return *this;
}

Archive& Archive::operator<<(float value) { return *this << std::bit_cast<int32_t>(value); }

Archive& Archive::operator<<(double value) {
  const auto bits = std::bit_cast<uint64_t>(value);
  return *this << static_cast<int32_t>(static_cast<uint32_t>(bits))
               << static_cast<int32_t>(static_cast<uint32_t>(bits >> 32));
}

Archive& Archive::operator<<(const std::string& value) {
  const size_t length = value.size();
  if (length < kByteEscape) {
    *this << static_cast<uint8_t>(length);
  } else if (length < kWideMarker) {
    *this << kByteEscape << static_cast<uint16_t>(length);
  } else if (length <= UINT32_MAX) {
    *this << kByteEscape << kWordEscape << static_cast<int32_t>(static_cast<uint32_t>(length));
  } else {
    throw ArchiveException(ArchiveException::badCount, "a text is too long to be stored");
  }
  Write(value.data(), length);
  return *this;
}

void Archive::Read(void* data, size_t size) {
  RequireLoading();
  if (size > GetRemaining()) {
    m_nPosition = m_loaded.size();
    throw ArchiveException(ArchiveException::endOfFile, "the file ends early");
  }
  std::memcpy(data, m_loaded.data() + m_nPosition, size);
  m_nPosition += size;
}

Archive& Archive::operator>>(uint8_t& value) {
  Read(&value, 1);
  return *this;
}

Archive& Archive::operator>>(uint16_t& value) {
  uint8_t bytes[2];
  Read(bytes, sizeof bytes);
  value = static_cast<uint16_t>(bytes[0] | (bytes[1] << 8));
  return *this;
}

Archive& Archive::operator>>(int32_t& value) {
  uint8_t bytes[4];
  Read(bytes, sizeof bytes);
  value = static_cast<int32_t>(
      static_cast<uint32_t>(bytes[0]) | (static_cast<uint32_t>(bytes[1]) << 8) |
      (static_cast<uint32_t>(bytes[2]) << 16) | (static_cast<uint32_t>(bytes[3]) << 24));
  return *this;
}

Archive& Archive::operator>>(float& value) {
  int32_t bits;
  *this >> bits;
  value = std::bit_cast<float>(bits);
  return *this;
}

Archive& Archive::operator>>(double& value) {
  int32_t low;
  int32_t high;
  *this >> low >> high;
  value = std::bit_cast<double>(static_cast<uint64_t>(static_cast<uint32_t>(low)) |
                                (static_cast<uint64_t>(static_cast<uint32_t>(high)) << 32));
  return *this;
}

// After the wide marker the length prefix starts over, so a second 0xFFFE
// there is a length, not another marker.
uint32_t Archive::ReadStringLength(bool& wide) {
  wide = false;
  uint8_t byteLength;
  *this >> byteLength;
  if (byteLength < kByteEscape) return byteLength;
  uint16_t wordLength;
  *this >> wordLength;
  if (wordLength == kWideMarker) {
    wide = true;
    *this >> byteLength;
    if (byteLength < kByteEscape) return byteLength;
    *this >> wordLength;
  }
  if (wordLength < kWordEscape) return wordLength;
  int32_t longLength;
  *this >> longLength;
  return static_cast<uint32_t>(longLength);
}

Archive& Archive::operator>>(std::string& value) {
  bool wide;
  const uint64_t length = ReadStringLength(wide);
  const uint64_t bytes = wide ? length * 2 : length;
  if (bytes > GetRemaining()) {
    throw ArchiveException(ArchiveException::badCount, "the file ends inside a text of " +
                                                           std::to_string(length) +
                                                           (wide ? " wide" : "") + " characters");
  }
  if (!wide) {
    value.assign(m_loaded.data() + m_nPosition, bytes);
    m_nPosition += bytes;
    return *this;
  }
  std::u16string units(length, u'\0');
  for (auto& unit : units) {
    uint16_t word;
    *this >> word;
    unit = static_cast<char16_t>(word);
  }
  value = Utf16ToUtf8(units);
  return *this;
}

int32_t Archive::ReadCount(size_t minItemBytes) {
  int32_t count;
  *this >> count;
  if (count < 0) {
    throw ArchiveException(ArchiveException::badCount,
                           "a count is negative (" + std::to_string(count) + ")");
  }
  if (static_cast<uint64_t>(count) * minItemBytes > GetRemaining()) {
    throw ArchiveException(
        ArchiveException::badCount,
        "a count (" + std::to_string(count) + ") is larger than the rest of the file can hold");
  }
  return count;
}

size_t Archive::GetRemaining() const { return m_loaded.size() - m_nPosition; }

const std::string& Archive::GetBuffer() const { return m_stored; }
