#include "runtime/DiagnosticsNodes.h"

#include <algorithm>
#include <vector>

#include "link/EndpointHealth.h"
#include "pointdb/PelmoranDoc.h"
#include "pointdb/TagServerBinding.h"
#include "runtime/Runtime.h"
#include "runtime/SlaveHealth.h"

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

VARIANT Date(int64_t ticks) {
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_DATE;
  v.date = VariantTimeFromFileTime(ticks);
  return v;
}

// The node id of a folder, or of a variable in it.
std::string IdOf(const std::vector<std::string>& path, const std::string& name = "") {
  std::string id;
  for (const std::string& part : path) id += (id.empty() ? "" : ".") + part;
  return name.empty() ? id : id + "." + name;
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
    FolderPath folder{kFolder, name};
    EndpointHealth health = EndpointHealth::Of(*endpoint);
    Set(folder, "Connected", Bool(health.connected && !health.deviceLost));
    SetText(folder, "DemotedSlaves", health.DemotedText());
    SetLibraryCounters(folder, health);
  }
}

// Counted on the wire by the library, since its connection was opened; while
// there is none the variables keep what they last said.
void DiagnosticsNodes::SetLibraryCounters(const FolderPath& endpoint,
                                          const EndpointHealth& health) {
  const std::pair<const char*, uint32_t> counts[] = {
      {"Requests", health.counters.requests},
      {"Responses", health.counters.answers},
      {"Timeouts", health.counters.timeouts},
      {"ChecksumErrors", health.counters.checksumErrors},
      {"Mismatches", health.counters.invalidResponses},
      {"LateAnswersDiscarded", health.counters.discarded},
      {"LinkLosses", health.counters.linkLosses},
  };
  for (const auto& [name, count] : counts) {
    std::string id = IdOf(endpoint, name);
    if (health.counted) {
      Set(endpoint, name, UInt(count));
    } else if (m_published.count(id)) {
      m_seen.insert(id);
    }
  }
}

void DiagnosticsNodes::RefreshScans(int64_t steadyMs) {
  std::set<int32_t> keys;
  for (int i = 0; i < m_runtime.GetDocumentCount(); ++i) {
    const CPelmoranDoc* doc = m_runtime.m_docTemplate.GetDocument(i);
    keys.insert(doc->m_nKey);
    FolderPath folder{kFolder, doc->m_strEndpoint, "Scan" + std::to_string(doc->m_nKey)};
    ScanRate& rate = m_rates[doc->m_nKey];
    // The period over the last refresh: polls are counted as they go out.
    if (rate.atMs != 0 && doc->m_nNumbrPolls > rate.polls)
      rate.periodMs = static_cast<double>(steadyMs - rate.atMs) / (doc->m_nNumbrPolls - rate.polls);
    rate.polls = doc->m_nNumbrPolls;
    rate.atMs = steadyMs;
    Set(folder, "Status", UInt(static_cast<uint32_t>(doc->m_scan.m_nStatus)));
    SetText(folder, "StatusText",
            doc->m_scan.Status() == ScanStatus::Ok ? "OK" : doc->m_scan.GetStatusText());
    Set(folder, "Polls", UInt(static_cast<uint32_t>(doc->m_nNumbrPolls)));
    Set(folder, "LastGoodTime", Date(doc->m_lastGoodTime));
    Set(folder, "ActualPollPeriodMs", Real(rate.periodMs));
  }
  std::erase_if(m_rates, [&](const auto& entry) { return !keys.count(entry.first); });
}

void DiagnosticsNodes::RefreshDevices() {
  for (const SlaveHealth& slave : SlaveHealth::Of(m_runtime)) {
    FolderPath folder{kFolder, slave.endpoint, "NODE" + std::to_string(slave.slave)};
    const ScanCounters& c = slave.counters;
    Set(folder, "Demoted", Bool(slave.demoted));
    Set(folder, "Requests", UInt(slave.requests));
    Set(folder, "Responses", UInt(c.responses));
    Set(folder, "Timeouts", UInt(c.timeouts));
    Set(folder, "ChecksumErrors", UInt(c.checksumErrors));
    Set(folder, "Mismatches", UInt(c.mismatches));
    Set(folder, "LinkLosses", UInt(c.linkLosses));
    SetOutcome(folder, c);
  }
  // An endpoint's exchanges are the library's to count (SetLibraryCounters);
  // what only the program sees is summed over its scans in opening order.
  std::map<std::string, ScanCounters> endpoints;
  for (int i = 0; i < m_runtime.GetDocumentCount(); ++i) {
    const CPelmoranDoc* doc = m_runtime.m_docTemplate.GetDocument(i);
    endpoints[doc->m_strEndpoint].Add(doc->m_counters);
  }
  for (const auto& [name, counters] : endpoints) SetOutcome({kFolder, name}, counters);
}

void DiagnosticsNodes::SetOutcome(const FolderPath& folder, const ScanCounters& c) {
  Set(folder, "Exceptions", UInt(c.exceptions));
  Set(folder, "LastRoundTripMs",
      Real(static_cast<double>(std::max<int64_t>(c.lastRoundTripMs, 0))));
  CModbusMsg error;
  error.m_nStatus = c.lastError;
  SetText(folder, "LastError", c.lastError == 0 ? "" : error.GetStatusText());
}

void DiagnosticsNodes::SetText(const FolderPath& folder, const std::string& name,
                               const std::string& text) {
  VARIANT value = Text(text);
  Set(folder, name, value);
  VariantClear(&value);
}

void DiagnosticsNodes::Set(const FolderPath& folder, const std::string& name, VARIANT value) {
  int32_t parent = Folder(folder);
  std::string id = IdOf(folder, name);
  m_seen.insert(id);
  const TagServerBinding& server = TagServer();
  std::string text = TextOf(value);
  auto it = m_published.find(id);
  if (it == m_published.end()) {
    bool create = parent != -1 && server.CreateOPCFolderTag;
    int32_t handle =
        create ? server.CreateOPCFolderTag(parent, name.c_str(), value, OPC_QUALITY_GOOD, 0) : -1;
    m_published[id] = Published{handle, text};
    return;
  }
  if (it->second.text == text || it->second.handle == -1) return;
  it->second.text = text;
  if (server.UpdateOPCTag) server.UpdateOPCTag(it->second.handle, value, OPC_QUALITY_GOOD);
}

// The folder's handle, made with its parents as needed; -1 when the library
// has none to give.
int32_t DiagnosticsNodes::Folder(const FolderPath& path) {
  const TagServerBinding& server = TagServer();
  int32_t parent = OPC_TAG_FOLDER;
  FolderPath upTo;
  for (const std::string& name : path) {
    upTo.push_back(name);
    std::string id = IdOf(upTo);
    m_seen.insert(id);
    auto it = m_folders.find(id);
    if (it == m_folders.end()) {
      bool create = parent != -1 && server.CreateOPCFolder;
      it = m_folders.emplace(id, create ? server.CreateOPCFolder(parent, name.c_str()) : -1).first;
    }
    parent = it->second;
  }
  return parent;
}

// Variables first, then folders from the deepest up, so that no removal
// takes anything still published with it.
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
  for (auto it = m_folders.rbegin(); it != m_folders.rend();) {
    if (m_seen.count(it->first)) {
      ++it;
      continue;
    }
    if (it->second != -1 && server.RemoveOPCFolder) server.RemoveOPCFolder(it->second);
    it = std::make_reverse_iterator(m_folders.erase(std::next(it).base()));
  }
}
