// Modbus master library: Modbus RTU and ASCII (standard and Daniels/ENRON) on
// serial lines and Modbus/TCP, behind one set of plain entry points. Every
// connection is served by the library's own I/O thread; callbacks arrive on it.
#pragma once

#include <cstdint>

extern "C" {

#pragma pack(push, 1)
struct SerialSettings {
  uint32_t baudRate;
  uint8_t parity;      // 0 none, 1 odd, 2 even
  uint8_t stopBits;    // 0 one, 2 two
  uint8_t wordLength;  // 7 or 8
  uint8_t pad0;
  uint32_t reserved1;
  uint32_t reserved2;
  uint32_t rtsControl;  // 0 disabled, 1 enabled, 2 handshake, 3 toggle
  uint32_t dtrControl;  // 0 disabled, 1 enabled, 2 handshake
  uint8_t reserved3;
  uint8_t reserved4;
  uint8_t pad1[2];
};

struct TcpOptions {
  uint8_t reserved[12];
  uint16_t protocol;
  uint8_t pad[2];
  uint32_t timeoutMs;
};

struct RequestHeader {
  uint8_t slaveNode;
  uint8_t function;
  uint16_t address;
  uint16_t length;
};
#pragma pack(pop)

static_assert(sizeof(SerialSettings) == 28);
static_assert(sizeof(TcpOptions) == 20);
static_assert(sizeof(RequestHeader) == 6);

// Status codes of a request: 0 good, 1-255 the slave's exception number.
constexpr int MBS_LAST_EXCEPTION = 255;
enum ModbusStatus {
  MBS_OK = 0,
  MBS_INVALID_HANDLE = 256,
  MBS_MSG_OVERRUN = 257,
  MBS_INVALID_ADDRESS = 258,
  MBS_INVALID_NODE = 259,
  MBS_INVALID_LENGTH = 260,
  MBS_INVALID_COMMAND = 261,
  MBS_OUT_OF_MEMORY = 262,
  MBS_POLL_TIMEOUT = 263,
  MBS_INVALID_PROTOCOL = 264,
  MBS_INVALID_CHECKSUM = 265,
  MBS_CHANNEL_NOT_CONNECTED = 266,
  MBS_INVALID_RESPONSE = 267,
  MBS_WRITE_FAILURE = 268,
  MBS_SVR_NOT_CONNECTED = 269,
  MBS_UNINITIALIZED = 270,
  MBS_FUNCTION_NOT_SUPPORTED = 272,
};

// The text of a status, as strerror gives an errno's: "Slave Exception #2" for
// an exception number, the code's name in capitals ("POLL TIMEOUT") for the
// library's own, and the empty text for 0 and for any other value. The text
// stays valid for the life of the program.
const char* ModbusStatusText(int status);

// Link events of a Modbus/TCP connection.
enum ModbusLinkEvent { MBS_EVENT_CONNECTED = 3, MBS_EVENT_TERMINATED = 4 };

constexpr int MBS_RESPONSE_CAPACITY = 2000;

// What one connection has seen since it was opened.
struct ModbusCounters {
  uint32_t requests;          // exchanges put on the wire
  uint32_t answers;           // answers taken for their request, exceptions included
  uint32_t timeouts;          // exchanges that ended with 263
  uint32_t checksumErrors;    // answers that failed their CRC or LRC (265)
  uint32_t invalidResponses;  // answers that fit the request but not its echo or shape (267)
  uint32_t discarded;         // late answers, frames for another request, noise on the line
  uint32_t linkLosses;        // exchanges the link closed under (269), mid-frame or before
};

// Levels of the log hook, numbered as syslog numbers them.
enum ModbusLogLevel { MBS_LOG_ERROR = 3, MBS_LOG_WARNING = 4, MBS_LOG_INFO = 6 };

typedef void (*ModbusCallback)(int handle, int spare1, int spare2);
typedef void (*ConnectionCallback)(int event, int handle);
typedef void (*LogCallback)(int level, const char* text);

// Directions of a traced frame.
enum ModbusTraceDirection { MBS_TRACE_SENT = 0, MBS_TRACE_RECEIVED = 1 };
typedef void (*TraceCallback)(int handle, int direction, const uint8_t* bytes, int length);

int ConnectASCII(int comPort, int timeoutMs, const SerialSettings* settings);
int ConnectRTU(int comPort, int timeoutMs, const SerialSettings* settings);
int ConnectDanielsASCII(int comPort, int timeoutMs, const SerialSettings* settings);
int ConnectDanielsRTU(int comPort, int timeoutMs, const SerialSettings* settings);
// ipAddress in network byte order; returns at once, the link event follows.
int ConnectTCP2(uint32_t ipAddress, uint32_t port, const TcpOptions* options);
void EnableConnectionCallback(ConnectionCallback callback);
void EnableModbusCallback(int handle, ModbusCallback callback);
int PollMODBUS(int handle, const RequestHeader* header);
int WriteMODBUS(int handle, const RequestHeader* header, const uint16_t* data);
int MODBUSResponse(int handle, RequestHeader* header, uint16_t* data, int capacity);
void CloseConnection(int handle);

// Additions of this library: the counters of a connection (0, or 256 for an
// unknown handle), and the timing of a serial line in microseconds: the
// silence that must precede each request, and the extra wait after a
// broadcast. 0 keeps the default, 3.5 characters (1750 us above 19200 baud).
int GetModbusCounters(int handle, ModbusCounters* counters);
// When the result MODBUSResponse gives was settled on the library's thread,
// as FILETIME ticks (100 ns since 1601-01-01 UTC): the moment the answer's
// last frame arrived, or the request timed out or failed. 0, 256 for an
// unknown handle, 270 while there is no result.
int MODBUSResponseTime(int handle, int64_t* settledAt);
int SetLineTiming(int handle, uint32_t interFrameGapUs, uint32_t turnaroundUs);
// Why a connection could not be made or was lost, as a line of text naming
// the device or address: called on the library's thread, once per event;
// null stops it, and none arrives after that call returns.
void EnableLogCallback(LogCallback callback);
// Every frame put on the wire, and the bytes of every read from it, with the
// connection's handle: called on the library's thread while the bytes move,
// so it must be quick; null stops it, and none arrives after that call returns.
void EnableTraceCallback(TraceCallback callback);


// Links over a network by host name or dotted address, resolved on the
// library's thread. ConnectTCPHost is ConnectTCP2 by name. ConnectNetLine
// carries a serial framing to a converter (or Modbus/TCP framing on UDP):
// framing as ModbusNetFraming, transport as ModbusNetTransport. Its handle
// comes at once and works as a serial line's: link event 4 (once) while the
// host cannot be reached, 3 when it can, and it is tried again every second
// meanwhile. -1 for an empty host, port 0 or an unknown framing or transport.
enum ModbusNetTransport { MBS_NET_TCP = 0, MBS_NET_UDP = 1 };
enum ModbusNetFraming {
  MBS_FRAMING_ASCII = 0,
  MBS_FRAMING_RTU = 1,
  MBS_FRAMING_DANIELS_ASCII = 2,
  MBS_FRAMING_DANIELS_RTU = 3,
  MBS_FRAMING_MBAP = 4,
};
int ConnectTCPHost(const char* host, uint32_t port, const TcpOptions* options);
int ConnectNetLine(const char* host, uint32_t port, int transport, int framing, int timeoutMs);
// How often a request that got no answer in time is sent again before it
// ends with 263, and the quiet time the connection keeps between one
// exchange and the next (0, or 256 for an unknown handle).
int SetRequestRetries(int handle, uint32_t retries);
int SetRequestPause(int handle, uint32_t pauseMs);
// The Linux driver's RS-485 mode of a serial connection: the driver raises
// RTS for each transmission (or lowers it, "after send") and keeps it the
// given milliseconds before and after. Set now and at every reopening; where
// the driver refuses it a log line names the port and the reason and the
// line works on as before. 0, 256 for an unknown handle, 264 for a
// connection that is not a serial port, 260 for an unknown mode.
enum ModbusRs485Mode { MBS_RS485_OFF = 0, MBS_RS485_RTS_ON_SEND = 1, MBS_RS485_RTS_AFTER_SEND = 2 };
int SetRs485Mode(int handle, int mode, uint32_t delayBeforeMs, uint32_t delayAfterMs);

// Opens a Modbus/TCP port through which other masters reach the slaves of a
// serial line (on a port or over a network): their requests take turns with
// the caller's on the line, each answered with its own slave's answer. A
// line's time-out answers exception 11, a line that is down exception 10, a
// request past a client's queue exception 6; a client past the limit is
// closed at once. Writes are logged (category Modbus), a few per ten
// seconds. 0 for any limit keeps its default (4 and 4); bindAddress null
// means 127.0.0.1; port 0 takes a free one. The port bound goes to
// *boundPort; the port closes with the connection. 0, 256 for an unknown
// handle, 264 for a connection that is not a serial line, 266 when the port
// cannot be opened (a log line says why).
struct SharedLineSettings {
  const char* bindAddress;
  uint16_t port;
  uint16_t maxClients;
  uint16_t maxQueuedPerClient;
};
int ShareLine(int handle, const SharedLineSettings* settings, uint16_t* boundPort);

}  // extern "C"
