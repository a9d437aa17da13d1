// A dockable pane beside the scans listing every endpoint with its state,
// where it connects (the device a COM port maps to, or address and port),
// and what its library connection has counted, read again once a second;
// "Reconnect now" tries the Modbus/TCP endpoints without a connection at once.
#pragma once

#include <QDockWidget>
#include <functional>
#include <string>

class CModbusConnection;
class EndpointRegistry;
class QTreeWidget;

class EndpointsPane : public QDockWidget {
  Q_OBJECT
 public:
  static constexpr int kRefreshMs = 1000;
  enum Column {
    kEndpoint,
    kState,
    kWhere,
    kDemoted,
    kRequests,
    kAnswers,
    kTimeouts,
    kChecksumErrors,
    kMismatches,
    kDiscarded,
    kColumns
  };

  // devicePath names the device of a COM port number on this machine.
  EndpointsPane(EndpointRegistry& endpoints, std::function<std::string(int)> devicePath,
                QWidget* parent = nullptr);

  QTreeWidget& List() const { return *m_pList; }
  // Room for the heading and a few endpoints.
  int PreferredHeight() const;
  void Refresh();
  void OnReconnectNow();

 private:
  QString Where(const CModbusConnection& endpoint) const;

  EndpointRegistry& m_endpoints;
  std::function<std::string(int)> m_devicePath;
  QTreeWidget* m_pList;
};
