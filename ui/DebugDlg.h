// "Debug Dialog": a read-only view of one scan's poll state and request,
// read again once a second while it is open when the caller says how.
#pragma once

#include <cstdint>
#include <functional>

#include "ui/ExchangeDialog.h"

class CDebugDlg : public ExchangeDialog {
  Q_OBJECT
 public:
  static constexpr int kRefreshMs = 1000;

  enum class ControlId {
    kAddress = 1001,
    kLength = 1003,
    kPollFrequency = 1004,
    kPort = 1006,
    kNumbrPolls = 1017,
    kScanInProgress = 1018,
    kSlaveId = 1021,
    kMsgType = 1022,
  };

  explicit CDebugDlg(QWidget* parent = nullptr);

  int32_t m_nAddress = 0;
  int32_t m_nLength = 0;
  int32_t m_nMsgType = 0;
  int32_t m_nNumbrPolls = 0;
  int32_t m_nPollFrequency = 0;
  int32_t m_nPortNumber = 0;
  int32_t m_nScanInProgress = 0;
  int32_t m_nSlaveId = 0;
  // Sets the fields anew; without it the dialog shows what it was opened with.
  std::function<void(CDebugDlg&)> m_refresh;

  void Refresh();

 protected:
  void DoDataExchange(DataExchange& dx) override;
  void OnInitDialog() override;
};
