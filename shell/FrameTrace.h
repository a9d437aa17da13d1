// The -Trace switch and the window's Frame Trace command: every Modbus frame
// sent and every read received, in hex with the time and the endpoint's
// name, one line each on standard error or to another writer.
// The library hands the bytes over on its own thread; the line is written on
// the main thread, where the endpoints can be named.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>

class EndpointRegistry;

class FrameTrace {
 public:
  using LineWriter = std::function<void(const std::string& line)>;

  // Main thread. Until Stop, frames are written to out, or handed to write
  // (which replaces any writer before it).
  static void Start(EndpointRegistry& endpoints, std::FILE* out = stderr);
  static void Start(EndpointRegistry& endpoints, LineWriter write);
  static void Stop();
  static bool IsRunning();

  // "<time> pelmoran: trace <endpoint> sent|received 01 03 00 00 00 01 84 0A"
  static std::string FormatLine(const std::string& time, const std::string& endpoint, int direction,
                                const uint8_t* bytes, int length);
  // The endpoint that holds the library handle, or "handle <n>" when none does.
  static std::string EndpointName(const EndpointRegistry& endpoints, int handle);

 private:
  static void OnTrace(int handle, int direction, const uint8_t* bytes, int length);
};
