#include "link/ModbusBinding.h"
#include "shell/Bindings.h"

void InstallModbusLibrary() {
  ModbusBinding& m = Modbus();
  m.ConnectASCII = &::ConnectASCII;
  m.ConnectRTU = &::ConnectRTU;
  m.ConnectDanielsASCII = &::ConnectDanielsASCII;
  m.ConnectDanielsRTU = &::ConnectDanielsRTU;
  m.ConnectTCP2 = &::ConnectTCP2;
  m.EnableConnectionCallback = &::EnableConnectionCallback;
  m.EnableModbusCallback = &::EnableModbusCallback;
  m.PollMODBUS = &::PollMODBUS;
  m.WriteMODBUS = &::WriteMODBUS;
  m.MODBUSResponse = &::MODBUSResponse;
  m.MODBUSResponseTime = &::MODBUSResponseTime;
  m.CloseConnection = &::CloseConnection;
  m.EnableLogCallback = &::EnableLogCallback;
  m.GetModbusCounters = &::GetModbusCounters;
  m.ConnectTCPHost = &::ConnectTCPHost;
  m.ConnectNetLine = &::ConnectNetLine;
  m.SetRequestPause = &::SetRequestPause;
  m.SetRequestRetries = &::SetRequestRetries;
  m.SetRs485Mode = &::SetRs485Mode;
  m.ShareLine = &::ShareLine;
}
