#include "shell/LibraryLog.h"

#include <utility>

#include "link/ModbusBinding.h"
#include "pointdb/TagServerBinding.h"
#include "shell/MainThread.h"

namespace {
// As syslog numbers them, which both libraries do.
constexpr int kError = 3;
constexpr int kWarning = 4;
}  // namespace

LibraryLog::Sink& LibraryLog::sink() {
  static Sink current;
  return current;
}

void LibraryLog::install(Sink sink) {
  const bool on = static_cast<bool>(sink);
  LibraryLog::sink() = std::move(sink);
  if (Modbus().EnableLogCallback != nullptr)
    Modbus().EnableLogCallback(on ? &LibraryLog::onModbusLine : nullptr);
  if (TagServer().EnableOPCLogCallback != nullptr)
    TagServer().EnableOPCLogCallback(on ? &LibraryLog::onServerLine : nullptr);
}

std::string LibraryLog::levelPrefix(int level) {
  if (level <= kError) return "error: ";
  if (level == kWarning) return "warning: ";
  return {};
}

void LibraryLog::onModbusLine(int level, const char* text) { post(level, text); }

void LibraryLog::onServerLine(int level, const char* text) { post(level, text); }

void LibraryLog::onMqttLine(int level, const std::string& text) { post(level, text.c_str()); }

void LibraryLog::post(int level, const char* text) {
  // The text lives only as long as the call: the main thread gets a copy.
  PostToMainThread([level, line = std::string(text != nullptr ? text : "")] {
    if (const Sink& current = sink()) current(level, line);
  });
}
