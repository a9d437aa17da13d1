#include "pointdb/ClientWrites.h"

#include "pointdb/ModbusMsg.h"
#include "pointdb/TagObserver.h"
#include "pointdb/TagServerBinding.h"

namespace clientwrites {

uint32_t StatusOf(int32_t modbusStatus) { return UaStatusOf(modbusStatus); }

void Complete(ITagObserver* observer, uint64_t token, uint32_t status) {
  if (token == kNoToken) return;
  // The tag server knows nothing of the observer's writes: each goes back
  // to where it came from.
  if ((token & ITagObserver::kTokenBit) != 0) {
    if (observer != nullptr) observer->OnWriteCompleted(token, status);
    return;
  }
  if (TagServer().CompleteOPCWrite != nullptr) TagServer().CompleteOPCWrite(token, status);
}

void CompleteAll(ITagObserver* observer, CModbusMsg& request) {
  uint32_t status = StatusOf(request.m_nStatus);
  for (uint64_t token : request.m_clientWrites) Complete(observer, token, status);
  request.m_clientWrites.clear();
}

}  // namespace clientwrites
