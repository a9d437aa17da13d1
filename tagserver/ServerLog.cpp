#include "tagserver/ServerLog.h"

namespace tagserver {

void ServerLog::setCallback(OPCLogCallback callback) { hook_.set(callback); }

void ServerLog::write(int level, const std::string& context, const std::string& text) {
  platform::log(static_cast<platform::LogLevel>(level), platform::LogCategory::OpcUa, context,
                text);
}

void ServerLog::writeLimited(int level, const std::string& key, const std::string& context,
                             const std::string& text) {
  std::string line = text;
  {
    std::lock_guard lock(mutex_);
    const auto now = std::chrono::steady_clock::now();
    if (limits_.size() >= kMaxKinds && limits_.count(key) == 0) limits_.clear();
    auto [it, first] = limits_.try_emplace(key, Limit{now, 0});
    Limit& limit = it->second;
    if (!first && now - limit.last < kLimitedInterval) {
      ++limit.suppressed;
      return;
    }
    if (limit.suppressed > 0)
      line += " (" + std::to_string(limit.suppressed) + " more like it in the last " +
              std::to_string(
                  std::chrono::duration_cast<std::chrono::seconds>(now - limit.last).count()) +
              " s)";
    limit = {now, 0};
  }
  write(level, context, line);
}

}  // namespace tagserver

extern "C" void EnableOPCLogCallback(OPCLogCallback callback) {
  tagserver::ServerLog::setCallback(callback);
}
