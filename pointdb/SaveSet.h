// Saves several files as one: after a crash or a power loss at any moment,
// the next start finds all of them as they were or all of them as saved.
// Each file is written and flushed under a new name beside it; then a
// journal listing the new files and the names they take is put in place,
// which is the moment the save happens; then each new file is renamed over
// its old one and the journal removed. A start that finds a journal does
// the renames it lists, and removes the new files a save never finished.
#pragma once

#include <string>
#include <utility>
#include <vector>

class DiskFile;

class SaveSet {
 public:
  explicit SaveSet(std::string journalPath);
  // Removes the new files of a save that was not committed.
  ~SaveSet();
  SaveSet(const SaveSet&) = delete;
  SaveSet& operator=(const SaveSet&) = delete;

  // The journal of the saves of a configuration file.
  static std::string JournalOf(const std::string& configPath);

  // Writes bytes as the next content of path; false, with the reason, when
  // the new file cannot be written, and path is then left out of the save.
  bool Stage(const std::string& path, const std::string& bytes, std::string& error);
  // The same with the new file created already.
  bool Stage(DiskFile& created, const std::string& bytes, std::string& error);
  // Puts every staged file in place; false with the reason when the save did
  // not happen (the old files stay) or could not be finished (the next
  // Recover finishes it).
  bool Commit(std::string& error);

  // The renames a journal lists: only pairs of a name and one of its own new
  // files, so that a damaged journal renames nothing else.
  static std::vector<std::pair<std::string, std::string>> ReadJournal(const std::string& bytes);
  // Finishes the save the journal lists, if any.
  static void Recover(const std::string& journalPath);
  // Removes, in the directories of paths, the new files this program left
  // behind: only names of its own pattern, of a process that has ended.
  static void RemoveLeftovers(const std::vector<std::string>& paths);

 private:
  static void SyncDirectories(const std::vector<std::pair<std::string, std::string>>& files);

  std::string m_strJournal;
  std::vector<std::pair<std::string, std::string>> m_staged;  // new file, its name
};
