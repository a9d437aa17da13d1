// The systemd journal as a service's standard error: when JOURNAL_STREAM
// ("device:inode") names the very stream a line goes to, a "<N>" before the
// line gives the journal its priority, N numbered as syslog numbers levels.
// Where the journal's own socket can be reached, a line goes there instead,
// as a record of its own.
#pragma once

#include <cstdio>
#include <string>

class JournalStream {
 public:
  static constexpr const char* kVariable = "JOURNAL_STREAM";
  // Where journald takes records in its native protocol.
  static constexpr const char* kJournalSocket = "/run/systemd/journal/socket";

  // False when the variable is unset, or names another stream: one the
  // program's standard error was redirected from, for example.
  static bool Is(std::FILE* stream);
  static std::string Priority(int level);
  // The line straight to the journal (sd-journal's native protocol), with
  // its priority and the program's name; false when the journal cannot be
  // reached, and the stream's "<N>" is the way left.
  static bool Send(int level, const std::string& text);
};
