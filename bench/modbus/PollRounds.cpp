#include "PollRounds.h"

#include <condition_variable>
#include <mutex>

namespace bench {
namespace {

using Clock = std::chrono::steady_clock;

std::mutex mutex;
std::condition_variable changed;
bool roundOver = false;
long polls = 0;
Clock::time_point deadline;

}  // namespace

void onPollAnswer(int handle, int, int) {
  uint16_t words[10];
  RequestHeader header{};
  const int status = MODBUSResponse(handle, &header, words, 10);
  if (status == MBS_OK && words[9] == 9) ++polls;
  if (status != MBS_OK || Clock::now() >= deadline ||
      PollMODBUS(handle, &kTenRegisters) != MBS_OK) {
    std::lock_guard lock(mutex);
    roundOver = true;
    changed.notify_all();
  }
}

double pollRound(int handle, std::chrono::milliseconds length, long& count) {
  const long before = polls;
  const auto start = Clock::now();
  deadline = start + length;
  roundOver = false;
  if (PollMODBUS(handle, &kTenRegisters) != MBS_OK) return 0;
  std::unique_lock lock(mutex);
  changed.wait(lock, [] { return roundOver; });
  count += polls - before;
  return std::chrono::duration<double>(Clock::now() - start).count();
}

}  // namespace bench
