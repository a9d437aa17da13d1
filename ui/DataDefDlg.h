// "Scan Definition": the definition of a new scan (every field editable) or
// of an open one (only its poll frequency editable).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "pointdb/TagFormat.h"
#include "ui/ExchangeDialog.h"

#include <QStringList>

class QComboBox;
class QLineEdit;
class QPushButton;

class CDataDefDlg : public ExchangeDialog {
  Q_OBJECT
 public:
  enum class ControlId {
    kSlaveNode = 1000,
    kPointAddress = 1001,
    kPointType = 1002,
    kScanLength = 1003,
    kPollFrequency = 1004,
    kSetDefault = 1013,
    kEndpoint = 1031,
  };

  // A scan's first point is stored in 16 bits; its last may be 65536.
  static constexpr int32_t kLastPointAddress = 65535;
  static constexpr int32_t kTableEnd = 65536;

  explicit CDataDefDlg(QWidget* parent = nullptr);
  // The four point types by their number less one: "COIL STATUS" ...
  static QStringList PointTypeNames();

  int m_nPointType = 0;
  bool m_bEditable = false;
  int m_nDataType = 0;
  float m_fLowLimit = 0.0f;
  float m_fHighLimit = 0.0f;
  TagFormat m_format;
  bool m_bLongTypes = false;
  std::string m_strDelimiter;
  std::vector<std::string> m_strEndpoints;
  int m_nEndpoint = 0;
  int32_t m_nPointAddress = 0;
  uint8_t m_nSlaveNode = 0;
  int m_nPollFrequency = 0;
  int m_nScanLength = 0;

 protected:
  void DoDataExchange(DataExchange& dx) override;
  void OnInitDialog() override;
  void OnOK() override;

 private:
  void OnPointTypeChange(int index);
  void OnSetDefaultDataType();
  // The endpoint and point type must name entries of their lists.
  void CheckChoices(DataExchange& dx);

  QComboBox* m_pEndpoint;
  QLineEdit* m_pPollFrequency;
  QLineEdit* m_pSlaveNode;
  QComboBox* m_pPointType;
  QLineEdit* m_pPointAddress;
  QLineEdit* m_pScanLength;
  QPushButton* m_pSetDefault;
};
