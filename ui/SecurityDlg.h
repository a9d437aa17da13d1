// "OPC UA Security": who may log in to the OPC UA endpoint, and the client
// certificates it refused, for the operator to trust. Both are kept in the
// configuration directory, where the server reads them at every connection,
// so a change counts from the next one on.
#pragma once

#include <QDialog>
#include <QStringList>
#include <string>
#include <vector>

class QCheckBox;
class QLineEdit;
class QTreeWidget;

class SecurityDlg : public QDialog {
  Q_OBJECT
 public:
  explicit SecurityDlg(std::string folder, QWidget* parent = nullptr);

  QTreeWidget& Users() const { return *m_pUsers; }
  QTreeWidget& Rejected() const { return *m_pRejected; }
  void Refresh();
  void OnAddUser();
  void OnRemoveUser();
  void OnTrust();

 private:
  // A list entry point's lines, each cut at its tabs.
  std::vector<QStringList> Rows(int (*list)(const char*, char*, int)) const;
  // False, after telling the operator why, when the library refused.
  bool Succeeded(int result, const char* error) const;

  std::string m_strFolder;
  QTreeWidget* m_pUsers;
  QLineEdit* m_pName;
  QLineEdit* m_pPassword;
  QCheckBox* m_pReadWrite;
  QTreeWidget* m_pRejected;
};
