#include "ui/EndPointDlg.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QVBoxLayout>
#include <algorithm>

#include "link/EndpointKind.h"
#include "link/EndpointRegistry.h"
#include "platform/MessageBox.h"
#include "ui/DataExchange.h"

namespace {

using ControlId = CEndPointDlg::ControlId;

struct SerialList {
  ControlId id;
  ControlId label;
  std::vector<const char*> entries;
  std::vector<uint32_t> values;
};

const SerialList kBaud{ControlId::kBaudRate,
                       ControlId::kBaudRateLabel,
                       {"110", "300", "600", "1200", "2400", "4800", "9600", "14400", "19200",
                        "38400", "56000", "57600", "115200", "128000", "256000"},
                       {110, 300, 600, 1200, 2400, 4800, 9600, 14400, 19200, 38400, 56000, 57600,
                        115200, 128000, 256000}};
const SerialList kWordLength{
    ControlId::kWordLength, ControlId::kWordLengthLabel, {"7", "8"}, {7, 8}};
const SerialList kParity{
    ControlId::kParity, ControlId::kParityLabel, {"ODD", "EVEN", "NONE"}, {1, 2, 0}};
const SerialList kStopBits{ControlId::kStopBits, ControlId::kStopBitsLabel, {"1", "2"}, {0, 2}};
const SerialList kDtr{
    ControlId::kDtr, ControlId::kDtrLabel, {"DISABLED", "ENABLED", "HANDSHAKE"}, {0, 1, 2}};
const SerialList kRts{ControlId::kRts,
                      ControlId::kRtsLabel,
                      {"DISABLED", "ENABLED", "HANDSHAKE", "TOGGLE"},
                      {0, 1, 2, 3}};

// What a network endpoint speaks, by its protocol number.
struct LinkProtocol {
  const char* entry;
  int protocol;
};
const LinkProtocol kLinkProtocols[] = {
    {"Modbus/TCP", EndpointKind::kRtu},  // 0 and 1 both mean Modbus/TCP
    {"RTU over TCP", EndpointKind::kOverTcp + EndpointKind::kRtu},
    {"ASCII over TCP", EndpointKind::kOverTcp + EndpointKind::kAscii},
    {"Daniels/ENRON RTU over TCP", EndpointKind::kOverTcp + EndpointKind::kDanielsRtu},
    {"Daniels/ENRON ASCII over TCP", EndpointKind::kOverTcp + EndpointKind::kDanielsAscii},
    {"Modbus/TCP over UDP", EndpointKind::kMbapOverUdp},
    {"RTU over UDP", EndpointKind::kOverUdp + EndpointKind::kRtu},
    {"ASCII over UDP", EndpointKind::kOverUdp + EndpointKind::kAscii},
    {"Daniels/ENRON RTU over UDP", EndpointKind::kOverUdp + EndpointKind::kDanielsRtu},
    {"Daniels/ENRON ASCII over UDP", EndpointKind::kOverUdp + EndpointKind::kDanielsAscii},
};
const char* const kRs485Modes[] = {"AS RTS SAYS", "RTS ON SEND", "RTS AFTER SEND"};
constexpr int kMostRetries = 100;
constexpr int kLongestPauseMs = 60000;
constexpr int kLongestRs485DelayMs = 1000;
constexpr int kLastTcpPort = 65535;
constexpr int kMostShareLimit = 1000;

// The entry that shows a value, or the fallback entry for any other value.
int EntryOf(const SerialList& list, uint32_t value, int fallback) {
  for (size_t i = 0; i < list.values.size(); ++i)
    if (list.values[i] == value) return static_cast<int>(i);
  return fallback;
}

uint32_t ValueOf(const SerialList& list, int entry) {
  return entry < 0 ? list.values[0] : list.values[static_cast<size_t>(entry)];
}

QLabel* Label(const char* text, ControlId id, QWidget* parent) {
  auto* label = new QLabel(text, parent);
  label->setObjectName(ExchangeDialog::ControlName(id));
  return label;
}

}  // namespace

CEndPointDlg::CEndPointDlg(QWidget* parent) : ExchangeDialog(parent) {
  setWindowTitle("Modbus Connection");
  BuildControls();
  NameFieldsFromLabels();
}

std::vector<std::pair<QString, int>> CEndPointDlg::ProtocolEntries() {
  std::vector<std::pair<QString, int>> entries;
  for (const LinkProtocol& p : kLinkProtocols) entries.emplace_back(p.entry, p.protocol);
  return entries;
}

void CEndPointDlg::CheckName(DataExchange& dx, QWidget* field, const std::string& name) {
  // Refused rather than cut: a name cut short could name another endpoint.
  if (name.empty())
    dx.Fail(field, "Enter a name: scans and tags are named after their endpoint.");
  else if (QString::fromStdString(name).size() > kLongestName)
    dx.Fail(field, "Enter no more than " + std::to_string(kLongestName) + " characters.");
}

QComboBox* CEndPointDlg::List(ControlId id) const { return Control<QComboBox>(id); }

void CEndPointDlg::BuildControls() {
  auto* layout = new QVBoxLayout(this);
  auto* top = new QFormLayout;
  m_pName = AddEdit(ControlId::kName);
  auto* connectUsing = new QComboBox(this);
  connectUsing->setObjectName(ControlName(ControlId::kConnectUsing));
  // Wide enough for its longest entry, "Remote Modbus/TCP Server".
  connectUsing->setSizeAdjustPolicy(QComboBox::AdjustToContents);
  m_pIp = AddEdit(ControlId::kIpAddress);
  m_pPort = AddEdit(ControlId::kTcpPort);
  QLabel* ipLabel = Label("IP Address:", ControlId::kIpAddressLabel, this);
  QLabel* portLabel = Label("Service Port:", ControlId::kTcpPortLabel, this);
  top->addRow("Endpoint Name:", m_pName);
  top->addRow("Connect Using:", connectUsing);
  m_pDevice = new QLabel(this);
  m_pDevice->setObjectName("device");
  top->addRow(QString(), m_pDevice);
  top->addRow(ipLabel, m_pIp);
  top->addRow(portLabel, m_pPort);
  BuildLinkControls(top, layout);
  m_pTcpPart[0] = ipLabel, m_pTcpPart[1] = portLabel, m_pTcpPart[2] = m_pIp,
  m_pTcpPart[3] = m_pPort;

  auto* comm = new QGroupBox("COMM Port Configuration", this);
  comm->setObjectName(ControlName(ControlId::kCommGroup));
  auto* commForm = new QFormLayout(comm);
  const SerialList* commLists[] = {&kBaud, &kWordLength, &kParity, &kStopBits};
  const char* commLabels[] = {"Baud Rate:", "Word Length:", "Parity:", "Stop Bits:"};
  auto* flow = new QGroupBox("Hardware Flow Control", this);
  flow->setObjectName(ControlName(ControlId::kFlowGroup));
  auto* flowForm = new QFormLayout(flow);
  int n = 0;
  m_pSerialPart[n++] = comm;
  m_pSerialPart[n++] = flow;
  for (int i = 0; i < 4; ++i) {
    QLabel* label = Label(commLabels[i], commLists[i]->label, comm);
    auto* list = new QComboBox(comm);
    list->setObjectName(ControlName(commLists[i]->id));
    commForm->addRow(label, list);
    m_pSerialPart[n++] = label, m_pSerialPart[n++] = list;
  }
  const SerialList* flowLists[] = {&kDtr, &kRts};
  const char* flowLabels[] = {"DTR", "RTS"};
  for (int i = 0; i < 2; ++i) {
    QLabel* label = Label(flowLabels[i], flowLists[i]->label, flow);
    auto* list = new QComboBox(flow);
    list->setObjectName(ControlName(flowLists[i]->id));
    flowForm->addRow(label, list);
    m_pSerialPart[n++] = label, m_pSerialPart[n++] = list;
  }
  layout->addWidget(comm);
  layout->addWidget(flow);
  auto* rs485 = new QGroupBox("RS-485 Direction (driver)", this);
  rs485->setObjectName("rs485");
  auto* rs485Form = new QFormLayout(rs485);
  m_pRs485 = new QComboBox(rs485);
  m_pRs485->setObjectName("rs485Mode");
  m_pRs485Before = AddEdit(QStringLiteral("rs485Before"));
  m_pRs485After = AddEdit(QStringLiteral("rs485After"));
  rs485Form->addRow("Mode:", m_pRs485);
  rs485Form->addRow("Delay before send (ms):", m_pRs485Before);
  rs485Form->addRow("Delay after send (ms):", m_pRs485After);
  m_rs485Part = {rs485, m_pRs485, m_pRs485Before, m_pRs485After};
  layout->addWidget(rs485);
  auto* share = new QGroupBox("Shared With Other Masters (Modbus/TCP)", this);
  share->setObjectName("shareLine");
  auto* shareForm = new QFormLayout(share);
  m_pSharePort = AddEdit(QStringLiteral("sharePort"));
  m_pShareBind = AddEdit(QStringLiteral("shareBind"));
  m_pShareBind->setPlaceholderText(QStringLiteral("127.0.0.1"));
  m_pShareClients = AddEdit(QStringLiteral("shareClients"));
  m_pShareQueued = AddEdit(QStringLiteral("shareQueued"));
  shareForm->addRow("Port (0 off):", m_pSharePort);
  shareForm->addRow("Bind address:", m_pShareBind);
  shareForm->addRow("Most clients (0 default):", m_pShareClients);
  shareForm->addRow("Queued per client (0 default):", m_pShareQueued);
  layout->addWidget(share);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  connect(buttons, &QDialogButtonBox::accepted, this, &CEndPointDlg::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &CEndPointDlg::reject);
  layout->addWidget(buttons);
}

void CEndPointDlg::BuildLinkControls(QFormLayout* top, QVBoxLayout* layout) {
  m_pProtocol = new QComboBox(this);
  m_pProtocol->setObjectName("protocol");
  m_pRetries = AddEdit(QStringLiteral("retries"));
  m_pPause = AddEdit(QStringLiteral("pause"));
  QLabel* protocolLabel = new QLabel("Protocol:", this);
  QLabel* retriesLabel = new QLabel("Retries (UDP):", this);
  top->addRow(protocolLabel, m_pProtocol);
  top->addRow(retriesLabel, m_pRetries);
  top->addRow("Pause Between Requests (ms):", m_pPause);
  layout->addLayout(top);
  m_netPart = {protocolLabel, m_pProtocol, retriesLabel, m_pRetries};
}

void CEndPointDlg::FillLinkLists() {
  for (const LinkProtocol& p : kLinkProtocols) m_pProtocol->addItem(p.entry, p.protocol);
  const int shown = EndpointKind::IsNetLine(true, m_nProtocol) ? m_nProtocol : EndpointKind::kRtu;
  m_pProtocol->setCurrentIndex(std::max(0, m_pProtocol->findData(shown)));
  connect(m_pProtocol, &QComboBox::currentIndexChanged, this, [this](int entry) {
    m_nProtocol = m_pProtocol->itemData(entry).toInt();
    UpdateControls();
  });
  for (const char* mode : kRs485Modes) m_pRs485->addItem(mode);
  m_pRs485->setCurrentIndex(std::clamp(m_nRs485Mode, 0, 2));
  connect(m_pRs485, &QComboBox::currentIndexChanged, this,
          [this](int entry) { m_nRs485Mode = std::max(entry, 0); });
}

void CEndPointDlg::FillSerialLists() {
  for (const SerialList* list : {&kBaud, &kWordLength, &kParity, &kStopBits, &kDtr, &kRts})
    for (const char* entry : list->entries) List(list->id)->addItem(entry);
  QComboBox* connectUsing = List(ControlId::kConnectUsing);
  connectUsing->addItem("Remote Modbus/TCP Server");
  for (int port = 1; port <= 32; ++port) {
    connectUsing->addItem(QString("Direct Connection to COM%1").arg(port));
    if (m_devicePath)
      connectUsing->setItemData(port, QString::fromStdString(m_devicePath(port)), Qt::ToolTipRole);
  }
}

void CEndPointDlg::SelectSerialEntries() {
  List(ControlId::kBaudRate)->setCurrentIndex(EntryOf(kBaud, m_serial.baudRate, 6));  // "9600"
  List(ControlId::kWordLength)->setCurrentIndex(m_serial.wordLength == 7 ? 0 : 1);
  List(ControlId::kParity)->setCurrentIndex(EntryOf(kParity, m_serial.parity, 2));
  List(ControlId::kStopBits)->setCurrentIndex(m_serial.stopBits == 0 ? 0 : 1);
  List(ControlId::kDtr)->setCurrentIndex(EntryOf(kDtr, m_serial.dtrControl, 0));
  List(ControlId::kRts)->setCurrentIndex(EntryOf(kRts, m_serial.rtsControl, 0));
}

void CEndPointDlg::OnInitDialog() {
  FillSerialLists();
  FillLinkLists();
  List(ControlId::kConnectUsing)->setCurrentIndex(m_nCommPort);
  SelectSerialEntries();
  UpdateControls();
  connect(List(ControlId::kConnectUsing), &QComboBox::currentIndexChanged, this,
          &CEndPointDlg::OnConnectUsingChange);
  ConnectSerialLists();
  // The lists were filled after the first layout: sized again for their entries.
  layout()->invalidate();
  layout()->activate();
  adjustSize();
}

void CEndPointDlg::UpdateControls() {
  const bool tcp = List(ControlId::kConnectUsing)->currentIndex() == 0;
  const int port = List(ControlId::kConnectUsing)->currentIndex();
  m_pDevice->setText(
      tcp || !m_devicePath ? QString() : "Device: " + QString::fromStdString(m_devicePath(port)));
  for (QWidget* w : m_pTcpPart) w->setEnabled(tcp);
  for (QWidget* w : m_pSerialPart) w->setEnabled(!tcp);
  for (QWidget* w : m_netPart) w->setEnabled(tcp);
  for (QWidget* w : m_rs485Part) w->setEnabled(!tcp);
  m_pRetries->setEnabled(tcp && EndpointKind::Transport(m_nProtocol) == MBS_NET_UDP &&
                         EndpointKind::IsNetLine(true, m_nProtocol));
}

void CEndPointDlg::OnConnectUsingChange(int index) {
  m_nCommPort = index;
  UpdateControls();
}

void CEndPointDlg::ConnectSerialLists() {
  auto bind = [this](const SerialList& list, auto store) {
    connect(List(list.id), &QComboBox::currentIndexChanged, this,
            [this, &list, store](int entry) { store(m_serial, ValueOf(list, entry)); });
  };
  bind(kBaud, [](SerialSettings& s, uint32_t v) { s.baudRate = v; });
  bind(kWordLength, [](SerialSettings& s, uint32_t v) { s.wordLength = static_cast<uint8_t>(v); });
  bind(kParity, [](SerialSettings& s, uint32_t v) { s.parity = static_cast<uint8_t>(v); });
  bind(kStopBits, [](SerialSettings& s, uint32_t v) { s.stopBits = static_cast<uint8_t>(v); });
  bind(kDtr, [](SerialSettings& s, uint32_t v) { s.dtrControl = v; });
  bind(kRts, [](SerialSettings& s, uint32_t v) { s.rtsControl = v; });
}

void CEndPointDlg::OnOK() {
  const std::string name = m_pName->text().toStdString();
  if (m_pFrame && m_pFrame->FindEndpoint(name)) {
    AfxMessageBox("Endpoint Name Already In Use!", MB_OK | MB_ICONEXCLAMATION);
    return;
  }
  if (m_pFrame && m_pFrame->IsCommPortInUse(m_nCommPort)) {
    AfxMessageBox("Selected COMM Port Already In Use!", MB_OK | MB_ICONEXCLAMATION);
    return;
  }
  ExchangeDialog::OnOK();
}

void CEndPointDlg::DoDataExchange(DataExchange& dx) {
  dx.Text(m_pName, m_strName);
  // Refused rather than cut: a name cut short could name another endpoint.
  if (dx.m_bSaveAndValidate && !dx.m_bFailed) CheckName(dx, m_pName, m_strName);
  dx.Text(m_pIp, m_strIpAddress);
  dx.Int(m_pPort, m_nTcpPort);
  dx.Int(m_pPause, m_nPauseMs);
  dx.MinMax(m_pPause, m_nPauseMs, 0, kLongestPauseMs);
  dx.Int(m_pRetries, m_nRetries);
  dx.Int(m_pRs485Before, m_nRs485BeforeMs);
  dx.Int(m_pRs485After, m_nRs485AfterMs);
  dx.Int(m_pSharePort, m_nSharePort);
  dx.MinMax(m_pSharePort, m_nSharePort, 0, kLastTcpPort);
  dx.Text(m_pShareBind, m_strShareBind);
  dx.Int(m_pShareClients, m_nShareClients);
  dx.MinMax(m_pShareClients, m_nShareClients, 0, kMostShareLimit);
  dx.Int(m_pShareQueued, m_nShareQueued);
  dx.MinMax(m_pShareQueued, m_nShareQueued, 0, kMostShareLimit);
  // An endpoint keeps whatever the other kind's fields hold: it never uses them.
  if (m_nCommPort != 0) {
    dx.MinMax(m_pRs485Before, m_nRs485BeforeMs, 0, kLongestRs485DelayMs);
    dx.MinMax(m_pRs485After, m_nRs485AfterMs, 0, kLongestRs485DelayMs);
    return;
  }
  dx.Host(m_pIp, m_strIpAddress);
  dx.TcpPort(m_pPort, m_nTcpPort);
  dx.MinMax(m_pRetries, m_nRetries, 0, kMostRetries);
}
