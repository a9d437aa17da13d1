// The commands on the register maps of the configuration start-up restores,
// which end the program:
//
//   pelmoran -Plan
//   pelmoran -ImportMap ENDPOINT SLAVE FILE [SETTING=VALUE ...]
//   pelmoran -ExportMap ENDPOINT SLAVE FILE
//
// -Plan prints each device's planned reads. -ImportMap replaces the device's
// map by the CSV file's and saves the configuration; the settings are the
// columns of the devices table (name=Meter base=0 max_registers=60 ...).
// None reaches a device. Arguments are taken whole, as CsvCommand takes them.
#pragma once

#include <optional>
#include <ostream>
#include <string>
#include <vector>

class Runtime;

class MapCommand {
 public:
  enum class Kind { Plan, ImportMap, ExportMap };

  // Nullopt when the arguments do not begin with one of the commands.
  static std::optional<MapCommand> Parse(int argc, const char* const* argv);
  // Carries it out on the configuration file at configPath; the program's
  // exit status, with what was done said on out and why nothing was on err.
  int Run(const std::string& configPath, std::ostream& out, std::ostream& err) const;

  Kind kind = Kind::Plan;
  std::vector<std::string> arguments;

 private:
  int Plan(const Runtime& runtime, std::ostream& out) const;
  int Import(Runtime& runtime, const std::string& configPath, std::ostream& out,
             std::ostream& err) const;
  int Export(const Runtime& runtime, std::ostream& out, std::ostream& err) const;
};
