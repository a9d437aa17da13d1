// The library's entry points, as the program calls them.
#include "tagserver/TagServerHost.h"
#include "tagserver/UaStatusCodes.h"
#include "tagserver/tagserver.h"

using tagserver::CTagServerHost;
namespace UaStatus = tagserver::UaStatus;

// The public codes are the published ones.
static_assert(OPC_STATUS_GOOD == UaStatus::Good);
static_assert(OPC_STATUS_BAD_TIMEOUT == UaStatus::BadTimeout);
static_assert(OPC_STATUS_BAD_COMMUNICATION_ERROR == UaStatus::BadCommunicationError);
static_assert(OPC_STATUS_BAD_NODE_ID_UNKNOWN == UaStatus::BadNodeIdUnknown);
static_assert(OPC_STATUS_BAD_NOT_WRITABLE == UaStatus::BadNotWritable);
static_assert(OPC_STATUS_BAD_OUT_OF_RANGE == UaStatus::BadOutOfRange);
static_assert(OPC_STATUS_BAD_TYPE_MISMATCH == UaStatus::BadTypeMismatch);
static_assert(OPC_STATUS_BAD_NOT_CONNECTED == UaStatus::BadNotConnected);
static_assert(OPC_STATUS_BAD_DEVICE_FAILURE == UaStatus::BadDeviceFailure);
static_assert(OPC_STATUS_BAD_OUT_OF_SERVICE == UaStatus::BadOutOfService);
static_assert(OPC_STATUS_BAD_WAITING_FOR_INITIAL_DATA == UaStatus::BadWaitingForInitialData);

extern "C" {

int InitOPCServer(const GUID* clsid, int rateMs) {
  (void)clsid;  // one server per process: the class id chooses nothing here
  return CTagServerHost::Instance().Start(rateMs);
}

int EnableWriteCallback(OPCWriteCallback callback, int enable) {
  CTagServerHost::Instance().SetWriteCallback(callback, enable != 0);
  return 0;
}

int EnableAsyncWriteCallback(OPCAsyncWriteCallback callback, int enable) {
  CTagServerHost::Instance().SetAsyncWriteCallback(callback, enable != 0);
  return 0;
}

int CompleteOPCWrite(OPCWriteToken token, uint32_t status) {
  return CTagServerHost::Instance().CompleteWrite(token, status);
}

int32_t CreateOPCTag(const char* name, VARIANT value, uint16_t quality, int writable) {
  if (name == nullptr) return -1;
  return CTagServerHost::Instance().Tags().Create(name, value, quality, writable != 0);
}

int UpdateOPCTag(int32_t hTag, VARIANT value, uint16_t quality) {
  return CTagServerHost::Instance().Tags().Update(hTag, value, quality) ? 0 : -1;
}

int UpdateOPCTagStatus(int32_t hTag, VARIANT value, uint32_t status, int64_t sourceTime) {
  return CTagServerHost::Instance().Tags().UpdateStatus(hTag, value, status, sourceTime) ? 0 : -1;
}

int RemoveOPCTag(int32_t hTag) { return CTagServerHost::Instance().Tags().Remove(hTag) ? 0 : -1; }

const char* GetOPCServerURL() { return CTagServerHost::Instance().Url(); }

void ShutdownOPCServer() { CTagServerHost::Instance().Stop(); }

}  // extern "C"
