// An NCMD or DCMD payload as a broker would deliver it, decoded and each
// write's value converted to every type a tag can have, as the publisher does
// before handing a write to the program.
#include <cstddef>
#include <cstdint>

#include "mqtt/SparkplugCodec.h"
#include "mqtt/ValueConversion.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static constexpr VARTYPE kTypes[] = {VT_R4,  VT_R8,  VT_I2,  VT_I4,   VT_I8,
                                       VT_UI2, VT_UI4, VT_UI8, VT_BOOL, VT_BSTR};
  const auto writes = mqtt::SparkplugCodec::DecodeCommand({data, size});
  if (!writes) return 0;
  for (const auto& w : *writes) {
    for (VARTYPE type : kTypes) {
      VARIANT v;
      if (mqtt::ValueConversion::ToVariant(w.value, type, &v) == S_OK) VariantClear(&v);
    }
  }
  return 0;
}
