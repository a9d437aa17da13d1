// The program's command line: the three switches that register or unregister
// the server and end the program, and the three that change how it starts.
#pragma once

#include <string>
#include <vector>

class CommandLine {
 public:
  enum Ending { None, UnregServer, RegServer, Service };

  CommandLine() = default;
  // Reads the text after the program's own name.
  explicit CommandLine(const std::string& text);
  // Builds that text from main's arguments (everything after argv[0]).
  static std::string JoinArguments(int argc, const char* const* argv);
  // Tokens of the text, split at every "-", "/" and blank; never empty.
  static std::vector<std::string> Split(const std::string& text);

  // The first ending switch; the tokens after it are never looked at.
  Ending m_nEnding = None;
  bool m_bMinimize = false;
  bool m_bHeadless = false;
  // Every Modbus frame sent and received goes to standard error.
  bool m_bTrace = false;
  // ... or to the rolling trace file in the configuration directory.
  bool m_bTraceFile = false;

 private:
  static bool Matches(const std::string& token, const char* name);
};
