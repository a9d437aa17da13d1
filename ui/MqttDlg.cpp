#include "ui/MqttDlg.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFileInfo>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QTimer>
#include <QVBoxLayout>

#include "platform/MessageBox.h"
#include "runtime/MqttConfig.h"
#include "runtime/SettingsFile.h"
#include "ui/DataExchange.h"

namespace {

constexpr const char* kReservedCharacters = "/+#";

std::string FolderOf(const std::string& path) { return path.substr(0, path.rfind('/') + 1); }

// Stops the exchange with message when bad holds, unless it stopped already.
void Refuse(DataExchange& dx, QWidget* control, bool bad, const std::string& message) {
  if (dx.m_bSaveAndValidate && !dx.m_bFailed && bad) dx.Fail(control, message);
}

// An MQTT name that becomes a topic level.
void TopicName(DataExchange& dx, QLineEdit* edit, std::string& value, const char* what) {
  dx.Text(edit, value);
  Refuse(dx, edit, value.find_first_of(kReservedCharacters) != std::string::npos,
         std::string(what) + " cannot hold '/', '+' or '#'.");
}

void ReadableFile(DataExchange& dx, QLineEdit* edit, std::string& value) {
  dx.Text(edit, value);
  const QFileInfo file(QString::fromStdString(value));
  Refuse(dx, edit, !value.empty() && !(file.isFile() && file.isReadable()),
         "The file " + value + " cannot be read.");
}

template <class T>
void Choice(DataExchange& dx, QComboBox* combo, T& value) {
  if (!dx.m_bSaveAndValidate)
    combo->setCurrentIndex(static_cast<int>(value));
  else if (!dx.m_bFailed)
    value = static_cast<T>(combo->currentIndex());
}

void Check(DataExchange& dx, QCheckBox* box, bool& value) {
  if (!dx.m_bSaveAndValidate)
    box->setChecked(value);
  else if (!dx.m_bFailed)
    value = box->isChecked();
}

QString CountersText(const std::optional<mqtt::PublisherCounters>& counters) {
  if (!counters) return "The publisher is not running.";
  return QString("%1. Published %2, acknowledged %3, spooled %4, dropped %5, commands %6.")
      .arg(counters->connected ? "Connected" : "Not connected")
      .arg(counters->published)
      .arg(counters->acknowledged)
      .arg(counters->spooled)
      .arg(counters->spoolDropped)
      .arg(counters->commands);
}

}  // namespace

MqttDlg::MqttDlg(std::string settingsPath, CountersSource counters, QWidget* parent)
    : ExchangeDialog(parent),
      m_settings(mqttconfig::Read(SettingsFile::Load(settingsPath), FolderOf(settingsPath),
                                  mqttconfig::HostName())),
      m_strSettingsPath(std::move(settingsPath)),
      m_counters(std::move(counters)),
      m_pCounters(new QLabel(this)) {
  setWindowTitle("MQTT");
  auto* form = new QFormLayout;
  form->addRow(AddCheck(kEnabledId, "&Publish the tags to an MQTT broker"));
  form->addRow("Broker &host:", AddEdit(kHostId));
  form->addRow("&Port:", AddEdit(kPortId));
  form->addRow("P&rotocol:", AddCombo(kProtocolId, {"3.1.1", "5"}));
  form->addRow("&Client id (empty: pelmoran-<edge node>):", AddEdit(kClientId));
  form->addRow("&User name:", AddEdit(kUsernameId));
  form->addRow("Pass&word:", AddEdit(kPasswordId));
  form->addRow(AddCheck(kTlsId, "Connect with &TLS"));
  form->addRow("Authorities file (empty: the system's):", AddEdit(kCaFileId));
  form->addRow("Client certificate file:", AddEdit(kCertFileId));
  form->addRow("Client key file:", AddEdit(kKeyFileId));
  form->addRow("&QoS:", AddCombo(kQosId, {"0", "1", "2"}));
  form->addRow("&Keep alive (seconds):", AddEdit(kKeepAliveId));
  form->addRow("&Format:", AddCombo(kFormatId, {"Sparkplug B", "JSON"}));
  form->addRow("&Group id:", AddEdit(kGroupId));
  form->addRow("&Edge node id:", AddEdit(kEdgeNodeId));
  form->addRow("&Devices:", AddCombo(kDevicesId, {"One per endpoint", "One per slave node"}));
  form->addRow("Primar&y host id (empty: none):", AddEdit(kPrimaryHostId));
  form->addRow("JSON topic prefi&x:", AddEdit(kTopicPrefixId));
  form->addRow("&Spool while unreachable (MB):", AddEdit(kSpoolId));
  Control<QLineEdit>(kPasswordId)->setEchoMode(QLineEdit::Password);
  connect(Control<QCheckBox>(kTlsId), &QCheckBox::clicked, this, &MqttDlg::OnTlsClicked);

  m_pCounters->setObjectName("counters");
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  connect(buttons, &QDialogButtonBox::accepted, this, &MqttDlg::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &MqttDlg::reject);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(form);
  layout->addWidget(m_pCounters);
  layout->addWidget(buttons);
  auto* timer = new QTimer(this);
  connect(timer, &QTimer::timeout, this, &MqttDlg::RefreshCounters);
  timer->start(kCountersRefreshMs);
  RefreshCounters();
}

QCheckBox* MqttDlg::AddCheck(int id, const QString& text) {
  auto* box = new QCheckBox(text, this);
  box->setObjectName(QString::number(id));
  return box;
}

QComboBox* MqttDlg::AddCombo(int id, const QStringList& items) {
  auto* combo = new QComboBox(this);
  combo->setObjectName(QString::number(id));
  combo->addItems(items);
  return combo;
}

void MqttDlg::RefreshCounters() {
  m_pCounters->setText(CountersText(m_counters ? m_counters() : std::nullopt));
}

void MqttDlg::OnTlsClicked(bool on) {
  QLineEdit* port = Control<QLineEdit>(kPortId);
  const int from = on ? mqttconfig::kPlainPort : mqttconfig::kTlsPort;
  if (port->text().trimmed() == QString::number(from))
    port->setText(QString::number(on ? mqttconfig::kTlsPort : mqttconfig::kPlainPort));
}

void MqttDlg::DoDataExchange(DataExchange& dx) {
  Check(dx, Control<QCheckBox>(kEnabledId), m_settings.enabled);
  ExchangeConnection(dx);
  ExchangeSecurity(dx);
  ExchangeChoices(dx);
  ExchangeNames(dx);
}

void MqttDlg::ExchangeConnection(DataExchange& dx) {
  QLineEdit* host = Control<QLineEdit>(kHostId);
  dx.Text(host, m_settings.host);
  Refuse(dx, host, QString::fromStdString(m_settings.host).trimmed().isEmpty(),
         "Enter the broker's host name or address.");
  QLineEdit* port = Control<QLineEdit>(kPortId);
  dx.Int(port, m_settings.port);
  dx.TcpPort(port, m_settings.port);
  TopicName(dx, Control<QLineEdit>(kClientId), m_settings.clientId, "A client id");
  QLineEdit* keepAlive = Control<QLineEdit>(kKeepAliveId);
  dx.Int(keepAlive, m_settings.keepAliveSeconds);
  dx.MinMax(keepAlive, m_settings.keepAliveSeconds, mqttconfig::kShortestKeepAlive,
            mqttconfig::kLongestKeepAlive);
}

void MqttDlg::ExchangeSecurity(DataExchange& dx) {
  dx.Text(Control<QLineEdit>(kUsernameId), m_settings.username);
  QLineEdit* password = Control<QLineEdit>(kPasswordId);
  dx.Text(password, m_settings.password);
  // The file keeps a value without the blanks around it.
  Refuse(dx, password,
         QString::fromStdString(m_settings.password).trimmed().toStdString() != m_settings.password,
         "A password cannot begin or end with a blank.");
  Check(dx, Control<QCheckBox>(kTlsId), m_settings.tls);
  ReadableFile(dx, Control<QLineEdit>(kCaFileId), m_settings.caFile);
  QLineEdit* cert = Control<QLineEdit>(kCertFileId);
  ReadableFile(dx, cert, m_settings.certFile);
  ReadableFile(dx, Control<QLineEdit>(kKeyFileId), m_settings.keyFile);
  Refuse(dx, cert, m_settings.certFile.empty() != m_settings.keyFile.empty(),
         "A client certificate needs its key file, and a key its certificate.");
}

void MqttDlg::ExchangeChoices(DataExchange& dx) {
  int protocol = m_settings.protocol == mqtt::ProtocolVersion::V5 ? 1 : 0;
  Choice(dx, Control<QComboBox>(kProtocolId), protocol);
  m_settings.protocol = protocol == 1 ? mqtt::ProtocolVersion::V5 : mqtt::ProtocolVersion::V311;
  Choice(dx, Control<QComboBox>(kQosId), m_settings.qos);
  Choice(dx, Control<QComboBox>(kFormatId), m_settings.format);
  Choice(dx, Control<QComboBox>(kDevicesId), m_settings.devices);
}

void MqttDlg::ExchangeNames(DataExchange& dx) {
  TopicName(dx, Control<QLineEdit>(kGroupId), m_settings.groupId, "A group id");
  TopicName(dx, Control<QLineEdit>(kEdgeNodeId), m_settings.edgeNodeId, "An edge node id");
  TopicName(dx, Control<QLineEdit>(kPrimaryHostId), m_settings.primaryHostId, "A primary host id");
  QLineEdit* prefix = Control<QLineEdit>(kTopicPrefixId);
  dx.Text(prefix, m_settings.topicPrefix);
  Refuse(dx, prefix, m_settings.topicPrefix.find_first_of("+#") != std::string::npos,
         "A topic prefix cannot hold '+' or '#'.");
  QLineEdit* spool = Control<QLineEdit>(kSpoolId);
  auto megabytes = static_cast<int32_t>(m_settings.spoolLimitBytes / mqttconfig::kBytesPerMegabyte);
  dx.Int(spool, megabytes);
  dx.MinMax(spool, megabytes, 0, mqttconfig::kMostSpoolMegabytes);
  if (!dx.m_bFailed)
    m_settings.spoolLimitBytes = static_cast<uint64_t>(megabytes) * mqttconfig::kBytesPerMegabyte;
}

void MqttDlg::OnOK() {
  if (!UpdateData(true)) return;
  SettingsFile file = SettingsFile::Load(m_strSettingsPath);
  mqttconfig::Write(m_settings, file);
  if (!file.Save(m_strSettingsPath)) {
    AfxMessageBox("The settings could not be written to " + m_strSettingsPath + ".");
    return;
  }
  EndDialog(QDialog::Accepted);
}
