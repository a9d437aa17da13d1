#include "shell/JournalStream.h"

#include <sys/stat.h>

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
