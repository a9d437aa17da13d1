#include "ui/HealthDlg.h"

#include <QDialogButtonBox>
#include <QHeaderView>
#include <QPushButton>
#include <QTableWidget>
#include <QTimer>
#include <QVBoxLayout>

#include "link/EndpointHealth.h"
#include "link/EndpointRegistry.h"

namespace {

QString Count(const EndpointHealth& health, uint32_t value) {
  return health.counted ? QString::number(value) : QString();
}

}  // namespace

HealthDlg::HealthDlg(EndpointRegistry& endpoints, QWidget* parent)
    : QDialog(parent), m_endpoints(endpoints), m_pTable(new QTableWidget(0, kColumns, this)) {
  setWindowTitle("Endpoint Health");
  m_pTable->setHorizontalHeaderLabels({"Endpoint", "State", "Demoted devices", "Requests",
                                       "Answers", "Time-outs", "Checksum errors", "Invalid answers",
                                       "Discarded"});
  m_pTable->setEditTriggers(QAbstractItemView::NoEditTriggers);
  m_pTable->verticalHeader()->hide();
  auto* buttons = new QDialogButtonBox(this);
  QPushButton* reconnect = buttons->addButton("Reconnect now", QDialogButtonBox::ActionRole);
  reconnect->setObjectName("reconnect");
  buttons->addButton(QDialogButtonBox::Close);
  connect(reconnect, &QPushButton::clicked, this, &HealthDlg::OnReconnectNow);
  connect(buttons, &QDialogButtonBox::rejected, this, &HealthDlg::reject);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(m_pTable);
  layout->addWidget(buttons);
  resize(760, 260);
  auto* timer = new QTimer(this);
  timer->setObjectName("refresh");
  connect(timer, &QTimer::timeout, this, &HealthDlg::Refresh);
  timer->start(kRefreshMs);
  Refresh();
}

void HealthDlg::Refresh() {
  // Endpoints come and go while the dialog is open: the rows follow them.
  m_pTable->setRowCount(static_cast<int>(m_endpoints.m_endpoints.size()));
  int row = 0;
  for (const auto& endpoint : m_endpoints.m_endpoints)
    ShowRow(row++, EndpointHealth::Of(*endpoint));
}

void HealthDlg::ShowRow(int row, const EndpointHealth& health) {
  const ModbusCounters& c = health.counters;
  const QString texts[kColumns] = {QString::fromStdString(health.name),
                                   QString::fromStdString(health.StateText()),
                                   QString::fromStdString(health.DemotedText()),
                                   Count(health, c.requests),
                                   Count(health, c.answers),
                                   Count(health, c.timeouts),
                                   Count(health, c.checksumErrors),
                                   Count(health, c.invalidResponses),
                                   Count(health, c.discarded)};
  for (int column = 0; column < kColumns; ++column) {
    QTableWidgetItem* item = m_pTable->item(row, column);
    if (item == nullptr) m_pTable->setItem(row, column, item = new QTableWidgetItem);
    item->setText(texts[column]);
  }
}

void HealthDlg::OnReconnectNow() {
  // Serial devices are reopened by the library as soon as they are back;
  // only Modbus/TCP endpoints wait for a timer.
  m_endpoints.ReconnectTcpEndpoints();
  Refresh();
}
