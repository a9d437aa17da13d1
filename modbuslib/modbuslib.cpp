// The library's entry points: each finds its connection and hands over.
#include "modbuslib/modbuslib.h"

#include <arpa/inet.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>

#include "modbuslib/AsciiFramer.h"
#include "modbuslib/ComPortMap.h"
#include "modbuslib/Library.h"
#include "modbuslib/LineServer.h"
#include "modbuslib/MbapFramer.h"
#include "modbuslib/NetLineConnection.h"
#include "modbuslib/RtuFramer.h"
#include "modbuslib/SerialConnection.h"
#include "modbuslib/SerialPort.h"
#include "modbuslib/TcpConnection.h"

namespace {

enum class Framing { Rtu, Ascii };

std::string portName(int comPort) { return "COM" + std::to_string(comPort); }

std::string openError(int error) {
  // What the lock says of a port that another program holds tells a user nothing.
  return error == EWOULDBLOCK ? "in use by another program" : std::strerror(error);
}

int connectSerial(int comPort, int timeoutMs, const SerialSettings* settings, mbl::Dialect dialect,
                  Framing framing) {
  if (settings == nullptr) return -1;
  auto& library = mbl::Library::instance();
  const std::string path = mbl::ComPortMap::devicePath(comPort);
  if (path.empty()) {
    library.log(MBS_LOG_ERROR, portName(comPort), "no such port");
    return -1;
  }
  const std::string device = portName(comPort) + " (" + path + ")";
  bool kernelRs485 = false;
  const int fd = mbl::SerialPort::open(path, *settings, kernelRs485);
  if (fd < 0) {
    const int error = errno;
    library.log(MBS_LOG_ERROR, device, "cannot open: " + openError(error));
    return -1;
  }
  std::unique_ptr<mbl::Framer> framer;
  if (framing == Framing::Ascii) {
    framer = std::make_unique<mbl::AsciiFramer>();
  } else {
    framer = std::make_unique<mbl::RtuFramer>();
  }
  return library.add(std::make_shared<mbl::SerialConnection>(
      library.io(), library.reserveHandle(), dialect, timeoutMs, std::move(framer), fd, *settings,
      kernelRs485, device, path));
}

std::unique_ptr<mbl::Framer> NetFramer(int framing) {
  switch (framing) {
    case MBS_FRAMING_ASCII:
    case MBS_FRAMING_DANIELS_ASCII: return std::make_unique<mbl::AsciiFramer>();
    case MBS_FRAMING_RTU:
    case MBS_FRAMING_DANIELS_RTU: return std::make_unique<mbl::RtuFramer>();
    case MBS_FRAMING_MBAP: return std::make_unique<mbl::MbapFramer>();
    default: return nullptr;
  }
}

bool ValidPort(uint32_t port) { return port > 0 && port <= 65535; }

}  // namespace

extern "C" {

int ConnectASCII(int comPort, int timeoutMs, const SerialSettings* settings) {
  return connectSerial(comPort, timeoutMs, settings, mbl::Dialect::Standard, Framing::Ascii);
}

int ConnectRTU(int comPort, int timeoutMs, const SerialSettings* settings) {
  return connectSerial(comPort, timeoutMs, settings, mbl::Dialect::Standard, Framing::Rtu);
}

int ConnectDanielsASCII(int comPort, int timeoutMs, const SerialSettings* settings) {
  return connectSerial(comPort, timeoutMs, settings, mbl::Dialect::Daniels, Framing::Ascii);
}

int ConnectDanielsRTU(int comPort, int timeoutMs, const SerialSettings* settings) {
  return connectSerial(comPort, timeoutMs, settings, mbl::Dialect::Daniels, Framing::Rtu);
}

int ConnectTCP2(uint32_t ipAddress, uint32_t port, const TcpOptions* options) {
  // 255.255.255.255 is what inet_addr gives for text it cannot read.
  if (ipAddress == 0xFFFFFFFFu || port == 0 || port > 65535) return -1;
  const int timeoutMs = options != nullptr ? static_cast<int>(options->timeoutMs) : 0;
  const asio::ip::tcp::endpoint server(asio::ip::address_v4(ntohl(ipAddress)),
                                       static_cast<uint16_t>(port));
  auto& library = mbl::Library::instance();
  return library.add(std::make_shared<mbl::TcpConnection>(library.io(), library.reserveHandle(),
                                                          server, timeoutMs));
}

int ConnectTCPHost(const char* host, uint32_t port, const TcpOptions* options) {
  if (host == nullptr || *host == '\0' || !ValidPort(port)) return -1;
  const int timeoutMs = options != nullptr ? static_cast<int>(options->timeoutMs) : 0;
  auto& library = mbl::Library::instance();
  return library.add(std::make_shared<mbl::TcpConnection>(
      library.io(), library.reserveHandle(), host, static_cast<uint16_t>(port), timeoutMs));
}

int ConnectNetLine(const char* host, uint32_t port, int transport, int framing, int timeoutMs) {
  if (host == nullptr || *host == '\0' || !ValidPort(port)) return -1;
  if (transport != MBS_NET_TCP && transport != MBS_NET_UDP) return -1;
  // Modbus/TCP framing on a stream is ConnectTCPHost's.
  if (framing == MBS_FRAMING_MBAP && transport == MBS_NET_TCP) return -1;
  std::unique_ptr<mbl::Framer> framer = NetFramer(framing);
  if (!framer) return -1;
  const auto dialect = framing == MBS_FRAMING_DANIELS_ASCII || framing == MBS_FRAMING_DANIELS_RTU
                           ? mbl::Dialect::Daniels
                           : mbl::Dialect::Standard;
  const auto over = transport == MBS_NET_TCP ? mbl::NetLineConnection::Transport::Tcp
                                             : mbl::NetLineConnection::Transport::Udp;
  auto& library = mbl::Library::instance();
  return library.add(std::make_shared<mbl::NetLineConnection>(
      library.io(), library.reserveHandle(), dialect, timeoutMs, std::move(framer), over, host,
      static_cast<uint16_t>(port)));
}

int SetRequestRetries(int handle, uint32_t retries) {
  auto connection = mbl::Library::instance().find(handle);
  if (!connection) return MBS_INVALID_HANDLE;
  connection->setRetries(static_cast<int>(std::min<uint32_t>(retries, INT32_MAX)));
  return MBS_OK;
}

int SetRequestPause(int handle, uint32_t pauseMs) {
  auto connection = mbl::Library::instance().find(handle);
  if (!connection) return MBS_INVALID_HANDLE;
  connection->setPause(std::chrono::milliseconds(pauseMs));
  return MBS_OK;
}

void EnableConnectionCallback(ConnectionCallback callback) {
  mbl::Library::instance().setLinkCallback(callback);
}

void EnableLogCallback(LogCallback callback) { mbl::Library::instance().setLogCallback(callback); }

void EnableTraceCallback(TraceCallback callback) {
  mbl::Library::instance().setTraceCallback(callback);
}

void EnableModbusCallback(int handle, ModbusCallback callback) {
  mbl::Library::instance().setModbusCallback(handle, callback);
}

int PollMODBUS(int handle, const RequestHeader* header) {
  auto connection = mbl::Library::instance().find(handle);
  if (!connection) return MBS_INVALID_HANDLE;
  return connection->submit(header, nullptr, false);
}

int WriteMODBUS(int handle, const RequestHeader* header, const uint16_t* data) {
  auto connection = mbl::Library::instance().find(handle);
  if (!connection) return MBS_INVALID_HANDLE;
  return connection->submit(header, data, true);
}

int MODBUSResponse(int handle, RequestHeader* header, uint16_t* data, int capacity) {
  auto connection = mbl::Library::instance().find(handle);
  if (!connection) return MBS_INVALID_HANDLE;
  return connection->fetch(header, data, capacity);
}

int MODBUSResponseTime(int handle, int64_t* settledAt) {
  auto connection = mbl::Library::instance().find(handle);
  if (!connection) return MBS_INVALID_HANDLE;
  return connection->fetchTime(settledAt);
}

void CloseConnection(int handle) { mbl::Library::instance().close(handle); }

int GetModbusCounters(int handle, ModbusCounters* counters) {
  auto connection = mbl::Library::instance().find(handle);
  if (!connection) return MBS_INVALID_HANDLE;
  if (counters != nullptr) *counters = connection->counters();
  return MBS_OK;
}

int SetLineTiming(int handle, uint32_t interFrameGapUs, uint32_t turnaroundUs) {
  auto connection = mbl::Library::instance().find(handle);
  if (!connection) return MBS_INVALID_HANDLE;
  auto serial = std::dynamic_pointer_cast<mbl::SerialConnection>(connection);
  if (!serial) return MBS_INVALID_PROTOCOL;
  serial->setTiming(std::chrono::microseconds(interFrameGapUs),
                    std::chrono::microseconds(turnaroundUs));
  return MBS_OK;
}

int SetRs485Mode(int handle, int mode, uint32_t delayBeforeMs, uint32_t delayAfterMs) {
  auto connection = mbl::Library::instance().find(handle);
  if (!connection) return MBS_INVALID_HANDLE;
  auto serial = std::dynamic_pointer_cast<mbl::SerialConnection>(connection);
  if (!serial || std::dynamic_pointer_cast<mbl::NetLineConnection>(connection)) {
    return MBS_INVALID_PROTOCOL;
  }
  if (mode < MBS_RS485_OFF || mode > MBS_RS485_RTS_AFTER_SEND) return MBS_INVALID_LENGTH;
  serial->setRs485(mode, delayBeforeMs, delayAfterMs);
  return MBS_OK;
}

int ShareLine(int handle, const SharedLineSettings* settings, uint16_t* boundPort) {
  auto& library = mbl::Library::instance();
  auto connection = library.find(handle);
  if (!connection) return MBS_INVALID_HANDLE;
  if (!connection->sharable() || settings == nullptr) return MBS_INVALID_PROTOCOL;
  mbl::LineLimits limits;
  if (settings->maxClients > 0) limits.clients = settings->maxClients;
  if (settings->maxQueuedPerClient > 0) limits.queuedPerClient = settings->maxQueuedPerClient;
  const std::string bind = settings->bindAddress ? settings->bindAddress : "127.0.0.1";
  const std::string context = "line " + std::to_string(handle) + " shared on " + bind;
  auto server = std::make_shared<mbl::LineServer>(library.io(), connection, context, limits);
  std::string why;
  const uint16_t bound = server->listen(bind, settings->port, why);
  if (bound == 0) {
    library.log(MBS_LOG_ERROR, context, why);
    return MBS_CHANNEL_NOT_CONNECTED;
  }
  if (boundPort != nullptr) *boundPort = bound;
  server->start();
  connection->share(server);
  return MBS_OK;
}

}  // extern "C"
