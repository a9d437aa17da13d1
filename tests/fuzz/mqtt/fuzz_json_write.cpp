// A JSON write request as a broker would deliver it to <tag>/set, decoded and
// its value converted to every type a tag can have; the id it carries is
// echoed into an answer document, which must itself be JSON again. The same
// bytes as a primary host's STATE.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "mqtt/JsonCodec.h"
#include "mqtt/JsonParser.h"
#include "mqtt/ValueConversion.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static constexpr VARTYPE kTypes[] = {VT_R4,  VT_R8,  VT_I2,  VT_I4,   VT_I8,
                                       VT_UI2, VT_UI4, VT_UI8, VT_BOOL, VT_BSTR};
  const std::string_view payload(reinterpret_cast<const char*>(data), size);
  // A primary host's STATE arrives as JSON on its own topic.
  (void)mqtt::JsonCodec::DecodeHostState(payload);
  const auto write = mqtt::JsonCodec::DecodeWrite(payload);
  if (!write) return 0;
  for (VARTYPE type : kTypes) {
    VARIANT v;
    if (mqtt::ValueConversion::ToVariant(write->value, type, &v) == S_OK) VariantClear(&v);
  }
  mqtt::JsonValue answer;
  if (!mqtt::JsonParser::Parse(mqtt::JsonCodec::WriteResult(0, write->idJson), &answer)) {
    std::abort();
  }
  return 0;
}
