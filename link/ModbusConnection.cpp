#include "link/ModbusConnection.h"

#include <algorithm>
#include <cstring>

#include "link/EndpointKind.h"
#include "link/ModbusBinding.h"
#include "platform/Bell.h"
#include "pointdb/ModbusFunction.h"
#include "pointdb/ModbusMsg.h"
#include "pointdb/RequestSink.h"

namespace {

constexpr uint32_t kNoAddress = 0xFFFFFFFFu;

bool IsWrite(const CModbusMsg& request) { return IsWriteFunction(request.m_nPointType); }

// Two mask writes of one register waiting as one: the first's bits, then the
// second's over them, so that neither bit change is lost.
void ComposeMaskWrites(CModbusMsg& waiting, const CModbusMsg& later) {
  const uint16_t firstAnd = waiting.m_data[0];
  const uint16_t laterAnd = later.m_data[0];
  const auto firstOr = static_cast<uint16_t>(waiting.m_data[1] & ~firstAnd);
  waiting.m_data[0] = firstAnd & laterAnd;
  waiting.m_data[1] = static_cast<uint16_t>((firstOr & laterAnd) | (later.m_data[1] & ~laterAnd));
}

RequestHeader HeaderOf(const CModbusMsg& request) {
  RequestHeader header{};
  header.slaveNode = request.m_nSlaveNode;
  header.function = request.m_nPointType;
  header.address = request.m_nPointAddress;
  header.length = request.m_nScanLength;
  return header;
}

bool SameHeader(const RequestHeader& a, const RequestHeader& b) {
  return a.slaveNode == b.slaveNode && a.function == b.function && a.address == b.address &&
         a.length == b.length;
}

void EnableCallback(int handle, ModbusCallback callback) {
  if (Modbus().EnableModbusCallback) Modbus().EnableModbusCallback(handle, callback);
}

void CloseHandle(int handle) {
  if (handle != -1 && Modbus().CloseConnection) Modbus().CloseConnection(handle);
}

int ConnectSerialPort(int protocol, int port, int timeout, const SerialSettings* serial) {
  decltype(&::ConnectRTU) connect = nullptr;
  switch (protocol) {
    case 0: connect = Modbus().ConnectASCII; break;
    case 1: connect = Modbus().ConnectRTU; break;
    case 2: connect = Modbus().ConnectDanielsASCII; break;
    case 3: connect = Modbus().ConnectDanielsRTU; break;
    default: break;
  }
  return connect ? connect(port, timeout, serial) : -1;
}

}  // namespace

CModbusConnection::CModbusConnection() {
  std::memset(&m_serial, 0, sizeof m_serial);
  m_serial.baudRate = 19200;
  m_serial.parity = 0;
  m_serial.stopBits = 0;
  m_serial.wordLength = 8;
  m_serial.rtsControl = 3;
  m_serial.dtrControl = 1;
}

CModbusConnection::~CModbusConnection() {
  if (IsConnected()) Close();
  // A connection still waiting to come up belongs to nobody once the
  // endpoint is gone.
  ClosePendingTcpHandle();
}

bool CModbusConnection::Connect() {
  if (!m_bTcp) return ConnectSerial();
  return IsNetLine() ? ConnectNetLine() : ConnectTcp();
}

bool CModbusConnection::IsNetLine() const { return EndpointKind::IsNetLine(m_bTcp, m_nProtocol); }

std::string CModbusConnection::HostText() const {
  if (!m_strHost.empty()) return m_strHost;
  const auto& ip = m_ipAddress;
  return std::to_string(ip[0]) + "." + std::to_string(ip[1]) + "." + std::to_string(ip[2]) + "." +
         std::to_string(ip[3]);
}

bool CModbusConnection::ConnectSerial() {
  m_hConnection = ConnectSerialPort(m_nProtocol, m_nPort, m_nTimeout, &m_serial);
  if (m_hConnection == -1) return false;
  ApplyRequestSettings(m_hConnection);
  if (m_nRs485Mode != 0 && Modbus().SetRs485Mode)
    Modbus().SetRs485Mode(m_hConnection, m_nRs485Mode, static_cast<uint32_t>(m_nRs485BeforeMs),
                          static_cast<uint32_t>(m_nRs485AfterMs));
  ShareLine(m_hConnection);
  EnableCallback(m_hConnection, OnModbusCallback);
  return true;
}

bool CModbusConnection::ConnectNetLine() {
  uint32_t address = 0;
  std::memcpy(&address, m_ipAddress.data(), sizeof address);
  if (m_strHost.empty() && address == kNoAddress) return false;
  if (!Modbus().ConnectNetLine) return false;
  m_hConnection = Modbus().ConnectNetLine(
      HostText().c_str(), static_cast<uint32_t>(m_nPort), EndpointKind::Transport(m_nProtocol),
      EndpointKind::Framing(m_nProtocol), m_nTimeout);
  if (m_hConnection == -1) return false;
  // Away until the library reports the host reached.
  m_bDeviceLost = true;
  ApplyRequestSettings(m_hConnection);
  ShareLine(m_hConnection);
  EnableCallback(m_hConnection, OnModbusCallback);
  return true;
}

void CModbusConnection::ShareLine(int handle) const {
  if (m_nSharePort <= 0 || !Modbus().ShareLine) return;
  const SharedLineSettings settings{m_strShareBind.empty() ? nullptr : m_strShareBind.c_str(),
                                    static_cast<uint16_t>(m_nSharePort),
                                    static_cast<uint16_t>(m_nShareClients),
                                    static_cast<uint16_t>(m_nShareQueued)};
  // The library logs why a port cannot be opened; the line works on unshared.
  Modbus().ShareLine(handle, &settings, nullptr);
}

void CModbusConnection::ApplyRequestSettings(int handle) const {
  if (m_nPauseMs > 0 && Modbus().SetRequestPause)
    Modbus().SetRequestPause(handle, static_cast<uint32_t>(m_nPauseMs));
  if (m_nRetries > 0 && Modbus().SetRequestRetries)
    Modbus().SetRequestRetries(handle, static_cast<uint32_t>(m_nRetries));
}

bool CModbusConnection::ConnectTcp() {
  uint32_t address = 0;
  std::memcpy(&address, m_ipAddress.data(), sizeof address);
  if (address != kNoAddress || !m_strHost.empty()) {
    // The handle it replaces never came up; it would otherwise stay open.
    ClosePendingTcpHandle();
    TcpOptions options{};
    options.protocol = static_cast<uint16_t>(m_nProtocol);
    options.timeoutMs = static_cast<uint32_t>(m_nTimeout);
    if (!m_strHost.empty()) {
      // Resolved by the library on its own thread, at every attempt.
      m_hTcpConnection = Modbus().ConnectTCPHost
                             ? Modbus().ConnectTCPHost(m_strHost.c_str(),
                                                       static_cast<uint16_t>(m_nPort), &options)
                             : -1;
    } else {
      m_hTcpConnection =
          Modbus().ConnectTCP2
              ? Modbus().ConnectTCP2(address, static_cast<uint16_t>(m_nPort), &options)
              : -1;
    }
    if (m_hTcpConnection != -1) ApplyRequestSettings(m_hTcpConnection);
  }
  return m_hTcpConnection != -1;
}

bool CModbusConnection::IsConnected() const { return m_hConnection != -1; }

void CModbusConnection::Attach() {
  m_hConnection = m_hTcpConnection;
  EnableCallback(m_hConnection, OnModbusCallback);
}

void CModbusConnection::Detach() {
  std::vector<CModbusMsg*> dropped = TakeQueue();
  EnableCallback(m_hConnection, nullptr);
  m_hConnection = -1;
  HandBackAll(dropped, ScanStatus::ChannelNotConnected);
}

void CModbusConnection::Close() {
  std::vector<CModbusMsg*> dropped = TakeQueue();
  CloseHandle(m_hConnection);
  // A closed handle is forgotten, so that it is never closed twice.
  if (m_hTcpConnection == m_hConnection) m_hTcpConnection = -1;
  m_hConnection = -1;
  HandBackAll(dropped, ScanStatus::ChannelNotConnected);
}

// Dropped requests go back to their scans as not connected, each exactly
// once, so that a scan waiting for its poll is released and polls again.
void CModbusConnection::ClearQueue() { HandBackAll(TakeQueue(), ScanStatus::ChannelNotConnected); }

std::vector<CModbusMsg*> CModbusConnection::TakeQueue() {
  std::vector<CModbusMsg*> taken;
  taken.swap(m_queue);
  m_bBusy = false;
  return taken;
}

void CModbusConnection::HandBackAll(const std::vector<CModbusMsg*>& requests, ScanStatus status) {
  for (CModbusMsg* request : requests) {
    request->SetStatus(status);
    HandBack(request);
  }
}

bool CModbusConnection::ReplaceWaitingWrite(CModbusMsg& request) {
  for (size_t i = 0; i < m_queue.size(); ++i) {
    bool outstanding = m_bBusy && i == 0;
    if (outstanding || !m_queue[i]->IsSameRequest(request)) continue;
    if (request.m_nPointType == static_cast<uint8_t>(ModbusFunction::MaskWriteRegister)) {
      ComposeMaskWrites(*m_queue[i], request);
    } else {
      std::copy_n(request.m_data, CModbusMsg::kTravelWords, m_queue[i]->m_data);
    }
    // Its clients are answered by the write that now carries their value.
    std::vector<uint64_t>& answers = m_queue[i]->m_clientWrites;
    answers.insert(answers.end(), request.m_clientWrites.begin(), request.m_clientWrites.end());
    return true;
  }
  return false;
}

int CModbusConnection::Enqueue(CModbusMsg* request) {
  if (!IsConnected()) return 0;
  // The response copy holds 2000 words; a longer request is never sent.
  if (request->m_nScanLength > CModbusMsg::kTravelWords) {
    request->SetStatus(ScanStatus::InvalidLength);
    return 0;
  }
  if (RefuseDemoted(*request)) return 0;
  if (IsWrite(*request)) {
    // A client's newer value replaces the one still waiting, so the device
    // ends with the last value written; the waiting request answers for both.
    if (ReplaceWaitingWrite(*request)) {
      delete request;
      return 1;
    }
  } else if (std::any_of(m_queue.begin(), m_queue.end(),
                         [&](const CModbusMsg* q) { return q->IsSameRequest(*request); })) {
    request->SetStatus(ScanStatus::MsgOverrun);
    return 0;
  }
  // Asked last: letting a probe through is a promise to send it.
  if (!IsWrite(*request) && !m_demotion.MayPoll(request->m_nSlaveNode)) {
    request->SetStatus(ScanStatus::DeviceDemoted);
    return 0;
  }
  m_queue.push_back(request);
  if (m_bBusy) return 1;
  // A write goes out at once on every kind of endpoint: held back for a
  // later poll, it waited without end where nothing else polls, while its
  // client had been told it succeeded.
  SendNext();
  return 1;
}

bool CModbusConnection::RefuseDemoted(CModbusMsg& request) {
  // Writes never probe: a client is told at once that the device is away.
  if (!IsWrite(request) || !m_demotion.IsDemoted(request.m_nSlaveNode)) return false;
  request.SetStatus(ScanStatus::DeviceDemoted);
  return true;
}

void CModbusConnection::SendNext() {
  // A hand-back below may queue and start a request of its own; whoever
  // started one owns the busy state.
  while (!m_bBusy && !m_queue.empty()) StartHead();
  if (m_queue.empty()) m_bBusy = false;
}

void CModbusConnection::StartHead() {
  CModbusMsg* head = m_queue.front();
  RequestHeader header = HeaderOf(*head);
  int result = ToNumber(ScanStatus::InvalidHandle);
  if (m_demotion.IsHeldBack(head->m_nSlaveNode))
    result = ToNumber(ScanStatus::DeviceDemoted);  // queued before its device was demoted
  else if (IsWrite(*head) && Modbus().WriteMODBUS)
    result = Modbus().WriteMODBUS(m_hConnection, &header, head->m_data);
  else if (!IsWrite(*head) && Modbus().PollMODBUS)
    result = Modbus().PollMODBUS(m_hConnection, &header);
  if (result == 0) {
    m_bBusy = true;
    return;
  }
  // The bell sounds on a thread of its own: this thread is never held for the
  // two seconds. It tells of a write the library refused, not of a device held back.
  if (head->m_nPointType == static_cast<uint8_t>(ModbusFunction::WriteSingleRegister) &&
      result != ToNumber(ScanStatus::DeviceDemoted))
    Beep(2000, 2000);
  head->m_nStatus = result;
  m_queue.erase(m_queue.begin());
  HandBack(head);
}

void CModbusConnection::OnResponse(const ModbusAnswer& answer) {
  if (m_queue.empty()) return;
  CModbusMsg* head = m_queue.front();
  if (!SameHeader(answer.header, HeaderOf(*head))) {
    HandBackAll(TakeQueue(), ScanStatus::InvalidResponse);
    return;
  }
  // A write keeps the words it carried, which a refused mask write is sent
  // again from.
  if (!IsWrite(*head)) std::copy(answer.words.begin(), answer.words.end(), head->m_data);
  head->m_nStatus = answer.status;
  head->m_answeredAt = answer.settledAt;
  m_queue.erase(m_queue.begin());
  m_bBusy = false;
  HandBack(head);
  SendNext();
}

void CModbusConnection::HandBack(CModbusMsg* request) {
  // Before the scan sees it: a time-out there may close the endpoint, which
  // asks whether the devices are all silent.
  const bool wasDemoted = m_demotion.IsDemoted(request->m_nSlaveNode);
  m_demotion.OnResult(request->m_nSlaveNode, request->m_nStatus);
  // A failed probe changes nothing: its scan goes on showing the device
  // demoted, rather than a time-out and back (two log lines, two tag status
  // changes) at every probe. The library still counts the time-out.
  if (wasDemoted && request->m_nStatus == ToNumber(ScanStatus::PollTimeout))
    request->SetStatus(ScanStatus::DeviceDemoted);
  if (std::shared_ptr<IRequestSink> scan = request->m_pScan.lock())
    scan->OnRequestDone(request);
  else if (m_pSink)
    m_pSink->OnRequestDone(request);
  else
    delete request;
}

void CModbusConnection::ClosePendingTcpHandle() {
  if (m_hTcpConnection == -1 || m_hTcpConnection == m_hConnection) return;
  CloseHandle(m_hTcpConnection);
  m_hTcpConnection = -1;
}
