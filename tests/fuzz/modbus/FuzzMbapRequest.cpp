// libFuzzer target: the decoder of other masters' requests on a shared line
// and the check of each request's PDU.
#include <cstdlib>
#include <span>

#include "modbuslib/MbapRequest.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::span<const uint8_t> rest(data, size);
  for (;;) {
    const mbl::MbapRequest request = mbl::MbapRequest::decode(rest);
    if (request.kind != mbl::MbapRequest::Kind::Request) break;
    if (request.consumed == 0 || request.consumed > rest.size()) std::abort();
    const uint8_t code = mbl::MbapRequest::check(request.pdu);
    if (code > 3) std::abort();
    // What is answered is framed like what came.
    const auto again = mbl::MbapRequest::encode(request.transaction, request.unit, request.pdu);
    if (!std::equal(again.begin(), again.end(), rest.begin())) std::abort();
    rest = rest.subspan(request.consumed);
  }
  return 0;
}
