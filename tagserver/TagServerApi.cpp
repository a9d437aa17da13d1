// The library's entry points, as the program calls them.
#include <cmath>

#include "tagserver/QualityMap.h"
#include "tagserver/TagServerHost.h"
#include "tagserver/tagserver.h"

using tagserver::TagServerHost;

static_assert(OPC_TAG_FOLDER == tagserver::FolderTree::kTagFolder);

extern "C" {

int SetOPCSecurity(const OPCSecuritySettings* settings) {
  if (settings == nullptr) return -1;
  TagServerHost::Instance().SetSecurity(*settings);
  return 0;
}

int InitOPCServer(const GUID* clsid, int rateMs) {
  (void)clsid;  // one server per process: the class id chooses nothing here
  return TagServerHost::Instance().Start(rateMs);
}

int EnableWriteCallback(OPCWriteCallback callback, int enable) {
  TagServerHost::Instance().SetWriteCallback(callback, enable != 0);
  return 0;
}

int EnableAsyncWriteCallback(OPCAsyncWriteCallback callback, int enable) {
  TagServerHost::Instance().SetAsyncWriteCallback(callback, enable != 0);
  return 0;
}

int CompleteOPCWrite(OPCWriteToken token, uint32_t status) {
  return TagServerHost::Instance().CompleteWrite(token, status);
}

int32_t CreateOPCTag(const char* name, VARIANT value, uint16_t quality, int writable) {
  if (name == nullptr) return -1;
  return TagServerHost::Instance().Tags().Create(name, value, quality, writable != 0);
}

int32_t CreateOPCTagOfType(const char* name, VARTYPE vt, VARIANT value, uint16_t quality,
                           int writable) {
  if (name == nullptr) return -1;
  return TagServerHost::Instance().Tags().Create(name, tagserver::TagTypeOfVarType(vt), value,
                                                 quality, writable != 0);
}

int UpdateOPCTag(int32_t hTag, VARIANT value, uint16_t quality) {
  return TagServerHost::Instance().Tags().Update(hTag, value, quality) ? 0 : -1;
}

int UpdateOPCTagStatus(int32_t hTag, VARIANT value, uint32_t status, int64_t sourceTime) {
  return TagServerHost::Instance().Tags().UpdateStatus(hTag, value, status, sourceTime) ? 0 : -1;
}

int RemoveOPCTag(int32_t hTag) { return TagServerHost::Instance().Tags().Remove(hTag) ? 0 : -1; }

int32_t CreateOPCFolder(int32_t hParent, const char* name) {
  if (name == nullptr) return -1;
  return TagServerHost::Instance().Tags().Folders().Create(hParent, name);
}

int32_t CreateOPCFolderTag(int32_t hFolder, const char* name, VARIANT value, uint16_t quality,
                           int writable) {
  if (name == nullptr) return -1;
  return TagServerHost::Instance().Tags().CreateInFolder(hFolder, name, value, quality,
                                                         writable != 0);
}

int RemoveOPCFolder(int32_t hFolder) {
  return TagServerHost::Instance().Tags().RemoveFolder(hFolder) ? 0 : -1;
}

int SetOPCTagProperties(int32_t hTag, const OPCTagProperties* properties) {
  if (properties == nullptr) return -1;
  const bool hasRange = properties->hasRange != 0;
  if (hasRange && !(std::isfinite(properties->rangeLow) && std::isfinite(properties->rangeHigh)))
    return -1;
  tagserver::TagProperties set;
  set.description = properties->description != nullptr ? properties->description : "";
  set.units = properties->units != nullptr ? properties->units : "";
  set.hasRange = hasRange;
  set.rangeLow = hasRange ? properties->rangeLow : 0;
  set.rangeHigh = hasRange ? properties->rangeHigh : 0;
  return TagServerHost::Instance().Tags().SetProperties(hTag, std::move(set)) ? 0 : -1;
}

const char* GetOPCServerURL() { return TagServerHost::Instance().Url(); }

void ShutdownOPCServer() { TagServerHost::Instance().Stop(); }

int GetOPCClientCount() { return TagServerHost::Instance().ClientCount(); }

}  // extern "C"
