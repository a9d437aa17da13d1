// Where the server tells why a client's connection ended against its will,
// and why it could not start as asked: the program's logger (category
// OpcUa), and through it the log hook, if the program installed one.
#pragma once

#include <chrono>
#include <map>
#include <mutex>
#include <string>

#include "platform/Log.h"
#include "tagserver/tagserver.h"

namespace tagserver {

class ServerLog {
 public:
  // A line of one kind goes out at most this often; the next one that goes
  // out tells how many were held back.
  static constexpr std::chrono::seconds kLimitedInterval{10};

  static void setCallback(OPCLogCallback callback);
  // context names the client (or whatever else) the line is about; empty
  // when the text names it itself.
  static void write(int level, const std::string& context, const std::string& text);
  // For lines anyone who reaches the port can cause at will: key names the
  // kind of line, so a flood of one kind does not hide the others.
  static void writeLimited(int level, const std::string& key, const std::string& context,
                           const std::string& text);

 private:
  struct Limit {
    std::chrono::steady_clock::time_point last;
    unsigned suppressed = 0;
  };
  // Kinds are the server's own reasons; more than this means keys carry
  // outside text, and forgetting them all costs at most one line each.
  static constexpr size_t kMaxKinds = 256;

  static inline std::mutex mutex_;  // guards limits_
  static inline std::map<std::string, Limit> limits_;
  static inline platform::CategoryHook hook_{platform::LogCategory::OpcUa};
};

}  // namespace tagserver
