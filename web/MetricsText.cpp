#include "web/MetricsText.h"

#include <dirent.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <iterator>
#include <set>
#include <sstream>

#include "link/EndpointHealth.h"
#include "pointdb/PelmoranDoc.h"
#include "runtime/Runtime.h"
#include "runtime/SlaveHealth.h"

namespace web {

namespace {

constexpr const char* kCounter = "counter";
constexpr const char* kGauge = "gauge";
constexpr double kMsPerSecond = 1000.0;
// FILETIME ticks (100 ns since 1601) at the Unix epoch, and per second.
constexpr int64_t kUnixEpochTicks = 116444736000000000LL;
constexpr double kTicksPerSecond = 1e7;

std::string Escaped(const std::string& value) {
  std::string out;
  for (char c : value) {
    if (c == '\\' || c == '"') out += '\\';
    out += c == '\n' ? std::string("\\n") : std::string(1, c);
  }
  return out;
}

std::string Number(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.17g", value);
  return text;
}

// When the machine booted, in seconds since the Unix epoch: /proc/stat's "btime".
double BootTime() {
  std::ifstream stat("/proc/stat");
  for (std::string key; stat >> key;) {
    if (key == "btime") {
      double seconds = 0;
      stat >> seconds;
      return seconds;
    }
  }
  return 0;
}

double Seconds(int64_t ms) { return static_cast<double>(std::max<int64_t>(ms, 0)) / kMsPerSecond; }

}  // namespace

std::string MetricsText::Of(Runtime& runtime, const ProgramFigures& figures, int64_t steadyMs) {
  m_order.clear();
  m_families.clear();
  Endpoints(runtime);
  Slaves(runtime);
  Scans(runtime, steadyMs);
  Mqtt(figures);
  Process();
  return Text();
}

void MetricsText::Add(const std::string& name, const std::string& type, const std::string& help,
                      const Labels& labels, double value) {
  auto [it, added] = m_families.try_emplace(name, Family{help, type, {}});
  if (added) m_order.push_back(name);
  std::string sample = name;
  if (!labels.empty()) {
    sample += '{';
    for (size_t i = 0; i < labels.size(); ++i)
      sample += (i ? "," : "") + labels[i].first + "=\"" + Escaped(labels[i].second) + '"';
    sample += '}';
  }
  it->second.samples.push_back(sample + ' ' + Number(value));
}

std::string MetricsText::Text() const {
  std::string text;
  for (const std::string& name : m_order) {
    const Family& family = m_families.at(name);
    text += "# HELP " + name + ' ' + family.help + "\n# TYPE " + name + ' ' + family.type + '\n';
    for (const std::string& sample : family.samples) text += sample + '\n';
  }
  return text;
}

void MetricsText::Endpoints(Runtime& runtime) {
  std::map<std::string, ScanCounters> outcomes;
  for (int i = 0; i < runtime.GetDocumentCount(); ++i) {
    const CPelmoranDoc* doc = runtime.m_docTemplate.GetDocument(i);
    outcomes[doc->m_strEndpoint].Add(doc->m_counters);
  }
  for (const std::string& name : runtime.m_endpoints.GetEndpointNames()) {
    const CModbusConnection* endpoint = runtime.m_endpoints.FindEndpoint(name);
    if (!endpoint) continue;
    const EndpointHealth health = EndpointHealth::Of(*endpoint);
    const Labels labels{{"endpoint", name}};
    Add("pelmoran_endpoint_up", kGauge, "1 while requests can reach the endpoint.", labels,
        health.connected && !health.deviceLost ? 1 : 0);
    Add("pelmoran_endpoint_demoted_slaves", kGauge, "Slave nodes of the endpoint now demoted.",
        labels, static_cast<double>(health.demoted.size()));
    if (health.counted) {
      const ModbusCounters& c = health.counters;
      const std::pair<const char*, uint32_t> counts[] = {
          {"requests", c.requests},         {"responses", c.answers},
          {"timeouts", c.timeouts},         {"checksum_errors", c.checksumErrors},
          {"mismatches", c.invalidResponses}, {"late_answers_discarded", c.discarded}};
      for (const auto& [what, count] : counts)
        Add(std::string("pelmoran_endpoint_") + what + "_total", kCounter,
            std::string("Exchanges counted on the wire since the connection opened: ") + what +
                ".",
            labels, count);
    }
    Outcome("pelmoran_endpoint", labels, outcomes[name]);
  }
}

void MetricsText::Slaves(Runtime& runtime) {
  for (const SlaveHealth& slave : SlaveHealth::Of(runtime)) {
    const Labels labels{{"endpoint", slave.endpoint}, {"slave", std::to_string(slave.slave)}};
    const ScanCounters& c = slave.counters;
    Add("pelmoran_slave_demoted", kGauge, "1 while the slave node is demoted.", labels,
        slave.demoted ? 1 : 0);
    const std::pair<const char*, uint32_t> counts[] = {{"requests", slave.requests},
                                                       {"responses", c.responses},
                                                       {"timeouts", c.timeouts},
                                                       {"checksum_errors", c.checksumErrors},
                                                       {"mismatches", c.mismatches}};
    for (const auto& [what, count] : counts)
      Add(std::string("pelmoran_slave_") + what + "_total", kCounter,
          std::string("The slave node's exchanges counted by the program: ") + what + ".", labels,
          count);
    Outcome("pelmoran_slave", labels, c);
  }
}

void MetricsText::Outcome(const std::string& prefix, const Labels& labels, const ScanCounters& c) {
  Add(prefix + "_exceptions_total", kCounter, "Modbus exception answers.", labels, c.exceptions);
  Add(prefix + "_last_round_trip_seconds", kGauge,
      "From sending the last request to handling its answer.", labels, Seconds(c.lastRoundTripMs));
  Add(prefix + "_last_error_status", kGauge, "The last status other than 0; 0 for none.", labels,
      c.lastError);
}

void MetricsText::Scans(Runtime& runtime, int64_t steadyMs) {
  std::set<int32_t> keys;
  for (int i = 0; i < runtime.GetDocumentCount(); ++i) {
    const CPelmoranDoc* doc = runtime.m_docTemplate.GetDocument(i);
    keys.insert(doc->m_nKey);
    ScanRate& rate = m_rates[doc->m_nKey];
    // The period between two scrapes: polls are counted as they go out.
    if (rate.atMs != 0 && doc->m_nNumbrPolls > rate.polls)
      rate.periodMs = static_cast<double>(steadyMs - rate.atMs) / (doc->m_nNumbrPolls - rate.polls);
    rate.polls = doc->m_nNumbrPolls;
    rate.atMs = steadyMs;
    const Labels labels{{"endpoint", doc->m_strEndpoint}, {"scan", std::to_string(doc->m_nKey)}};
    Add("pelmoran_scan_status", kGauge, "The scan's status code; 0 is OK.", labels,
        doc->m_scan.m_nStatus);
    Add("pelmoran_scan_polls_total", kCounter, "Polls sent.", labels, doc->m_nNumbrPolls);
    if (doc->m_lastGoodTime > 0)
      Add("pelmoran_scan_last_good_timestamp_seconds", kGauge,
          "When the scan last had a good answer, in seconds since the Unix epoch.", labels,
          static_cast<double>(doc->m_lastGoodTime - kUnixEpochTicks) / kTicksPerSecond);
    Add("pelmoran_scan_actual_poll_period_seconds", kGauge,
        "The poll period the scan actually gets, over the time since the last scrape.", labels,
        Seconds(static_cast<int64_t>(rate.periodMs)));
  }
  std::erase_if(m_rates, [&](const auto& entry) { return !keys.count(entry.first); });
  Add("pelmoran_scans", kGauge, "Open scans.", {}, static_cast<double>(keys.size()));
}

void MetricsText::Mqtt(const ProgramFigures& figures) {
  Add("pelmoran_mqtt_enabled", kGauge, "1 when the settings enable the MQTT publisher.", {},
      figures.mqttEnabled ? 1 : 0);
  if (!figures.mqtt) return;
  const mqtt::PublisherCounters& c = *figures.mqtt;
  Add("pelmoran_mqtt_connected", kGauge, "1 while the broker is connected.", {},
      c.connected ? 1 : 0);
  const std::pair<const char*, uint64_t> counts[] = {
      {"connects", c.connects},           {"published_messages", c.published},
      {"acknowledged_messages", c.acknowledged}, {"spooled_changes", c.spooled},
      {"spool_dropped_changes", c.spoolDropped}, {"commands", c.commands},
      {"commands_refused", c.commandsRefused}};
  for (const auto& [what, count] : counts)
    Add(std::string("pelmoran_mqtt_") + what + "_total", kCounter,
        std::string("The MQTT publisher's count: ") + what + ".", {},
        static_cast<double>(count));
}

// The figures Prometheus' own clients give every process, named as they name them.
void MetricsText::Process() {
  std::ifstream statFile("/proc/self/stat");
  std::string stat((std::istreambuf_iterator<char>(statFile)), std::istreambuf_iterator<char>());
  // The fields after the command's name, which may hold blanks, from field 3 on.
  std::istringstream fields(stat.substr(std::min(stat.rfind(')') + 2, stat.size())));
  std::vector<std::string> field((std::istream_iterator<std::string>(fields)),
                                 std::istream_iterator<std::string>());
  const double ticks = static_cast<double>(sysconf(_SC_CLK_TCK));
  const double pageBytes = static_cast<double>(sysconf(_SC_PAGESIZE));
  // Field n of the man page is field[n - 3].
  constexpr size_t kUtime = 11, kStime = 12, kStart = 19, kVsize = 20, kRss = 21;
  if (field.size() > kRss) {
    Add("process_cpu_seconds_total", kCounter, "User and system CPU time spent.", {},
        (std::stod(field[kUtime]) + std::stod(field[kStime])) / ticks);
    Add("process_virtual_memory_bytes", kGauge, "Virtual memory size.", {},
        std::stod(field[kVsize]));
    Add("process_resident_memory_bytes", kGauge, "Resident memory size.", {},
        std::stod(field[kRss]) * pageBytes);
    Add("process_start_time_seconds", kGauge, "Start time since the Unix epoch.", {},
        BootTime() + std::stod(field[kStart]) / ticks);
  }
  double open = 0;
  if (DIR* fds = opendir("/proc/self/fd")) {
    while (readdir(fds) != nullptr) ++open;
    closedir(fds);
    Add("process_open_fds", kGauge, "Open file descriptors.", {}, open - 3);  // ".", "..", its own
  }
  Add("process_max_fds", kGauge, "Limit of open file descriptors.", {},
      static_cast<double>(sysconf(_SC_OPEN_MAX)));
}

}  // namespace web
