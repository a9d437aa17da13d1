// The main frame's endpoint side: the endpoint list and every way the rest of
// the system reaches an endpoint (by name from the scans, by library handle
// from the callbacks).
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "link/ModbusConnection.h"

class CModbusMsg;

// What the endpoint dialog hands back (and is filled with).
struct EndpointChoice {
  std::string strName;
  int nCommPort = 0;  // 0 Modbus/TCP, n the COM port n
  SerialSettings serial{};
  std::string strIpAddress;
  int nTcpPort = 0;
};

class CEndpointRegistry {
 public:
  CEndpointRegistry();
  // Deletes every endpoint (each closes its connection).
  virtual ~CEndpointRegistry();

  CModbusConnection* FindEndpoint(const std::string& name) const;
  bool IsEndpointConnected(const std::string& name) const;
  int SendToEndpoint(const std::string& name, CModbusMsg* request);
  void CloseEndpoint(const std::string& name);
  bool IsCommPortInUse(int comPort) const;
  void RouteModbusCallback(int handle, int spare1, int spare2);
  void OnConnectionEvent(int event, int handle);

  // Endpoint New, without the dialog: what the dialog is filled with, and
  // the endpoint made from what it handed back (appended, connected or not).
  EndpointChoice ProposeEndpoint() const;
  CModbusConnection* AddEndpoint(const EndpointChoice& choice);
  // Endpoint Remove, without the dialog: the names offered, and the removal.
  std::vector<std::string> GetEndpointNames() const;
  void RemoveEndpoint(int index);
  // Every endpoint closed and deleted (restore, shutdown).
  void RemoveAllEndpoints();
  // Timer 3: every Modbus/TCP endpoint without a handle connects anew.
  void ReconnectTcpEndpoints();

  std::vector<std::unique_ptr<CModbusConnection>> m_endpoints;
};
