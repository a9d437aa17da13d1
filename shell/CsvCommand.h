// The commands that export the configuration start-up restores to CSV files,
// or replace it by what CSV files hold, and end the program:
//
//   pelmoran -ExportCsv DIR
//   pelmoran -ImportCsv DIR
//
// Neither reaches a device: endpoints are read and written, not connected.
// The directory is taken whole from the argument list, as it may hold the
// "-" and "/" that split the other switches.
#pragma once

#include <optional>
#include <ostream>
#include <string>

class CsvCommand {
 public:
  enum class Kind { ExportCsv, ImportCsv };

  // Nullopt when the arguments do not begin with one of the commands.
  static std::optional<CsvCommand> Parse(int argc, const char* const* argv);
  // Carries it out on the configuration file at configPath; the program's
  // exit status, with what was done said on out and why nothing was on err.
  int Run(const std::string& configPath, std::ostream& out, std::ostream& err) const;

  Kind kind = Kind::ExportCsv;
  std::string directory;
};
