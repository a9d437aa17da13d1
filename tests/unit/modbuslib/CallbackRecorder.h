// Records the library's callbacks so that a test can wait for them.
#pragma once

#include <chrono>
#include <cstdint>
#include <vector>

#include "modbuslib/modbuslib.h"

class CallbackRecorder {
 public:
  static void onResponse(int handle, int spare1, int spare2);
  static void onLink(int event, int handle);

  static int responses(int handle);
  static int linkEvents(int handle, int event);
  static bool waitResponses(int handle, int count, std::chrono::milliseconds limit);
  static bool waitLink(int handle, int event, std::chrono::milliseconds limit);
  // Until the event has come count times in all.
  static bool waitLinkCount(int handle, int event, int count, std::chrono::milliseconds limit);

  // Starts a request (a write when its function is above 4), waits for its
  // callback and fetches it. Returns the status; a refusal at once is
  // returned as it stands. words receives the response's data words.
  static int exchange(int handle, RequestHeader header, std::vector<uint16_t>& words,
                      std::chrono::milliseconds limit = std::chrono::seconds(10));
};
