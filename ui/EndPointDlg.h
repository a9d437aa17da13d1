// "Modbus Connection": defines a new endpoint, a remote Modbus/TCP server (or
// a serial device server, by address or host name, over TCP or UDP) or a
// direct connection to one of 32 COM ports with its serial settings.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "modbuslib/modbuslib.h"
#include "ui/ExchangeDialog.h"

class EndpointRegistry;
class QComboBox;
class QLabel;
class QLineEdit;

class CEndPointDlg : public ExchangeDialog {
  Q_OBJECT
 public:
  enum class ControlId {
    kName = 1000,
    kBaudRate = 1004,
    kParity = 1006,
    kIpAddress = 1007,
    kIpAddressLabel = 1010,
    kTcpPortLabel = 1011,
    kCommGroup = 1012,
    kBaudRateLabel = 1013,
    kWordLengthLabel = 1014,
    kParityLabel = 1015,
    kStopBitsLabel = 1016,
    kTcpPort = 1020,
    kWordLength = 1022,
    kStopBits = 1024,
    kDtr = 1025,
    kRts = 1026,
    kConnectUsing = 1027,
    kFlowGroup = 1028,
    kDtrLabel = 1029,
    kRtsLabel = 1030,
  };

  // The longest endpoint name the configuration file keeps.
  static constexpr int kLongestName = 99;

  explicit CEndPointDlg(QWidget* parent = nullptr);
  // The network protocols by their entries' texts, with their numbers.
  static std::vector<std::pair<QString, int>> ProtocolEntries();
  // An endpoint's name: not empty, not longer than kLongestName.
  static void CheckName(DataExchange& dx, QWidget* field, const std::string& name);

  // Filled by the caller, read back after OK.
  std::string m_strName;
  int m_nCommPort = 0;  // position in Connect Using: 0 Modbus/TCP, n COM port n
  SerialSettings m_serial{};
  EndpointRegistry* m_pFrame = nullptr;
  std::string m_strIpAddress;  // or a host name
  int m_nTcpPort = 0;
  // A network endpoint's protocol number (link/EndpointKind.h).
  int m_nProtocol = 1;
  int m_nRetries = 0;
  int m_nPauseMs = 0;
  int m_nRs485Mode = 0;
  int m_nRs485BeforeMs = 0;
  int m_nRs485AfterMs = 0;
  // A serial line's Modbus/TCP port for other masters: 0 closed; an empty
  // bind address is 127.0.0.1; 0 for a limit keeps the library's default.
  int m_nSharePort = 0;
  std::string m_strShareBind;
  int m_nShareClients = 0;
  int m_nShareQueued = 0;
  // The device a COM port number maps to on this machine, shown under
  // Connect Using and as each entry's tip; none when not set.
  std::function<std::string(int)> m_devicePath;

 protected:
  void DoDataExchange(DataExchange& dx) override;
  void OnInitDialog() override;
  void OnOK() override;

 private:
  void BuildControls();
  void FillSerialLists();
  void SelectSerialEntries();
  void UpdateControls();
  void OnConnectUsingChange(int index);
  // Each serial list stores its chosen value in its own field of m_serial.
  void ConnectSerialLists();
  void BuildLinkControls(class QFormLayout* top, class QVBoxLayout* layout);
  void FillLinkLists();

  QComboBox* List(ControlId id) const;

  QLineEdit* m_pName;
  QLineEdit* m_pIp;
  QLineEdit* m_pPort;
  QWidget* m_pTcpPart[4];
  QWidget* m_pSerialPart[14];
  QLabel* m_pDevice;
  QComboBox* m_pProtocol;
  QLineEdit* m_pRetries;
  QLineEdit* m_pPause;
  QComboBox* m_pRs485;
  QLineEdit* m_pRs485Before;
  QLineEdit* m_pRs485After;
  QLineEdit* m_pSharePort;
  QLineEdit* m_pShareBind;
  QLineEdit* m_pShareClients;
  QLineEdit* m_pShareQueued;
  std::vector<QWidget*> m_netPart;     // enabled with the network part
  std::vector<QWidget*> m_rs485Part;   // enabled with the serial part
};
