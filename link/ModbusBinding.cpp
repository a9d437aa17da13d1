#include "link/ModbusBinding.h"

#include <utility>

namespace {

std::function<void(int, int, int)>& Dispatcher() {
  static std::function<void(int, int, int)> dispatcher;
  return dispatcher;
}

}  // namespace

ModbusBinding& Modbus() {
  static ModbusBinding binding;
  return binding;
}

void OnModbusCallback(int handle, int spare1, int spare2) {
  if (const auto& dispatcher = Dispatcher()) dispatcher(handle, spare1, spare2);
}

void SetModbusCallbackDispatcher(std::function<void(int, int, int)> dispatcher) {
  Dispatcher() = std::move(dispatcher);
}
