#include "link/ModbusBinding.h"

#include <algorithm>
#include <mutex>
#include <utility>

namespace {

// Replaced on the main thread while the library's thread may be calling it.
std::mutex& DispatcherMutex() {
  static std::mutex mutex;
  return mutex;
}

ModbusAnswerDispatcher& Dispatcher() {
  static ModbusAnswerDispatcher dispatcher;
  return dispatcher;
}

ModbusAnswer ReadAnswer(int handle) {
  ModbusAnswer answer;
  answer.handle = handle;
  if (!Modbus().MODBUSResponse) return answer;
  uint16_t words[MBS_RESPONSE_CAPACITY] = {};
  answer.status = Modbus().MODBUSResponse(handle, &answer.header, words, MBS_RESPONSE_CAPACITY);
  const int count = std::min<int>(answer.header.length, MBS_RESPONSE_CAPACITY);
  answer.words.assign(words, words + count);
  if (Modbus().MODBUSResponseTime && Modbus().MODBUSResponseTime(handle, &answer.settledAt) != 0)
    answer.settledAt = 0;
  return answer;
}

}  // namespace

ModbusBinding& Modbus() {
  static ModbusBinding binding;
  return binding;
}

void OnModbusCallback(int handle, int, int) {
  ModbusAnswerDispatcher dispatcher;
  {
    std::lock_guard lock(DispatcherMutex());
    dispatcher = Dispatcher();
  }
  if (dispatcher) dispatcher(ReadAnswer(handle));
}

void SetModbusCallbackDispatcher(ModbusAnswerDispatcher dispatcher) {
  std::lock_guard lock(DispatcherMutex());
  Dispatcher() = std::move(dispatcher);
}
