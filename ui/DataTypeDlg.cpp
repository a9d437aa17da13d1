#include "ui/DataTypeDlg.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QLineEdit>
#include <QVBoxLayout>

#include "pointdb/DataTypeInfo.h"
#include "ui/DataExchange.h"

namespace {

// The first four, then the types a single tag row may change to: one
// register each, so that no other tag moves.
bool OfferedForOneRow(int32_t dataType) {
  return dataType <= static_cast<int32_t>(DataType::Scaled9999) ||
         (!IsClassicDataType(dataType) && FindDataTypeInfo(dataType)->registers == 1);
}

}  // namespace

CDataTypeDlg::CDataTypeDlg(QWidget* parent)
    : ExchangeDialog(parent),
      m_pDataType(new QComboBox(this)),
      m_pScaled(new QCheckBox("Scale linearly", this)) {
  setWindowTitle("Modbus Register Configuration");
  m_pDataType->setObjectName(ControlName(ControlId::kDataType));
  m_pLow = AddEdit(ControlId::kLowLimit);
  m_pHigh = AddEdit(ControlId::kHighLimit);
  m_pDelimiter = AddEdit(ControlId::kDelimiter);
  m_pDelimiter->setMaxLength(1);
  m_pBit = AddEdit(ControlId::kBitNumber);
  m_pStringRegisters = AddEdit(ControlId::kStringRegisters);
  m_pScaled->setObjectName(ControlName(ControlId::kLinearScale));
  m_pRawLow = AddEdit(ControlId::kRawLow);
  m_pRawHigh = AddEdit(ControlId::kRawHigh);
  m_pEngLow = AddEdit(ControlId::kEngineeringLow);
  m_pEngHigh = AddEdit(ControlId::kEngineeringHigh);
  auto* scaling = new QGroupBox("Modbus Register Scaling", this);
  auto* form = new QFormLayout(scaling);
  form->addRow("Data Type:", m_pDataType);
  form->addRow("Low Limit:", m_pLow);
  form->addRow("High Limit:", m_pHigh);
  form->addRow("Bit Number (0-15):", m_pBit);
  form->addRow("String Registers:", m_pStringRegisters);
  form->addRow(m_pScaled);
  form->addRow("Raw Low:", m_pRawLow);
  form->addRow("Raw High:", m_pRawHigh);
  form->addRow("Engineering Low:", m_pEngLow);
  form->addRow("Engineering High:", m_pEngHigh);
  auto* below = new QFormLayout;
  below->addRow("Tag Name Delimiting Character:", m_pDelimiter);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  connect(buttons, &QDialogButtonBox::accepted, this, &CDataTypeDlg::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &CDataTypeDlg::reject);
  connect(m_pScaled, &QCheckBox::toggled, this, &CDataTypeDlg::UpdateLimitControls);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(scaling);
  layout->addLayout(below);
  layout->addWidget(buttons);
}

void CDataTypeDlg::DoDataExchange(DataExchange& dx) {
  dx.Float(m_pHigh, m_fHighLimit);
  dx.Float(m_pLow, m_fLowLimit);
  std::string delimiter = m_strDelimiter;
  dx.Text(m_pDelimiter, delimiter);
  dx.MaxChars(m_pDelimiter, delimiter, 1);
  TagFormat format = m_format;
  dx.Int(m_pBit, format.bit);
  dx.MinMax(m_pBit, format.bit, 0, 15);
  dx.Int(m_pStringRegisters, format.stringRegisters);
  dx.MinMax(m_pStringRegisters, format.stringRegisters, 1, TagFormat::kMaxStringRegisters);
  dx.Double(m_pRawLow, format.rawLow);
  dx.Double(m_pRawHigh, format.rawHigh);
  dx.Double(m_pEngLow, format.engLow);
  dx.Double(m_pEngHigh, format.engHigh);
  if (dx.m_bSaveAndValidate) {
    format.scaled = m_pScaled->isChecked();
  } else {
    m_pScaled->setChecked(format.scaled);
  }
  // Nothing is taken back from a refused exchange.
  if (dx.m_bFailed) return;
  m_strDelimiter = delimiter;
  m_format = format;
}

void CDataTypeDlg::OnInitDialog() {
  setWindowTitle(QString::fromStdString(m_strTitle));
  for (int32_t type = 0; type <= kLastDataType; ++type) {
    if (m_bLongTypes || OfferedForOneRow(type))
      m_pDataType->addItem(FindDataTypeInfo(type)->listName, type);
  }
  if (!m_bDelimiterEnabled) m_pDelimiter->setEnabled(false);
  m_pDataType->setCurrentIndex(m_pDataType->findData(m_nDataType));
  UpdateLimitControls();
  connect(m_pDataType, &QComboBox::currentIndexChanged, this, &CDataTypeDlg::OnDataTypeChange);
}

void CDataTypeDlg::OnDataTypeChange(int index) {
  m_nDataType = m_pDataType->itemData(index).toInt();
  UpdateLimitControls();
}

void CDataTypeDlg::UpdateLimitControls() {
  const auto type = static_cast<DataType>(m_nDataType);
  const bool scaled = IsScaledDataType(type);
  m_pLow->setEnabled(scaled);
  m_pHigh->setEnabled(scaled);
  m_pBit->setEnabled(type == DataType::Bit);
  // A single row keeps its width: its string length is not changed there.
  m_pStringRegisters->setEnabled(m_bLongTypes &&
                                 (type == DataType::StringAB || type == DataType::StringBA));
  const bool scalable = IsScalableDataType(m_nDataType);
  m_pScaled->setEnabled(scalable);
  for (QLineEdit* edit : {m_pRawLow, m_pRawHigh, m_pEngLow, m_pEngHigh})
    edit->setEnabled(scalable && m_pScaled->isChecked());
}
