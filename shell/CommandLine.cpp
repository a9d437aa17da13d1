#include "shell/CommandLine.h"

#include <strings.h>

CommandLine::CommandLine(const std::string& text) {
  for (const std::string& token : Split(text)) {
    if (Matches(token, "UnregServer")) m_nEnding = UnregServer;
    if (Matches(token, "RegServer")) m_nEnding = RegServer;
    if (Matches(token, "Service")) m_nEnding = Service;
    if (m_nEnding != None) return;
    if (Matches(token, "Minimize")) m_bMinimize = true;
    if (Matches(token, "Headless")) m_bHeadless = true;
    if (Matches(token, "Trace")) m_bTrace = true;
    if (Matches(token, "TraceFile")) m_bTraceFile = true;
  }
}

std::string CommandLine::JoinArguments(int argc, const char* const* argv) {
  std::string text;
  for (int i = 1; i < argc; ++i) {
    if (i > 1) text += ' ';
    text += argv[i];
  }
  return text;
}

std::vector<std::string> CommandLine::Split(const std::string& text) {
  std::vector<std::string> tokens;
  std::string token;
  for (char c : text) {
    if (c == '-' || c == '/' || c == ' ') {
      if (!token.empty()) tokens.push_back(token);
      token.clear();
    } else {
      token += c;
    }
  }
  if (!token.empty()) tokens.push_back(token);
  return tokens;
}

bool CommandLine::Matches(const std::string& token, const char* name) {
  return strcasecmp(token.c_str(), name) == 0;
}
