#include "runtime/DiagnosticsNodes.h"

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <vector>

#include "link/EndpointHealth.h"
#include "pointdb/PelmoranDoc.h"
#include "pointdb/TagServerBinding.h"
#include "runtime/Runtime.h"

namespace {

VARIANT Bool(bool b) {
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_BOOL;
  v.boolVal = b ? VARIANT_TRUE : VARIANT_FALSE;
  return v;
}

VARIANT UInt(uint32_t n) {
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_UI4;
  v.ulVal = n;
  return v;
}

VARIANT Real(double d) {
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_R8;
  v.dblVal = d;
  return v;
}

// Owned by the caller, who clears it.
VARIANT Text(const std::string& s) {
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_BSTR;
  v.bstrVal = SysAllocString(s.c_str());
  return v;
}

std::string TextOf(const VARIANT& value) {
  VARIANT text;
  VariantInit(&text);
  std::string out = std::to_string(value.vt) + ":";
  if (VariantChangeType(&text, &value, 0, VT_BSTR) == S_OK && text.bstrVal) out += text.bstrVal;
  VariantClear(&text);
  return out;
}

// OPC UA ticks as ISO 8601 UTC text with milliseconds; "" for none.
std::string IsoTime(int64_t ticks) {
  if (ticks == 0) return "";
  constexpr int64_t kUnixEpochTicks = 116444736000000000LL;
  constexpr int64_t kTicksPerMs = 10000;
  int64_t ms = (ticks - kUnixEpochTicks) / kTicksPerMs;
  std::time_t seconds = static_cast<std::time_t>(ms / 1000);
  std::tm utc{};
  gmtime_r(&seconds, &utc);
  char text[80];
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", utc.tm_year + 1900,
                utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec,
                static_cast<int>(ms % 1000));
  return text;
}

}  // namespace

DiagnosticsNodes::~DiagnosticsNodes() {
  m_seen.clear();
  RemoveUnseen();
}

void DiagnosticsNodes::Refresh(int64_t steadyMs) {
  m_seen.clear();
  RefreshEndpoints();
  RefreshScans(steadyMs);
  RefreshDevices();
  RemoveUnseen();
}

void DiagnosticsNodes::RefreshEndpoints() {
  for (const std::string& name : m_runtime.m_endpoints.GetEndpointNames()) {
    const CModbusConnection* endpoint = m_runtime.m_endpoints.FindEndpoint(name);
    if (!endpoint) continue;
    std::string base = kPrefix + name + ".";
    EndpointHealth health = EndpointHealth::Of(*endpoint);
    Set(base + "Connected", Bool(health.connected && !health.deviceLost));
    VARIANT demoted = Text(health.DemotedText());
    Set(base + "DemotedSlaves", demoted);
    VariantClear(&demoted);
    SetLibraryCounters(base, health);
  }
}

// Counted on the wire by the library, since its connection was opened; while
// there is none the variables keep what they last said.
void DiagnosticsNodes::SetLibraryCounters(const std::string& base, const EndpointHealth& health) {
  const std::pair<const char*, uint32_t> counts[] = {
      {"Requests", health.counters.requests},
      {"Responses", health.counters.answers},
      {"Timeouts", health.counters.timeouts},
      {"ChecksumErrors", health.counters.checksumErrors},
      {"Mismatches", health.counters.invalidResponses},
      {"LateAnswersDiscarded", health.counters.discarded},
  };
  for (const auto& [name, count] : counts) {
    if (health.counted) {
      Set(base + name, UInt(count));
    } else if (m_published.count(base + name)) {
      m_seen.insert(base + name);
    }
  }
}

void DiagnosticsNodes::RefreshScans(int64_t steadyMs) {
  std::set<int32_t> keys;
  for (int i = 0; i < m_runtime.GetDocumentCount(); ++i) {
    const CPelmoranDoc* doc = m_runtime.m_docTemplate.GetDocument(i);
    keys.insert(doc->m_nKey);
    std::string base = kPrefix + doc->m_strEndpoint + ".Scan" + std::to_string(doc->m_nKey) + ".";
    ScanRate& rate = m_rates[doc->m_nKey];
    // The period over the last refresh: polls are counted as they go out.
    if (rate.atMs != 0 && doc->m_nNumbrPolls > rate.polls)
      rate.periodMs = static_cast<double>(steadyMs - rate.atMs) / (doc->m_nNumbrPolls - rate.polls);
    rate.polls = doc->m_nNumbrPolls;
    rate.atMs = steadyMs;
    Set(base + "Status", UInt(static_cast<uint32_t>(doc->m_scan.m_nStatus)));
    VARIANT text =
        Text(doc->m_scan.Status() == ScanStatus::Ok ? "OK" : doc->m_scan.GetStatusText());
    Set(base + "StatusText", text);
    VariantClear(&text);
    Set(base + "Polls", UInt(static_cast<uint32_t>(doc->m_nNumbrPolls)));
    VARIANT lastGood = Text(IsoTime(doc->m_lastGoodTime));
    Set(base + "LastGoodTime", lastGood);
    VariantClear(&lastGood);
    Set(base + "ActualPollPeriodMs", Real(rate.periodMs));
  }
  std::erase_if(m_rates, [&](const auto& entry) { return !keys.count(entry.first); });
}

void DiagnosticsNodes::RefreshDevices() {
  struct Sum {
    uint32_t requests = 0;
    ScanCounters counters;
  };
  std::map<std::string, Sum> sums;  // by variable name prefix
  std::set<std::string> slaves;
  for (int i = 0; i < m_runtime.GetDocumentCount(); ++i) {
    const CPelmoranDoc* doc = m_runtime.m_docTemplate.GetDocument(i);
    std::string endpoint = kPrefix + doc->m_strEndpoint + ".";
    std::string slave = endpoint + "NODE" + std::to_string(doc->m_scan.m_nSlaveNode) + ".";
    for (const std::string& prefix : {endpoint, slave}) {
      sums[prefix].requests += static_cast<uint32_t>(doc->m_nNumbrPolls);
      sums[prefix].counters.Add(doc->m_counters);
    }
    slaves.insert(slave);
    SetSlaveDemoted(*doc, slave);
  }
  for (const auto& [prefix, sum] : sums) {
    bool slave = slaves.count(prefix) != 0;
    SetCounters(prefix, slave, sum.requests, sum.counters);
  }
}

void DiagnosticsNodes::SetSlaveDemoted(const CPelmoranDoc& doc, const std::string& prefix) {
  const CModbusConnection* endpoint = m_runtime.m_endpoints.FindEndpoint(doc.m_strEndpoint);
  if (endpoint)
    Set(prefix + "Demoted", Bool(endpoint->m_demotion.IsDemoted(doc.m_scan.m_nSlaveNode)));
}

// An endpoint's exchanges are the library's to count (SetLibraryCounters);
// a slave's only the program can tell apart.
void DiagnosticsNodes::SetCounters(const std::string& prefix, bool slave, uint32_t requests,
                                   const ScanCounters& c) {
  if (slave) {
    Set(prefix + "Requests", UInt(requests));
    Set(prefix + "Responses", UInt(c.responses));
    Set(prefix + "Timeouts", UInt(c.timeouts));
    Set(prefix + "ChecksumErrors", UInt(c.checksumErrors));
    Set(prefix + "Mismatches", UInt(c.mismatches));
  }
  Set(prefix + "Exceptions", UInt(c.exceptions));
  Set(prefix + "LastRoundTripMs",
      Real(static_cast<double>(std::max<int64_t>(c.lastRoundTripMs, 0))));
  CModbusMsg error;
  error.m_nStatus = c.lastError;
  VARIANT text = Text(c.lastError == 0 ? "" : error.GetStatusText());
  Set(prefix + "LastError", text);
  VariantClear(&text);
}

void DiagnosticsNodes::Set(const std::string& name, VARIANT value) {
  m_seen.insert(name);
  const TagServerBinding& server = TagServer();
  std::string text = TextOf(value);
  auto it = m_published.find(name);
  if (it == m_published.end()) {
    int32_t handle =
        server.CreateOPCTag ? server.CreateOPCTag(name.c_str(), value, OPC_QUALITY_GOOD, 0) : -1;
    m_published[name] = Published{handle, text};
    return;
  }
  if (it->second.text == text || it->second.handle == -1) return;
  it->second.text = text;
  if (server.UpdateOPCTag) server.UpdateOPCTag(it->second.handle, value, OPC_QUALITY_GOOD);
}

void DiagnosticsNodes::RemoveUnseen() {
  const TagServerBinding& server = TagServer();
  for (auto it = m_published.begin(); it != m_published.end();) {
    if (m_seen.count(it->first)) {
      ++it;
      continue;
    }
    if (it->second.handle != -1 && server.RemoveOPCTag) server.RemoveOPCTag(it->second.handle);
    it = m_published.erase(it);
  }
}
