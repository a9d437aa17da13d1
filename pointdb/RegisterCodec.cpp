#include "pointdb/RegisterCodec.h"

#include <algorithm>
#include <bit>
#include <charconv>
#include <cmath>
#include <limits>

#include "tagserver/tagserver.h"

namespace {

constexpr int kBitsPerRegister = 16;

bool SwapsBytes(ByteOrder order) { return order == ByteOrder::BADC || order == ByteOrder::DCBA; }

bool LowRegisterFirst(ByteOrder order) {
  return order == ByteOrder::CDAB || order == ByteOrder::DCBA;
}

uint16_t SwapBytes(uint16_t word) { return static_cast<uint16_t>((word << 8) | (word >> 8)); }

uint32_t StatusOfConversion(HRESULT result) {
  return result == DISP_E_OVERFLOW ? OPC_STATUS_BAD_OUT_OF_RANGE : OPC_STATUS_BAD_TYPE_MISMATCH;
}

// "%3.2f" without the process locale's decimal separator.
std::string Fixed2(double value) {
  char buffer[400];
  auto r = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, 2);
  return std::string(buffer, r.ptr);
}

uint64_t Mask(int bits) { return bits >= 64 ? ~uint64_t{0} : (uint64_t{1} << bits) - 1; }

int64_t SignExtend(uint64_t bits, int width) {
  if (width >= 64) return static_cast<int64_t>(bits);
  const uint64_t sign = uint64_t{1} << (width - 1);
  return static_cast<int64_t>((bits ^ sign) - sign);
}

// The decimal digits of BCD nibbles; false for a nibble above 9.
bool FromBcd(uint64_t bits, int digits, uint64_t& value) {
  value = 0;
  for (int d = digits - 1; d >= 0; --d) {
    const uint64_t nibble = (bits >> (4 * d)) & 0xF;
    if (nibble > 9) return false;
    value = value * 10 + nibble;
  }
  return true;
}

uint64_t ToBcd(uint64_t value) {
  uint64_t bits = 0;
  for (int shift = 0; value != 0; shift += 4, value /= 10) bits |= (value % 10) << shift;
  return bits;
}

uint64_t BcdMax(int digits) {
  uint64_t max = 0;
  for (int d = 0; d < digits; ++d) max = max * 10 + 9;
  return max;
}

VARTYPE ConversionType(ValueKind kind, int registers) {
  switch (kind) {
    case ValueKind::Signed: return registers == 1 ? VT_I2 : registers == 2 ? VT_I4 : VT_I8;
    case ValueKind::Float: return registers == 2 ? VT_R4 : VT_R8;
    default: return registers == 1 ? VT_UI2 : registers == 2 ? VT_UI4 : VT_UI8;
  }
}

}  // namespace

RegisterCodec::RegisterCodec(const DataTypeInfo& info, const TagFormat& format)
    : m_info(info), m_format(format) {}

bool RegisterCodec::Handles(int32_t dataType, const TagFormat& format) {
  if (!IsKnownDataType(dataType)) return false;
  if (format.scaled && IsScalableDataType(dataType)) return true;
  return dataType >= static_cast<int32_t>(DataType::LongLowWordFirst);
}

int RegisterCodec::Registers() const {
  return m_info.registers != 0 ? m_info.registers : m_format.stringRegisters;
}

uint64_t RegisterCodec::Assemble(std::span<const uint16_t> words) const {
  uint64_t bits = 0;
  const int n = std::min<int>(Registers(), static_cast<int>(words.size()));
  for (int k = 0; k < n; ++k) {
    const uint64_t word = SwapsBytes(m_info.order) ? SwapBytes(words[k]) : words[k];
    if (LowRegisterFirst(m_info.order)) {
      bits |= word << (kBitsPerRegister * k);
    } else {
      bits = (bits << kBitsPerRegister) | word;
    }
  }
  return bits;
}

std::vector<uint16_t> RegisterCodec::Split(uint64_t bits) const {
  const int n = Registers();
  std::vector<uint16_t> words(static_cast<size_t>(n));
  for (int k = 0; k < n; ++k) {
    const int shift =
        LowRegisterFirst(m_info.order) ? kBitsPerRegister * k : kBitsPerRegister * (n - 1 - k);
    const auto word = static_cast<uint16_t>(bits >> shift);
    words[k] = SwapsBytes(m_info.order) ? SwapBytes(word) : word;
  }
  return words;
}

std::string RegisterCodec::AsciiText(std::span<const uint16_t> words) const {
  std::string text;
  for (uint16_t word : words.first(std::min<size_t>(words.size(), Registers()))) {
    const uint16_t ordered = SwapsBytes(m_info.order) ? SwapBytes(word) : word;
    for (const auto byte : {static_cast<uint8_t>(ordered >> 8), static_cast<uint8_t>(ordered)}) {
      if (byte == 0) return text;
      // Clients are promised UTF-8; a byte of no ASCII character is not one.
      text.push_back(byte < 0x80 ? static_cast<char>(byte) : '?');
    }
  }
  return text;
}

bool RegisterCodec::Decode(std::span<const uint16_t> words, VARIANT& value) const {
  VariantInit(&value);
  const int width = kBitsPerRegister * Registers();
  const uint64_t bits = Assemble(words);
  switch (m_info.kind) {
    case ValueKind::Bit:
      value.vt = VT_BOOL;
      value.boolVal = ((bits >> (m_format.bit & 15)) & 1) != 0 ? VARIANT_TRUE : VARIANT_FALSE;
      return true;
    case ValueKind::String:
      value.bstrVal = SysAllocString(AsciiText(words).c_str());
      value.vt = value.bstrVal != nullptr ? VT_BSTR : VT_EMPTY;
      return value.vt == VT_BSTR;
    case ValueKind::Float:
      if (width == 32) {
        value.vt = VT_R4;
        value.fltVal = std::bit_cast<float>(static_cast<uint32_t>(bits));
      } else {
        value.vt = VT_R8;
        value.dblVal = std::bit_cast<double>(bits);
      }
      break;
    case ValueKind::Signed:
      value.vt = VT_I8;
      value.llVal = SignExtend(bits & Mask(width), width);
      break;
    case ValueKind::Bcd:
      value.vt = VT_UI8;
      if (!FromBcd(bits, width / 4, value.ullVal)) {
        VariantInit(&value);
        return false;
      }
      break;
    case ValueKind::Unsigned:
      value.vt = VT_UI8;
      value.ullVal = bits & Mask(width);
      break;
    case ValueKind::ClassicScaled: return false;
  }
  if (!m_format.scaled) {
    // Every value of the type fits its published type, so this never fails;
    // a float is kept as it is, infinities and all.
    if (value.vt == m_info.published) return true;
    return VariantChangeType(&value, &value, 0, m_info.published) == S_OK;
  }
  if (VariantChangeType(&value, &value, 0, VT_R8) != S_OK) return false;
  const long double rawSpan = static_cast<long double>(m_format.rawHigh) - m_format.rawLow;
  const long double engSpan = static_cast<long double>(m_format.engHigh) - m_format.engLow;
  value.dblVal = rawSpan == 0
                     ? m_format.engLow
                     : static_cast<double>(m_format.engLow +
                                           (value.dblVal - m_format.rawLow) * engSpan / rawSpan);
  return true;
}

std::string RegisterCodec::Text(std::span<const uint16_t> words) const {
  VARIANT value;
  if (!Decode(words, value)) return "Invalid BCD";
  std::string text = TextOf(value);
  VariantClear(&value);
  return text;
}

std::string RegisterCodec::TextOf(const VARIANT& value) {
  switch (value.vt) {
    case VT_EMPTY: return "";
    case VT_BOOL: return value.boolVal != VARIANT_FALSE ? "1" : "0";
    case VT_BSTR: return value.bstrVal ? value.bstrVal : "";
    case VT_R4: return Fixed2(value.fltVal);
    case VT_R8: return Fixed2(value.dblVal);
    case VT_I4: return std::to_string(value.lVal);
    case VT_UI4: return std::to_string(value.ulVal);
    case VT_I8: return std::to_string(value.llVal);
    default: return std::to_string(value.ullVal);
  }
}

uint32_t RegisterCodec::Encode(const VARIANT& value, uint16_t current,
                               std::vector<uint16_t>& words) const {
  if (m_info.kind == ValueKind::String) return EncodeString(value, words);
  if (m_info.kind == ValueKind::ClassicScaled) return OPC_STATUS_BAD_TYPE_MISMATCH;
  if (m_info.kind == ValueKind::Bit) {
    VARIANT flag;
    VariantInit(&flag);
    const HRESULT converted = VariantChangeType(&flag, &value, 0, VT_BOOL);
    if (converted != S_OK) return StatusOfConversion(converted);
    const auto mask = static_cast<uint16_t>(1u << (m_format.bit & 15));
    words = {
        static_cast<uint16_t>(flag.boolVal != VARIANT_FALSE ? current | mask : current & ~mask)};
    return OPC_STATUS_GOOD;
  }
  return m_format.scaled ? EncodeScaled(value, words) : EncodeNumber(value, words);
}

uint32_t RegisterCodec::EncodeString(const VARIANT& value, std::vector<uint16_t>& words) const {
  VARIANT text;
  VariantInit(&text);
  const HRESULT converted = VariantChangeType(&text, &value, 0, VT_BSTR);
  if (converted != S_OK) return StatusOfConversion(converted);
  const std::string bytes = text.bstrVal != nullptr ? text.bstrVal : "";
  VariantClear(&text);
  const size_t capacity = 2 * static_cast<size_t>(Registers());
  const bool ascii = std::all_of(bytes.begin(), bytes.end(),
                                 [](char c) { return static_cast<unsigned char>(c) < 0x80; });
  if (bytes.size() > capacity || !ascii) return OPC_STATUS_BAD_OUT_OF_RANGE;
  words.assign(static_cast<size_t>(Registers()), 0);
  for (size_t k = 0; k < bytes.size(); ++k) {
    const auto byte = static_cast<uint16_t>(static_cast<unsigned char>(bytes[k]));
    words[k / 2] |= static_cast<uint16_t>(k % 2 == 0 ? byte << 8 : byte);
  }
  if (SwapsBytes(m_info.order))
    std::transform(words.begin(), words.end(), words.begin(), SwapBytes);
  return OPC_STATUS_GOOD;
}

uint32_t RegisterCodec::EncodeNumber(const VARIANT& value, std::vector<uint16_t>& words) const {
  const int n = Registers();
  VARIANT number;
  VariantInit(&number);
  const HRESULT converted = VariantChangeType(&number, &value, 0, ConversionType(m_info.kind, n));
  if (converted != S_OK) return StatusOfConversion(converted);
  uint64_t bits = 0;
  switch (number.vt) {
    case VT_R4: bits = std::bit_cast<uint32_t>(number.fltVal); break;
    case VT_R8: bits = std::bit_cast<uint64_t>(number.dblVal); break;
    case VT_I2: bits = static_cast<uint16_t>(number.iVal); break;
    case VT_I4: bits = static_cast<uint32_t>(number.lVal); break;
    case VT_I8: bits = static_cast<uint64_t>(number.llVal); break;
    case VT_UI2: bits = number.uiVal; break;
    case VT_UI4: bits = number.ulVal; break;
    default: bits = number.ullVal; break;
  }
  if (m_info.kind == ValueKind::Bcd) {
    if (bits > BcdMax(4 * n)) return OPC_STATUS_BAD_OUT_OF_RANGE;
    bits = ToBcd(bits);
  }
  words = Split(bits);
  return OPC_STATUS_GOOD;
}

uint32_t RegisterCodec::EncodeScaled(const VARIANT& value, std::vector<uint16_t>& words) const {
  VARIANT number;
  VariantInit(&number);
  const HRESULT converted = VariantChangeType(&number, &value, 0, VT_R8);
  if (converted != S_OK) return StatusOfConversion(converted);
  const double x = number.dblVal;
  if (std::isnan(x)) return OPC_STATUS_BAD_OUT_OF_RANGE;
  const TagFormat& f = m_format;
  const double clamped =
      std::clamp(x, std::min(f.engLow, f.engHigh), std::max(f.engLow, f.engHigh));
  const long double engSpan = static_cast<long double>(f.engHigh) - f.engLow;
  const long double raw =
      engSpan == 0 ? f.rawLow
                   : f.rawLow + (clamped - f.engLow) *
                                    (static_cast<long double>(f.rawHigh) - f.rawLow) / engSpan;
  if (std::isnan(raw)) return OPC_STATUS_BAD_OUT_OF_RANGE;
  words = Split(BitsOfNumber(raw));
  return OPC_STATUS_GOOD;
}

// The raw value in the type's own bits: integers rounded to nearest and held
// to the type's range, floats rounded to their precision.
uint64_t RegisterCodec::BitsOfNumber(long double raw) const {
  const int width = kBitsPerRegister * Registers();
  switch (m_info.kind) {
    case ValueKind::Float:
      return width == 32 ? std::bit_cast<uint32_t>(static_cast<float>(raw))
                         : std::bit_cast<uint64_t>(static_cast<double>(raw));
    case ValueKind::Signed: {
      const long double top = std::ldexp(1.0L, width - 1);
      const long double held = std::clamp(std::roundl(raw), -top, top - 1);
      return static_cast<uint64_t>(static_cast<int64_t>(held)) & Mask(width);
    }
    case ValueKind::Bcd: {
      const long double held =
          std::clamp(std::roundl(raw), 0.0L, static_cast<long double>(BcdMax(width / 4)));
      return ToBcd(static_cast<uint64_t>(held));
    }
    default: {
      const long double held =
          std::clamp(std::roundl(raw), 0.0L, static_cast<long double>(Mask(width)));
      return static_cast<uint64_t>(held);
    }
  }
}
