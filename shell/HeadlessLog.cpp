#include "shell/HeadlessLog.h"

#include <QDateTime>
#include <QTimerEvent>
#include <algorithm>
#include <filesystem>
#include <set>
#include <system_error>

#include "link/EndpointRegistry.h"
#include "pointdb/PelmoranDoc.h"
#include "shell/JournalStream.h"
#include "shell/LibraryLog.h"
#include "ui/PollClock.h"

HeadlessLog::HeadlessLog(EndpointRegistry& frame, std::FILE* out, QObject* parent)
    : QObject(parent), m_frame(frame), m_pOut(out), m_bJournal(JournalStream::Is(out)) {}

HeadlessLog::~HeadlessLog() = default;

void HeadlessLog::Start(const std::string& url, const std::string& configPath) {
  Line("OPC UA endpoint " + (url.empty() ? std::string("(not listening)") : url));
  std::error_code error;
  bool present = std::filesystem::exists(configPath, error);
  Line((present ? "configuration file " : "no configuration file at ") + configPath);
  if (m_nTimer == 0) m_nTimer = startTimer(kEndpointCheckMs);
}

void HeadlessLog::Watch(PollClock& clock) {
  const CPelmoranDoc* doc = &clock.GetDocument();
  m_scans.erase(doc);
  connect(&clock, &PollClock::tagValuesRefreshed, this, [this, doc] { OnScanFinished(*doc); });
}

void HeadlessLog::Forget(const CPelmoranDoc& doc) { m_scans.erase(&doc); }

void HeadlessLog::timerEvent(QTimerEvent* event) {
  if (event->timerId() == m_nTimer) CheckEndpoints();
}

void HeadlessLog::CheckEndpoints() {
  std::set<std::string> present;
  for (const auto& endpoint : m_frame.m_endpoints) {
    present.insert(endpoint->m_strName);
    CheckDemotions(endpoint->m_strName, endpoint->m_demotion.DemotedDevices());
    bool connected = endpoint->IsLinkUp();
    auto known = m_endpoints.find(endpoint->m_strName);
    if (known != m_endpoints.end() && known->second == connected) continue;
    m_endpoints[endpoint->m_strName] = connected;
    Line("endpoint " + endpoint->m_strName + (connected ? " connected" : " not connected"));
  }
  for (auto it = m_endpoints.begin(); it != m_endpoints.end();) {
    if (present.count(it->first) == 0) {
      Line("endpoint " + it->first + " removed");
      it = m_endpoints.erase(it);
    } else {
      ++it;
    }
  }
}

void HeadlessLog::LibraryLine(int level, const std::string& text) {
  Line(LibraryLog::levelPrefix(level) + text, level);
}

void HeadlessLog::CheckDemotions(const std::string& endpoint, const std::vector<uint8_t>& demoted) {
  std::vector<uint8_t>& known = m_demoted[endpoint];
  auto has = [](const std::vector<uint8_t>& slaves, uint8_t slave) {
    return std::find(slaves.begin(), slaves.end(), slave) != slaves.end();
  };
  for (uint8_t slave : demoted)
    if (!has(known, slave))
      Line("device " + std::to_string(slave) + " on " + endpoint + " demoted");
  for (uint8_t slave : known)
    if (!has(demoted, slave))
      Line("device " + std::to_string(slave) + " on " + endpoint + " answers again");
  known = demoted;
}

void HeadlessLog::OnScanFinished(const CPelmoranDoc& doc) {
  int status = doc.m_scan.m_nStatus;
  auto known = m_scans.find(&doc);
  if (known != m_scans.end() && known->second == status) return;
  m_scans[&doc] = status;
  // A connection that changed is told first: it is often why the status did.
  CheckEndpoints();
  Line("scan " + doc.m_strTitle + " on " + doc.m_strEndpoint + ": " +
       StatusText(status, doc.m_scan.GetStatusText()));
}

std::string HeadlessLog::StatusText(int status, const std::string& text) {
  if (status == ToNumber(ScanStatus::Ok)) return "GOOD";
  return text.empty() ? "status " + std::to_string(status) : text;
}

void HeadlessLog::Line(const std::string& text, int level) {
  Write(m_pOut, m_bJournal, level, text);
}

void HeadlessLog::Write(std::FILE* out, bool journal, int level, const std::string& text) {
  // The journal stamps its records itself.
  if (journal && JournalStream::Send(level, text)) return;
  const std::string priority = journal ? JournalStream::Priority(level) : std::string();
  const std::string stamp = QDateTime::currentDateTime().toString(Qt::ISODateWithMs).toStdString();
  std::fprintf(out, "%s%s pelmoran: %s\n", priority.c_str(), stamp.c_str(), text.c_str());
  std::fflush(out);
}
