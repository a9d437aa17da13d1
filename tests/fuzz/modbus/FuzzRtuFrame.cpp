// libFuzzer target: the Rtu frame decoder and the PDU check behind it.
#include "FuzzExchange.h"
#include "modbuslib/RtuFramer.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  mbl::RtuFramer framer;
  fuzzFramer(framer, data, size);
  return 0;
}
