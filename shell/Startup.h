// The library side of start-up, in the order the program makes its calls:
// the ending switches, then the server's registration and start, then the
// two callbacks. Kept free of Qt so that the order can be checked against
// recording bindings.
#pragma once

#include <string>

#include "modbuslib/modbuslib.h"
#include "platform/Guid.h"
#include "tagserver/tagserver.h"

class CommandLine;

class Startup {
 public:
  static constexpr const char* kProgId = "Korvane.Modbus_OPC_Server";
  static constexpr const char* kDescription = "Korvane Software OPC Server for Modbus";
  static constexpr const char* kServerFile = "pelmoran.EXE -Minimize";
  static constexpr int kServerRate = 250;
  // The server's class id, the same in every call that takes one.
  static const GUID kClassId;

  // directory: the executable's directory with its trailing "/".
  explicit Startup(std::string directory);
  // The running executable's directory, with its trailing "/".
  static std::string ExecutableDirectory();

  std::string ServerCommand() const { return m_strDirectory + kServerFile; }
  // Beside the executable; an installed program, or one whose directory
  // cannot be written, keeps it in the user's configuration directory.
  std::string ConfigPath() const;
  // The folder of ConfigPath, with its trailing "/": also the home of
  // pelmoran.ini, the server's certificates (pki/) and its users file.
  std::string ConfigFolder() const;

  // Carries out an ending switch; true when the program is to end now.
  bool RunEndingSwitch(const CommandLine& commandLine) const;
  // A normal start: registers and starts the server, installs the callbacks.
  void StartLibraries(OPCWriteCallback onClientWrite, ConnectionCallback onConnection) const;

 private:
  void Register() const;
  // Hands the endpoint's security settings of pelmoran.ini to the server.
  void SetSecurity() const;

  std::string m_strDirectory;
};
