#include "ui/RemoveEndpointDlg.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QListWidget>
#include <QVBoxLayout>

CRemoveEndpointDlg::CRemoveEndpointDlg(QWidget* parent)
    : ExchangeDialog(parent), m_pList(new QListWidget(this)) {
  setWindowTitle("Remove Modbus EndPoint");
  m_pList->setObjectName(ControlName(ControlId::kEndpointList));
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  connect(buttons, &QDialogButtonBox::accepted, this, &CRemoveEndpointDlg::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &CRemoveEndpointDlg::reject);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(new QLabel("Select Endpoint to Remove", this));
  layout->addWidget(m_pList);
  layout->addWidget(buttons);
}

void CRemoveEndpointDlg::OnInitDialog() {
  for (const std::string& name : m_names) m_pList->addItem(QString::fromStdString(name));
  m_pList->setCurrentRow(m_nSelection);
}

void CRemoveEndpointDlg::OnOK() {
  m_nSelection = m_pList->currentRow();
  EndDialog(QDialog::Accepted);
}
