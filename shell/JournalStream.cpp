#include "shell/JournalStream.h"

#include <sys/stat.h>
#include <systemd/sd-journal.h>

#include <cinttypes>
#include <cstdlib>

bool JournalStream::Is(std::FILE* stream) {
  const char* named = std::getenv(kVariable);
  uintmax_t device = 0;
  uintmax_t inode = 0;
  if (named == nullptr || std::sscanf(named, "%" SCNuMAX ":%" SCNuMAX, &device, &inode) != 2)
    return false;
  struct stat info;
  if (stream == nullptr || fstat(fileno(stream), &info) != 0) return false;
  return static_cast<uintmax_t>(info.st_dev) == device &&
         static_cast<uintmax_t>(info.st_ino) == inode;
}

std::string JournalStream::Priority(int level) { return "<" + std::to_string(level) + ">"; }

bool JournalStream::Send(int level, const std::string& text) {
  // sd_journal_send drops a line silently when there is no journal to take it.
  struct stat socket;
  if (stat(kJournalSocket, &socket) != 0 || !S_ISSOCK(socket.st_mode)) return false;
  return sd_journal_send("MESSAGE=%s", text.c_str(), "PRIORITY=%i", level,
                         "SYSLOG_IDENTIFIER=pelmoran", nullptr) == 0;
}
