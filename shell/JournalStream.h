// The systemd journal as a service's standard error: when JOURNAL_STREAM
// ("device:inode") names the very stream a line goes to, a "<N>" before the
// line gives the journal its priority, N numbered as syslog numbers levels.
#pragma once

#include <cstdio>
#include <string>

class JournalStream {
 public:
  static constexpr const char* kVariable = "JOURNAL_STREAM";

  // False when the variable is unset, or names another stream: one the
  // program's standard error was redirected from, for example.
  static bool Is(std::FILE* stream);
  static std::string Priority(int level);
};
