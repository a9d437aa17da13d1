// libFuzzer target: the Ascii frame decoder and the PDU check behind it.
#include "FuzzExchange.h"
#include "modbuslib/AsciiFramer.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  mbl::AsciiFramer framer;
  fuzzFramer(framer, data, size);
  return 0;
}
