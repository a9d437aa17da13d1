// The files under the configuration: read whole, and replaced whole. A
// replacement is written to a new file beside the old one, flushed to the
// disk and then renamed over it, so that a save that fails half-way leaves
// the previous file as it was.
#pragma once

#include <cstddef>
#include <string>
#include <utility>

class DiskFile {
 public:
  // No configuration or scan file comes near this; a larger one is refused
  // rather than read into memory.
  static constexpr size_t kMaxReadBytes = 64u << 20;

  enum class ReadResult {
    ok,
    cannotOpen,  // missing, not permitted, or not a regular file
    cannotRead,  // opened, but too large or failing while read
  };
  // The process whose new file the name is ("<name>.tmp-<pid>-<n>"); 0 for
  // a name that is none of this program's new files.
  static long WriterOf(const std::string& fileName);
  // Whether name is a new file made beside target.
  static bool IsNewFileOf(const std::string& name, const std::string& target);
  // Makes the names made or renamed in path's directory survive a crash.
  static void SyncDirectoryOf(const std::string& path);
  // Reads a regular file whole; the reason of a failure goes to error.
  static ReadResult ReadAll(const std::string& path, std::string& bytes, std::string& error);

  DiskFile() = default;
  // Removes the new file when it was not committed.
  ~DiskFile();
  DiskFile(const DiskFile&) = delete;
  DiskFile& operator=(const DiskFile&) = delete;

  // Creates the new file beside path; false when it cannot be created.
  bool Create(const std::string& path);
  // Writes the bytes, flushes them and puts the new file in place of path.
  bool Commit(const std::string& bytes);
  // Writes and flushes the bytes but leaves the new file beside path, for a
  // caller that puts several files in place together; the new file is the
  // caller's from then on: { new file, path }.
  bool Stage(const std::string& bytes, std::pair<std::string, std::string>& staged);
  // Why the last Create or Commit failed.
  const std::string& GetError() const;

 private:
  bool Fail(const std::string& what);
  bool Flush(const std::string& bytes);
  void Discard();

  std::string m_strTarget;
  std::string m_strTemp;
  int m_fd = -1;
  std::string m_strError;
};
