// "Endpoint Health": a table of every endpoint's state, its demoted devices
// and its library counters, read again once a second while the dialog is
// open, and "Reconnect now" for Modbus/TCP endpoints without a connection.
// Modeless: the operator watches it while working in the scans.
#pragma once

#include <QDialog>

class EndpointRegistry;
struct EndpointHealth;
class QTableWidget;

class HealthDlg : public QDialog {
  Q_OBJECT
 public:
  static constexpr int kRefreshMs = 1000;
  enum Column {
    kEndpoint,
    kState,
    kDemoted,
    kRequests,
    kAnswers,
    kTimeouts,
    kChecksumErrors,
    kInvalidResponses,
    kDiscarded,
    kColumns
  };

  HealthDlg(EndpointRegistry& endpoints, QWidget* parent = nullptr);

  QTableWidget& Table() const { return *m_pTable; }
  void Refresh();
  void OnReconnectNow();

 private:
  void ShowRow(int row, const EndpointHealth& health);

  EndpointRegistry& m_endpoints;
  QTableWidget* m_pTable;
};
