#include "shell/Startup.h"

#include <unistd.h>

#include <utility>
#include <vector>

#include "link/ModbusBinding.h"
#include "platform/ConfigLocation.h"
#include "pointdb/TagServerBinding.h"
#include "runtime/SettingsFile.h"
#include "shell/CommandLine.h"

namespace {

constexpr const char* kSecuritySection = "OpcUa";

}  // namespace

const GUID Startup::kClassId = {
    0x6F0B5C2E, 0x93A4, 0x4D71, {0xB8, 0xE2, 0x5A, 0x1C, 0x7D, 0x3E, 0x9F, 0x40}};

Startup::Startup(std::string directory) : m_strDirectory(std::move(directory)) {}

std::string Startup::ExecutableDirectory() {
  std::vector<char> buffer(4096);
  ssize_t n = readlink("/proc/self/exe", buffer.data(), buffer.size() - 1);
  if (n <= 0) return "./";
  std::string path(buffer.data(), static_cast<size_t>(n));
  return path.substr(0, path.rfind('/') + 1);
}

bool Startup::RunEndingSwitch(const CommandLine& commandLine) const {
  switch (commandLine.m_nEnding) {
    case CommandLine::UnregServer: TagServer().UnregisterOPCServer(&kClassId, kProgId); return true;
    case CommandLine::RegServer: Register(); return true;
    case CommandLine::Service:
      Register();
      TagServer().RegisterOPCService(kProgId);
      return true;
    case CommandLine::None: break;
  }
  return false;
}

void Startup::StartLibraries(OPCWriteCallback onClientWrite,
                             ConnectionCallback onConnection) const {
  Register();
  SetSecurity();
  TagServer().InitOPCServer(&kClassId, kServerRate);
  TagServer().EnableWriteCallback(onClientWrite, 1);
  Modbus().EnableConnectionCallback(onConnection);
}

void Startup::Register() const {
  TagServer().RegisterOPCServer(&kClassId, kProgId, kDescription, ServerCommand().c_str());
}

std::string Startup::ConfigPath() const { return ConfigFilePath(m_strDirectory); }

std::string Startup::ConfigFolder() const {
  const std::string path = ConfigPath();
  return path.substr(0, path.rfind('/') + 1);
}

void Startup::SetSecurity() const {
  // A binding without the entry point serves with the library's defaults.
  if (TagServer().SetOPCSecurity == nullptr) return;
  const std::string folder = ConfigFolder();
  SettingsFile file = SettingsFile::Load(folder + SettingsFile::kFileName);
  const std::string anonymous = file.GetString(kSecuritySection, "Anonymous", "");
  int access = OPC_ANONYMOUS_DEFAULT;
  if (anonymous == "off") access = OPC_ANONYMOUS_OFF;
  if (anonymous == "read") access = OPC_ANONYMOUS_READ_ONLY;
  if (anonymous == "readwrite") access = OPC_ANONYMOUS_READ_WRITE;
  OPCSecuritySettings settings{
      folder.c_str(), file.GetInt(kSecuritySection, "AllowNoneOnNetwork", 0, 0, 1), access};
  TagServer().SetOPCSecurity(&settings);
}
