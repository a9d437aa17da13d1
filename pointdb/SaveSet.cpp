#include "pointdb/SaveSet.h"

#include <dirent.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <set>

#include "pointdb/DiskFile.h"

namespace {

constexpr char kJournalSuffix[] = ".commit";

std::string DirectoryOf(const std::string& path) {
  const auto slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

bool Exists(const std::string& path) {
  struct stat info;
  return lstat(path.c_str(), &info) == 0;
}

// This process saves on one thread only, so no save of its own is under way
// while leftovers are looked for.
bool HasEnded(long pid) {
  if (pid == getpid()) return true;
  return kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH;
}

// Pairs of names, each ended by a NUL: no path holds one.
std::string Encode(const std::vector<std::pair<std::string, std::string>>& files) {
  std::string bytes;
  for (const auto& [staged, target] : files) {
    bytes += staged;
    bytes.push_back('\0');
    bytes += target;
    bytes.push_back('\0');
  }
  return bytes;
}

}  // namespace

SaveSet::SaveSet(std::string journalPath) : m_strJournal(std::move(journalPath)) {}

SaveSet::~SaveSet() {
  for (const auto& file : m_staged) unlink(file.first.c_str());
}

std::string SaveSet::JournalOf(const std::string& configPath) {
  return configPath + kJournalSuffix;
}

bool SaveSet::Stage(const std::string& path, const std::string& bytes, std::string& error) {
  DiskFile file;
  if (file.Create(path)) return Stage(file, bytes, error);
  error = file.GetError();
  return false;
}

bool SaveSet::Stage(DiskFile& created, const std::string& bytes, std::string& error) {
  std::pair<std::string, std::string> staged;
  if (!created.Stage(bytes, staged)) {
    error = created.GetError();
    return false;
  }
  m_staged.push_back(std::move(staged));
  return true;
}

bool SaveSet::Commit(std::string& error) {
  // The new files' names must be on the disk before the journal names them.
  SyncDirectories(m_staged);
  DiskFile journal;
  if (!journal.Create(m_strJournal) || !journal.Commit(Encode(m_staged))) {
    error = journal.GetError();
    return false;
  }
  const auto files = std::move(m_staged);
  m_staged.clear();
  for (const auto& [staged, target] : files) {
    if (rename(staged.c_str(), target.c_str()) != 0) {
      error = "cannot replace " + target + ": " + std::strerror(errno);
      return false;
    }
  }
  SyncDirectories(files);
  unlink(m_strJournal.c_str());
  DiskFile::SyncDirectoryOf(m_strJournal);
  return true;
}

std::vector<std::pair<std::string, std::string>> SaveSet::ReadJournal(const std::string& bytes) {
  std::vector<std::string> names;
  for (size_t at = 0, end; (end = bytes.find('\0', at)) != std::string::npos; at = end + 1)
    names.push_back(bytes.substr(at, end - at));
  std::vector<std::pair<std::string, std::string>> files;
  for (size_t i = 0; i + 1 < names.size(); i += 2) {
    const std::string& staged = names[i];
    const std::string& target = names[i + 1];
    if (DiskFile::IsNewFileOf(staged, target)) files.emplace_back(staged, target);
  }
  return files;
}

void SaveSet::Recover(const std::string& journalPath) {
  std::string bytes;
  std::string error;
  if (DiskFile::ReadAll(journalPath, bytes, error) != DiskFile::ReadResult::ok) return;
  const auto files = ReadJournal(bytes);
  // A file already renamed before the crash has no new file any more.
  for (const auto& [staged, target] : files)
    if (Exists(staged)) rename(staged.c_str(), target.c_str());
  SyncDirectories(files);
  unlink(journalPath.c_str());
  DiskFile::SyncDirectoryOf(journalPath);
}

void SaveSet::RemoveLeftovers(const std::vector<std::string>& paths) {
  std::set<std::string> directories;
  for (const std::string& path : paths)
    if (!path.empty()) directories.insert(DirectoryOf(path));
  for (const std::string& directory : directories) {
    DIR* dir = opendir(directory.c_str());
    if (dir == nullptr) continue;
    while (const dirent* entry = readdir(dir)) {
      const long writer = DiskFile::WriterOf(entry->d_name);
      if (writer != 0 && HasEnded(writer)) unlinkat(dirfd(dir), entry->d_name, 0);
    }
    closedir(dir);
  }
}

void SaveSet::SyncDirectories(const std::vector<std::pair<std::string, std::string>>& files) {
  std::set<std::string> directories;
  for (const auto& file : files)
    if (directories.insert(DirectoryOf(file.second)).second) DiskFile::SyncDirectoryOf(file.second);
}
