#include "ui/PropertyPanel.h"

#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QScrollArea>
#include <QStackedWidget>
#include <algorithm>
#include <cstring>

#include "link/EndpointRegistry.h"
#include "pointdb/DataTypeInfo.h"
#include "pointdb/PelmoranDoc.h"
#include "runtime/Runtime.h"
#include "ui/DataDefDlg.h"
#include "ui/DataExchange.h"
#include "ui/EndPointDlg.h"
#include "ui/PollClock.h"

namespace {

enum Page { kNothing, kEndpointPage, kScanPage };

constexpr int kShortestTimeoutMs = 10;
constexpr int kLongestTimeoutMs = 60000;
constexpr int kLowestBaud = 50;
constexpr int kHighestBaud = 4000000;
constexpr int kLongestScanName = 99;

void SetText(QLineEdit* edit, const QString& text) {
  if (!edit->hasFocus()) edit->setText(text);
}

}  // namespace

PropertyPanel::PropertyPanel(Runtime& runtime, QWidget* parent)
    : QDockWidget("Properties", parent), m_runtime(runtime), m_pPages(new QStackedWidget) {
  setObjectName("PropertyPanel");
  auto* nothing = new QLabel("Select an endpoint or a scan in the Project tree.");
  nothing->setWordWrap(true);
  nothing->setAlignment(Qt::AlignTop | Qt::AlignLeft);
  m_pPages->addWidget(nothing);
  BuildEndpointPage();
  BuildScanPage();
  // The panel shares its side with the tree: it scrolls rather than make the
  // window taller or wider.
  auto* scroll = new QScrollArea;
  scroll->setWidgetResizable(true);
  scroll->setWidget(m_pPages);
  setWidget(scroll);
}

QLineEdit* PropertyPanel::Edit(const char* name) {
  auto* edit = new QLineEdit;
  edit->setAccessibleName(name);
  connect(edit, &QLineEdit::editingFinished, this, [this, edit] { Apply(edit); });
  return edit;
}

QComboBox* PropertyPanel::List(const char* name) {
  auto* list = new QComboBox;
  list->setAccessibleName(name);
  connect(list, &QComboBox::activated, this, [this, list] { Apply(list); });
  return list;
}

void PropertyPanel::BuildEndpointPage() {
  auto* page = new QWidget;
  auto* form = new QFormLayout(page);
  m_pName = Edit("Endpoint Name");
  m_pHost = Edit("IP Address");
  m_pPort = Edit("Service Port");
  m_pProtocol = List("Protocol");
  for (const auto& [text, number] : CEndPointDlg::ProtocolEntries()) m_pProtocol->addItem(text, number);
  m_pTimeout = Edit("Time-out (ms)");
  m_pBaud = Edit("Baud Rate");
  m_pParity = List("Parity");
  m_pParity->addItems({"NONE", "ODD", "EVEN"});
  m_pWordLength = List("Word Length");
  m_pWordLength->addItems({"7", "8"});
  m_pStopBits = List("Stop Bits");
  m_pStopBits->addItems({"1", "2"});
  for (QWidget* field : std::initializer_list<QWidget*>{m_pName, m_pHost, m_pPort, m_pProtocol,
                                                         m_pTimeout, m_pBaud, m_pParity,
                                                         m_pWordLength, m_pStopBits})
    form->addRow(field->accessibleName() + ":", field);
  m_pPages->addWidget(page);
}

void PropertyPanel::BuildScanPage() {
  auto* page = new QWidget;
  auto* form = new QFormLayout(page);
  m_pScanName = Edit("Scan Name");
  m_pSlave = Edit("Slave Node");
  m_pPointType = List("Point Type");
  m_pPointType->addItems(CDataDefDlg::PointTypeNames());
  m_pAddress = Edit("Point Address");
  m_pLength = Edit("Scan Length");
  m_pPoll = Edit("Poll Frequency");
  m_pDataType = List("Data Type");
  for (int32_t type = 0; type <= kLastDataType; ++type)
    if (const DataTypeInfo* info = FindDataTypeInfo(type)) m_pDataType->addItem(info->listName, type);
  for (QWidget* field : std::initializer_list<QWidget*>{m_pScanName, m_pSlave, m_pPointType,
                                                         m_pAddress, m_pLength, m_pPoll,
                                                         m_pDataType})
    form->addRow(field->accessibleName() + ":", field);
  m_pPages->addWidget(page);
}

void PropertyPanel::ShowNothing() {
  m_endpoint.clear();
  m_pDoc = nullptr;
  m_pPages->setCurrentIndex(kNothing);
}

void PropertyPanel::ShowEndpoint(const std::string& name) {
  ShowNothing();
  if (!m_runtime.m_endpoints.FindEndpoint(name)) return;
  m_endpoint = name;
  FillEndpoint();
  m_pPages->setCurrentIndex(kEndpointPage);
}

void PropertyPanel::ShowScan(CPelmoranDoc* doc) {
  ShowNothing();
  m_pDoc = doc;
  if (!Scan()) return ShowNothing();
  FillScan();
  m_pPages->setCurrentIndex(kScanPage);
}

CPelmoranDoc* PropertyPanel::Scan() const {
  const DocTemplate& docs = m_runtime.m_docTemplate;
  for (int i = 0; i < docs.GetDocumentCount(); ++i)
    if (docs.GetDocument(i) == m_pDoc) return m_pDoc;
  return nullptr;
}

void PropertyPanel::FillEndpoint() {
  const CModbusConnection* endpoint = m_runtime.m_endpoints.FindEndpoint(m_endpoint);
  if (!endpoint) return;
  const EndpointChoice choice = ChoiceOf(*endpoint);
  const bool tcp = choice.nCommPort == 0;
  SetText(m_pName, QString::fromStdString(choice.strName));
  SetText(m_pHost, QString::fromStdString(choice.strIpAddress));
  SetText(m_pPort, QString::number(choice.nTcpPort));
  m_pProtocol->setCurrentIndex(std::max(0, m_pProtocol->findData(choice.nProtocol)));
  SetText(m_pTimeout, QString::number(choice.nTimeoutMs));
  SetText(m_pBaud, QString::number(choice.serial.baudRate));
  m_pParity->setCurrentIndex(std::min<int>(choice.serial.parity, 2));
  m_pWordLength->setCurrentIndex(choice.serial.wordLength == 7 ? 0 : 1);
  m_pStopBits->setCurrentIndex(choice.serial.stopBits == 2 ? 1 : 0);
  for (QWidget* net : std::initializer_list<QWidget*>{m_pHost, m_pPort, m_pProtocol})
    net->setEnabled(tcp);
  for (QWidget* serial :
       std::initializer_list<QWidget*>{m_pBaud, m_pParity, m_pWordLength, m_pStopBits})
    serial->setEnabled(!tcp);
}

void PropertyPanel::FillScan() {
  const CModbusMsg& scan = m_pDoc->m_scan;
  SetText(m_pScanName, QString::fromStdString(m_pDoc->m_strTitle));
  SetText(m_pSlave, QString::number(scan.m_nSlaveNode));
  m_pPointType->setCurrentIndex(scan.m_nPointType - 1);
  SetText(m_pAddress, QString::number(scan.m_nPointAddress));
  SetText(m_pLength, QString::number(scan.m_nScanLength));
  SetText(m_pPoll, QString::number(scan.m_nPollFrequency));
  const CModbusTag* first = m_pDoc->GetTag(0);
  m_pDataType->setCurrentIndex(first ? m_pDataType->findData(first->m_nDataType) : -1);
}

bool PropertyPanel::Apply(QWidget* field) {
  if (m_bApplying || !field->isEnabled()) return false;
  m_bApplying = true;
  DataExchange dx(true);
  bool changed = false;
  if (m_pPages->currentIndex() == kEndpointPage)
    changed = ApplyEndpoint(field, dx);
  else if (m_pPages->currentIndex() == kScanPage && Scan())
    changed = ApplyScan(field, dx);
  m_bApplying = false;
  if (changed) emit applied(Scan());
  return !dx.m_bFailed;
}

bool PropertyPanel::ApplyEndpoint(QWidget* field, DataExchange& dx) {
  EndpointRegistry& registry = m_runtime.m_endpoints;
  const std::vector<std::string> names = registry.GetEndpointNames();
  const auto at = std::find(names.begin(), names.end(), m_endpoint);
  if (at == names.end()) return false;
  const CModbusConnection& endpoint = *registry.m_endpoints[at - names.begin()];
  EndpointChoice choice = ChoiceOf(endpoint);
  int32_t number = 0;
  if (field == m_pName) {
    dx.Text(m_pName, choice.strName);
    CEndPointDlg::CheckName(dx, m_pName, choice.strName);
    if (!dx.m_bFailed && choice.strName != m_endpoint && registry.FindEndpoint(choice.strName))
      dx.Fail(m_pName, "Endpoint Name Already In Use!");
  } else if (field == m_pHost) {
    dx.Text(m_pHost, choice.strIpAddress);
    dx.Host(m_pHost, choice.strIpAddress);
  } else if (field == m_pPort) {
    dx.Int(m_pPort, choice.nTcpPort);
    dx.TcpPort(m_pPort, choice.nTcpPort);
  } else if (field == m_pProtocol) {
    choice.nProtocol = m_pProtocol->currentData().toInt();
  } else if (field == m_pTimeout) {
    dx.Int(m_pTimeout, choice.nTimeoutMs);
    dx.MinMax(m_pTimeout, choice.nTimeoutMs, kShortestTimeoutMs, kLongestTimeoutMs);
  } else if (field == m_pBaud) {
    dx.Int(m_pBaud, number);
    dx.MinMax(m_pBaud, number, kLowestBaud, kHighestBaud);
    choice.serial.baudRate = static_cast<uint32_t>(number);
  } else if (field == m_pParity) {
    choice.serial.parity = static_cast<uint8_t>(m_pParity->currentIndex());
  } else if (field == m_pWordLength) {
    choice.serial.wordLength = m_pWordLength->currentIndex() == 0 ? 7 : 8;
  } else if (field == m_pStopBits) {
    choice.serial.stopBits = m_pStopBits->currentIndex() == 0 ? 0 : 2;
  }
  if (dx.m_bFailed) return false;
  const EndpointChoice before = ChoiceOf(endpoint);
  if (choice.strName == before.strName && choice.strIpAddress == before.strIpAddress &&
      choice.nTcpPort == before.nTcpPort && choice.nProtocol == before.nProtocol &&
      choice.nTimeoutMs == before.nTimeoutMs &&
      std::memcmp(&choice.serial, &before.serial, sizeof choice.serial) == 0)
    return false;
  const std::string oldName = m_endpoint;
  registry.ReplaceEndpoint(static_cast<int>(at - names.begin()), choice);
  // Tags are named after their endpoint: a renamed one's scans are made anew.
  if (choice.strName != oldName) {
    std::vector<CPelmoranDoc*> scans;
    for (int i = 0; i < m_runtime.GetDocumentCount(); ++i)
      if (m_runtime.m_docTemplate.GetDocument(i)->m_strEndpoint == oldName)
        scans.push_back(m_runtime.m_docTemplate.GetDocument(i));
    for (CPelmoranDoc* doc : scans) {
      CModbusMsg definition;
      definition.Copy(doc->m_scan);
      m_runtime.RedefineScan(*doc, definition, choice.strName);
    }
  }
  // The windows and the tree made anew meanwhile may have cleared the panel.
  ShowEndpoint(choice.strName);
  return true;
}

bool PropertyPanel::ApplyScan(QWidget* field, DataExchange& dx) {
  CPelmoranDoc& doc = *m_pDoc;
  if (field == m_pScanName) return RenameScan(doc, dx);
  CModbusMsg definition;
  definition.Copy(doc.m_scan);
  int32_t number = 0;
  if (field == m_pPoll) {
    dx.Int(m_pPoll, number);
    dx.MinMax(m_pPoll, number, 100, 10000);
    if (dx.m_bFailed || number == doc.m_scan.m_nPollFrequency) return false;
    if (auto* clock = dynamic_cast<PollClock*>(doc.m_pView)) clock->SetPollFrequency(number);
    return true;
  }
  int32_t address = definition.m_nPointAddress, length = definition.m_nScanLength;
  int32_t dataType = m_runtime.m_nDefaultDataType;
  if (field == m_pSlave) {
    dx.Byte(m_pSlave, definition.m_nSlaveNode);
  } else if (field == m_pPointType) {
    definition.m_nPointType = static_cast<uint8_t>(m_pPointType->currentIndex() + 1);
  } else if (field == m_pAddress || field == m_pLength) {
    dx.Int(m_pAddress, address);
    dx.MinMax(m_pAddress, address, 1, CDataDefDlg::kLastPointAddress);
    dx.Int(m_pLength, length);
    dx.MinMax(m_pLength, length, 1, 1000);
    const int32_t longest = CDataDefDlg::kTableEnd - address + 1;
    if (!dx.m_bFailed && length > longest)
      dx.Fail(field, "The scan would end past address " + std::to_string(CDataDefDlg::kTableEnd) +
                         ": enter at most " + std::to_string(longest) + ".");
    definition.m_nPointAddress = static_cast<uint16_t>(address);
    definition.m_nScanLength = static_cast<uint16_t>(length);
  } else if (field == m_pDataType) {
    dataType = m_pDataType->currentData().toInt();
  } else {
    return false;
  }
  if (dx.m_bFailed) return false;
  if (definition.IsSameRequest(doc.m_scan) && field != m_pDataType) return false;
  // The tags of the scan are made anew from the definition and this type.
  m_runtime.m_nDefaultDataType = dataType;
  ShowScan(m_runtime.RedefineScan(doc, definition, doc.m_strEndpoint));
  return true;
}

bool PropertyPanel::RenameScan(CPelmoranDoc& doc, DataExchange& dx) {
  const QString name = m_pScanName->text().trimmed();
  if (name.isEmpty() || name.contains('/'))
    dx.Fail(m_pScanName, "Enter a name without \"/\": it names the scan's file.");
  else if (name.size() > kLongestScanName)
    dx.Fail(m_pScanName, "Enter no more than " + std::to_string(kLongestScanName) + " characters.");
  if (dx.m_bFailed || name.toStdString() == doc.m_strTitle) return false;
  doc.m_strTitle = name.toStdString();
  // A scan with a file moves to a file of its new name at the next save.
  if (!doc.m_strPathName.empty())
    doc.m_strPathName = (QFileInfo(QString::fromStdString(doc.m_strPathName)).dir().filePath(name))
                            .toStdString();
  return true;
}
