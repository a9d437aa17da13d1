// "Modbus Register Configuration": a register scan's data type, the limits of
// the scaled types, and the tag name delimiting character.
#pragma once

#include <string>

#include "ui/ExchangeDialog.h"

class QComboBox;
class QLineEdit;

class CDataTypeDlg : public ExchangeDialog {
  Q_OBJECT
 public:
  explicit CDataTypeDlg(QWidget* parent = nullptr);

  int m_nDataType = 0;
  std::string m_strTitle;
  bool m_bLongTypes = false;         // the two-register types 4-7 are offered
  bool m_bDelimiterEnabled = false;  // false: the delimiter is shown, not editable
  float m_fHighLimit = 0.0f;
  float m_fLowLimit = 0.0f;
  std::string m_strDelimiter;

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
};
