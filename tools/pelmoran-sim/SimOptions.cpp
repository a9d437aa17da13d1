#include "SimOptions.h"

#include <charconv>
#include <functional>
#include <map>
#include <stdexcept>

namespace {

int Number(const std::string& option, const std::string& text, int low, int high) {
  int value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size() || value < low || value > high) {
    throw std::invalid_argument(option + " needs a whole number from " + std::to_string(low) +
                                " to " + std::to_string(high) + ", not \"" + text + "\"");
  }
  return value;
}

char Parity(const std::string& text) {
  if (text == "N" || text == "E" || text == "O") return text[0];
  throw std::invalid_argument("--parity needs N, E or O, not \"" + text + "\"");
}

using Setter = std::function<void(SimOptions&, const std::string&)>;

const std::map<std::string, Setter>& Setters() {
  static const std::map<std::string, Setter> setters = {
      {"--tcp",
       [](SimOptions& o, const std::string& v) {
         o.bTcp = true;
         o.nTcpPort = Number("--tcp", v, 0, 65535);
       }},
      {"--bind", [](SimOptions& o, const std::string& v) { o.strBind = v; }},
      {"--unit",
       [](SimOptions& o, const std::string& v) { o.nUnit = Number("--unit", v, 0, 255); }},
      {"--rtu", [](SimOptions& o, const std::string& v) { o.strRtuDevice = v; }},
      {"--rtu-link", [](SimOptions& o, const std::string& v) { o.strRtuLink = v; }},
      {"--ascii", [](SimOptions& o, const std::string& v) { o.strAsciiDevice = v; }},
      {"--ascii-link", [](SimOptions& o, const std::string& v) { o.strAsciiLink = v; }},
      {"--baud",
       [](SimOptions& o, const std::string& v) { o.line.nBaud = Number("--baud", v, 1, 4000000); }},
      {"--parity", [](SimOptions& o, const std::string& v) { o.line.cParity = Parity(v); }},
      {"--data",
       [](SimOptions& o, const std::string& v) { o.line.nDataBits = Number("--data", v, 7, 8); }},
      {"--stop",
       [](SimOptions& o, const std::string& v) { o.line.nStopBits = Number("--stop", v, 1, 2); }},
      {"--slave",
       [](SimOptions& o, const std::string& v) { o.nSlave = Number("--slave", v, 1, 247); }},
      {"--tick",
       [](SimOptions& o, const std::string& v) { o.nTickMs = Number("--tick", v, 10, 3600000); }},
  };
  return setters;
}

}  // namespace

SimOptions SimOptions::Parse(const std::vector<std::string>& args) {
  SimOptions options;
  for (size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--help" || args[i] == "-h") {
      options.bHelp = true;
      continue;
    }
    const auto setter = Setters().find(args[i]);
    if (setter == Setters().end())
      throw std::invalid_argument("unknown option \"" + args[i] + "\"");
    if (i + 1 >= args.size()) throw std::invalid_argument(args[i] + " needs a value");
    setter->second(options, args[++i]);
  }
  if (!options.bTcp && options.strRtuDevice.empty() && options.strAsciiDevice.empty()) {
    options.bTcp = true;  // a free port, printed
  }
  return options;
}

const char* SimOptions::Usage() {
  return "usage: pelmoran-sim [--tcp PORT] [--bind ADDRESS] [--unit ID]\n"
         "                    [--rtu DEVICE|pty] [--rtu-link PATH]\n"
         "                    [--ascii DEVICE|pty] [--ascii-link PATH]\n"
         "                    [--baud N] [--parity N|E|O] [--data 7|8] [--stop 1|2]\n"
         "                    [--slave ID] [--tick MS]\n"
         "A Modbus slave whose registers, coils and inputs move. Without a transport it\n"
         "serves Modbus/TCP on a free port of 127.0.0.1. --tcp 0 picks a free port;\n"
         "'pty' creates a pseudo-terminal; every device or port in use is printed.\n";
}
