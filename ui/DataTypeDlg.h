// "Modbus Register Configuration": a register scan's data type, the limits of
// the scaled types, the bit of a Bit tag, the length of a string, a linear
// scale for the numeric types, and the tag name delimiting character.
#pragma once

#include <string>

#include "pointdb/TagFormat.h"
#include "ui/ExchangeDialog.h"

class QCheckBox;
class QComboBox;
class QLineEdit;

class CDataTypeDlg : public ExchangeDialog {
  Q_OBJECT
 public:
  enum class ControlId {
    kDataType = 1002,
    kLowLimit = 1011,
    kHighLimit = 1012,
    kDelimiter = 1015,
    // Beyond the documented dialog's controls.
    kBitNumber = 1020,
    kStringRegisters = 1021,
    kLinearScale = 1022,
    kRawLow = 1023,
    kRawHigh = 1024,
    kEngineeringLow = 1025,
    kEngineeringHigh = 1026,
  };

  explicit CDataTypeDlg(QWidget* parent = nullptr);

  int m_nDataType = 0;
  std::string m_strTitle;
  // The types of more than one register are offered (otherwise only the
  // one-register types, which a single tag row may change between).
  bool m_bLongTypes = false;
  bool m_bDelimiterEnabled = false;  // false: the delimiter is shown, not editable
  float m_fHighLimit = 0.0f;
  float m_fLowLimit = 0.0f;
  std::string m_strDelimiter;
  TagFormat m_format;

 protected:
  void DoDataExchange(DataExchange& dx) override;
  void OnInitDialog() override;

 private:
  void OnDataTypeChange(int index);
  void UpdateLimitControls();

  QComboBox* m_pDataType;
  QLineEdit* m_pLow;
  QLineEdit* m_pHigh;
  QLineEdit* m_pDelimiter;
  QLineEdit* m_pBit;
  QLineEdit* m_pStringRegisters;
  QCheckBox* m_pScaled;
  QLineEdit* m_pRawLow;
  QLineEdit* m_pRawHigh;
  QLineEdit* m_pEngLow;
  QLineEdit* m_pEngHigh;
};
