#include "pointdb/ClientWrites.h"

#include "pointdb/ModbusMsg.h"
#include "pointdb/TagObserver.h"
#include "pointdb/TagServerBinding.h"

namespace clientwrites {

uint32_t StatusOf(int32_t modbusStatus) {
  if (IsSlaveException(modbusStatus)) return OPC_STATUS_BAD_DEVICE_FAILURE;
  switch (static_cast<ScanStatus>(modbusStatus)) {
    case ScanStatus::Ok: return OPC_STATUS_GOOD;
    case ScanStatus::PollTimeout: return OPC_STATUS_BAD_TIMEOUT;
    case ScanStatus::InvalidHandle:
    case ScanStatus::ChannelNotConnected:
    case ScanStatus::SvrNotConnected: return OPC_STATUS_BAD_NOT_CONNECTED;
    case ScanStatus::InvalidAddress:
    case ScanStatus::InvalidLength: return OPC_STATUS_BAD_OUT_OF_RANGE;
    case ScanStatus::DeviceDemoted: return OPC_STATUS_BAD_OUT_OF_SERVICE;
    default: return OPC_STATUS_BAD_COMMUNICATION_ERROR;
  }
}

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
