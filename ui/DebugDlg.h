// "Debug Dialog": a read-only snapshot of one scan's poll state and request.
#pragma once

#include <cstdint>

#include "ui/ExchangeDialog.h"

class CDebugDlg : public CExchangeDialog {
  Q_OBJECT
 public:
  explicit CDebugDlg(QWidget* parent = nullptr);

  int32_t m_nAddress = 0;
  int32_t m_nLength = 0;
  int32_t m_nMsgType = 0;
  int32_t m_nNumbrPolls = 0;
  int32_t m_nPollFrequency = 0;
  int32_t m_nPortNumber = 0;
  int32_t m_nScanInProgress = 0;
  int32_t m_nSlaveId = 0;

 protected:
  void DoDataExchange(CDataExchange& dx) override;
};
