#include "platform/Log.h"

#include <map>
#include <mutex>

namespace platform {
namespace {

struct Sinks {
  // Held while sinks run: that is what lets removeLogSink promise that none
  // runs after it returns, and what keeps lines of two threads apart.
  std::mutex mutex;
  std::map<int, LogSink> byId;
  int nextId = 1;
};

// Never destroyed: a library's hook may be taken away while statics go.
Sinks& sinks() {
  static Sinks* instance = new Sinks;
  return *instance;
}

}  // namespace

int addLogSink(LogSink sink) {
  Sinks& s = sinks();
  std::lock_guard lock(s.mutex);
  const int id = s.nextId++;
  s.byId.emplace(id, std::move(sink));
  return id;
}

void removeLogSink(int id) {
  Sinks& s = sinks();
  std::lock_guard lock(s.mutex);
  s.byId.erase(id);
}

void log(LogLevel level, LogCategory category, std::string_view context, std::string_view text) {
  Sinks& s = sinks();
  std::lock_guard lock(s.mutex);
  const LogRecord record{level, category, context, text};
  for (const auto& [id, sink] : s.byId) sink(record);
}

std::string_view levelName(LogLevel level) {
  switch (level) {
    case LogLevel::Error: return "error";
    case LogLevel::Warning: return "warning";
    case LogLevel::Info: return "info";
    case LogLevel::Debug: return "debug";
  }
  return "unknown";
}

std::string_view categoryName(LogCategory category) {
  switch (category) {
    case LogCategory::Modbus: return "modbus";
    case LogCategory::OpcUa: return "opcua";
    case LogCategory::Mqtt: return "mqtt";
    case LogCategory::Link: return "link";
    case LogCategory::Config: return "config";
    case LogCategory::Program: return "program";
  }
  return "unknown";
}

std::string formatLine(const LogRecord& record) {
  std::string line;
  if (!record.context.empty()) {
    line.append(record.context);
    line.append(": ");
  }
  line.append(record.text);
  return line;
}

void CategoryHook::set(Callback callback) {
  std::lock_guard lock(m_mutex);
  if (m_sinkId != 0) removeLogSink(m_sinkId);
  m_sinkId = 0;
  if (callback == nullptr) return;
  m_sinkId = addLogSink([category = m_category, callback](const LogRecord& record) {
    if (record.category != category) return;
    const std::string line = formatLine(record);
    callback(static_cast<int>(record.level), line.c_str());
  });
}

}  // namespace platform
