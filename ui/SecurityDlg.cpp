#include "ui/SecurityDlg.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLineEdit>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "platform/MessageBox.h"
#include "pointdb/TagServerBinding.h"

namespace {

constexpr int kErrorSize = 256;

QTreeWidget* NewList(const QStringList& headings) {
  auto* list = new QTreeWidget;
  list->setHeaderLabels(headings);
  list->setRootIsDecorated(false);
  list->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
  return list;
}

QPushButton* NewButton(const QString& text, const char* name) {
  auto* button = new QPushButton(text);
  button->setObjectName(name);
  return button;
}

}  // namespace

SecurityDlg::SecurityDlg(std::string folder, QWidget* parent)
    : QDialog(parent),
      m_strFolder(std::move(folder)),
      m_pUsers(NewList({"User", "Access"})),
      m_pName(new QLineEdit),
      m_pPassword(new QLineEdit),
      m_pReadWrite(new QCheckBox("May write")),
      m_pRejected(NewList({"Subject", "File"})) {
  setWindowTitle("OPC UA Security");
  m_pName->setObjectName("name");
  m_pPassword->setObjectName("password");
  m_pPassword->setEchoMode(QLineEdit::Password);
  auto* add = NewButton("&Add", "add");
  auto* remove = NewButton("&Remove", "remove");
  auto* trust = NewButton("&Trust", "trust");
  connect(add, &QPushButton::clicked, this, &SecurityDlg::OnAddUser);
  connect(remove, &QPushButton::clicked, this, &SecurityDlg::OnRemoveUser);
  connect(trust, &QPushButton::clicked, this, &SecurityDlg::OnTrust);

  auto* form = new QFormLayout;
  form->addRow("Name", m_pName);
  form->addRow("Password", m_pPassword);
  form->addRow(m_pReadWrite);
  auto* userButtons = new QHBoxLayout;
  userButtons->addWidget(add);
  userButtons->addWidget(remove);
  auto* users = new QGroupBox("Users who log in with a name and password");
  auto* usersLayout = new QVBoxLayout(users);
  usersLayout->addWidget(m_pUsers);
  usersLayout->addLayout(form);
  usersLayout->addLayout(userButtons);

  auto* rejected = new QGroupBox("Client certificates refused as unknown");
  auto* rejectedLayout = new QVBoxLayout(rejected);
  rejectedLayout->addWidget(m_pRejected);
  rejectedLayout->addWidget(trust, 0, Qt::AlignLeft);

  auto* close = new QDialogButtonBox(QDialogButtonBox::Close);
  connect(close, &QDialogButtonBox::rejected, this, &QDialog::reject);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(users);
  layout->addWidget(rejected);
  layout->addWidget(close);
  Refresh();
}

std::vector<QStringList> SecurityDlg::Rows(int (*list)(const char*, char*, int)) const {
  if (list == nullptr) return {};
  const int size = list(m_strFolder.c_str(), nullptr, 0);
  std::string text(static_cast<size_t>(size) + 1, '\0');
  list(m_strFolder.c_str(), text.data(), size + 1);
  text.resize(static_cast<size_t>(size));
  std::vector<QStringList> rows;
  for (const QString& line : QString::fromStdString(text).split('\n', Qt::SkipEmptyParts))
    rows.push_back(line.split('\t'));
  return rows;
}

void SecurityDlg::Refresh() {
  m_pUsers->clear();
  for (const QStringList& row : Rows(TagServer().ListOPCUsers)) {
    const QString access = row.value(1) == "readwrite" ? "Read and write" : "Read only";
    new QTreeWidgetItem(m_pUsers, {row.value(0), access});
  }
  m_pRejected->clear();
  for (const QStringList& row : Rows(TagServer().ListOPCRejected))
    new QTreeWidgetItem(m_pRejected, {row.value(1), row.value(0)});
}

bool SecurityDlg::Succeeded(int result, const char* error) const {
  if (result == 0) return true;
  AfxMessageBox(error);
  return false;
}

void SecurityDlg::OnAddUser() {
  const std::string name = m_pName->text().trimmed().toStdString();
  const std::string password = m_pPassword->text().toStdString();
  if (name.empty() || password.empty()) {
    AfxMessageBox("A user needs a name and a password.");
    return;
  }
  if (TagServer().AddOPCUser == nullptr) return;
  char error[kErrorSize] = "";
  const int result = TagServer().AddOPCUser(m_strFolder.c_str(), name.c_str(), password.c_str(),
                                            m_pReadWrite->isChecked() ? 1 : 0, error, kErrorSize);
  // The password is never kept in the window longer than it takes to store it.
  m_pPassword->clear();
  if (Succeeded(result, error)) m_pName->clear();
  Refresh();
}

void SecurityDlg::OnRemoveUser() {
  const QTreeWidgetItem* item = m_pUsers->currentItem();
  if (item == nullptr || TagServer().RemoveOPCUser == nullptr) return;
  char error[kErrorSize] = "";
  const std::string name = item->text(0).toStdString();
  Succeeded(TagServer().RemoveOPCUser(m_strFolder.c_str(), name.c_str(), error, kErrorSize), error);
  Refresh();
}

void SecurityDlg::OnTrust() {
  const QTreeWidgetItem* item = m_pRejected->currentItem();
  if (item == nullptr || TagServer().TrustOPCClient == nullptr) return;
  char error[kErrorSize] = "";
  const std::string file = item->text(1).toStdString();
  Succeeded(TagServer().TrustOPCClient(m_strFolder.c_str(), file.c_str(), error, kErrorSize),
            error);
  Refresh();
}
