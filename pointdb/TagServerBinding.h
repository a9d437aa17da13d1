// The table through which the program reaches the tag-server library: filled
// with the real library in the program, with a recording fake in tests.
#pragma once

#include "tagserver/tagserver.h"

struct TagServerBinding {
  decltype(&::RegisterOPCServer) RegisterOPCServer = nullptr;
  decltype(&::UnregisterOPCServer) UnregisterOPCServer = nullptr;
  decltype(&::RegisterOPCService) RegisterOPCService = nullptr;
  decltype(&::SetOPCSecurity) SetOPCSecurity = nullptr;
  decltype(&::InitOPCServer) InitOPCServer = nullptr;
  decltype(&::EnableWriteCallback) EnableWriteCallback = nullptr;
  decltype(&::EnableAsyncWriteCallback) EnableAsyncWriteCallback = nullptr;
  decltype(&::CompleteOPCWrite) CompleteOPCWrite = nullptr;
  decltype(&::CreateOPCTag) CreateOPCTag = nullptr;
  decltype(&::CreateOPCTagOfType) CreateOPCTagOfType = nullptr;
  decltype(&::UpdateOPCTag) UpdateOPCTag = nullptr;
  decltype(&::UpdateOPCTagStatus) UpdateOPCTagStatus = nullptr;
  decltype(&::RemoveOPCTag) RemoveOPCTag = nullptr;
  decltype(&::CreateOPCFolder) CreateOPCFolder = nullptr;
  decltype(&::CreateOPCFolderTag) CreateOPCFolderTag = nullptr;
  decltype(&::RemoveOPCFolder) RemoveOPCFolder = nullptr;
  decltype(&::SetOPCTagProperties) SetOPCTagProperties = nullptr;
  decltype(&::GetOPCServerURL) GetOPCServerURL = nullptr;
  decltype(&::ShutdownOPCServer) ShutdownOPCServer = nullptr;
  decltype(&::GetOPCClientCount) GetOPCClientCount = nullptr;
  decltype(&::EnableOPCLogCallback) EnableOPCLogCallback = nullptr;
  decltype(&::RenewOPCCertificate) RenewOPCCertificate = nullptr;
  decltype(&::TrustOPCClient) TrustOPCClient = nullptr;
  decltype(&::AddOPCUser) AddOPCUser = nullptr;
  decltype(&::RemoveOPCUser) RemoveOPCUser = nullptr;
  decltype(&::ListOPCUsers) ListOPCUsers = nullptr;
  decltype(&::ListOPCRejected) ListOPCRejected = nullptr;
};

// The binding in use.
TagServerBinding& TagServer();
