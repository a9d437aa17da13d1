// libFuzzer target: the Mbap frame decoder and the PDU check behind it.
#include "FuzzExchange.h"
#include "modbuslib/MbapFramer.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  mbl::MbapFramer framer;
  // Answers are only accepted for the current transaction: number 1.
  static const uint8_t pdu[] = {3, 0, 0, 0, 1};
  framer.encode(1, pdu);
  fuzzFramer(framer, data, size);
  return 0;
}
