// The table through which the program reaches the Modbus master library:
// filled with the real library in the program, with a recording fake in tests.
#pragma once

#include <functional>

#include "link/ModbusAnswer.h"
#include "modbuslib/modbuslib.h"

struct ModbusBinding {
  decltype(&::ConnectASCII) ConnectASCII = nullptr;
  decltype(&::ConnectRTU) ConnectRTU = nullptr;
  decltype(&::ConnectDanielsASCII) ConnectDanielsASCII = nullptr;
  decltype(&::ConnectDanielsRTU) ConnectDanielsRTU = nullptr;
  decltype(&::ConnectTCP2) ConnectTCP2 = nullptr;
  decltype(&::EnableConnectionCallback) EnableConnectionCallback = nullptr;
  decltype(&::EnableModbusCallback) EnableModbusCallback = nullptr;
  decltype(&::PollMODBUS) PollMODBUS = nullptr;
  decltype(&::WriteMODBUS) WriteMODBUS = nullptr;
  decltype(&::MODBUSResponse) MODBUSResponse = nullptr;
  decltype(&::MODBUSResponseTime) MODBUSResponseTime = nullptr;
  decltype(&::CloseConnection) CloseConnection = nullptr;
  decltype(&::EnableLogCallback) EnableLogCallback = nullptr;
  decltype(&::GetModbusCounters) GetModbusCounters = nullptr;
  decltype(&::ConnectTCPHost) ConnectTCPHost = nullptr;
  decltype(&::ConnectNetLine) ConnectNetLine = nullptr;
  decltype(&::SetRequestPause) SetRequestPause = nullptr;
  decltype(&::SetRequestRetries) SetRequestRetries = nullptr;
  decltype(&::SetRs485Mode) SetRs485Mode = nullptr;
  decltype(&::ShareLine) ShareLine = nullptr;
};

// The binding in use.
ModbusBinding& Modbus();

// The response callback every connection installs. On the library's thread it
// reads the finished request's answer and hands it to the dispatcher below,
// which the endpoint registry installs (EndpointRegistry::ListenForAnswers).
// Until one is installed calls are dropped and nothing is read.
void OnModbusCallback(int handle, int spare1, int spare2);
using ModbusAnswerDispatcher = std::function<void(ModbusAnswer)>;
void SetModbusCallbackDispatcher(ModbusAnswerDispatcher dispatcher);
