// The configuration file: the endpoints with their settings and the file
// names of the open scans. Saving writes every scan to its own file as well;
// restoring replaces the running endpoints and scans by what the file holds,
// once the whole file has been read and found sound.
#pragma once

#include <string>
#include <vector>

class Archive;
class SaveSet;
class Runtime;

class ConfigFile {
 public:
  // connect false: restored endpoints are not connected, for a one-shot
  // command that reaches no device.
  explicit ConfigFile(Runtime& runtime, bool connect = true);

  // Saves the whole configuration to path (the operator's choice), the scan
  // files with it, as one save: a crash at any moment leaves the old set or
  // the new one; false when it was not saved ("File Creation Error").
  bool SaveTestConfig(const std::string& path);
  // Replaces the running configuration by the one in path, once a save of
  // it that a crash interrupted has been finished and the new files saves
  // left behind removed. A missing file named "pelmoran.tst" is passed over
  // in silence; of a damaged file the running configuration stays.
  void RestoreConfig(const std::string& path);

  // What the operator is to be told of the last save or restore, in the
  // order it happened; empty when all went well. The window shows each text
  // in a message box, the headless program logs it.
  const std::vector<std::string>& Messages() const { return m_messages; }

  // The items of a configuration file, for callers that hold them in memory.
  // Load throws ArchiveException, before anything running is touched, when
  // the items cannot all be read.
  void Store(Archive& ar, SaveSet* set = nullptr);
  void Load(Archive& ar);

 private:
  void RemoveLeftovers(const std::string& path) const;

  Runtime& m_runtime;
  bool m_bConnect;
  std::vector<std::string> m_messages;
};
