#include "platform/Bell.h"

#include <chrono>
#include <cstdio>
#include <mutex>
#include <thread>
#include <utility>

namespace {

std::mutex g_handlerMutex;
std::function<void(unsigned, unsigned)> g_handler;

// A terminal bell is all a desktop or a headless box reliably offers; the
// duration is honoured by not ringing again before it has passed.
void Ring(unsigned, unsigned durationMs) {
  static std::mutex ringing;
  std::thread([durationMs] {
    std::unique_lock<std::mutex> lock(ringing, std::try_to_lock);
    if (!lock.owns_lock()) return;
    std::fputc('\a', stderr);
    std::fflush(stderr);
    std::this_thread::sleep_for(std::chrono::milliseconds(durationMs));
  }).detach();
}

}  // namespace

void Beep(unsigned frequencyHz, unsigned durationMs) {
  std::function<void(unsigned, unsigned)> handler;
  {
    std::lock_guard<std::mutex> lock(g_handlerMutex);
    handler = g_handler;
  }
  if (handler)
    handler(frequencyHz, durationMs);
  else
    Ring(frequencyHz, durationMs);
}

void SetBeepHandler(std::function<void(unsigned, unsigned)> handler) {
  std::lock_guard<std::mutex> lock(g_handlerMutex);
  g_handler = std::move(handler);
}
