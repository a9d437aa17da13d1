// The gateway's health as read-only OPC UA variables published beside the
// tags, under the name prefix "Diagnostics.": per endpoint whether requests
// reach it and which of its devices are demoted; per endpoint and per slave
// node its scans poll, what the program counted of their exchanges and
// whether the slave is demoted; per scan its status, polls, last good
// answer and the poll period it actually gets. Refreshed by the
// program once a second on the main thread; a variable is updated only when
// its value changed, so subscribers hear changes, not ticks.
#pragma once

#include <cstdint>
#include <map>
#include <set>
#include <string>

#include "platform/Variant.h"

class CPelmoranDoc;
struct EndpointHealth;
class Runtime;
class ScanCounters;

class DiagnosticsNodes {
 public:
  static constexpr const char* kPrefix = "Diagnostics.";

  explicit DiagnosticsNodes(Runtime& runtime) : m_runtime(runtime) {}
  // Removes every variable it published.
  ~DiagnosticsNodes();
  DiagnosticsNodes(const DiagnosticsNodes&) = delete;
  DiagnosticsNodes& operator=(const DiagnosticsNodes&) = delete;

  // steadyMs: a monotonic clock, for the poll periods. Variables of
  // endpoints and scans that are gone are removed.
  void Refresh(int64_t steadyMs);

 private:
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
  void SetSlaveDemoted(const CPelmoranDoc& doc, const std::string& prefix);
  void SetCounters(const std::string& prefix, bool slave, uint32_t requests, const ScanCounters& c);
  void SetLibraryCounters(const std::string& base, const EndpointHealth& health);
  void Set(const std::string& name, VARIANT value);
  void RemoveUnseen();

  Runtime& m_runtime;
  std::map<std::string, Published> m_published;
  std::set<std::string> m_seen;
  std::map<int32_t, ScanRate> m_rates;  // by document key
};
