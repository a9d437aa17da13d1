// "Endpoint Health": a table of every endpoint's state, its demoted devices
// and its library counters, below it a table of every slave node the scans
// poll, endpoint by endpoint, with what the program counted of its
// exchanges; both read again once a second while the dialog is open, and
// "Reconnect now" for Modbus/TCP endpoints without a connection.
// Modeless: the operator watches it while working in the scans.
#pragma once

#include <QDialog>
#include <QStringList>

class Runtime;
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
    kLinkLosses,
    kColumns
  };
  enum SlaveColumn {
    kSlaveEndpoint,
    kSlaveNode,
    kSlaveRequests,
    kSlaveResponses,
    kSlaveTimeouts,
    kSlaveChecksumErrors,
    kSlaveMismatches,
    kSlaveLinkLosses,
    kSlaveExceptions,
    kSlaveRoundTrip,
    kSlaveDemoted,
    kSlaveLastError,
    kSlaveColumns
  };

  HealthDlg(Runtime& runtime, QWidget* parent = nullptr);

  QTableWidget& Table() const { return *m_pTable; }
  QTableWidget& SlaveTable() const { return *m_pSlaves; }
  void Refresh();
  void OnReconnectNow();

 private:
  void ShowRow(int row, const EndpointHealth& health);
  void RefreshSlaves();
  static void SetRow(QTableWidget& table, int row, const QStringList& texts);

  Runtime& m_runtime;
  QTableWidget* m_pTable;
  QTableWidget* m_pSlaves;
};
