// What a scan document needs of the endpoints it sends to, reached by the
// endpoint's name. The runtime hands every document its endpoint registry
// through this; tests put a fake behind it.
#pragma once

#include <string>

class CModbusMsg;

class IScanLink {
 public:
  virtual ~IScanLink() = default;

  virtual bool IsEndpointConnected(const std::string& name) const = 0;
  // 1: the endpoint owns the request and hands it back when it is done; 0:
  // refused, the caller keeps it (its status may say why).
  virtual int SendToEndpoint(const std::string& name, CModbusMsg* request) = 0;
  // A poll timed out: a Modbus/TCP endpoint drops its connection.
  virtual void CloseEndpoint(const std::string& name) = 0;
  // A Daniels/ENRON serial endpoint, whose 32-bit registers hold two words.
  virtual bool HasDanielsRegisters(const std::string& name) const = 0;
};
