#include "shell/Bindings.h"

#include "link/ModbusBinding.h"
#include "pointdb/TagServerBinding.h"

void InstallLibraryBindings() {
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
  m.CloseConnection = &::CloseConnection;

  TagServerBinding& t = TagServer();
  t.RegisterOPCServer = &::RegisterOPCServer;
  t.UnregisterOPCServer = &::UnregisterOPCServer;
  t.RegisterOPCService = &::RegisterOPCService;
  t.InitOPCServer = &::InitOPCServer;
  t.EnableWriteCallback = &::EnableWriteCallback;
  t.CreateOPCTag = &::CreateOPCTag;
  t.UpdateOPCTag = &::UpdateOPCTag;
  t.RemoveOPCTag = &::RemoveOPCTag;
  t.GetOPCServerURL = &::GetOPCServerURL;
  t.ShutdownOPCServer = &::ShutdownOPCServer;
}
