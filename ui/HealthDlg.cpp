#include "ui/HealthDlg.h"

#include <QDialogButtonBox>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QTimer>
#include <QVBoxLayout>

#include "link/EndpointHealth.h"
#include "pointdb/ModbusMsg.h"
#include "runtime/Runtime.h"
#include "runtime/SlaveHealth.h"

namespace {

QString Count(const EndpointHealth& health, uint32_t value) {
  return health.counted ? QString::number(value) : QString();
}

QString StatusText(int32_t status) {
  CModbusMsg message;
  message.m_nStatus = status;
  return status == 0 ? QString() : QString::fromStdString(message.GetStatusText());
}

QStringList SlaveTexts(const SlaveHealth& slave) {
  const ScanCounters& c = slave.counters;
  return {QString::fromStdString(slave.endpoint),
          QString::number(slave.slave),
          QString::number(slave.requests),
          QString::number(c.responses),
          QString::number(c.timeouts),
          QString::number(c.checksumErrors),
          QString::number(c.mismatches),
          QString::number(c.linkLosses),
          QString::number(c.exceptions),
          c.lastRoundTripMs < 0 ? QString() : QString::number(c.lastRoundTripMs),
          slave.demoted ? "Yes" : "No",
          StatusText(c.lastError)};
}

QTableWidget* NewTable(int columns, const QStringList& headers, QWidget* parent) {
  auto* table = new QTableWidget(0, columns, parent);
  table->setHorizontalHeaderLabels(headers);
  table->setEditTriggers(QAbstractItemView::NoEditTriggers);
  table->verticalHeader()->hide();
  return table;
}

}  // namespace

HealthDlg::HealthDlg(Runtime& runtime, QWidget* parent)
    : QDialog(parent),
      m_runtime(runtime),
      m_pTable(NewTable(kColumns,
                        {"Endpoint", "State", "Demoted devices", "Requests", "Answers", "Time-outs",
                         "Checksum errors", "Invalid answers", "Discarded", "Link losses"},
                        this)),
      m_pSlaves(NewTable(kSlaveColumns,
                         {"Endpoint", "Slave node", "Requests", "Responses", "Time-outs",
                          "Checksum errors", "Mismatches", "Link losses", "Exceptions",
                          "Last round trip (ms)", "Demoted", "Last error"},
                         this)) {
  setWindowTitle("Endpoint Health");
  auto* buttons = new QDialogButtonBox(this);
  QPushButton* reconnect = buttons->addButton("Reconnect now", QDialogButtonBox::ActionRole);
  reconnect->setObjectName("reconnect");
  buttons->addButton(QDialogButtonBox::Close);
  connect(reconnect, &QPushButton::clicked, this, &HealthDlg::OnReconnectNow);
  connect(buttons, &QDialogButtonBox::rejected, this, &HealthDlg::reject);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(m_pTable);
  layout->addWidget(new QLabel("Slave nodes, as the scans polling them counted:", this));
  layout->addWidget(m_pSlaves);
  layout->addWidget(buttons);
  resize(900, 460);
  auto* timer = new QTimer(this);
  timer->setObjectName("refresh");
  connect(timer, &QTimer::timeout, this, &HealthDlg::Refresh);
  timer->start(kRefreshMs);
  Refresh();
}

void HealthDlg::Refresh() {
  // Endpoints and scans come and go while the dialog is open: the rows follow them.
  const EndpointRegistry& endpoints = m_runtime.m_endpoints;
  m_pTable->setRowCount(static_cast<int>(endpoints.m_endpoints.size()));
  int row = 0;
  for (const auto& endpoint : endpoints.m_endpoints) ShowRow(row++, EndpointHealth::Of(*endpoint));
  RefreshSlaves();
}

void HealthDlg::ShowRow(int row, const EndpointHealth& health) {
  const ModbusCounters& c = health.counters;
  SetRow(
      *m_pTable, row,
      {QString::fromStdString(health.name), QString::fromStdString(health.StateText()),
       QString::fromStdString(health.DemotedText()), Count(health, c.requests),
       Count(health, c.answers), Count(health, c.timeouts), Count(health, c.checksumErrors),
       Count(health, c.invalidResponses), Count(health, c.discarded), Count(health, c.linkLosses)});
}

void HealthDlg::RefreshSlaves() {
  std::vector<SlaveHealth> slaves = SlaveHealth::Of(m_runtime);
  m_pSlaves->setRowCount(static_cast<int>(slaves.size()));
  int row = 0;
  for (const SlaveHealth& slave : slaves) SetRow(*m_pSlaves, row++, SlaveTexts(slave));
}

void HealthDlg::SetRow(QTableWidget& table, int row, const QStringList& texts) {
  for (int column = 0; column < texts.size(); ++column) {
    QTableWidgetItem* item = table.item(row, column);
    if (item == nullptr) table.setItem(row, column, item = new QTableWidgetItem);
    item->setText(texts[column]);
  }
}

void HealthDlg::OnReconnectNow() {
  // Serial devices are reopened by the library as soon as they are back;
  // only Modbus/TCP endpoints wait for a timer.
  m_runtime.m_endpoints.ReconnectTcpEndpoints();
  Refresh();
}
