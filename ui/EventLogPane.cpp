#include "ui/EventLogPane.h"

#include <QComboBox>
#include <QDateTime>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QTimer>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "link/EndpointHealth.h"
#include "link/EndpointRegistry.h"
#include "pointdb/PelmoranDoc.h"
#include "runtime/Runtime.h"

namespace {

constexpr int kSeverityRole = Qt::UserRole;

const char* const kSeverityNames[] = {"info", "warning", "error"};

}  // namespace

EventLogPane::EventLogPane(Runtime& runtime, QWidget* parent)
    : QDockWidget("Event Log", parent),
      m_runtime(runtime),
      m_pList(new QTreeWidget),
      m_pEndpointFilter(new QComboBox),
      m_pSeverityFilter(new QComboBox) {
  setObjectName("EventLogPane");
  m_pList->setHeaderLabels({"Time", "Severity", "Endpoint", "Event"});
  m_pList->setRootIsDecorated(false);
  m_pList->setUniformRowHeights(true);
  m_pList->header()->setStretchLastSection(true);
  m_pEndpointFilter->setObjectName("endpointFilter");
  m_pEndpointFilter->addItem("All endpoints");
  m_pSeverityFilter->setObjectName("severityFilter");
  m_pSeverityFilter->addItems({"Everything", "Warnings and errors", "Errors"});
  connect(m_pEndpointFilter, &QComboBox::currentIndexChanged, this, &EventLogPane::ApplyFilters);
  connect(m_pSeverityFilter, &QComboBox::currentIndexChanged, this, &EventLogPane::ApplyFilters);
  auto* body = new QWidget;
  auto* layout = new QVBoxLayout(body);
  layout->setContentsMargins(2, 2, 2, 2);
  auto* filters = new QHBoxLayout;
  filters->addWidget(m_pEndpointFilter);
  filters->addWidget(m_pSeverityFilter);
  filters->addStretch();
  layout->addLayout(filters);
  layout->addWidget(m_pList);
  setWidget(body);
  auto* timer = new QTimer(this);
  timer->setInterval(kWatchMs);
  connect(timer, &QTimer::timeout, this, &EventLogPane::Watch);
  timer->start();
}

void EventLogPane::Add(Severity severity, const std::string& endpoint, const QString& text) {
  const QDateTime now = QDateTime::currentDateTime();
  const QString who = QString::fromStdString(endpoint);
  const int level = static_cast<int>(severity);
  if (m_writer) {
    QString line = now.toString(Qt::ISODateWithMs) + " " + kSeverityNames[level] + " ";
    if (!who.isEmpty()) line += who + ": ";
    m_writer((line + text).toStdString());
  }
  auto* item = new QTreeWidgetItem(
      {now.toString("yyyy-MM-dd hh:mm:ss"), kSeverityNames[level], who, text});
  item->setData(kSeverity, kSeverityRole, level);
  item->setToolTip(kText, text);
  m_pList->addTopLevelItem(item);
  item->setHidden(!Passes(severity, who));
  while (m_pList->topLevelItemCount() > kMostLines) delete m_pList->takeTopLevelItem(0);
  if (!item->isHidden()) m_pList->scrollToItem(item);
}

void EventLogPane::Watch() {
  FillEndpointFilter();
  WatchEndpoints();
  WatchScans();
}

void EventLogPane::WatchEndpoints() {
  std::map<std::string, EndpointSeen> now;
  for (const auto& endpoint : m_runtime.m_endpoints.m_endpoints) {
    const EndpointHealth health = EndpointHealth::Of(*endpoint);
    EndpointSeen& seen = now[health.name];
    seen.connected = health.connected;
    seen.lost = health.deviceLost;
    seen.demoted.insert(health.demoted.begin(), health.demoted.end());
    const auto before = m_endpoints.find(health.name);
    const EndpointSeen was = before == m_endpoints.end() ? EndpointSeen{} : before->second;
    if (before == m_endpoints.end() || was.connected != seen.connected || was.lost != seen.lost)
      Add(seen.connected && !seen.lost ? Severity::kInfo : Severity::kWarning, health.name,
          QString::fromStdString(health.StateText()));
    for (uint8_t node : seen.demoted)
      if (!was.demoted.count(node))
        Add(Severity::kWarning, health.name, QString("device %1 demoted").arg(node));
    for (uint8_t node : was.demoted)
      if (!seen.demoted.count(node))
        Add(Severity::kInfo, health.name, QString("device %1 answers again").arg(node));
  }
  m_endpoints = std::move(now);
}

void EventLogPane::WatchScans() {
  std::map<const CPelmoranDoc*, int32_t> now;
  const DocTemplate& docs = m_runtime.m_docTemplate;
  for (int i = 0; i < docs.GetDocumentCount(); ++i) {
    const CPelmoranDoc* doc = docs.GetDocument(i);
    const int32_t status = doc->m_scan.m_nStatus;
    now[doc] = status;
    const auto before = m_status.find(doc);
    if (before != m_status.end() && before->second == status) continue;
    const bool good = doc->m_scan.Status() == ScanStatus::Ok;
    Add(good ? Severity::kInfo : Severity::kWarning, doc->m_strEndpoint,
        QString("scan %1: %2")
            .arg(QString::fromStdString(doc->m_strTitle),
                 good ? QString("GOOD") : QString::fromStdString(doc->m_scan.GetStatusText())));
  }
  m_status = std::move(now);
}

void EventLogPane::FillEndpointFilter() {
  const std::vector<std::string> names = m_runtime.m_endpoints.GetEndpointNames();
  if (m_pEndpointFilter->count() == static_cast<int>(names.size()) + 1) return;
  const QString chosen = m_pEndpointFilter->currentText();
  const QSignalBlocker quiet(m_pEndpointFilter);
  while (m_pEndpointFilter->count() > 1) m_pEndpointFilter->removeItem(1);
  for (const std::string& name : names) m_pEndpointFilter->addItem(QString::fromStdString(name));
  m_pEndpointFilter->setCurrentIndex(std::max(0, m_pEndpointFilter->findText(chosen)));
}

bool EventLogPane::Passes(Severity severity, const QString& endpoint) const {
  if (static_cast<int>(severity) < m_pSeverityFilter->currentIndex()) return false;
  // Lines of no endpoint (the program's own) pass every endpoint's filter.
  return m_pEndpointFilter->currentIndex() <= 0 || endpoint.isEmpty() ||
         endpoint == m_pEndpointFilter->currentText();
}

void EventLogPane::ApplyFilters() {
  for (int i = 0; i < m_pList->topLevelItemCount(); ++i) {
    QTreeWidgetItem* item = m_pList->topLevelItem(i);
    const auto severity = static_cast<Severity>(item->data(kSeverity, kSeverityRole).toInt());
    item->setHidden(!Passes(severity, item->text(kEndpoint)));
  }
}
