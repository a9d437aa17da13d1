// The program's one logger. Every library and layer writes its lines here,
// with a level, a category and the context the line is about (an endpoint, a
// client address, a broker); the program decides where they go by adding
// sinks: the window's status bar and event log, the headless log, the
// journal. A library never prints on its own; with no sink a line is dropped.
#pragma once

#include <functional>
#include <mutex>
#include <string>
#include <string_view>

namespace platform {

// Numbered as syslog numbers them, so a journal sink passes them through.
enum class LogLevel : int { Error = 3, Warning = 4, Info = 6, Debug = 7 };

enum class LogCategory : int {
  Modbus,   // the Modbus master library: connections, lines, devices
  OpcUa,    // the OPC UA server: channels, sessions, certificates, users
  Mqtt,     // the publisher: brokers, sessions, spool
  Link,     // endpoints and scans as the core runs them
  Config,   // configuration and scan files, start-up and save
  Program,  // the program as a whole
};

struct LogRecord {
  LogLevel level;
  LogCategory category;
  std::string_view context;  // empty when the line is about nothing in particular
  std::string_view text;
};

using LogSink = std::function<void(const LogRecord&)>;

// Sinks run on the thread that wrote the line, one line at a time, so they
// must be quick and must not log themselves. No sink runs once removeLogSink
// has returned.
int addLogSink(LogSink sink);
void removeLogSink(int id);

void log(LogLevel level, LogCategory category, std::string_view context, std::string_view text);

std::string_view levelName(LogLevel level);
std::string_view categoryName(LogCategory category);

// The line as the operator reads it: "context: text", or the text alone.
std::string formatLine(const LogRecord& record);

// A library's classic log hook, callback(level, line), fed with the lines
// of one category. Setting another callback or null takes the last one away:
// once set returns, it is not called again.
class CategoryHook {
 public:
  using Callback = void (*)(int level, const char* line);

  explicit constexpr CategoryHook(LogCategory category) : m_category(category) {}
  CategoryHook(const CategoryHook&) = delete;
  CategoryHook& operator=(const CategoryHook&) = delete;

  void set(Callback callback);

 private:
  const LogCategory m_category;
  std::mutex m_mutex;
  int m_sinkId = 0;  // 0 while no callback is set
};

// A sink for as long as the object lives (a test's capture, a dialog's view).
class ScopedLogSink {
 public:
  explicit ScopedLogSink(LogSink sink) : m_id(addLogSink(std::move(sink))) {}
  ~ScopedLogSink() { removeLogSink(m_id); }
  ScopedLogSink(const ScopedLogSink&) = delete;
  ScopedLogSink& operator=(const ScopedLogSink&) = delete;

 private:
  int m_id;
};

}  // namespace platform
