#include "pointdb/DiskFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

namespace {

std::string ErrnoText() { return std::strerror(errno); }

std::string DirectoryOf(const std::string& path) {
  const auto slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

// A symbolic link stays a link: the file it points to is what gets replaced.
std::string ResolveTarget(const std::string& path) {
  struct stat info;
  if (lstat(path.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) return path;
  char resolved[PATH_MAX];
  if (realpath(path.c_str(), resolved) == nullptr) return path;
  return resolved;
}

constexpr char kTempMark[] = ".tmp-";
constexpr size_t kMaxPidDigits = 10;

std::string TempNameBeside(const std::string& path) {
  static std::atomic<unsigned> counter{0};
  return path + kTempMark + std::to_string(getpid()) + "-" + std::to_string(++counter);
}

bool WriteFully(int fd, const std::string& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (n == 0) errno = EIO;
      return false;
    }
    done += static_cast<size_t>(n);
  }
  return true;
}

// A file that shrinks while it is read is read as far as it goes.
bool ReadOpenFile(int fd, size_t size, std::string& bytes) {
  bytes.resize(size);
  size_t done = 0;
  while (done < size) {
    const ssize_t n = read(fd, bytes.data() + done, size - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) break;
    done += static_cast<size_t>(n);
  }
  bytes.resize(done);
  return true;
}

// Makes the rename itself survive a crash; failing here loses nothing.
void SyncDirectory(const std::string& directory) {
  const int fd = open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  fsync(fd);
  close(fd);
}

}  // namespace

long DiskFile::WriterOf(const std::string& fileName) {
  const auto mark = fileName.rfind(kTempMark);
  if (mark == std::string::npos || mark == 0) return 0;
  const std::string rest = fileName.substr(mark + std::strlen(kTempMark));
  const auto dash = rest.find('-');
  const auto digits = [](const std::string& t) {
    return !t.empty() && t.find_first_not_of("0123456789") == std::string::npos;
  };
  if (dash == std::string::npos || !digits(rest.substr(0, dash)) ||
      !digits(rest.substr(dash + 1)) || dash > kMaxPidDigits)
    return 0;
  return std::stol(rest.substr(0, dash));
}

bool DiskFile::IsNewFileOf(const std::string& name, const std::string& target) {
  return !target.empty() && name.starts_with(target) && name.rfind(kTempMark) == target.size() &&
         WriterOf(name) != 0;
}

void DiskFile::SyncDirectoryOf(const std::string& path) { SyncDirectory(DirectoryOf(path)); }

DiskFile::ReadResult DiskFile::ReadAll(const std::string& path, std::string& bytes,
                                       std::string& error) {
  // Not blocking on open, so that a named pipe cannot hang the reader.
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) {
    error = ErrnoText();
    return ReadResult::cannotOpen;
  }
  struct stat info;
  ReadResult result = ReadResult::cannotRead;
  if (fstat(fd, &info) != 0) {
    error = ErrnoText();
  } else if (!S_ISREG(info.st_mode)) {
    error = "not a regular file";
    result = ReadResult::cannotOpen;
  } else if (static_cast<uint64_t>(info.st_size) > kMaxReadBytes) {
    error = "the file is too large";
  } else if (ReadOpenFile(fd, static_cast<size_t>(info.st_size), bytes)) {
    result = ReadResult::ok;
  } else {
    error = ErrnoText();
  }
  close(fd);
  return result;
}

DiskFile::~DiskFile() { Discard(); }

bool DiskFile::Create(const std::string& path) {
  Discard();
  m_strTarget = ResolveTarget(path);
  struct stat old;
  const bool replacing = stat(m_strTarget.c_str(), &old) == 0;
  if (replacing && S_ISDIR(old.st_mode)) {
    errno = EISDIR;
    return Fail("cannot create " + path);
  }
  for (int attempt = 0; attempt < 100 && m_fd < 0; ++attempt) {
    m_strTemp = TempNameBeside(m_strTarget);
    m_fd = open(m_strTemp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (m_fd < 0 && errno != EEXIST) break;
  }
  if (m_fd < 0) {
    m_strTemp.clear();
    return Fail("cannot create " + path);
  }
  // The replacement keeps the permissions the operator gave the old file.
  if (replacing) fchmod(m_fd, old.st_mode & 07777);
  return true;
}

bool DiskFile::Flush(const std::string& bytes) {
  if (m_fd < 0) {
    errno = EBADF;
    return Fail("no file to write");
  }
  if (!WriteFully(m_fd, bytes)) return Fail("cannot write " + m_strTarget);
  if (fsync(m_fd) != 0) return Fail("cannot flush " + m_strTarget);
  const int fd = m_fd;
  m_fd = -1;
  if (close(fd) != 0) return Fail("cannot write " + m_strTarget);
  return true;
}

bool DiskFile::Stage(const std::string& bytes, std::pair<std::string, std::string>& staged) {
  if (!Flush(bytes)) return false;
  staged = {m_strTemp, m_strTarget};
  m_strTemp.clear();
  return true;
}

bool DiskFile::Commit(const std::string& bytes) {
  if (!Flush(bytes)) return false;
  if (rename(m_strTemp.c_str(), m_strTarget.c_str()) != 0) {
    return Fail("cannot replace " + m_strTarget);
  }
  m_strTemp.clear();
  SyncDirectory(DirectoryOf(m_strTarget));
  return true;
}

const std::string& DiskFile::GetError() const { return m_strError; }

bool DiskFile::Fail(const std::string& what) {
  m_strError = what + ": " + ErrnoText();
  Discard();
  return false;
}

void DiskFile::Discard() {
  if (m_fd >= 0) {
    close(m_fd);
    m_fd = -1;
  }
  if (!m_strTemp.empty()) {
    unlink(m_strTemp.c_str());
    m_strTemp.clear();
  }
}
