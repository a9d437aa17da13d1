#include "ui/DebugDlg.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLineEdit>
#include <QPalette>
#include <QPushButton>
#include <QTimer>

#include "ui/DataExchange.h"

CDebugDlg::CDebugDlg(QWidget* parent) : ExchangeDialog(parent) {
  setWindowTitle("Debug Dialog");
  auto* form = new QFormLayout(this);
  const std::pair<const char*, ControlId> rows[] = {
      {"Polls Sent:", ControlId::kNumbrPolls},
      {"Scan In Progress:", ControlId::kScanInProgress},
      {"Poll Frequency (ms):", ControlId::kPollFrequency},
      {"Port:", ControlId::kPort},
      {"Slave Node:", ControlId::kSlaveId},
      {"Function Code:", ControlId::kMsgType},
      {"Point Address:", ControlId::kAddress},
      {"Scan Length:", ControlId::kLength}};
  // Disabled, as nothing here can be changed, yet drawn in the colours of an
  // enabled edit: the style's grey on grey is too faint to read.
  QPalette readable = palette();
  for (auto role : {QPalette::Text, QPalette::Base, QPalette::WindowText})
    readable.setColor(QPalette::Disabled, role, readable.color(QPalette::Active, role));
  for (const auto& [label, id] : rows) {
    QLineEdit* edit = AddEdit(id);
    edit->setEnabled(false);
    edit->setPalette(readable);
    edit->setAlignment(Qt::AlignRight);
    form->addRow(label, edit);
  }
  // The one button carries the cancel command: it, Escape and the close box
  // all end the dialog the same way.
  auto* buttons = new QDialogButtonBox(this);
  QPushButton* ok = buttons->addButton("OK", QDialogButtonBox::RejectRole);
  ok->setDefault(true);
  connect(buttons, &QDialogButtonBox::rejected, this, &CDebugDlg::reject);
  form->addRow(buttons);
}

void CDebugDlg::DoDataExchange(DataExchange& dx) {
  dx.Int(Control<QLineEdit>(ControlId::kAddress), m_nAddress);
  dx.Int(Control<QLineEdit>(ControlId::kLength), m_nLength);
  dx.Int(Control<QLineEdit>(ControlId::kMsgType), m_nMsgType);
  dx.Int(Control<QLineEdit>(ControlId::kNumbrPolls), m_nNumbrPolls);
  dx.Int(Control<QLineEdit>(ControlId::kPollFrequency), m_nPollFrequency);
  dx.Int(Control<QLineEdit>(ControlId::kPort), m_nPortNumber);
  dx.Int(Control<QLineEdit>(ControlId::kScanInProgress), m_nScanInProgress);
  dx.Int(Control<QLineEdit>(ControlId::kSlaveId), m_nSlaveId);
}

void CDebugDlg::OnInitDialog() {
  if (!m_refresh) return;
  auto* timer = new QTimer(this);
  timer->setObjectName("refresh");
  connect(timer, &QTimer::timeout, this, &CDebugDlg::Refresh);
  timer->start(kRefreshMs);
}

void CDebugDlg::Refresh() {
  if (!m_refresh) return;
  m_refresh(*this);
  UpdateData(false);
}
