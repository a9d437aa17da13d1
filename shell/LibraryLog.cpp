#include "shell/LibraryLog.h"

#include <utility>

#include "platform/Log.h"
#include "shell/MainThread.h"

namespace {
constexpr int kError = static_cast<int>(platform::LogLevel::Error);
constexpr int kWarning = static_cast<int>(platform::LogLevel::Warning);

// The logger's id of the sink while one is installed, else 0.
int& SinkId() {
  static int id = 0;
  return id;
}
}  // namespace

LibraryLog::Sink& LibraryLog::sink() {
  static Sink current;
  return current;
}

void LibraryLog::install(Sink sink) {
  if (SinkId() != 0) platform::removeLogSink(SinkId());
  SinkId() = 0;
  const bool on = static_cast<bool>(sink);
  LibraryLog::sink() = std::move(sink);
  if (on) {
    SinkId() = platform::addLogSink([](const platform::LogRecord& record) {
      post(static_cast<int>(record.level), lineOf(record));
    });
  }
}

std::string LibraryLog::levelPrefix(int level) {
  if (level <= kError) return "error: ";
  if (level == kWarning) return "warning: ";
  return {};
}

std::string LibraryLog::lineOf(const platform::LogRecord& record) {
  if (record.category == platform::LogCategory::Mqtt) return "MQTT: " + std::string(record.text);
  return platform::formatLine(record);
}

void LibraryLog::post(int level, std::string line) {
  // The record lives only as long as the call: the main thread gets a copy.
  PostToMainThread([level, line = std::move(line)] {
    if (const Sink& current = sink()) current(level, line);
  });
}
