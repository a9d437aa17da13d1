#include "pointdb/ClientWrites.h"

#include "modbuslib/modbuslib.h"
#include "pointdb/ModbusMsg.h"
#include "pointdb/TagServerBinding.h"

namespace clientwrites {

namespace {

constexpr int32_t kLastException = 255;

}  // namespace

uint32_t StatusOf(int32_t modbusStatus) {
  if (modbusStatus > MBS_OK && modbusStatus <= kLastException) return OPC_STATUS_BAD_DEVICE_FAILURE;
  switch (modbusStatus) {
    case MBS_OK: return OPC_STATUS_GOOD;
    case MBS_POLL_TIMEOUT: return OPC_STATUS_BAD_TIMEOUT;
    case MBS_INVALID_HANDLE:
    case MBS_CHANNEL_NOT_CONNECTED:
    case MBS_SVR_NOT_CONNECTED: return OPC_STATUS_BAD_NOT_CONNECTED;
    case MBS_INVALID_ADDRESS:
    case MBS_INVALID_LENGTH: return OPC_STATUS_BAD_OUT_OF_RANGE;
    case CModbusMsg::kDeviceDemoted: return OPC_STATUS_BAD_OUT_OF_SERVICE;
    default: return OPC_STATUS_BAD_COMMUNICATION_ERROR;
  }
}

void Complete(uint64_t token, uint32_t status) {
  if (token != kNoToken && TagServer().CompleteOPCWrite != nullptr)
    TagServer().CompleteOPCWrite(token, status);
}

void CompleteAll(CModbusMsg& request) {
  uint32_t status = StatusOf(request.m_nStatus);
  for (uint64_t token : request.m_clientWrites) Complete(token, status);
  request.m_clientWrites.clear();
}

}  // namespace clientwrites
