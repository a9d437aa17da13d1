// The OPC UA security dialog on the tag-server library's own files: users
// added, listed and removed, and a refused client certificate trusted.
#include <QCheckBox>
#include <QCryptographicHash>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTreeWidget>
#include <filesystem>
#include <fstream>

#include "UiFixture.h"
#include "pointdb/TagServerBinding.h"
#include "tagserver/tagserver.h"
#include "ui/SecurityDlg.h"

namespace fs = std::filesystem;

class SecurityDlgTest : public QObject {
  Q_OBJECT
 private slots:
  void init();
  void usersAreAddedListedAndRemoved();
  void aRefusedCertificateIsTrusted();

 private:
  void Add(SecurityDlg& dlg, const QString& name, const QString& password, bool readWrite);

  std::string m_folder;
  std::unique_ptr<MessageLog> m_log;
};

void SecurityDlgTest::init() {
  m_folder = ScratchDirectory("security").toStdString() + "/";
  m_log.reset();  // its handler goes before the next one comes
  m_log = std::make_unique<MessageLog>();
  TagServerBinding& t = TagServer();
  t.AddOPCUser = &::AddOPCUser;
  t.RemoveOPCUser = &::RemoveOPCUser;
  t.TrustOPCClient = &::TrustOPCClient;
  t.ListOPCUsers = &::ListOPCUsers;
  t.ListOPCRejected = &::ListOPCRejected;
}

void SecurityDlgTest::Add(SecurityDlg& dlg, const QString& name, const QString& password,
                          bool readWrite) {
  dlg.findChild<QLineEdit*>("name")->setText(name);
  dlg.findChild<QLineEdit*>("password")->setText(password);
  dlg.findChild<QCheckBox*>()->setChecked(readWrite);
  dlg.findChild<QPushButton*>("add")->click();
}

void SecurityDlgTest::usersAreAddedListedAndRemoved() {
  SecurityDlg dlg(m_folder);
  Add(dlg, "operator", "s3cret", false);
  Add(dlg, "engineer", "an0ther", true);
  Add(dlg, "nobody", "", true);
  Add(dlg, "bad:name", "x", false);
  QTreeWidget& users = dlg.Users();
  QCOMPARE(users.topLevelItemCount(), 2);
  QCOMPARE(users.topLevelItem(0)->text(1), QString("Read only"));
  QCOMPARE(users.topLevelItem(1)->text(0), QString("engineer"));
  QCOMPARE(users.topLevelItem(1)->text(1), QString("Read and write"));
  QVERIFY(dlg.findChild<QLineEdit*>("password")->text().isEmpty());
  QCOMPARE(m_log->texts.size(), size_t(2));
  QCOMPARE(m_log->texts[0], std::string("A user needs a name and a password."));
  // The stored password is the one typed: the library takes it at login.
  char error[256] = "";
  QCOMPARE(::AddOPCUser(m_folder.c_str(), "engineer", "an0ther", 1, error, sizeof error), 0);

  users.setCurrentItem(users.topLevelItem(0));
  dlg.findChild<QPushButton*>("remove")->click();
  QCOMPARE(users.topLevelItemCount(), 1);
  QCOMPARE(users.topLevelItem(0)->text(0), QString("engineer"));
  // A second dialog reads the same file.
  SecurityDlg again(m_folder);
  QCOMPARE(again.Users().topLevelItemCount(), 1);
}

void SecurityDlgTest::aRefusedCertificateIsTrusted() {
  const fs::path rejected = fs::path(m_folder) / "pki/rejected";
  fs::create_directories(rejected);
  // Named as the server names what it refuses: by the certificate's SHA-1.
  QFile der(QString(OPCUA_TEST_PKI) + "/own/certs/pelmoran.der");
  QVERIFY(der.open(QIODevice::ReadOnly));
  const QString thumbprint =
      QCryptographicHash::hash(der.readAll(), QCryptographicHash::Sha1).toHex().toUpper();
  const std::string client = thumbprint.toStdString() + ".der";
  fs::copy_file(der.fileName().toStdString(), rejected / client);
  std::ofstream(rejected / "junk.der") << "not a certificate";
  SecurityDlg dlg(m_folder);
  QTreeWidget& list = dlg.Rejected();
  QCOMPARE(list.topLevelItemCount(), 2);
  QTreeWidgetItem* junk = list.findItems("junk.der", Qt::MatchEndsWith, 1).value(0);
  QTreeWidgetItem* known =
      list.findItems(QString::fromStdString(client), Qt::MatchEndsWith, 1).value(0);
  QVERIFY(junk && known);
  QCOMPARE(junk->text(0), QString("(not a certificate)"));
  QVERIFY(!known->text(0).isEmpty() && !known->text(0).startsWith("("));

  list.setCurrentItem(junk);
  dlg.findChild<QPushButton*>("trust")->click();
  QCOMPARE(m_log->texts.size(), size_t(1));
  QCOMPARE(list.topLevelItemCount(), 2);
  list.setCurrentItem(
      list.findItems(QString::fromStdString(client), Qt::MatchEndsWith, 1).value(0));
  dlg.findChild<QPushButton*>("trust")->click();
  QCOMPARE(list.topLevelItemCount(), 1);
  QVERIFY(fs::exists(fs::path(m_folder) / "pki/trusted/certs" / client));
}

QTEST_MAIN(SecurityDlgTest)
#include "SecurityDlgTest.moc"
