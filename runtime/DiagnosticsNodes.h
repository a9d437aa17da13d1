// The gateway's health as read-only OPC UA variables in a folder
// "Diagnostics" beside the tags: a folder per endpoint says whether requests
// reach it and which of its devices are demoted, with a folder per slave
// node its scans poll (what the program counted of their exchanges and
// whether the slave is demoted) and a folder per scan (its status, polls,
// last good answer and the poll period it actually gets). Refreshed by the
// program once a second on the main thread; a variable is updated only when
// its value changed, so subscribers hear changes, not ticks.
#pragma once

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "platform/Variant.h"

struct EndpointHealth;
class Runtime;
class ScanCounters;

class DiagnosticsNodes {
 public:
  static constexpr const char* kFolder = "Diagnostics";

  explicit DiagnosticsNodes(Runtime& runtime) : m_runtime(runtime) {}
  // Removes every variable it published.
  ~DiagnosticsNodes();
  DiagnosticsNodes(const DiagnosticsNodes&) = delete;
  DiagnosticsNodes& operator=(const DiagnosticsNodes&) = delete;

  // steadyMs: a monotonic clock, for the poll periods. Folders and
  // variables of endpoints and scans that are gone are removed.
  void Refresh(int64_t steadyMs);

 private:
  // Folder names from the tag folder down.
  using FolderPath = std::vector<std::string>;
  struct Published {
    int32_t handle = -1;
    std::string text;  // the value as last published, to publish changes only
  };
  struct ScanRate {
    int32_t polls = 0;
    int64_t atMs = 0;
    double periodMs = 0;
  };

  void RefreshEndpoints();
  void RefreshScans(int64_t steadyMs);
  void RefreshDevices();
  // Exceptions, LastRoundTripMs and LastError.
  void SetOutcome(const FolderPath& folder, const ScanCounters& c);
  void SetLibraryCounters(const FolderPath& endpoint, const EndpointHealth& health);
  // Keeps value's ownership with the caller.
  void Set(const FolderPath& folder, const std::string& name, VARIANT value);
  void SetText(const FolderPath& folder, const std::string& name, const std::string& text);
  int32_t Folder(const FolderPath& path);
  void RemoveUnseen();

  Runtime& m_runtime;
  std::map<std::string, Published> m_published;  // by node id
  std::map<std::string, int32_t> m_folders;      // handles by node id
  std::set<std::string> m_seen;                  // node ids this refresh published
  std::map<int32_t, ScanRate> m_rates;           // by document key
};
