#include "ui/ExchangeDialog.h"

#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>

#include "ui/DataExchange.h"

ExchangeDialog::ExchangeDialog(QWidget* parent) : QDialog(parent) { setModal(true); }

int ExchangeDialog::DoModal() { return exec(); }

bool ExchangeDialog::UpdateData(bool bSaveAndValidate) {
  DataExchange dx(bSaveAndValidate);
  DoDataExchange(dx);
  return !dx.m_bFailed;
}

void ExchangeDialog::OnOK() {
  if (UpdateData(true)) EndDialog(QDialog::Accepted);
}

QLineEdit* ExchangeDialog::AddEdit(const QString& name) {
  auto* edit = new QLineEdit(this);
  edit->setObjectName(name);
  return edit;
}

void ExchangeDialog::NameFieldsFromLabels() {
  for (QFormLayout* form : findChildren<QFormLayout*>()) {
    for (int row = 0; row < form->rowCount(); ++row) {
      QLayoutItem* label = form->itemAt(row, QFormLayout::LabelRole);
      QLayoutItem* field = form->itemAt(row, QFormLayout::FieldRole);
      auto* text = label ? qobject_cast<QLabel*>(label->widget()) : nullptr;
      QWidget* control = field ? field->widget() : nullptr;
      if (!text || !control || !control->accessibleName().isEmpty()) continue;
      QString name = text->text().remove('&').trimmed();
      if (name.endsWith(':')) name.chop(1);
      control->setAccessibleName(name);
    }
  }
}

void ExchangeDialog::showEvent(QShowEvent* event) {
  // The fields are set by the caller after construction, so the controls are
  // filled when the dialog first appears, once.
  if (!m_bInitialised) {
    m_bInitialised = true;
    UpdateData(false);
    OnInitDialog();
  }
  QDialog::showEvent(event);
}
