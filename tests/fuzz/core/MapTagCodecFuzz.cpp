// A map's tag decodes device registers by any data type in any table, with
// any bit, string length and scale a map file gives: never past the words it
// has, and what it decodes a client may write back to as many registers as
// the tag takes.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <string>
#include <vector>

#include "pointdb/MapTagCodec.h"
#include "tagserver/tagserver.h"

namespace {

constexpr int kWords = 16;
constexpr int kTables = 4;

template <typename T>
T Take(const uint8_t*& data, size_t& size) {
  T value{};
  const size_t n = std::min(size, sizeof value);
  std::memcpy(&value, data, n);
  data += n;
  size -= n;
  return value;
}

void WriteBack(const MapTagCodec& codec, const VARIANT& value, uint16_t current) {
  std::vector<uint16_t> written;
  if (codec.Encode(value, current, written) == OPC_STATUS_GOOD &&
      static_cast<int>(written.size()) != codec.Registers())
    __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  MapTag tag;
  tag.type = static_cast<DataType>(Take<uint8_t>(data, size) % (kLastDataType + 1));
  tag.table = static_cast<PointType>(1 + Take<uint8_t>(data, size) % kTables);
  tag.access = MapAccess::ReadWrite;
  tag.format.bit = Take<uint8_t>(data, size) % 16;
  tag.format.stringRegisters = 1 + Take<uint8_t>(data, size) % kWords;
  tag.format.scaled = (Take<uint8_t>(data, size) & 1) != 0;
  tag.format.rawLow = Take<double>(data, size);
  tag.format.rawHigh = Take<double>(data, size);
  tag.format.engLow = Take<double>(data, size);
  tag.format.engHigh = Take<double>(data, size);
  // Fewer words than the tag takes come from a read that was cut short.
  const size_t count = Take<uint8_t>(data, size) % (kWords + 1);
  uint16_t words[kWords];
  for (uint16_t& word : words) word = Take<uint16_t>(data, size);
  const MapTagCodec codec(tag);
  if (codec.Registers() < 1 || codec.Registers() > kWords) __builtin_trap();
  VARIANT value;
  const bool decoded = codec.Decode(std::span<const uint16_t>(words, count), value);
  if (decoded && static_cast<int>(count) < codec.Registers()) __builtin_trap();
  if (decoded && value.vt != codec.PublishedType()) __builtin_trap();
  if (decoded) WriteBack(codec, value, words[0]);
  VariantClear(&value);

  // The rest is a client's text, written to the tag.
  VARIANT text;
  VariantInit(&text);
  text.vt = VT_BSTR;
  text.bstrVal = SysAllocString(std::string(reinterpret_cast<const char*>(data), size).c_str());
  WriteBack(codec, text, words[0]);
  VariantClear(&text);
  return 0;
}
