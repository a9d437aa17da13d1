#include "AsciiFramer.h"

#include <optional>

namespace {

std::optional<uint8_t> HexDigit(char c) {
  if (c >= '0' && c <= '9') return static_cast<uint8_t>(c - '0');
  if (c >= 'A' && c <= 'F') return static_cast<uint8_t>(c - 'A' + 10);
  if (c >= 'a' && c <= 'f') return static_cast<uint8_t>(c - 'a' + 10);
  return std::nullopt;
}

std::optional<std::vector<uint8_t>> DecodeHex(const std::string& text) {
  if (text.size() % 2 != 0) return std::nullopt;
  std::vector<uint8_t> bytes;
  bytes.reserve(text.size() / 2);
  for (size_t i = 0; i < text.size(); i += 2) {
    const auto high = HexDigit(text[i]);
    const auto low = HexDigit(text[i + 1]);
    if (!high || !low) return std::nullopt;
    bytes.push_back(static_cast<uint8_t>((*high << 4) | *low));
  }
  return bytes;
}

}  // namespace

uint8_t AsciiFramer::Lrc(const uint8_t* data, size_t size) {
  uint8_t sum = 0;
  for (size_t i = 0; i < size; ++i) sum = static_cast<uint8_t>(sum + data[i]);
  return static_cast<uint8_t>(-sum);
}

void AsciiFramer::Feed(const uint8_t* data, size_t size,
                       std::vector<std::vector<uint8_t>>& frames) {
  for (size_t i = 0; i < size; ++i) {
    const char c = static_cast<char>(data[i]);
    if (c == ':') {
      // A colon always starts a frame; a frame it cuts short is damaged.
      if (m_bInFrame) ++m_nDropped;
      m_text.clear();
      m_bInFrame = true;
      m_bSawCr = false;
    } else if (!m_bInFrame) {
      continue;
    } else if (m_bSawCr) {
      if (c == '\n') {
        Finish(frames);
      } else {
        ++m_nDropped;
        m_bInFrame = false;
      }
    } else if (c == '\r') {
      m_bSawCr = true;
    } else if (m_text.size() >= kMaxChars) {
      ++m_nDropped;
      m_bInFrame = false;
    } else {
      m_text.push_back(c);
    }
  }
}

void AsciiFramer::Finish(std::vector<std::vector<uint8_t>>& frames) {
  m_bInFrame = false;
  auto bytes = DecodeHex(m_text);
  // Address, function code and LRC at the least.
  if (!bytes || bytes->size() < 3 || Lrc(bytes->data(), bytes->size() - 1) != bytes->back()) {
    ++m_nDropped;
    return;
  }
  bytes->pop_back();
  frames.push_back(std::move(*bytes));
}

std::string AsciiFramer::Encode(const std::vector<uint8_t>& frame) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string text = ":";
  auto put = [&text](uint8_t b) {
    text.push_back(kHex[b >> 4]);
    text.push_back(kHex[b & 0x0F]);
  };
  for (uint8_t b : frame) put(b);
  put(Lrc(frame.data(), frame.size()));
  text += "\r\n";
  return text;
}
