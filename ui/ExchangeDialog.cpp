#include "ui/ExchangeDialog.h"

#include <QLineEdit>

#include "ui/DataExchange.h"

CExchangeDialog::CExchangeDialog(QWidget* parent) : QDialog(parent) { setModal(true); }

int CExchangeDialog::DoModal() { return exec(); }

bool CExchangeDialog::UpdateData(bool bSaveAndValidate) {
  CDataExchange dx(bSaveAndValidate);
  DoDataExchange(dx);
  return !dx.m_bFailed;
}

void CExchangeDialog::OnOK() {
  if (UpdateData(true)) EndDialog(QDialog::Accepted);
}

QLineEdit* CExchangeDialog::AddEdit(int id) {
  auto* edit = new QLineEdit(this);
  edit->setObjectName(QString::number(id));
  return edit;
}

void CExchangeDialog::showEvent(QShowEvent* event) {
  // The fields are set by the caller after construction, so the controls are
  // filled when the dialog first appears, once.
  if (!m_bInitialised) {
    m_bInitialised = true;
    UpdateData(false);
    OnInitDialog();
  }
  QDialog::showEvent(event);
}
