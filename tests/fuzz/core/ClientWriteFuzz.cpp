// A client's value comes from outside: any text, any number. This feeds
// arbitrary bytes through the value conversions, the client-write encoding of
// every data type (with any limits, including damaged ones) and the decoding
// and display of any register words.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "pointdb/DataType.h"
#include "support/CoreWorld.h"

namespace {

constexpr VARTYPE kTypes[] = {VT_EMPTY, VT_NULL, VT_BOOL, VT_I1,  VT_I2,   VT_I4, VT_I8, VT_UI1,
                              VT_UI2,   VT_UI4,  VT_UI8,  VT_INT, VT_UINT, VT_R4, VT_R8, VT_BSTR};

struct World {
  CoreWorld core;
  CModbusConnection* endpoint;
  CPelmoranDoc* doc;
  World() {
    endpoint = core.SerialEndpoint("COM", 1);
    doc = core.Scan("COM", 3, 65530, 8, 0);
  }
};

World& TheWorld() {
  static World* world = new World();
  return *world;
}

template <typename T>
T Take(const uint8_t*& data, size_t& size) {
  T value{};
  size_t n = size < sizeof value ? size : sizeof value;
  std::memcpy(&value, data, n);
  data += n;
  size -= n;
  return value;
}

void ConvertEverywhere(const VARIANT& in) {
  for (VARTYPE vt : kTypes) {
    VARIANT out;
    VariantInit(&out);
    VariantChangeType(&out, &in, 0, vt);
    VariantClear(&out);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  World& world = TheWorld();
  uint8_t dataType = Take<uint8_t>(data, size);
  uint8_t tagIndex = Take<uint8_t>(data, size) % 8;
  float low = Take<float>(data, size);
  float high = Take<float>(data, size);
  uint16_t words[8];
  for (uint16_t& word : words) word = Take<uint16_t>(data, size);
  double number = 0.0;
  std::memcpy(&number, data, size < sizeof number ? size : sizeof number);

  CPelmoranDoc& doc = *world.doc;
  CModbusTag& tag = *doc.GetTag(tagIndex);
  // Every type, and one past them as a damaged file would give.
  tag.m_nDataType = dataType % (kLastDataType + 2);
  tag.m_fLowLimit = low;
  tag.m_fHighLimit = high;
  std::memcpy(doc.m_scan.m_data, words, sizeof words);
  doc.m_scan.m_nStatus = 0;
  doc.DecodeTag(&tag, tagIndex);
  std::string value, type, lowText, highText;
  doc.FormatTag(tagIndex, value, type, lowText, highText);

  VARIANT text;
  VariantInit(&text);
  text.vt = VT_BSTR;
  text.bstrVal = SysAllocString(std::string(reinterpret_cast<const char*>(data), size).c_str());
  ConvertEverywhere(text);
  world.core.app.OfferClientWrite(tag.m_hTag, &text);
  VariantClear(&text);

  VARIANT real;
  VariantInit(&real);
  real.vt = VT_R8;
  real.dblVal = number;
  ConvertEverywhere(real);
  world.core.app.OfferClientWrite(tag.m_hTag, &real);

  // Finish whatever was sent so the next input starts with an idle endpoint.
  while (!world.endpoint->m_queue.empty()) FakeModbus::Respond(world.endpoint->m_hConnection);
  world.core.modbus.Clear();
  world.core.tagServer.Clear();
  return 0;
}
