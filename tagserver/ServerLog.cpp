#include "tagserver/ServerLog.h"

namespace tagserver {

void ServerLog::setCallback(OPCLogCallback callback) {
  std::lock_guard lock(mutex_);
  callback_ = callback;
}

void ServerLog::write(int level, const std::string& text) {
  std::lock_guard lock(mutex_);
  if (callback_ != nullptr) callback_(level, text.c_str());
}

}  // namespace tagserver

extern "C" void EnableOPCLogCallback(OPCLogCallback callback) {
  tagserver::ServerLog::setCallback(callback);
}
