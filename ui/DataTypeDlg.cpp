#include "ui/DataTypeDlg.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QLineEdit>
#include <QVBoxLayout>

#include "pointdb/DataType.h"
#include "ui/DataExchange.h"

namespace {

const char* const kDataTypes[] = {"UNSIGNED",      "INTEGER",          "SCALED 0-4095",
                                  "SCALED 0-9999", "IEEE Floating Pt", "WORD Swapped FP",
                                  "LONG INTEGER",  "WORD Swapped LONG"};

}  // namespace

CDataTypeDlg::CDataTypeDlg(QWidget* parent)
    : ExchangeDialog(parent), m_pDataType(new QComboBox(this)) {
  setWindowTitle("Modbus Register Configuration");
  m_pDataType->setObjectName("1002");
  m_pLow = AddEdit(1011);
  m_pHigh = AddEdit(1012);
  m_pDelimiter = AddEdit(1015);
  m_pDelimiter->setMaxLength(1);
  auto* scaling = new QGroupBox("Modbus Register Scaling", this);
  auto* form = new QFormLayout(scaling);
  form->addRow("Data Type:", m_pDataType);
  form->addRow("Low Limit:", m_pLow);
  form->addRow("High Limit:", m_pHigh);
  auto* below = new QFormLayout;
  below->addRow("Tag Name Delimiting Character:", m_pDelimiter);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  connect(buttons, &QDialogButtonBox::accepted, this, &CDataTypeDlg::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &CDataTypeDlg::reject);
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
  // Nothing is taken back from a refused exchange.
  if (!dx.m_bFailed) m_strDelimiter = delimiter;
}

void CDataTypeDlg::OnInitDialog() {
  setWindowTitle(QString::fromStdString(m_strTitle));
  for (int i = 0; i < (m_bLongTypes ? 8 : 4); ++i) m_pDataType->addItem(kDataTypes[i]);
  if (!m_bDelimiterEnabled) m_pDelimiter->setEnabled(false);
  m_pDataType->setCurrentIndex(m_nDataType);
  UpdateLimitControls();
  connect(m_pDataType, &QComboBox::currentIndexChanged, this, &CDataTypeDlg::OnDataTypeChange);
}

void CDataTypeDlg::OnDataTypeChange(int index) {
  m_nDataType = index;
  UpdateLimitControls();
}

void CDataTypeDlg::UpdateLimitControls() {
  const bool scaled = IsScaledDataType(static_cast<DataType>(m_nDataType));
  m_pLow->setEnabled(scaled);
  m_pHigh->setEnabled(scaled);
}
