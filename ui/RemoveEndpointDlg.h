// "Remove Modbus EndPoint": picks the endpoint that Remove deletes.
#pragma once

#include <string>
#include <vector>

#include "ui/ExchangeDialog.h"

class QListWidget;

class CRemoveEndpointDlg : public ExchangeDialog {
  Q_OBJECT
 public:
  enum class ControlId { kEndpointList = 1002 };

  explicit CRemoveEndpointDlg(QWidget* parent = nullptr);

  std::vector<std::string> m_names;
  int m_nSelection = -1;  // -1: none

 protected:
  void DoDataExchange(DataExchange&) override {}
  void OnInitDialog() override;
  void OnOK() override;

 private:
  QListWidget* m_pList;
};
