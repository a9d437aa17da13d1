#include "ui/DataDefDlg.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>
#include <string>

#include "pointdb/PointType.h"
#include "ui/DataExchange.h"
#include "ui/DataTypeDlg.h"

namespace {

using ControlId = CDataDefDlg::ControlId;

QComboBox* EditableList(ControlId id, QWidget* parent) {
  auto* list = new QComboBox(parent);
  list->setObjectName(ExchangeDialog::ControlName(id));
  list->setEditable(true);
  list->setInsertPolicy(QComboBox::NoInsert);
  return list;
}

int NamedEntry(const QComboBox& list) {
  return list.findText(list.currentText().trimmed(), Qt::MatchFixedString);
}

}  // namespace

CDataDefDlg::CDataDefDlg(QWidget* parent)
    : ExchangeDialog(parent),
      m_pEndpoint(EditableList(ControlId::kEndpoint, this)),
      m_pPollFrequency(AddEdit(ControlId::kPollFrequency)),
      m_pSlaveNode(AddEdit(ControlId::kSlaveNode)),
      m_pPointType(EditableList(ControlId::kPointType, this)),
      m_pPointAddress(AddEdit(ControlId::kPointAddress)),
      m_pScanLength(AddEdit(ControlId::kScanLength)),
      m_pSetDefault(new QPushButton("Set Default Data Type", this)) {
  setWindowTitle("Scan Definition");
  m_pSetDefault->setObjectName(ControlName(ControlId::kSetDefault));
  m_pSetDefault->setAutoDefault(false);
  auto* top = new QFormLayout;
  top->addRow("Endpoint:", m_pEndpoint);
  auto* poll = new QHBoxLayout;
  poll->addWidget(m_pPollFrequency);
  poll->addWidget(new QLabel("(msecs)", this));
  top->addRow("Poll Frequency:", poll);
  auto* group = new QGroupBox("Data Definition", this);
  auto* form = new QFormLayout(group);
  form->addRow("Slave Node:", m_pSlaveNode);
  form->addRow("Point Type:", m_pPointType);
  form->addRow("Point Address:", m_pPointAddress);
  form->addRow("Scan Length:", m_pScanLength);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  connect(buttons, &QDialogButtonBox::accepted, this, &CDataDefDlg::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &CDataDefDlg::reject);
  connect(m_pSetDefault, &QPushButton::clicked, this, &CDataDefDlg::OnSetDefaultDataType);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(top);
  layout->addWidget(group);
  layout->addWidget(m_pSetDefault);
  layout->addWidget(buttons);
  m_pPollFrequency->setAccessibleName("Poll Frequency");
  NameFieldsFromLabels();
}

QStringList CDataDefDlg::PointTypeNames() {
  return {"COIL STATUS", "INPUT STATUS", "HOLDING REGISTER", "INPUT REGISTER"};
}

void CDataDefDlg::DoDataExchange(DataExchange& dx) {
  if (dx.m_bSaveAndValidate && m_bEditable) CheckChoices(dx);
  dx.Int(m_pPointAddress, m_nPointAddress);
  dx.MinMax(m_pPointAddress, m_nPointAddress, 1, kLastPointAddress);
  dx.Byte(m_pSlaveNode, m_nSlaveNode);
  dx.Int(m_pPollFrequency, m_nPollFrequency);
  dx.MinMax(m_pPollFrequency, m_nPollFrequency, 100, 10000);
  dx.Int(m_pScanLength, m_nScanLength);
  dx.MinMax(m_pScanLength, m_nScanLength, 1, 1000);
  // The table ends at 65536: a longer scan would read past it.
  const int32_t longest = kTableEnd - m_nPointAddress + 1;
  if (dx.m_bSaveAndValidate && !dx.m_bFailed && m_nScanLength > longest)
    dx.Fail(m_pScanLength, "The scan would end past address " + std::to_string(kTableEnd) +
                               ": enter at most " + std::to_string(longest) + ".");
}

void CDataDefDlg::CheckChoices(DataExchange& dx) {
  // What was typed stays in the list, for the operator to correct.
  if (m_nEndpoint < 0)
    dx.Fail(m_pEndpoint, "There is no endpoint named \"" +
                             m_pEndpoint->currentText().trimmed().toStdString() +
                             "\". Choose one from the list, or add it first.");
  else if (m_nPointType < 1)
    dx.Fail(m_pPointType, "Choose one of the four point types.");
}

void CDataDefDlg::OnInitDialog() {
  for (const std::string& name : m_strEndpoints) m_pEndpoint->addItem(QString::fromStdString(name));
  m_pEndpoint->setCurrentIndex(m_nEndpoint);
  m_pPointType->addItems(PointTypeNames());
  m_pPointType->setCurrentIndex(m_nPointType - 1);
  m_pSetDefault->setEnabled(!IsBitPointType(static_cast<PointType>(m_nPointType)));
  if (!m_bEditable) {
    for (QWidget* w :
         {static_cast<QWidget*>(m_pPointType), static_cast<QWidget*>(m_pSlaveNode),
          static_cast<QWidget*>(m_pPointAddress), static_cast<QWidget*>(m_pScanLength)})
      w->setEnabled(false);
  }
  connect(m_pPointType, &QComboBox::currentIndexChanged, this, &CDataDefDlg::OnPointTypeChange);
}

void CDataDefDlg::OnPointTypeChange(int index) {
  m_nPointType = index + 1;
  m_pSetDefault->setEnabled(index == 2 || index == 3);
}

void CDataDefDlg::OnOK() {
  // Text typed into a list that names none of its entries chooses nothing,
  // not the entry that happened to be selected before.
  m_nEndpoint = NamedEntry(*m_pEndpoint);
  m_nPointType = NamedEntry(*m_pPointType) + 1;
  ExchangeDialog::OnOK();
}

void CDataDefDlg::OnSetDefaultDataType() {
  CDataTypeDlg dlg(this);
  dlg.m_strTitle = "Default Register Configuration";
  dlg.m_nDataType = m_nDataType;
  dlg.m_fLowLimit = m_fLowLimit;
  dlg.m_fHighLimit = m_fHighLimit;
  dlg.m_format = m_format;
  dlg.m_strDelimiter = m_strDelimiter;
  dlg.m_bLongTypes = m_bLongTypes;
  dlg.m_bDelimiterEnabled = m_bLongTypes;
  if (dlg.DoModal() != QDialog::Accepted) return;
  m_nDataType = dlg.m_nDataType;
  m_fLowLimit = dlg.m_fLowLimit;
  m_fHighLimit = dlg.m_fHighLimit;
  m_format = dlg.m_format;
  m_strDelimiter = dlg.m_strDelimiter;
}
