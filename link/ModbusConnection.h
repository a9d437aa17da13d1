// One endpoint: a serial COM port, a remote Modbus/TCP server, or a serial
// framing carried over a network (see EndpointKind.h), with its library
// connection and its first-in, first-out request queue. Main thread only: the
// library's thread reaches it through answers posted there.
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
  // A serial framing over a network: its handle comes at once, the link once
  // the host answers (like a serial device that is back).
  bool ConnectNetLine();
  // Whichever the endpoint's kind takes.
  bool Connect();
  bool IsNetLine() const;
  // The host of a network endpoint: its name, or the dotted address.
  std::string HostText() const;
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
  // A host name, taken instead of m_ipAddress when not empty.
  std::string m_strHost;
  // Quiet time between one exchange and the next, for slow devices.
  int m_nPauseMs = 0;
  // How often a request without an answer is sent again (datagrams get lost).
  int m_nRetries = 0;
  // Serial: the driver's RS-485 mode, set when the port opens (see Rs485Mode
  // in modbuslib.h; 0 leaves RTS to m_serial.rtsControl), and its delays.
  int m_nRs485Mode = 0;
  int m_nRs485BeforeMs = 0;
  int m_nRs485AfterMs = 0;
  // A serial line's Modbus/TCP port for other masters (ShareLine in
  // modbuslib.h): 0 keeps it closed; an empty bind address is 127.0.0.1;
  // 0 for a limit keeps the library's default.
  int m_nSharePort = 0;
  std::string m_strShareBind;
  int m_nShareClients = 0;
  int m_nShareQueued = 0;
  bool HasSharedLine() const {
    return m_nSharePort != 0 || !m_strShareBind.empty() || m_nShareClients != 0 ||
           m_nShareQueued != 0;
  }
  // Whether any setting beyond the 52-byte record differs from its default.
  bool HasExtendedSettings() const {
    return !m_strHost.empty() || m_nPauseMs != 0 || m_nRetries != 0 || m_nRs485Mode != 0 ||
           m_nRs485BeforeMs != 0 || m_nRs485AfterMs != 0 || HasSharedLine();
  }
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
  void ApplyRequestSettings(int handle) const;
  // Opens the line's port for other masters when one is set.
  void ShareLine(int handle) const;
};
