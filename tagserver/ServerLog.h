// Where the server tells why a client's connection ended against its will:
// the program's log hook, if it installed one.
#pragma once

#include <mutex>
#include <string>

#include "tagserver/tagserver.h"

namespace tagserver {

class ServerLog {
 public:
  static void setCallback(OPCLogCallback callback);
  static void write(int level, const std::string& text);

 private:
  // Held while the hook runs, so that none runs once it is taken away.
  static inline std::mutex mutex_;
  static inline OPCLogCallback callback_ = nullptr;
};

}  // namespace tagserver
