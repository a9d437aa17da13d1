// The program's end of the one logger: a line of any library or layer,
// written on whatever thread, is posted to the main thread, where the
// program shows it: in the headless log, in the window, in the journal.
#pragma once

#include <functional>
#include <string>

#include "platform/Log.h"

class LibraryLog {
 public:
  using Sink = std::function<void(int level, const std::string& line)>;

  // Main thread. Takes every line of the logger from now on; a null sink
  // stops that, and a line still queued then is dropped.
  static void install(Sink sink);
  // "error: " or "warning: " for the levels that need saying, else nothing.
  static std::string levelPrefix(int level);

  // The line as the program shows it: the MQTT publisher's after "MQTT: "
  // (its broker is in the settings, so the text alone says enough), every
  // other line after the context it is about.
  static std::string lineOf(const platform::LogRecord& record);

 private:
  static void post(int level, std::string line);
  static Sink& sink();
};
