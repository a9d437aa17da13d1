#include "link/ModbusBinding.h"

#include <utility>

#include "link/EndpointRegistry.h"
#include "pointdb/ScanHost.h"

namespace {

void RouteAtOnce(int handle, int spare1, int spare2) {
  if (CEndpointRegistry* frame = TheApp().m_pMainFrame)
    frame->RouteModbusCallback(handle, spare1, spare2);
}

std::function<void(int, int, int)>& Dispatcher() {
  static std::function<void(int, int, int)> dispatcher = RouteAtOnce;
  return dispatcher;
}

}  // namespace

ModbusBinding& Modbus() {
  static ModbusBinding binding;
  return binding;
}

void OnModbusCallback(int handle, int spare1, int spare2) { Dispatcher()(handle, spare1, spare2); }

// An empty dispatcher brings back routing at once.
void SetModbusCallbackDispatcher(std::function<void(int, int, int)> dispatcher) {
  Dispatcher() = dispatcher ? std::move(dispatcher) : RouteAtOnce;
}
