#include "ui/ProjectTree.h"

#include <QAction>
#include <QApplication>
#include <QHeaderView>
#include <QStyle>
#include <QTimer>
#include <QTreeWidget>
#include <map>
#include <set>

#include "link/EndpointHealth.h"
#include "pointdb/PelmoranDoc.h"
#include "pointdb/ReadPlanner.h"
#include "runtime/PlanReport.h"
#include "runtime/Runtime.h"

namespace {

constexpr int kKindRole = Qt::UserRole;
constexpr int kKeyRole = Qt::UserRole + 1;  // endpoint name, slave node or document

enum class State { kGood, kWarning, kFailing };

QIcon StateIcon(State state) {
  QStyle* style = QApplication::style();
  switch (state) {
    case State::kGood: return style->standardIcon(QStyle::SP_DialogApplyButton);
    case State::kWarning: return style->standardIcon(QStyle::SP_MessageBoxWarning);
    default: return style->standardIcon(QStyle::SP_MessageBoxCritical);
  }
}

void Show(QTreeWidgetItem& item, State state, const QString& text) {
  if (item.text(ProjectTree::kState) == text) return;
  item.setText(ProjectTree::kState, text);
  item.setIcon(ProjectTree::kName, StateIcon(state));
  item.setToolTip(ProjectTree::kState, text);
}

bool IsGood(const CPelmoranDoc& doc) { return doc.m_scan.Status() == ScanStatus::Ok; }

QString Reason(const CPelmoranDoc& doc) { return QString::fromStdString(doc.m_scan.GetStatusText()); }

// The map's item says what its plan costs; the whole plan is its tooltip.
void AddMap(QTreeWidgetItem& device, const DeviceMap& map) {
  const DevicePlan plan = PlanReads(map);
  const QString summary = QString("%1 tags in %2 reads").arg(map.tags.size()).arg(plan.reads.size());
  auto* item = new QTreeWidgetItem(&device, {"Register map", summary});
  item->setData(ProjectTree::kName, kKindRole, static_cast<int>(ProjectTree::Kind::kRegisterMap));
  item->setToolTip(ProjectTree::kName, QString::fromStdString(DescribePlan(map, plan)));
  item->setToolTip(ProjectTree::kState, item->toolTip(ProjectTree::kName));
  for (const MapTag& tag : map.tags) {
    auto* row = new QTreeWidgetItem(item, {QString::fromStdString(tag.name),
                                           QString::fromStdString(tag.address)});
    row->setToolTip(ProjectTree::kName, QString::fromStdString(tag.description));
  }
}

}  // namespace

ProjectTree::ProjectTree(Runtime& runtime, QWidget* parent)
    : QDockWidget("Project", parent), m_runtime(runtime), m_pTree(new QTreeWidget) {
  setObjectName("ProjectTree");
  m_pTree->setObjectName("projectTree");
  m_pTree->setHeaderLabels({"Name", "State"});
  m_pTree->header()->setSectionResizeMode(kName, QHeaderView::ResizeToContents);
  m_pTree->header()->setStretchLastSection(true);
  setWidget(m_pTree);
  connect(m_pTree, &QTreeWidget::itemDoubleClicked, this, [this](QTreeWidgetItem* item) {
    if (CPelmoranDoc* doc = Live(item)) emit openRequested(doc);
  });
  connect(m_pTree, &QTreeWidget::currentItemChanged, this, &ProjectTree::selectionChanged);
  auto* open = new QAction("Open", m_pTree);
  connect(open, &QAction::triggered, this, [this] {
    if (CPelmoranDoc* doc = SelectedScan()) emit openRequested(doc);
  });
  auto* remove = new QAction("Delete...", m_pTree);
  connect(remove, &QAction::triggered, this, &ProjectTree::deleteRequested);
  m_pTree->addActions({open, remove});
  m_pTree->setContextMenuPolicy(Qt::ActionsContextMenu);
  auto* timer = new QTimer(this);
  timer->setInterval(kRefreshMs);
  connect(timer, &QTimer::timeout, this, &ProjectTree::Refresh);
  timer->start();
  Refresh();
}

ProjectTree::Kind ProjectTree::KindOf(const QTreeWidgetItem& item) {
  return static_cast<Kind>(item.data(kName, kKindRole).toInt());
}

QStringList ProjectTree::Shape() const {
  QStringList shape;
  for (const auto& endpoint : m_runtime.m_endpoints.m_endpoints)
    shape << QString::fromStdString(endpoint->m_strName);
  const DocTemplate& docs = m_runtime.m_docTemplate;
  for (int i = 0; i < docs.GetDocumentCount(); ++i) {
    const CPelmoranDoc* doc = docs.GetDocument(i);
    shape << QString("%1/%2/%3/%4")
                 .arg(QString::fromStdString(doc->m_strEndpoint))
                 .arg(doc->m_scan.m_nSlaveNode)
                 .arg(reinterpret_cast<quintptr>(doc))
                 .arg(QString::fromStdString(doc->m_strTitle));
  }
  for (const DeviceMap& map : m_runtime.m_deviceMaps.All())
    shape << QString("map/%1/%2/%3/%4")
                 .arg(QString::fromStdString(map.endpoint))
                 .arg(map.slave)
                 .arg(QString::fromStdString(map.DisplayName()))
                 .arg(qHash(QString::fromStdString(DescribePlan(map, PlanReads(map)))));
  return shape;
}

void ProjectTree::Refresh() {
  const QStringList shape = Shape();
  if (shape != m_shape) {
    m_shape = shape;
    Rebuild();
  }
  ShowStates();
}

void ProjectTree::Rebuild() {
  const CPelmoranDoc* selectedScan = SelectedScan();
  const std::string selectedEndpoint = SelectedEndpoint();
  m_pTree->clear();
  std::map<std::string, QTreeWidgetItem*> endpoints;
  auto endpointItem = [&](const std::string& name) {
    QTreeWidgetItem*& item = endpoints[name];
    if (!item) {
      item = new QTreeWidgetItem(m_pTree, {QString::fromStdString(name)});
      item->setData(kName, kKindRole, static_cast<int>(Kind::kEndpoint));
      item->setData(kName, kKeyRole, QString::fromStdString(name));
      item->setExpanded(true);
      if (name == selectedEndpoint) m_pTree->setCurrentItem(item);
    }
    return item;
  };
  for (const auto& endpoint : m_runtime.m_endpoints.m_endpoints) endpointItem(endpoint->m_strName);
  std::map<std::pair<QTreeWidgetItem*, int>, QTreeWidgetItem*> devices;
  auto deviceItem = [&](const std::string& endpoint, int slave) {
    QTreeWidgetItem* parent = endpointItem(endpoint);
    QTreeWidgetItem*& device = devices[{parent, slave}];
    if (!device) {
      device = new QTreeWidgetItem(parent, {QString("Slave %1").arg(slave)});
      device->setData(kName, kKindRole, static_cast<int>(Kind::kDevice));
      device->setData(kName, kKeyRole, slave);
      device->setExpanded(true);
    }
    return device;
  };
  for (const DeviceMap& map : m_runtime.m_deviceMaps.All()) {
    QTreeWidgetItem* device = deviceItem(map.endpoint, map.slave);
    device->setText(kName, QString("Slave %1 (%2)")
                               .arg(map.slave)
                               .arg(QString::fromStdString(map.DisplayName())));
    AddMap(*device, map);
  }
  const DocTemplate& docs = m_runtime.m_docTemplate;
  for (int i = 0; i < docs.GetDocumentCount(); ++i) {
    CPelmoranDoc* doc = docs.GetDocument(i);
    QTreeWidgetItem* device = deviceItem(doc->m_strEndpoint, doc->m_scan.m_nSlaveNode);
    auto* scan = new QTreeWidgetItem(device, {QString::fromStdString(doc->m_strTitle)});
    scan->setData(kName, kKindRole, static_cast<int>(Kind::kScan));
    scan->setData(kName, kKeyRole, QVariant::fromValue(reinterpret_cast<quintptr>(doc)));
    if (doc == selectedScan) m_pTree->setCurrentItem(scan);
  }
}

void ProjectTree::ShowStates() {
  for (int e = 0; e < m_pTree->topLevelItemCount(); ++e) {
    QTreeWidgetItem* endpointItem = m_pTree->topLevelItem(e);
    const std::string name = endpointItem->data(kName, kKeyRole).toString().toStdString();
    const CModbusConnection* endpoint = m_runtime.m_endpoints.FindEndpoint(name);
    std::set<int> demoted;
    QString failing;
    for (int d = 0; d < endpointItem->childCount(); ++d) {
      QTreeWidgetItem* deviceItem = endpointItem->child(d);
      QString reason;
      for (int s = 0; s < deviceItem->childCount(); ++s) {
        QTreeWidgetItem* scanItem = deviceItem->child(s);
        const CPelmoranDoc* doc = Live(scanItem);
        if (!doc) continue;
        if (IsGood(*doc)) {
          Show(*scanItem, State::kGood, "OK");
        } else {
          Show(*scanItem, State::kFailing, "Failing: " + Reason(*doc));
          if (reason.isEmpty()) reason = Reason(*doc);
        }
      }
      const int slave = deviceItem->data(kName, kKeyRole).toInt();
      const EndpointHealth health = endpoint ? EndpointHealth::Of(*endpoint) : EndpointHealth{};
      const bool isDemoted = std::find(health.demoted.begin(), health.demoted.end(), slave) !=
                             health.demoted.end();
      if (isDemoted) {
        demoted.insert(slave);
        Show(*deviceItem, State::kWarning, "Demoted: it kept timing out");
      } else if (!reason.isEmpty()) {
        Show(*deviceItem, State::kFailing, "Failing: " + reason);
      } else {
        Show(*deviceItem, State::kGood, "Answering");
      }
      if (failing.isEmpty()) failing = reason;
    }
    if (!endpoint) {
      Show(*endpointItem, State::kFailing, "No such endpoint: its scans are not polled");
      continue;
    }
    const EndpointHealth health = EndpointHealth::Of(*endpoint);
    QString text = QString::fromStdString(health.StateText());
    // Never "Connected" alone while a device behind it is held back.
    if (!health.demoted.empty())
      text += ", demoted: slave " + QString::fromStdString(health.DemotedText());
    else if (!health.connected && !failing.isEmpty())
      text += ": " + failing;
    const State state = !health.connected || health.deviceLost ? State::kFailing
                        : health.demoted.empty()               ? State::kGood
                                                               : State::kWarning;
    Show(*endpointItem, state, text);
  }
}

CPelmoranDoc* ProjectTree::Live(const QTreeWidgetItem* item) const {
  if (!item || KindOf(*item) != Kind::kScan) return nullptr;
  const auto key = item->data(kName, kKeyRole).value<quintptr>();
  const DocTemplate& docs = m_runtime.m_docTemplate;
  for (int i = 0; i < docs.GetDocumentCount(); ++i)
    if (reinterpret_cast<quintptr>(docs.GetDocument(i)) == key) return docs.GetDocument(i);
  return nullptr;
}

CPelmoranDoc* ProjectTree::SelectedScan() const { return Live(m_pTree->currentItem()); }

std::string ProjectTree::SelectedEndpoint() const {
  const QTreeWidgetItem* item = m_pTree->currentItem();
  if (!item || KindOf(*item) != Kind::kEndpoint) return {};
  return item->data(kName, kKeyRole).toString().toStdString();
}

void ProjectTree::Select(const CPelmoranDoc& doc) {
  Refresh();
  for (QTreeWidgetItemIterator it(m_pTree); *it; ++it) {
    if (Live(*it) == &doc) {
      m_pTree->setCurrentItem(*it);
      return;
    }
  }
}

void ProjectTree::SelectEndpoint(const std::string& name) {
  Refresh();
  for (int i = 0; i < m_pTree->topLevelItemCount(); ++i)
    if (m_pTree->topLevelItem(i)->data(kName, kKeyRole).toString().toStdString() == name)
      m_pTree->setCurrentItem(m_pTree->topLevelItem(i));
}

QTreeWidgetItem* ProjectTree::DeviceItem(const std::string& endpoint, int slave) const {
  for (QTreeWidgetItemIterator it(m_pTree); *it; ++it) {
    QTreeWidgetItem* item = *it;
    if (KindOf(*item) == Kind::kDevice && item->data(kName, kKeyRole).toInt() == slave &&
        item->parent()->data(kName, kKeyRole).toString().toStdString() == endpoint)
      return item;
  }
  return nullptr;
}
