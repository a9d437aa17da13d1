// The library's entry points, as the program calls them.
#include "tagserver/TagServerHost.h"
#include "tagserver/tagserver.h"

using tagserver::CTagServerHost;

extern "C" {

int InitOPCServer(const GUID* clsid, int rateMs) {
  (void)clsid;  // one server per process: the class id chooses nothing here
  return CTagServerHost::Instance().Start(rateMs);
}

int EnableWriteCallback(OPCWriteCallback callback, int enable) {
  CTagServerHost::Instance().SetWriteCallback(callback, enable != 0);
  return 0;
}

int32_t CreateOPCTag(const char* name, VARIANT value, uint16_t quality, int writable) {
  if (name == nullptr) return -1;
  return CTagServerHost::Instance().Tags().Create(name, value, quality, writable != 0);
}

int UpdateOPCTag(int32_t hTag, VARIANT value, uint16_t quality) {
  return CTagServerHost::Instance().Tags().Update(hTag, value, quality) ? 0 : -1;
}

int RemoveOPCTag(int32_t hTag) { return CTagServerHost::Instance().Tags().Remove(hTag) ? 0 : -1; }

const char* GetOPCServerURL() { return CTagServerHost::Instance().Url(); }

void ShutdownOPCServer() { CTagServerHost::Instance().Stop(); }

}  // extern "C"
