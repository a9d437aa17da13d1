#include "CallbackRecorder.h"

#include <condition_variable>
#include <map>
#include <mutex>
#include <utility>

namespace {
std::mutex mutex;
std::condition_variable changed;
std::map<int, int> responseCounts;
std::map<std::pair<int, int>, int> linkCounts;
}  // namespace

void CallbackRecorder::onResponse(int handle, int, int) {
  std::lock_guard lock(mutex);
  ++responseCounts[handle];
  changed.notify_all();
}

void CallbackRecorder::onLink(int event, int handle) {
  std::lock_guard lock(mutex);
  ++linkCounts[{handle, event}];
  changed.notify_all();
}

int CallbackRecorder::responses(int handle) {
  std::lock_guard lock(mutex);
  return responseCounts[handle];
}

int CallbackRecorder::linkEvents(int handle, int event) {
  std::lock_guard lock(mutex);
  return linkCounts[{handle, event}];
}

bool CallbackRecorder::waitResponses(int handle, int count, std::chrono::milliseconds limit) {
  std::unique_lock lock(mutex);
  return changed.wait_for(lock, limit, [&] { return responseCounts[handle] >= count; });
}

bool CallbackRecorder::waitLink(int handle, int event, std::chrono::milliseconds limit) {
  std::unique_lock lock(mutex);
  return changed.wait_for(lock, limit, [&] { return linkCounts[{handle, event}] > 0; });
}

bool CallbackRecorder::waitLinkCount(int handle, int event, int count,
                                     std::chrono::milliseconds limit) {
  std::unique_lock lock(mutex);
  return changed.wait_for(lock, limit, [&] { return linkCounts[{handle, event}] >= count; });
}

int CallbackRecorder::exchange(int handle, RequestHeader header, std::vector<uint16_t>& words,
                               std::chrono::milliseconds limit) {
  const int before = responses(handle);
  const int started = header.function > 4 ? WriteMODBUS(handle, &header, words.data())
                                          : PollMODBUS(handle, &header);
  if (started != MBS_OK) return started;
  if (!waitResponses(handle, before + 1, limit)) return -1;
  RequestHeader answered{};
  words.assign(MBS_RESPONSE_CAPACITY, 0);
  const int status = MODBUSResponse(handle, &answered, words.data(), MBS_RESPONSE_CAPACITY);
  words.resize(header.length);
  if (answered.slaveNode != header.slaveNode || answered.function != header.function ||
      answered.address != header.address || answered.length != header.length) {
    return -2;
  }
  return status;
}
