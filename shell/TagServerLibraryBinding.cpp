#include "pointdb/TagServerBinding.h"
#include "shell/Bindings.h"

void InstallTagServerLibrary() {
  TagServerBinding& t = TagServer();
  t.RegisterOPCServer = &::RegisterOPCServer;
  t.UnregisterOPCServer = &::UnregisterOPCServer;
  t.RegisterOPCService = &::RegisterOPCService;
  t.SetOPCSecurity = &::SetOPCSecurity;
  t.InitOPCServer = &::InitOPCServer;
  t.EnableWriteCallback = &::EnableWriteCallback;
  t.EnableAsyncWriteCallback = &::EnableAsyncWriteCallback;
  t.CompleteOPCWrite = &::CompleteOPCWrite;
  t.CreateOPCTag = &::CreateOPCTag;
  t.CreateOPCTagOfType = &::CreateOPCTagOfType;
  t.UpdateOPCTag = &::UpdateOPCTag;
  t.UpdateOPCTagStatus = &::UpdateOPCTagStatus;
  t.RemoveOPCTag = &::RemoveOPCTag;
  t.CreateOPCFolder = &::CreateOPCFolder;
  t.CreateOPCFolderTag = &::CreateOPCFolderTag;
  t.RemoveOPCFolder = &::RemoveOPCFolder;
  t.SetOPCTagProperties = &::SetOPCTagProperties;
  t.GetOPCServerURL = &::GetOPCServerURL;
  t.GetOPCClientCount = &::GetOPCClientCount;
  t.ShutdownOPCServer = &::ShutdownOPCServer;
  t.EnableOPCLogCallback = &::EnableOPCLogCallback;
  t.RenewOPCCertificate = &::RenewOPCCertificate;
  t.TrustOPCClient = &::TrustOPCClient;
  t.AddOPCUser = &::AddOPCUser;
  t.ListOPCUsers = &::ListOPCUsers;
  t.ListOPCRejected = &::ListOPCRejected;
  t.RemoveOPCUser = &::RemoveOPCUser;
}
