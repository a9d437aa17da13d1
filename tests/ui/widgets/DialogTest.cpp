// The dialogs on their own: what they show, what they refuse and with which
// words, and what they hand back.
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPalette>
#include <QPushButton>
#include <QTest>
#include <cmath>

#include "UiFixture.h"
#include "link/EndpointRegistry.h"
#include "platform/MessageBox.h"
#include "ui/DataDefDlg.h"
#include "ui/DataExchange.h"
#include "ui/DataTypeDlg.h"
#include "ui/DebugDlg.h"
#include "ui/EndPointDlg.h"
#include "ui/RemoveEndpointDlg.h"
#include "ui/WidgetMessageBox.h"

namespace {

QStringList Entries(QComboBox* list) {
  QStringList entries;
  for (int i = 0; i < list->count(); ++i) entries << list->itemText(i);
  return entries;
}

SerialSettings InitialSerial() {
  SerialSettings serial{};
  serial.baudRate = 19200;
  serial.wordLength = 8;
  serial.parity = 0;
  serial.stopBits = 0;
  serial.dtrControl = 1;
  serial.rtsControl = 3;
  return serial;
}

// A scan definition as Data New opens it.
void FillNewScan(CDataDefDlg& dlg) {
  dlg.m_strEndpoints = {"MODBUS1", "MODBUS2"};
  dlg.m_nEndpoint = 0;
  dlg.m_nSlaveNode = 1;
  dlg.m_nPointType = 3;
  dlg.m_nPointAddress = 1;
  dlg.m_nScanLength = 100;
  dlg.m_nPollFrequency = 1000;
  dlg.m_bEditable = 1;
  dlg.m_bLongTypes = 1;
  dlg.m_strDelimiter = ".";
  dlg.m_fHighLimit = 100;
}

}  // namespace

class DialogTest : public QObject {
  Q_OBJECT

 private slots:
  void dataExchangeRefusesWithTheFrameworkWords();
  void endpointDialogShowsTheInitialEndpoint();
  void endpointDialogSerialPartFollowsConnectUsing();
  void endpointDialogRefusesNamesAndPortsInUse();
  void endpointDialogRefusesAPortThatIsNoInteger();
  void endpointDialogChecksTheNetworkFields_data();
  void endpointDialogChecksTheNetworkFields();
  void endpointDialogCarriesTheLinkSettings_data();
  void endpointDialogCarriesTheLinkSettings();
  void scanDefinitionTextNamingNoEntryChoosesNone_data();
  void scanDefinitionTextNamingNoEntryChoosesNone();
  void dialogTextsAreReadableAndWhole();
  void removeDialogPreselectsAndHandsBackTheChoice();
  void scanDefinitionRangeChecks_data();
  void scanDefinitionRangeChecks();
  void scanDefinitionPointTypeAndReadOnlyMode();
  void scanDefinitionDefaultDataTypeKeptOnlyOnOk();
  void dataTypeDialogOffersAndEnables();
  void dataTypeDialogChecksLimitsAndDelimiter();
  void dataTypeDialogCarriesBitStringAndScale();
  void debugDialogShowsItsValuesInOrder();
  void messageBoxesCarryTheApplicationTitle();
};

void DialogTest::dataExchangeRefusesWithTheFrameworkWords() {
  MessageLog log;
  QWidget host;
  auto* edit = new QLineEdit(&host);
  auto* other = new QLineEdit(&host);
  host.show();
  other->setFocus();

  int32_t value = 7;
  edit->setText(" -42 ");
  DataExchange ok(true);
  ok.Int(edit, value);
  QCOMPARE(value, -42);
  QVERIFY(!ok.m_bFailed);

  edit->setText("12abc");
  DataExchange bad(true);
  bad.Int(edit, value);
  float f = 1.5f;
  other->setText("not a number");
  bad.Float(other, f);  // the exchange stopped at the first refusal
  QVERIFY(bad.m_bFailed);
  QCOMPARE(value, -42);
  QCOMPARE(f, 1.5f);
  QCOMPARE(log.texts, std::vector<std::string>{"Enter an integer."});
  QCOMPARE(host.focusWidget(), edit);

  DataExchange range(true);
  range.MinMax(edit, 5, 1, 4);
  DataExchange number(true);
  number.Float(other, f);
  DataExchange nan(true);
  other->setText("nan");
  nan.Float(other, f);
  DataExchange chars(true);
  chars.MaxChars(edit, "ab", 1);
  DataExchange big(true);
  edit->setText("99999999999");
  big.Int(edit, value);
  QCOMPARE(log.texts,
           (std::vector<std::string>{"Enter an integer.", "Enter an integer between 1 and 4.",
                                     "Enter a number.", "Enter a number.",
                                     "Enter no more than 1 characters.", "Enter an integer."}));

  DataExchange show(false);
  f = 3.14159274f;
  show.Float(other, f);
  QCOMPARE(other->text(), QString("3.14159"));
}

void DialogTest::endpointDialogShowsTheInitialEndpoint() {
  CEndPointDlg dlg;
  dlg.m_strName = "MODBUS1";
  dlg.m_strIpAddress = "127.0.0.1";
  dlg.m_nTcpPort = 502;
  dlg.m_serial = InitialSerial();
  dlg.show();
  QCOMPARE(dlg.windowTitle(), QString("Modbus Connection"));
  QCOMPARE(dlg.Control<QLineEdit>(1000)->text(), QString("MODBUS1"));
  QCOMPARE(dlg.Control<QLineEdit>(1007)->text(), QString("127.0.0.1"));
  QCOMPARE(dlg.Control<QLineEdit>(1020)->text(), QString("502"));
  QComboBox* connectUsing = dlg.Control<QComboBox>(1027);
  QCOMPARE(connectUsing->count(), 33);
  QCOMPARE(connectUsing->currentText(), QString("Remote Modbus/TCP Server"));
  QCOMPARE(connectUsing->itemText(1), QString("Direct Connection to COM1"));
  QCOMPARE(connectUsing->itemText(32), QString("Direct Connection to COM32"));
  QCOMPARE(Entries(dlg.Control<QComboBox>(1004)),
           QStringList({"110", "300", "600", "1200", "2400", "4800", "9600", "14400", "19200",
                        "38400", "56000", "57600", "115200", "128000", "256000"}));
  QCOMPARE(Entries(dlg.Control<QComboBox>(1006)), QStringList({"ODD", "EVEN", "NONE"}));
  QCOMPARE(Entries(dlg.Control<QComboBox>(1026)),
           QStringList({"DISABLED", "ENABLED", "HANDSHAKE", "TOGGLE"}));
  const std::pair<int, const char*> shown[] = {{1004, "19200"},   {1022, "8"},
                                               {1006, "NONE"},    {1024, "1"},
                                               {1025, "ENABLED"}, {1026, "TOGGLE"}};
  for (const auto& [id, text] : shown) {
    QCOMPARE(dlg.Control<QComboBox>(id)->currentText(), QString(text));
    QVERIFY(!dlg.Control<QComboBox>(id)->isEnabled());
  }
  QVERIFY(!dlg.Control<QGroupBox>(1012)->isEnabled());
  QVERIFY(!dlg.Control<QLabel>(1013)->isEnabled());
  QVERIFY(dlg.Control<QLineEdit>(1007)->isEnabled());

  // A rate the list does not have shows 9600; unknown codes show the fallbacks.
  CEndPointDlg odd;
  odd.m_serial = InitialSerial();
  odd.m_serial.baudRate = 12345;
  odd.m_serial.wordLength = 5;
  odd.m_serial.parity = 9;
  odd.m_serial.stopBits = 1;
  odd.m_serial.dtrControl = 7;
  odd.m_serial.rtsControl = 7;
  odd.show();
  QCOMPARE(odd.Control<QComboBox>(1004)->currentText(), QString("9600"));
  QCOMPARE(odd.Control<QComboBox>(1022)->currentText(), QString("8"));
  QCOMPARE(odd.Control<QComboBox>(1006)->currentText(), QString("NONE"));
  QCOMPARE(odd.Control<QComboBox>(1024)->currentText(), QString("2"));
  QCOMPARE(odd.Control<QComboBox>(1025)->currentText(), QString("DISABLED"));
  QCOMPARE(odd.Control<QComboBox>(1026)->currentText(), QString("DISABLED"));
}

void DialogTest::endpointDialogSerialPartFollowsConnectUsing() {
  MessageLog log;
  EndpointRegistry registry;
  CEndPointDlg dlg;
  dlg.m_strName = "LINE3";
  dlg.m_nTcpPort = 502;
  dlg.m_serial = InitialSerial();
  dlg.m_pFrame = &registry;
  dlg.show();
  dlg.Control<QComboBox>(1027)->setCurrentIndex(3);
  QVERIFY(dlg.Control<QComboBox>(1004)->isEnabled());
  QVERIFY(dlg.Control<QGroupBox>(1028)->isEnabled());
  QVERIFY(dlg.Control<QLabel>(1030)->isEnabled());
  QVERIFY(!dlg.Control<QLineEdit>(1007)->isEnabled());
  QVERIFY(!dlg.Control<QLabel>(1011)->isEnabled());

  dlg.Control<QComboBox>(1006)->setCurrentText("EVEN");
  QCOMPARE(int(dlg.m_serial.parity), 2);
  dlg.Control<QComboBox>(1004)->setCurrentText("115200");
  dlg.Control<QComboBox>(1022)->setCurrentText("7");
  dlg.Control<QComboBox>(1024)->setCurrentText("2");
  dlg.Control<QComboBox>(1025)->setCurrentText("HANDSHAKE");
  dlg.Control<QComboBox>(1026)->setCurrentText("DISABLED");
  dlg.accept();
  QCOMPARE(dlg.result(), int(QDialog::Accepted));
  QCOMPARE(dlg.m_nCommPort, 3);
  QCOMPARE(dlg.m_strName, std::string("LINE3"));
  QCOMPARE(dlg.m_serial.baudRate, 115200u);
  QCOMPARE(int(dlg.m_serial.wordLength), 7);
  QCOMPARE(int(dlg.m_serial.stopBits), 2);
  QCOMPARE(dlg.m_serial.dtrControl, 2u);
  QCOMPARE(dlg.m_serial.rtsControl, 0u);
  QVERIFY(log.texts.empty());

  // NONE stores 0 again; only the list that changed touches its field.
  CEndPointDlg again;
  again.m_serial = InitialSerial();
  again.m_serial.parity = 2;
  again.m_serial.baudRate = 12345;
  again.show();
  again.Control<QComboBox>(1006)->setCurrentText("NONE");
  QCOMPARE(int(again.m_serial.parity), 0);
  QCOMPARE(again.m_serial.baudRate, 12345u);
}

void DialogTest::endpointDialogRefusesNamesAndPortsInUse() {
  MessageLog log;
  EndpointRegistry registry;
  AddEndpoint(registry, "MODBUS1");
  AddEndpoint(registry, "LINE", 3);
  registry.m_endpoints.front()->m_nPort = 3;  // a TCP port 3 is no COM port
  CEndPointDlg dlg;
  dlg.m_strName = "MODBUS1";
  dlg.m_serial = InitialSerial();
  dlg.m_pFrame = &registry;
  dlg.show();
  dlg.accept();
  QCOMPARE(log.texts, std::vector<std::string>{"Endpoint Name Already In Use!"});
  QVERIFY(dlg.isVisible());

  dlg.Control<QLineEdit>(1000)->setText("modbus1");
  dlg.Control<QComboBox>(1027)->setCurrentIndex(3);
  dlg.accept();
  QCOMPARE(log.texts.back(), std::string("Selected COMM Port Already In Use!"));
  QVERIFY(dlg.isVisible());
  QCOMPARE(dlg.Control<QLineEdit>(1000)->text(), QString("modbus1"));

  dlg.Control<QComboBox>(1027)->setCurrentIndex(0);
  dlg.Control<QLineEdit>(1007)->setText("127.0.0.1");
  dlg.Control<QLineEdit>(1020)->setText("502");
  dlg.accept();
  QCOMPARE(dlg.result(), int(QDialog::Accepted));
  QCOMPARE(dlg.m_strName, std::string("modbus1"));
  QCOMPARE(dlg.m_nCommPort, 0);
  QCOMPARE(log.texts.size(), size_t(2));
}

void DialogTest::endpointDialogRefusesAPortThatIsNoInteger() {
  MessageLog log;
  EndpointRegistry registry;
  CEndPointDlg dlg;
  dlg.m_pFrame = &registry;
  dlg.m_serial = InitialSerial();
  dlg.show();
  dlg.Control<QLineEdit>(1000)->setText("PLC");
  dlg.Control<QLineEdit>(1020)->setText("50x2");
  dlg.accept();
  QCOMPARE(log.texts, std::vector<std::string>{"Service Port: Enter an integer."});
  QVERIFY(dlg.isVisible());
  QCOMPARE(dlg.focusWidget(), dlg.Control<QLineEdit>(1020));
  dlg.Control<QLineEdit>(1020)->setText("1502");
  dlg.Control<QLineEdit>(1007)->setText("10.0.0.9");
  dlg.accept();
  QCOMPARE(dlg.result(), int(QDialog::Accepted));
  QCOMPARE(dlg.m_nTcpPort, 1502);
  QCOMPARE(dlg.m_strIpAddress, std::string("10.0.0.9"));
  QCOMPARE(dlg.m_strName, std::string("PLC"));
}

void DialogTest::endpointDialogChecksTheNetworkFields_data() {
  QTest::addColumn<int>("connectUsing");
  QTest::addColumn<QString>("ip");
  QTest::addColumn<QString>("port");
  QTest::addColumn<QString>("refusal");  // empty: accepted
  const QString ports = "Service Port: Enter an integer between 1 and 65535.";
  const QString addresses =
      "IP Address: Enter an IPv4 address: four numbers from 0 to 255 separated by dots.";
  QTest::newRow("port beyond 16 bits") << 0 << "10.0.0.9"
                                       << "102037" << ports;
  QTest::newRow("port 0") << 0 << "10.0.0.9"
                          << "0" << ports;
  QTest::newRow("port -1") << 0 << "10.0.0.9"
                           << "-1" << ports;
  QTest::newRow("ports 1 and 65535") << 0 << "10.0.0.9"
                                     << "65535"
                                     << "";
  QTest::newRow("lowest port") << 0 << "0.0.0.0"
                               << "1"
                               << "";
  QTest::newRow("octet above 255") << 0 << "10.0.0.256"
                                   << "502" << addresses;
  QTest::newRow("three octets") << 0 << "10.0.9"
                                << "502" << addresses;
  const QString hosts =
      "IP Address: Enter an IPv4 address or a host name: letters, digits and hyphens, with dots between the "
      "parts.";
  QTest::newRow("host name") << 0 << "plc-7.local"
                             << "502"
                             << "";
  QTest::newRow("host name with a blank") << 0 << "plc local"
                                          << "502" << hosts;
  QTest::newRow("host part ending in a hyphen") << 0 << "plc-.local"
                                                << "502" << hosts;
  QTest::newRow("empty address") << 0 << ""
                                 << "502" << addresses;
  // A serial endpoint never uses them: whatever they hold stays unchecked.
  QTest::newRow("serial") << 3 << "plc.local"
                          << "102037"
                          << "";
}

// The protocol, pause, retries and RS-485 fields reach the dialog's fields;
// retries only count for datagrams, RS-485 only for a COM port.
void DialogTest::endpointDialogCarriesTheLinkSettings_data() {
  QTest::addColumn<int>("connectUsing");
  QTest::addColumn<QString>("protocol");
  QTest::addColumn<QString>("retries");
  QTest::addColumn<QString>("rs485");
  QTest::addColumn<int>("wantProtocol");
  QTest::addColumn<bool>("retriesEnabled");
  QTest::addColumn<QString>("refusal");
  const QString retries = "Retries (UDP): Enter an integer between 0 and 100.";
  QTest::newRow("rtu over tcp") << 0 << "RTU over TCP"
                                << "0"
                                << "RTS ON SEND" << 5 << false << "";
  QTest::newRow("rtu over udp") << 0 << "RTU over UDP"
                                << "3"
                                << "AS RTS SAYS" << 10 << true << "";
  QTest::newRow("too many retries") << 0 << "Modbus/TCP over UDP"
                                    << "101"
                                    << "AS RTS SAYS" << 8 << true << retries;
  QTest::newRow("com port rs485") << 2 << "Modbus/TCP"
                                  << "0"
                                  << "RTS AFTER SEND" << 1 << false << "";
}

void DialogTest::endpointDialogCarriesTheLinkSettings() {
  QFETCH(int, connectUsing);
  QFETCH(QString, protocol);
  QFETCH(QString, retries);
  QFETCH(QString, rs485);
  QFETCH(int, wantProtocol);
  QFETCH(bool, retriesEnabled);
  QFETCH(QString, refusal);
  MessageLog log;
  EndpointRegistry registry;
  CEndPointDlg dlg;
  dlg.m_strName = "GW1";
  dlg.m_pFrame = &registry;
  dlg.m_serial = InitialSerial();
  dlg.m_nTcpPort = 4001;
  dlg.m_strIpAddress = "gw.plant";
  dlg.show();
  dlg.Control<QComboBox>(1027)->setCurrentIndex(connectUsing);
  dlg.findChild<QComboBox*>("protocol")->setCurrentText(protocol);
  dlg.findChild<QComboBox*>("rs485Mode")->setCurrentText(rs485);
  QCOMPARE(dlg.findChild<QLineEdit*>("retries")->isEnabled(), retriesEnabled);
  QCOMPARE(dlg.findChild<QComboBox*>("rs485Mode")->isEnabled(), connectUsing != 0);
  dlg.findChild<QLineEdit*>("retries")->setText(retries);
  dlg.findChild<QLineEdit*>("pause")->setText("25");
  dlg.findChild<QLineEdit*>("rs485Before")->setText("2");
  dlg.findChild<QLineEdit*>("sharePort")->setText("5020");
  dlg.findChild<QLineEdit*>("shareBind")->setText("0.0.0.0");
  dlg.accept();
  if (!refusal.isEmpty()) {
    QCOMPARE(log.texts, std::vector<std::string>{refusal.toStdString()});
    return;
  }
  QVERIFY(log.texts.empty());
  QCOMPARE(dlg.result(), int(QDialog::Accepted));
  QCOMPARE(dlg.m_nProtocol, wantProtocol);
  QCOMPARE(dlg.m_nRetries, retries.toInt());
  QCOMPARE(dlg.m_nPauseMs, 25);
  QCOMPARE(dlg.m_nRs485Mode, dlg.findChild<QComboBox*>("rs485Mode")->currentIndex());
  QCOMPARE(dlg.m_nRs485BeforeMs, 2);
  QCOMPARE(dlg.m_nSharePort, 5020);
  QCOMPARE(dlg.m_strShareBind, std::string("0.0.0.0"));
}

void DialogTest::endpointDialogChecksTheNetworkFields() {
  QFETCH(int, connectUsing);
  QFETCH(QString, ip);
  QFETCH(QString, port);
  QFETCH(QString, refusal);
  MessageLog log;
  EndpointRegistry registry;
  CEndPointDlg dlg;
  dlg.m_strName = "PLC";
  dlg.m_pFrame = &registry;
  dlg.m_serial = InitialSerial();
  dlg.show();
  dlg.Control<QComboBox>(1027)->setCurrentIndex(connectUsing);
  dlg.Control<QLineEdit>(1007)->setText(ip);
  dlg.Control<QLineEdit>(1020)->setText(port);
  dlg.accept();
  if (refusal.isEmpty()) {
    QVERIFY(log.texts.empty());
    QCOMPARE(dlg.result(), int(QDialog::Accepted));
    if (connectUsing == 0) QCOMPARE(dlg.m_nTcpPort, port.toInt());
    return;
  }
  QCOMPARE(log.texts, std::vector<std::string>{refusal.toStdString()});
  QVERIFY(dlg.isVisible());
}

void DialogTest::scanDefinitionTextNamingNoEntryChoosesNone_data() {
  QTest::addColumn<QString>("endpoint");
  QTest::addColumn<QString>("pointType");
  QTest::addColumn<int>("endpointChosen");
  QTest::addColumn<int>("pointTypeChosen");
  QTest::newRow("both named") << "MODBUS2"
                              << "INPUT REGISTER" << 1 << 4;
  QTest::newRow("letter case aside") << "modbus2"
                                     << "coil status" << 1 << 1;
  QTest::newRow("endpoint names nothing") << "FOO"
                                          << "HOLDING REGISTER" << -1 << 3;
  QTest::newRow("point type names nothing") << "MODBUS1"
                                            << "REGISTERS" << 0 << 0;
}

void DialogTest::scanDefinitionTextNamingNoEntryChoosesNone() {
  QFETCH(QString, endpoint);
  QFETCH(QString, pointType);
  QFETCH(int, endpointChosen);
  QFETCH(int, pointTypeChosen);
  CDataDefDlg dlg;
  FillNewScan(dlg);
  dlg.show();
  dlg.Control<QComboBox>(1031)->setEditText(endpoint);
  dlg.Control<QComboBox>(1002)->setEditText(pointType);
  dlg.accept();
  QCOMPARE(dlg.m_nEndpoint, endpointChosen);
  QCOMPARE(dlg.m_nPointType, pointTypeChosen);
}

namespace {

double Luminance(const QColor& color) {
  auto channel = [](double c) {
    return c <= 0.03928 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
  };
  return 0.2126 * channel(color.redF()) + 0.7152 * channel(color.greenF()) +
         0.0722 * channel(color.blueF());
}

double Contrast(const QColor& a, const QColor& b) {
  const double la = Luminance(a), lb = Luminance(b);
  return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

}  // namespace

void DialogTest::dialogTextsAreReadableAndWhole() {
  // The debug dialog's values stay disabled, yet as readable as any text.
  CDebugDlg debug;
  debug.show();
  for (int id : {1017, 1018, 1004, 1006, 1021, 1022, 1001, 1003}) {
    auto* edit = debug.Control<QLineEdit>(id);
    QVERIFY(!edit->isEnabled());
    const QPalette& palette = edit->palette();
    QVERIFY2(Contrast(palette.color(QPalette::Disabled, QPalette::Text),
                      palette.color(QPalette::Disabled, QPalette::Base)) >= 4.5,
             qPrintable(QString::number(id)));
  }
  // Connect Using shows its longest entry whole.
  EndpointRegistry registry;
  CEndPointDlg endpoint;
  endpoint.m_pFrame = &registry;
  endpoint.m_serial = InitialSerial();
  endpoint.show();
  auto* connectUsing = endpoint.Control<QComboBox>(1027);
  QCOMPARE(connectUsing->currentText(), QString("Remote Modbus/TCP Server"));
  QVERIFY(connectUsing->width() >
          connectUsing->fontMetrics().horizontalAdvance("Remote Modbus/TCP Server"));

  // Each COM port says which device it opens, under the list and as its tip.
  CEndPointDlg serial;
  serial.m_pFrame = &registry;
  serial.m_serial = InitialSerial();
  serial.m_devicePath = [](int port) { return "/dev/ttyUSB" + std::to_string(port); };
  serial.show();
  auto* device = serial.findChild<QLabel*>("device");
  QCOMPARE(device->text(), QString());
  serial.Control<QComboBox>(1027)->setCurrentIndex(3);
  QCOMPARE(device->text(), QString("Device: /dev/ttyUSB3"));
  QCOMPARE(serial.Control<QComboBox>(1027)->itemData(32, Qt::ToolTipRole).toString(),
           QString("/dev/ttyUSB32"));
}

void DialogTest::removeDialogPreselectsAndHandsBackTheChoice() {
  CRemoveEndpointDlg dlg;
  dlg.m_names = {"MODBUS1", "MODBUS2", "MODBUS3"};
  dlg.m_nSelection = 2;
  dlg.show();
  QCOMPARE(dlg.windowTitle(), QString("Remove Modbus EndPoint"));
  auto* list = dlg.Control<QListWidget>(1002);
  QCOMPARE(list->count(), 3);
  QCOMPARE(list->currentRow(), 2);
  list->setCurrentRow(0);
  dlg.accept();
  QCOMPARE(dlg.m_nSelection, 0);

  CRemoveEndpointDlg none;
  none.m_nSelection = -1;
  none.show();
  none.accept();
  QCOMPARE(none.m_nSelection, -1);
}

void DialogTest::scanDefinitionRangeChecks_data() {
  QTest::addColumn<int>("edit");
  QTest::addColumn<QString>("text");
  QTest::addColumn<QString>("refusal");
  // Each refusal names its field.
  const QString poll = "Poll Frequency: Enter an integer between 100 and 10000.";
  const QString length = "Scan Length: Enter an integer between 1 and 1000.";
  const QString node = "Slave Node: Enter an integer between 0 and 255.";
  QTest::newRow("poll 99") << 1004 << "99" << poll;
  QTest::newRow("poll 100") << 1004 << "100" << QString();
  QTest::newRow("poll 10000") << 1004 << "10000" << QString();
  QTest::newRow("poll 10001") << 1004 << "10001" << poll;
  QTest::newRow("poll text") << 1004 << "fast"
                             << "Poll Frequency: Enter an integer.";
  QTest::newRow("length 0") << 1003 << "0" << length;
  QTest::newRow("length 1") << 1003 << "1" << QString();
  QTest::newRow("length 1000") << 1003 << "1000" << QString();
  QTest::newRow("length 1001") << 1003 << "1001" << length;
  QTest::newRow("node 0") << 1000 << "0" << QString();
  QTest::newRow("node 255") << 1000 << "255" << QString();
  QTest::newRow("node 256") << 1000 << "256" << node;
  QTest::newRow("node -1") << 1000 << "-1" << node;
  QTest::newRow("address text") << 1001 << "4x"
                                << "Point Address: Enter an integer.";
}

void DialogTest::scanDefinitionRangeChecks() {
  QFETCH(int, edit);
  QFETCH(QString, text);
  QFETCH(QString, refusal);
  MessageLog log;
  CDataDefDlg dlg;
  FillNewScan(dlg);
  dlg.show();
  dlg.Control<QLineEdit>(edit)->setText(text);
  dlg.accept();
  if (refusal.isEmpty()) {
    QVERIFY(log.texts.empty());
    QCOMPARE(dlg.result(), int(QDialog::Accepted));
    QCOMPARE(QString::number(edit == 1004   ? dlg.m_nPollFrequency
                             : edit == 1003 ? dlg.m_nScanLength
                                            : dlg.m_nSlaveNode),
             text);
  } else {
    QCOMPARE(log.texts, std::vector<std::string>{refusal.toStdString()});
    QVERIFY(dlg.isVisible());
    QCOMPARE(dlg.focusWidget(), dlg.Control<QLineEdit>(edit));
  }
}

void DialogTest::scanDefinitionPointTypeAndReadOnlyMode() {
  CDataDefDlg dlg;
  FillNewScan(dlg);
  dlg.show();
  QCOMPARE(dlg.windowTitle(), QString("Scan Definition"));
  auto* pointType = dlg.Control<QComboBox>(1002);
  QCOMPARE(Entries(pointType),
           QStringList({"COIL STATUS", "INPUT STATUS", "HOLDING REGISTER", "INPUT REGISTER"}));
  QCOMPARE(pointType->currentText(), QString("HOLDING REGISTER"));
  QCOMPARE(dlg.Control<QComboBox>(1031)->currentText(), QString("MODBUS1"));
  auto* setDefault = dlg.Control<QPushButton>(1013);
  QVERIFY(setDefault->isEnabled());
  pointType->setCurrentIndex(0);
  QVERIFY(!setDefault->isEnabled());
  pointType->setCurrentIndex(1);
  QVERIFY(!setDefault->isEnabled());
  pointType->setCurrentIndex(3);
  QVERIFY(setDefault->isEnabled());
  dlg.Control<QComboBox>(1031)->setCurrentIndex(1);
  dlg.Control<QLineEdit>(1001)->setText("7000");
  dlg.accept();
  QCOMPARE(dlg.m_nPointType, 4);
  QCOMPARE(dlg.m_nEndpoint, 1);
  QCOMPARE(dlg.m_nPointAddress, 7000);

  CDataDefDlg shown;
  FillNewScan(shown);
  shown.m_nPointType = 1;
  shown.m_bEditable = 0;
  shown.show();
  QVERIFY(!shown.Control<QComboBox>(1002)->isEnabled());
  for (int id : {1000, 1001, 1003}) QVERIFY(!shown.Control<QLineEdit>(id)->isEnabled());
  QVERIFY(shown.Control<QLineEdit>(1004)->isEnabled());
  QVERIFY(shown.Control<QComboBox>(1031)->isEnabled());
  QVERIFY(!shown.Control<QPushButton>(1013)->isEnabled());
}

void DialogTest::scanDefinitionDefaultDataTypeKeptOnlyOnOk() {
  CDataDefDlg dlg;
  FillNewScan(dlg);
  dlg.show();
  AnswerNextModal([](QWidget* modal) {
    auto* types = qobject_cast<CDataTypeDlg*>(modal);
    QVERIFY(types);
    QCOMPARE(types->windowTitle(), QString("Default Register Configuration"));
    QVERIFY(types->Control<QLineEdit>(1015)->isEnabled());
    types->Control<QComboBox>(1002)->setCurrentIndex(3);
    types->Control<QLineEdit>(1011)->setText("0");
    types->Control<QLineEdit>(1012)->setText("50");
    types->Control<QLineEdit>(1015)->setText("_");
    types->accept();
  });
  dlg.Control<QPushButton>(1013)->click();
  QVERIFY(AllModalsAnswered());
  QCOMPARE(dlg.m_nDataType, 3);
  QCOMPARE(dlg.m_fHighLimit, 50.0f);
  QCOMPARE(dlg.m_strDelimiter, std::string("_"));

  AnswerNextModal([](QWidget* modal) {
    auto* types = qobject_cast<CDataTypeDlg*>(modal);
    types->Control<QComboBox>(1002)->setCurrentIndex(6);
    types->reject();
  });
  dlg.Control<QPushButton>(1013)->click();
  QVERIFY(AllModalsAnswered());
  QCOMPARE(dlg.m_nDataType, 3);
}

void DialogTest::dataTypeDialogOffersAndEnables() {
  CDataTypeDlg row;
  row.m_strTitle = "MODBUS1.NODE1.40001";
  row.m_nDataType = 1;
  row.m_strDelimiter = ".";
  row.m_fHighLimit = 100;
  row.show();
  QCOMPARE(row.windowTitle(), QString("MODBUS1.NODE1.40001"));
  auto* types = row.Control<QComboBox>(1002);
  QCOMPARE(Entries(types),
           QStringList({"UNSIGNED", "INTEGER", "SCALED 0-4095", "SCALED 0-9999", "Unsigned 16 (BA)",
                        "Integer 16 (BA)", "BCD 16", "Bit of register"}));
  QCOMPARE(types->currentIndex(), 1);
  QVERIFY(!row.Control<QLineEdit>(1015)->isEnabled());
  QCOMPARE(row.Control<QLineEdit>(1015)->text(), QString("."));
  QVERIFY(!row.Control<QLineEdit>(1011)->isEnabled());
  types->setCurrentIndex(2);
  QVERIFY(row.Control<QLineEdit>(1011)->isEnabled());
  QVERIFY(row.Control<QLineEdit>(1012)->isEnabled());
  types->setCurrentIndex(3);
  QVERIFY(row.Control<QLineEdit>(1012)->isEnabled());
  types->setCurrentIndex(0);
  QVERIFY(!row.Control<QLineEdit>(1012)->isEnabled());

  CDataTypeDlg all;
  all.m_bLongTypes = 1;
  all.m_bDelimiterEnabled = 1;
  all.m_nDataType = 2;
  all.show();
  QCOMPARE(all.Control<QComboBox>(1002)->count(), 36);
  QCOMPARE(all.Control<QComboBox>(1002)->itemText(7), QString("WORD Swapped LONG"));
  QCOMPARE(all.Control<QComboBox>(1002)->itemText(15), QString("Float 32 (DCBA)"));
  QVERIFY(all.Control<QLineEdit>(1011)->isEnabled());
  all.Control<QComboBox>(1002)->setCurrentIndex(4);
  QVERIFY(!all.Control<QLineEdit>(1011)->isEnabled());
  QCOMPARE(all.m_nDataType, 4);
}

// Each added type enables the settings it uses, and each setting is checked.
void DialogTest::dataTypeDialogCarriesBitStringAndScale() {
  struct Case {
    const char* entry;
    int32_t dataType;
    int enabled;  // the control among bit, string registers, linear scale; -1 none
  };
  const Case cases[] = {{"Bit of register", 33, 1020},
                        {"ASCII String (BA)", 35, 1021},
                        {"Integer 64 (DCBA)", 21, 1022},
                        {"SCALED 0-4095", 2, -1}};
  for (const Case& c : cases) {
    CDataTypeDlg dlg;
    dlg.m_bLongTypes = true;
    dlg.show();
    dlg.Control<QComboBox>(1002)->setCurrentText(c.entry);
    QCOMPARE(dlg.m_nDataType, c.dataType);
    for (int id : {1020, 1021, 1022})
      QVERIFY2(dlg.Control<QWidget>(id)->isEnabled() == (id == c.enabled), c.entry);
  }

  CDataTypeDlg row;
  row.m_nDataType = 34;
  row.show();
  QVERIFY(!row.Control<QLineEdit>(1021)->isEnabled());

  MessageLog log;
  CDataTypeDlg dlg;
  dlg.m_bLongTypes = true;
  dlg.m_nDataType = 9;
  dlg.show();
  QCOMPARE(dlg.Control<QComboBox>(1002)->currentText(), QString("Unsigned 32 (CDAB)"));
  QVERIFY(!dlg.Control<QLineEdit>(1023)->isEnabled());
  dlg.Control<QCheckBox>(1022)->setChecked(true);
  QVERIFY(dlg.Control<QLineEdit>(1023)->isEnabled());
  dlg.Control<QLineEdit>(1023)->setText("4000");
  dlg.Control<QLineEdit>(1024)->setText("20000");
  dlg.Control<QLineEdit>(1025)->setText("-40.5");
  dlg.Control<QLineEdit>(1026)->setText("nan");
  dlg.accept();
  QCOMPARE(log.texts, std::vector<std::string>{"Enter a number."});
  QVERIFY(dlg.isVisible());
  // Nothing is taken back from a refused exchange.
  QCOMPARE(dlg.m_format.scaled, false);
  dlg.Control<QLineEdit>(1026)->setText("120");
  dlg.Control<QLineEdit>(1021)->setText("124");
  dlg.accept();
  QCOMPARE(log.texts.back(), std::string("Enter an integer between 1 and 123."));
  dlg.Control<QLineEdit>(1021)->setText("8");
  dlg.accept();
  QCOMPARE(dlg.result(), int(QDialog::Accepted));
  const TagFormat expected{.bit = 0,
                           .stringRegisters = 8,
                           .scaled = true,
                           .rawLow = 4000,
                           .rawHigh = 20000,
                           .engLow = -40.5,
                           .engHigh = 120};
  QVERIFY(dlg.m_format == expected);
  QCOMPARE(dlg.m_nDataType, 9);
}

void DialogTest::dataTypeDialogChecksLimitsAndDelimiter() {
  MessageLog log;
  CDataTypeDlg dlg;
  dlg.m_bLongTypes = 1;
  dlg.m_bDelimiterEnabled = 1;
  dlg.m_nDataType = 2;
  dlg.m_fLowLimit = 0;
  dlg.m_fHighLimit = 4095;
  dlg.m_strDelimiter = ".";
  dlg.show();
  QCOMPARE(dlg.Control<QLineEdit>(1012)->text(), QString("4095"));
  dlg.Control<QLineEdit>(1011)->setText("low");
  dlg.accept();
  QCOMPARE(log.texts, std::vector<std::string>{"Enter a number."});
  QCOMPARE(dlg.focusWidget(), dlg.Control<QLineEdit>(1011));
  QVERIFY(dlg.isVisible());

  // Limits are not related to each other; an empty delimiter is fine.
  dlg.Control<QLineEdit>(1011)->setText("100");
  dlg.Control<QLineEdit>(1012)->setText("0");
  dlg.Control<QLineEdit>(1015)->setText("");
  dlg.accept();
  QCOMPARE(dlg.result(), int(QDialog::Accepted));
  QCOMPARE(dlg.m_fLowLimit, 100.0f);
  QCOMPARE(dlg.m_fHighLimit, 0.0f);
  QCOMPARE(dlg.m_strDelimiter, std::string());
  QCOMPARE(dlg.Control<QLineEdit>(1015)->maxLength(), 1);
}

void DialogTest::debugDialogShowsItsValuesInOrder() {
  CDebugDlg dlg;
  dlg.m_nNumbrPolls = 17;
  dlg.m_nScanInProgress = 1;
  dlg.m_nPollFrequency = 500;
  dlg.m_nPortNumber = 502;
  dlg.m_nSlaveId = 9;
  dlg.m_nMsgType = 3;
  dlg.m_nAddress = 40;
  dlg.m_nLength = 12;
  dlg.show();
  QCOMPARE(dlg.windowTitle(), QString("Debug Dialog"));
  const int order[] = {1017, 1018, 1004, 1006, 1021, 1022, 1001, 1003};
  const char* values[] = {"17", "1", "500", "502", "9", "3", "40", "12"};
  int lastY = -1;
  for (int i = 0; i < 8; ++i) {
    auto* edit = dlg.Control<QLineEdit>(order[i]);
    QCOMPARE(edit->text(), QString(values[i]));
    QVERIFY(!edit->isEnabled());
    QVERIFY(edit->y() > lastY);
    lastY = edit->y();
  }
  const QList<QPushButton*> buttons = dlg.findChildren<QPushButton*>();
  QCOMPARE(buttons.size(), 1);
  QCOMPARE(buttons.front()->text(), QString("OK"));
  buttons.front()->click();
  QCOMPARE(dlg.result(), int(QDialog::Rejected));
  QVERIFY(!dlg.isVisible());
}

void DialogTest::messageBoxesCarryTheApplicationTitle() {
  InstallWidgetMessageBox();
  QString title, text;
  bool warning = false;
  AnswerNextModal([&](QWidget* modal) {
    auto* box = qobject_cast<QMessageBox*>(modal);
    QVERIFY(box);
    title = box->windowTitle();
    text = box->text();
    warning = box->icon() == QMessageBox::Warning;
    QCOMPARE(box->buttons().size(), 1);
    box->button(QMessageBox::Ok)->click();
  });
  QCOMPARE(AfxMessageBox("Endpoint Name Already In Use!", MB_OK | MB_ICONEXCLAMATION), 1);
  QVERIFY(AllModalsAnswered());
  QCOMPARE(title, QString("pelmoran"));
  QCOMPARE(text, QString("Endpoint Name Already In Use!"));
  QVERIFY(warning);
  SetMessageBoxHandler(nullptr);
}

QTEST_MAIN(DialogTest)
#include "DialogTest.moc"
