// A modal dialog whose fields are set by the caller, shown in its controls
// when it opens, and read back from them only when OK passes every check.
#pragma once

#include <QDialog>
#include <QString>

class DataExchange;
class QLineEdit;

class ExchangeDialog : public QDialog {
  Q_OBJECT
 public:
  explicit ExchangeDialog(QWidget* parent = nullptr);

  // Runs the dialog modally: QDialog::Accepted (OK) or QDialog::Rejected.
  int DoModal();
  // OK pressed: closes only when the checks pass.
  void accept() override { OnOK(); }
  // Fields to controls (false) or controls to fields with the checks (true).
  bool UpdateData(bool bSaveAndValidate);
  // Control ids are the controls' object names, so that tests find them by
  // the dialog's numbers; each dialog names its ids in an enum of its own.
  template <class Id>
  static QString ControlName(Id id) {
    return QString::number(static_cast<int>(id));
  }
  // The control of a dialog id.
  template <class T, class Id>
  T* Control(Id id) const {
    return findChild<T*>(ControlName(id));
  }

 protected:
  virtual void DoDataExchange(DataExchange& dx) = 0;
  // Runs after the fields are shown; the controls' states are set here.
  virtual void OnInitDialog() {}
  // OK: the exchange with its checks; the dialog closes only when they pass.
  virtual void OnOK();
  void EndDialog(int result) { done(result); }

  template <class Id>
  QLineEdit* AddEdit(Id id) {
    return AddEdit(ControlName(id));
  }
  QLineEdit* AddEdit(const QString& name);
  // Every control with a label gets the label's text as its name, which the
  // refusals then carry ("Point Address: Enter an integer ...").
  void NameFieldsFromLabels();

 private:
  void showEvent(QShowEvent* event) override;
  bool m_bInitialised = false;
};
