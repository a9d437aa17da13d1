// The commands that look after the OPC UA endpoint's certificate, trusted
// clients and users, and end the program:
//
//   pelmoran -RenewCertificate
//   pelmoran -TrustClient FILE
//   pelmoran -AddUser NAME [-ReadWrite]
//   pelmoran -RemoveUser NAME
//
// Their arguments are taken whole from the argument list, since a file name
// may hold the "-" and "/" that split the other switches. A password never
// comes from the command line: it is read from the terminal without echo,
// or as one line of standard input when that is not a terminal.
#pragma once

#include <functional>
#include <optional>
#include <ostream>
#include <string>

class SecurityCommand {
 public:
  enum class Kind { RenewCertificate, TrustClient, AddUser, RemoveUser };
  // Reads the password; nullopt when none could be read.
  using PasswordReader = std::function<std::optional<std::string>()>;

  // Nullopt when the arguments do not begin with one of the commands.
  static std::optional<SecurityCommand> Parse(int argc, const char* const* argv);
  // Carries it out on the folder that holds pki/ and the users file; the
  // program's exit status, with what was done said on out and why nothing
  // was on err.
  int Run(const std::string& folder, const PasswordReader& readPassword, std::ostream& out,
          std::ostream& err) const;
  // From the terminal without echo, else one line of standard input.
  static std::optional<std::string> ReadPasswordFromStdin();

  Kind kind = Kind::RenewCertificate;
  std::string argument;
  bool readWrite = false;
};
