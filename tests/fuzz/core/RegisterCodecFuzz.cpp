// Register words come from devices and formats from scan files: any of them,
// decoded by any data type with any bit, string length and scale. What a type
// decodes exactly must encode back to the same registers, and a string must
// read the same after it is written back.
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "pointdb/RegisterCodec.h"
#include "tagserver/tagserver.h"

namespace {

constexpr int kWords = 16;

template <typename T>
T Take(const uint8_t*& data, size_t& size) {
  T value{};
  size_t n = std::min(size, sizeof value);
  std::memcpy(&value, data, n);
  data += n;
  size -= n;
  return value;
}

std::string Decoded(const RegisterCodec& codec, std::span<const uint16_t> words) {
  VARIANT value;
  if (!codec.Decode(words, value)) return "none";
  std::string text = value.vt == VT_BSTR ? value.bstrVal : "";
  VariantClear(&value);
  return text;
}

// Whether the value decoded from the registers is one the type writes back
// as they were: every exact value, but not a float that is no number (the
// write refuses it), nor text (NUL ends it, and a byte of no character is
// read as one).
bool RoundTrips(const DataTypeInfo& info, const TagFormat& format, const VARIANT& value) {
  if (format.scaled || info.kind == ValueKind::String) return false;
  if (value.vt == VT_R4) return std::isfinite(value.fltVal);
  if (value.vt == VT_R8) return std::isfinite(value.dblVal);
  return true;
}

void Check(const RegisterCodec& codec, const DataTypeInfo& info, const TagFormat& format,
           std::span<const uint16_t> words) {
  const int registers = codec.Registers();
  (void)codec.Text(words);
  VARIANT value;
  if (!codec.Decode(words, value)) return;
  std::vector<uint16_t> written;
  const uint32_t status = codec.Encode(value, words[0], written);
  if (status == OPC_STATUS_GOOD && static_cast<int>(written.size()) != registers) __builtin_trap();
  if (RoundTrips(info, format, value)) {
    if (status != OPC_STATUS_GOOD) __builtin_trap();
    if (!std::equal(written.begin(), written.end(), words.begin())) __builtin_trap();
  }
  if (info.kind == ValueKind::String && status == OPC_STATUS_GOOD &&
      Decoded(codec, written) != Decoded(codec, words)) {
    __builtin_trap();
  }
  VariantClear(&value);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const DataTypeInfo* info = FindDataTypeInfo(Take<uint8_t>(data, size) % (kLastDataType + 1));
  TagFormat format;
  format.bit = Take<uint8_t>(data, size) % 16;
  format.stringRegisters = 1 + Take<uint8_t>(data, size) % kWords;
  format.scaled = (Take<uint8_t>(data, size) & 1) != 0;
  format.rawLow = Take<double>(data, size);
  format.rawHigh = Take<double>(data, size);
  format.engLow = Take<double>(data, size);
  format.engHigh = Take<double>(data, size);
  uint16_t words[kWords];
  for (uint16_t& word : words) word = Take<uint16_t>(data, size);
  const RegisterCodec codec(*info, format);
  if (!RegisterCodec::Handles(static_cast<int32_t>(info->type), format)) return 0;
  Check(codec, *info, format, std::span<const uint16_t>(words, kWords));

  // The rest is a client's text, written to the type.
  VARIANT text;
  VariantInit(&text);
  text.vt = VT_BSTR;
  text.bstrVal = SysAllocString(std::string(reinterpret_cast<const char*>(data), size).c_str());
  std::vector<uint16_t> written;
  if (codec.Encode(text, words[0], written) == OPC_STATUS_GOOD &&
      static_cast<int>(written.size()) != codec.Registers()) {
    __builtin_trap();
  }
  VariantClear(&text);
  return 0;
}
