// The gateway's health in Prometheus' text exposition format (version
// 0.0.4): per endpoint, slave node and scan every counter and state of the
// Diagnostics folder, the MQTT publisher's, and the process' own figures.
// Names follow Prometheus' conventions: a "pelmoran_" prefix, base units in
// the name, "_total" on counters. Main thread: it reads the runtime.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "web/ProgramFigures.h"

class Runtime;
class ScanCounters;

namespace web {

class MetricsText {
 public:
  // steadyMs: a monotonic clock, for the poll periods between two scrapes.
  std::string Of(Runtime& runtime, const ProgramFigures& figures, int64_t steadyMs);

 private:
  struct Family {
    std::string help;
    std::string type;
    std::vector<std::string> samples;
  };
  using Labels = std::vector<std::pair<std::string, std::string>>;
  struct ScanRate {
    int32_t polls = 0;
    int64_t atMs = 0;
    double periodMs = 0;
  };

  void Endpoints(Runtime& runtime);
  void Slaves(Runtime& runtime);
  void Scans(Runtime& runtime, int64_t steadyMs);
  void Mqtt(const ProgramFigures& figures);
  void Process();
  void Outcome(const std::string& prefix, const Labels& labels, const ScanCounters& c);
  void Add(const std::string& name, const std::string& type, const std::string& help,
           const Labels& labels, double value);
  std::string Text() const;

  std::vector<std::string> m_order;
  std::map<std::string, Family> m_families;
  std::map<int32_t, ScanRate> m_rates;  // by scan key, kept between scrapes
};

}  // namespace web
