// One endpoint: a serial COM port or a remote Modbus/TCP server, with its
// library connection and its first-in, first-out request queue. Main thread
// only: the library's thread reaches it through answers posted there.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "link/DeviceDemotion.h"
#include "link/ModbusAnswer.h"
#include "link/ReconnectBackoff.h"
#include "modbuslib/modbuslib.h"
#include "pointdb/ScanStatus.h"

class CModbusMsg;
class IRequestSink;

class CModbusConnection {
 public:
  CModbusConnection();
  // Closes a connected endpoint.
  virtual ~CModbusConnection();
  CModbusConnection(const CModbusConnection&) = delete;
  CModbusConnection& operator=(const CModbusConnection&) = delete;

  // Connection lifecycle.
  bool ConnectSerial();
  bool ConnectTcp();
  // Whichever of the two the endpoint's kind takes.
  bool Connect() { return m_bTcp ? ConnectTcp() : ConnectSerial(); }
  bool IsConnected() const;
  // Connected, and (serial) the device is present: requests can reach it.
  bool IsLinkUp() const { return IsConnected() && !m_bDeviceLost; }
  void Attach();
  void Detach();
  void Close();
  void ClearQueue();

  // Request queue: 1 accepted (the endpoint owns the request and will hand
  // it back; a write that took over an equal waiting write is handed back as
  // that one), 0 refused (the caller keeps it; its status may be set:
  // MBS_MSG_OVERRUN an equal request is queued, MBS_INVALID_LENGTH longer
  // than a response can carry).
  int Enqueue(CModbusMsg* request);
  void SendNext();
  void OnResponse(const ModbusAnswer& answer);
  void HandBack(CModbusMsg* request);

  std::string m_strName;
  int m_hConnection = -1;
  int m_hTcpConnection = -1;
  int m_nPort = 502;
  int m_nProtocol = 1;
  SerialSettings m_serial;
  int m_nTimeout = 2000;
  bool m_bTcp = true;
  std::array<uint8_t, 4> m_ipAddress{127, 0, 0, 1};
  std::vector<CModbusMsg*> m_queue;
  bool m_bBusy = false;
  // Where a finished request goes whose scan has been closed meanwhile (the
  // others go straight to the scan they carry); without one it is deleted.
  IRequestSink* m_pSink = nullptr;
  // Serial: the library reports the device gone until it can open it again.
  bool m_bDeviceLost = false;
  DeviceDemotion m_demotion;
  ReconnectBackoff m_reconnect;
  // Whether the registry last reported the link up.
  bool m_bReportedUp = false;

 private:
  // Empties the queue first, so that a hand-back that reaches this endpoint
  // again (a close by name) finds it already settled.
  std::vector<CModbusMsg*> TakeQueue();
  void HandBackAll(const std::vector<CModbusMsg*>& requests, ScanStatus status);
  // A write equal to one still waiting unsent takes its place.
  bool ReplaceWaitingWrite(CModbusMsg& request);
  // A request to a demoted device is refused with its status.
  bool RefuseDemoted(CModbusMsg& request);
  void StartHead();
  void ClosePendingTcpHandle();
};
