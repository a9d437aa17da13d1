// The entry points of the program's certificate and user commands.
#include <cstdio>
#include <string>

#include "tagserver/Certificate.h"
#include "tagserver/PkiStore.h"
#include "tagserver/TagServerHost.h"
#include "tagserver/UserDirectory.h"
#include "tagserver/tagserver.h"

using tagserver::PkiStore;
using tagserver::TagServerHost;
using tagserver::UserDirectory;
using tagserver::UserRole;

namespace {

int Outcome(bool ok, const std::string& reason, char* error, int errorSize) {
  if (!ok && error != nullptr && errorSize > 0)
    std::snprintf(error, static_cast<size_t>(errorSize), "%s", reason.c_str());
  return ok ? 0 : -1;
}

PkiStore Pki(const char* directory) {
  return PkiStore(TagServerHost::SecurityFolder(directory) + "pki/");
}

UserDirectory Users(const char* directory) {
  return UserDirectory(TagServerHost::SecurityFolder(directory) + UserDirectory::kFileName);
}

int CopyList(const std::string& list, char* buffer, int bufferSize) {
  if (buffer != nullptr && bufferSize > 0)
    std::snprintf(buffer, static_cast<size_t>(bufferSize), "%s", list.c_str());
  return static_cast<int>(list.size());
}

}  // namespace

extern "C" {

int RenewOPCCertificate(const char* directory, char* error, int errorSize) {
  std::string reason;
  bool ok = Pki(directory).Renew(TagServerHost::ApplicationUri(), reason);
  return Outcome(ok, reason, error, errorSize);
}

int TrustOPCClient(const char* directory, const char* file, char* error, int errorSize) {
  std::string reason = "no file named";
  bool ok = file != nullptr && Pki(directory).Trust(file, reason);
  return Outcome(ok, reason, error, errorSize);
}

int AddOPCUser(const char* directory, const char* name, const char* password, int readWrite,
               char* error, int errorSize) {
  std::string reason = "no user name or password";
  bool ok = name != nullptr && password != nullptr &&
            Users(directory).Add(name, password,
                                 readWrite != 0 ? UserRole::ReadWrite : UserRole::ReadOnly, reason);
  return Outcome(ok, reason, error, errorSize);
}

int RemoveOPCUser(const char* directory, const char* name, char* error, int errorSize) {
  std::string reason = "no user name";
  bool ok = name != nullptr && Users(directory).Remove(name, reason);
  return Outcome(ok, reason, error, errorSize);
}

int ListOPCUsers(const char* directory, char* buffer, int bufferSize) {
  std::string list;
  for (const auto& [name, role] : Users(directory).List())
    list += name + (role == UserRole::ReadWrite ? "\treadwrite\n" : "\tread\n");
  return CopyList(list, buffer, bufferSize);
}

int ListOPCRejected(const char* directory, char* buffer, int bufferSize) {
  std::string list;
  for (const std::string& file : Pki(directory).RejectedFiles()) {
    // A file that holds no certificate is listed all the same, to be seen.
    const tagserver::Certificate certificate = tagserver::Certificate::FromFile(file);
    const std::string subject =
        certificate.Empty() ? "(not a certificate)" : certificate.SubjectName();
    list += file + "\t" + subject + "\n";
  }
  return CopyList(list, buffer, bufferSize);
}

}  // extern "C"
