#include "ui/EndpointsPane.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QPushButton>
#include <QTimer>
#include <QTreeWidget>

#include "link/EndpointHealth.h"
#include "link/EndpointRegistry.h"
#include "link/ModbusConnection.h"

namespace {

QString Count(const EndpointHealth& health, uint32_t value) {
  return health.counted ? QString::number(value) : QString();
}

}  // namespace

EndpointsPane::EndpointsPane(EndpointRegistry& endpoints,
                             std::function<std::string(int)> devicePath, QWidget* parent)
    : QDockWidget("Endpoints", parent),
      m_endpoints(endpoints),
      m_devicePath(std::move(devicePath)),
      m_pList(new QTreeWidget) {
  setObjectName("EndpointsPane");
  m_pList->setColumnCount(kColumns);
  m_pList->setHeaderLabels({"Endpoint", "State", "Device or address", "Demoted", "Requests",
                            "Answers", "Timeouts", "Checksum errors", "Mismatches", "Discarded"});
  m_pList->setRootIsDecorated(false);
  m_pList->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
  auto* reconnect = new QPushButton("Reconnect now");
  reconnect->setObjectName("reconnect");
  connect(reconnect, &QPushButton::clicked, this, &EndpointsPane::OnReconnectNow);
  auto* body = new QWidget;
  auto* layout = new QHBoxLayout(body);
  layout->setContentsMargins(2, 2, 2, 2);
  layout->addWidget(m_pList);
  layout->addWidget(reconnect, 0, Qt::AlignTop);
  setWidget(body);
  auto* timer = new QTimer(this);
  timer->setInterval(kRefreshMs);
  connect(timer, &QTimer::timeout, this, &EndpointsPane::Refresh);
  timer->start();
  Refresh();
}

int EndpointsPane::PreferredHeight() const {
  constexpr int kRowsShown = 4;
  const int row = m_pList->fontMetrics().height() + 6;
  // The pane's own title line and margins come on top of the list.
  const int chrome = fontMetrics().height() + 16;
  return m_pList->header()->sizeHint().height() + kRowsShown * row + 2 * m_pList->frameWidth() +
         chrome;
}

QString EndpointsPane::Where(const CModbusConnection& endpoint) const {
  if (endpoint.m_bTcp) {
    return QString("%1:%2").arg(QString::fromStdString(endpoint.HostText())).arg(endpoint.m_nPort);
  }
  const QString device = m_devicePath ? QString::fromStdString(m_devicePath(endpoint.m_nPort)) : "";
  return QString("COM%1 = %2").arg(endpoint.m_nPort).arg(device);
}

void EndpointsPane::Refresh() {
  const auto& endpoints = m_endpoints.m_endpoints;
  while (m_pList->topLevelItemCount() > static_cast<int>(endpoints.size()))
    delete m_pList->takeTopLevelItem(m_pList->topLevelItemCount() - 1);
  for (size_t row = 0; row < endpoints.size(); ++row) {
    const CModbusConnection& endpoint = *endpoints[row];
    const EndpointHealth health = EndpointHealth::Of(endpoint);
    const ModbusCounters& c = health.counters;
    QTreeWidgetItem* item = m_pList->topLevelItem(static_cast<int>(row));
    if (item == nullptr) item = new QTreeWidgetItem(m_pList);
    const QString texts[kColumns] = {QString::fromStdString(health.name),
                                     QString::fromStdString(health.StateText()),
                                     Where(endpoint),
                                     QString::fromStdString(health.DemotedText()),
                                     Count(health, c.requests),
                                     Count(health, c.answers),
                                     Count(health, c.timeouts),
                                     Count(health, c.checksumErrors),
                                     Count(health, c.invalidResponses),
                                     Count(health, c.discarded)};
    for (int column = 0; column < kColumns; ++column) {
      item->setText(column, texts[column]);
      if (column >= kRequests) item->setTextAlignment(column, Qt::AlignRight | Qt::AlignVCenter);
    }
  }
}

void EndpointsPane::OnReconnectNow() {
  // Serial devices are reopened by the library as soon as they are back;
  // only Modbus/TCP endpoints wait for a timer.
  m_endpoints.ReconnectTcpEndpoints();
  Refresh();
}
