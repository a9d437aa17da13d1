// The MQTT dialog on real widgets: it shows what pelmoran.ini holds, refuses
// what the publisher could not use with a message saying why, writes every
// key on OK, and shows the running publisher's counters.
#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QTest>

#include "UiFixture.h"
#include "runtime/MqttConfig.h"
#include "runtime/SettingsFile.h"
#include "ui/MqttDlg.h"

using D = MqttDlg;

class MqttDlgTest : public QObject {
  Q_OBJECT
 private slots:
  void init();
  void theFilesSettingsAreShownAndWrittenBackOnOk();
  void entriesThePublisherCannotUseAreRefused_data();
  void entriesThePublisherCannotUseAreRefused();
  void theCountersOfTheRunningPublisherAreShown();

 private:
  QLineEdit* Edit(D& dlg, int id) { return dlg.Control<QLineEdit>(id); }
  std::string ReadFile() const;

  QString m_dir;
  std::string m_ini;
  std::unique_ptr<MessageLog> m_log;
};

void MqttDlgTest::init() {
  m_dir = ScratchDirectory("mqtt");
  m_ini = (m_dir + "/pelmoran.ini").toStdString();
  QFile file(QString::fromStdString(m_ini));
  QVERIFY(file.open(QIODevice::WriteOnly));
  file.write(
      "; kept\n[Mqtt]\nEnabled=1\nHost=broker.lan\nPassword=s3cret\nFormat=json\n"
      "Devices=slave\n[Other]\nKeep=1\n");
  file.close();
  m_log.reset();
  m_log = std::make_unique<MessageLog>();
}

std::string MqttDlgTest::ReadFile() const {
  QFile file(QString::fromStdString(m_ini));
  if (!file.open(QIODevice::ReadOnly)) return {};
  return file.readAll().toStdString();
}

void MqttDlgTest::theFilesSettingsAreShownAndWrittenBackOnOk() {
  D dlg(m_ini, nullptr);
  dlg.show();
  QVERIFY(dlg.Control<QCheckBox>(D::kEnabledId)->isChecked());
  QCOMPARE(Edit(dlg, D::kHostId)->text(), QString("broker.lan"));
  QCOMPARE(Edit(dlg, D::kPortId)->text(), QString("1883"));
  QCOMPARE(Edit(dlg, D::kPasswordId)->echoMode(), QLineEdit::Password);
  QCOMPARE(dlg.Control<QComboBox>(D::kFormatId)->currentText(), QString("JSON"));
  QCOMPARE(dlg.Control<QComboBox>(D::kDevicesId)->currentText(), QString("One per slave node"));
  QCOMPARE(Edit(dlg, D::kEdgeNodeId)->text(), QString::fromStdString(mqttconfig::HostName()));
  // The default port follows TLS; a port typed by the operator stays.
  dlg.Control<QCheckBox>(D::kTlsId)->click();
  QCOMPARE(Edit(dlg, D::kPortId)->text(), QString("8883"));
  Edit(dlg, D::kPortId)->setText("9000");
  dlg.Control<QCheckBox>(D::kTlsId)->click();
  QCOMPARE(Edit(dlg, D::kPortId)->text(), QString("9000"));
  dlg.Control<QCheckBox>(D::kTlsId)->click();
  Edit(dlg, D::kCaFileId)->setText(QString::fromStdString(m_ini));
  dlg.Control<QComboBox>(D::kProtocolId)->setCurrentIndex(1);
  dlg.Control<QComboBox>(D::kQosId)->setCurrentIndex(2);
  Edit(dlg, D::kGroupId)->setText("plant");
  Edit(dlg, D::kSpoolId)->setText("8");
  dlg.accept();
  QVERIFY(m_log->texts.empty());
  QCOMPARE(dlg.result(), int(QDialog::Accepted));

  const std::string text = ReadFile();
  QVERIFY(text.starts_with("; kept\n[Mqtt]\n"));
  QVERIFY(text.find("[Other]\nKeep=1") != std::string::npos);
  const mqtt::MqttSettings s = mqttconfig::Read(SettingsFile::Parse(text), "/x/", "h");
  QVERIFY(s.enabled && s.tls);
  QCOMPARE(s.host, std::string("broker.lan"));
  QCOMPARE(s.port, 9000);
  QCOMPARE(s.password, std::string("s3cret"));
  QCOMPARE(s.caFile, m_ini);
  QVERIFY(s.protocol == mqtt::ProtocolVersion::V5);
  QCOMPARE(s.qos, 2);
  QVERIFY(s.format == mqtt::PayloadFormat::Json);
  QVERIFY(s.devices == mqtt::DeviceScope::Slave);
  QCOMPARE(s.groupId, std::string("plant"));
  QCOMPARE(s.spoolLimitBytes, uint64_t{8} << 20);
}

void MqttDlgTest::entriesThePublisherCannotUseAreRefused_data() {
  QTest::addColumn<int>("id");
  QTest::addColumn<QString>("text");
  QTest::addColumn<QString>("message");
  QTest::newRow("port 0") << int(D::kPortId) << "0"
                          << "Enter an integer between 1 and 65535.";
  QTest::newRow("port 65536") << int(D::kPortId) << "65536"
                              << "Enter an integer between 1 and 65535.";
  QTest::newRow("port text") << int(D::kPortId) << "mqtt"
                             << "Enter an integer.";
  QTest::newRow("no host") << int(D::kHostId) << " "
                           << "Enter the broker's host name or address.";
  QTest::newRow("client id") << int(D::kClientId) << "gw/1"
                             << "A client id cannot hold '/', '+' or '#'.";
  QTest::newRow("edge node") << int(D::kEdgeNodeId) << "line+4"
                             << "An edge node id cannot hold '/', '+' or '#'.";
  QTest::newRow("primary host") << int(D::kPrimaryHostId) << "scada/1"
                                << "A primary host id cannot hold '/', '+' or '#'.";
  QTest::newRow("group") << int(D::kGroupId) << "a#"
                         << "A group id cannot hold '/', '+' or '#'.";
  QTest::newRow("prefix") << int(D::kTopicPrefixId) << "site/+"
                          << "A topic prefix cannot hold '+' or '#'.";
  QTest::newRow("missing file") << int(D::kCaFileId) << "/nonexistent/ca.pem"
                                << "The file /nonexistent/ca.pem cannot be read.";
  QTest::newRow("a directory") << int(D::kCaFileId) << "/tmp"
                               << "The file /tmp cannot be read.";
  QTest::newRow("key without certificate")
      << int(D::kKeyFileId) << "SELF"
      << "A client certificate needs its key file, and a key its certificate.";
  QTest::newRow("password blank") << int(D::kPasswordId) << "pw "
                                  << "A password cannot begin or end with a blank.";
  QTest::newRow("keep alive") << int(D::kKeepAliveId) << "2"
                              << "Enter an integer between 5 and 65535.";
  QTest::newRow("spool") << int(D::kSpoolId) << "-1"
                         << "Enter an integer between 0 and 1048576.";
}

void MqttDlgTest::entriesThePublisherCannotUseAreRefused() {
  QFETCH(int, id);
  QFETCH(QString, text);
  QFETCH(QString, message);
  const std::string before = ReadFile();
  D dlg(m_ini, nullptr);
  dlg.show();
  Edit(dlg, id)->setText(text == "SELF" ? QString::fromStdString(m_ini) : text);
  dlg.accept();
  QCOMPARE(m_log->texts, std::vector<std::string>{message.toStdString()});
  QVERIFY(dlg.isVisible());
  QCOMPARE(ReadFile(), before);
}

void MqttDlgTest::theCountersOfTheRunningPublisherAreShown() {
  std::optional<mqtt::PublisherCounters> counters;
  D dlg(m_ini, [&counters] { return counters; });
  QCOMPARE(dlg.Counters().text(), QString("The publisher is not running."));
  counters = mqtt::PublisherCounters{.connected = true,
                                     .connects = 1,
                                     .published = 12,
                                     .acknowledged = 11,
                                     .spooled = 3,
                                     .spoolDropped = 1,
                                     .commands = 2};
  // Read again by the dialog's own clock.
  QTRY_COMPARE_WITH_TIMEOUT(
      dlg.Counters().text(),
      QString("Connected. Published 12, acknowledged 11, spooled 3, dropped 1, commands 2."), 5000);
}

QTEST_MAIN(MqttDlgTest)
#include "MqttDlgTest.moc"
