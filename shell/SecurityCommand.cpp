#include "shell/SecurityCommand.h"

#include <strings.h>
#include <termios.h>
#include <unistd.h>

#include <iostream>

#include "pointdb/TagServerBinding.h"

namespace {

constexpr int kErrorSize = 512;

struct Name {
  const char* text;
  SecurityCommand::Kind kind;
};
constexpr Name kNames[] = {{"RenewCertificate", SecurityCommand::Kind::RenewCertificate},
                           {"TrustClient", SecurityCommand::Kind::TrustClient},
                           {"AddUser", SecurityCommand::Kind::AddUser},
                           {"RemoveUser", SecurityCommand::Kind::RemoveUser}};

bool IsSwitch(const char* arg, const char* name) {
  return (arg[0] == '-' || arg[0] == '/') && strcasecmp(arg + 1, name) == 0;
}

std::optional<std::string> ReadLine(std::istream& in) {
  std::string line;
  if (!std::getline(in, line)) return std::nullopt;
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return line;
}

std::optional<std::string> ReadHidden(const char* prompt) {
  termios saved{};
  tcgetattr(STDIN_FILENO, &saved);
  termios quiet = saved;
  quiet.c_lflag &= static_cast<tcflag_t>(~ECHO);
  std::cerr << prompt << std::flush;
  tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
  std::optional<std::string> line = ReadLine(std::cin);
  tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved);
  std::cerr << std::endl;
  return line;
}

}  // namespace

std::optional<SecurityCommand> SecurityCommand::Parse(int argc, const char* const* argv) {
  if (argc < 2) return std::nullopt;
  for (const Name& name : kNames) {
    if (!IsSwitch(argv[1], name.text)) continue;
    SecurityCommand command;
    command.kind = name.kind;
    if (argc > 2) command.argument = argv[2];
    command.readWrite = argc > 3 && IsSwitch(argv[3], "ReadWrite");
    return command;
  }
  return std::nullopt;
}

std::optional<std::string> SecurityCommand::ReadPasswordFromStdin() {
  if (!isatty(STDIN_FILENO)) return ReadLine(std::cin);
  std::optional<std::string> first = ReadHidden("Password: ");
  std::optional<std::string> again = ReadHidden("Password again: ");
  if (!first || !again || *first != *again) {
    std::cerr << "the two passwords differ" << std::endl;
    return std::nullopt;
  }
  return first;
}

int SecurityCommand::Run(const std::string& folder, const PasswordReader& readPassword,
                         std::ostream& out, std::ostream& err) const {
  if (kind != Kind::RenewCertificate && argument.empty()) {
    err << "pelmoran: the command needs a " << (kind == Kind::TrustClient ? "file" : "user name")
        << std::endl;
    return 2;
  }
  char error[kErrorSize] = {};
  int result = -1;
  TagServerBinding& t = TagServer();
  switch (kind) {
    case Kind::RenewCertificate:
      result = t.RenewOPCCertificate(folder.c_str(), error, kErrorSize);
      if (result == 0) out << "new certificate in " << folder << "pki/own/certs" << std::endl;
      break;
    case Kind::TrustClient:
      result = t.TrustOPCClient(folder.c_str(), argument.c_str(), error, kErrorSize);
      if (result == 0) out << "trusted " << argument << std::endl;
      break;
    case Kind::AddUser: {
      std::optional<std::string> password = readPassword();
      if (!password) {
        err << "pelmoran: no password read" << std::endl;
        return 1;
      }
      result = t.AddOPCUser(folder.c_str(), argument.c_str(), password->c_str(), readWrite ? 1 : 0,
                            error, kErrorSize);
      if (result == 0)
        out << "user " << argument << (readWrite ? " may read and write" : " may read")
            << std::endl;
      break;
    }
    case Kind::RemoveUser:
      result = t.RemoveOPCUser(folder.c_str(), argument.c_str(), error, kErrorSize);
      if (result == 0) out << "removed user " << argument << std::endl;
      break;
  }
  if (result != 0) err << "pelmoran: " << error << std::endl;
  return result == 0 ? 0 : 1;
}
