// "Options": how a device that keeps timing out is demoted, the run of
// consecutive time-outs (0 never demotes) and how long it is then held back.
#pragma once

#include <cstdint>

#include "ui/ExchangeDialog.h"

class OptionsDlg : public ExchangeDialog {
  Q_OBJECT
 public:
  static constexpr int kTimeoutsId = 1000;
  static constexpr int kHoldSecondsId = 1001;

  explicit OptionsDlg(QWidget* parent = nullptr);

  int32_t m_nTimeouts = 0;
  int32_t m_nHoldSeconds = 0;

 protected:
  void DoDataExchange(DataExchange& dx) override;
};
