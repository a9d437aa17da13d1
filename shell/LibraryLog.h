// The libraries' log hooks (Modbus, OPC UA, MQTT). A line arrives on a library's thread and is
// posted to the main thread, where the program shows it: in the headless log
// or in the window.
#pragma once

#include <functional>
#include <string>

class LibraryLog {
 public:
  using Sink = std::function<void(int level, const std::string& text)>;

  // Main thread. Installs both hooks through the bindings that offer them;
  // a null sink takes them away, and a line still queued then is dropped.
  static void install(Sink sink);
  // "error: " or "warning: " for the levels that need saying, else nothing.
  static std::string levelPrefix(int level);

  // The libraries' threads.
  static void onModbusLine(int level, const char* text);
  static void onServerLine(int level, const char* text);
  // The MQTT publisher's lines, which begin with "MQTT: " already.
  static void onMqttLine(int level, const std::string& text);

 private:
  static void post(int level, const char* text);
  static Sink& sink();
};
