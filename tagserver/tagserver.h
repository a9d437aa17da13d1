// Tag-server library: an OPC UA server (binary protocol over opc.tcp) that
// publishes the tags the program creates and hands client writes back to it.
// The server runs on a thread of its own; the write callback arrives there.
#pragma once

#include <cstdint>

#include "opcua/UaStatusCodes.h"
#include "platform/Guid.h"
#include "platform/Variant.h"

extern "C" {

// OPC DA quality words the program hands over.
constexpr uint16_t OPC_QUALITY_GOOD = 192;
constexpr uint16_t OPC_QUALITY_BAD = 0;

typedef void (*OPCWriteCallback)(int32_t hTag, VARIANT* value, int32_t* result);

// A client write that is answered once the program knows how it ended: the
// callback gets a token with the value and returns at once; the program
// hands the token back with CompleteOPCWrite, from any thread, exactly once.
typedef uint64_t OPCWriteToken;
typedef void (*OPCAsyncWriteCallback)(int32_t hTag, VARIANT* value, OPCWriteToken token);

// OPC UA status codes a completed write carries to its client, and a tag's
// update may carry: the published codes under the names of this interface.
constexpr uint32_t OPC_STATUS_GOOD = UaStatus::Good;
constexpr uint32_t OPC_STATUS_BAD_TIMEOUT = UaStatus::BadTimeout;
constexpr uint32_t OPC_STATUS_BAD_COMMUNICATION_ERROR = UaStatus::BadCommunicationError;
constexpr uint32_t OPC_STATUS_BAD_NODE_ID_UNKNOWN = UaStatus::BadNodeIdUnknown;
constexpr uint32_t OPC_STATUS_BAD_NOT_WRITABLE = UaStatus::BadNotWritable;
constexpr uint32_t OPC_STATUS_BAD_OUT_OF_RANGE = UaStatus::BadOutOfRange;
constexpr uint32_t OPC_STATUS_BAD_TYPE_MISMATCH = UaStatus::BadTypeMismatch;
constexpr uint32_t OPC_STATUS_BAD_NOT_CONNECTED = UaStatus::BadNotConnected;
constexpr uint32_t OPC_STATUS_BAD_DEVICE_FAILURE = UaStatus::BadDeviceFailure;
constexpr uint32_t OPC_STATUS_BAD_OUT_OF_SERVICE = UaStatus::BadOutOfService;
constexpr uint32_t OPC_STATUS_BAD_WAITING_FOR_INITIAL_DATA = UaStatus::BadWaitingForInitialData;
constexpr uint32_t OPC_STATUS_BAD_DATA_ENCODING_INVALID = UaStatus::BadDataEncodingInvalid;
constexpr uint32_t OPC_STATUS_BAD_INVALID_ARGUMENT = UaStatus::BadInvalidArgument;

// Registration record (and, for the service, a systemd user unit) under the
// user's configuration directory.
int RegisterOPCServer(const GUID* clsid, const char* progId, const char* description,
                      const char* serverCommand);
int UnregisterOPCServer(const GUID* clsid, const char* progId);
int RegisterOPCService(const char* progId);

// Who may connect, set before InitOPCServer. directory holds the
// certificate folders (pki/) and the users file; null means the user's
// configuration directory. Policy None is offered on a loopback endpoint,
// and on any other only when allowNoneOnNetwork is set. Anonymous sessions
// may write on a loopback endpoint and only read on any other unless
// anonymous says otherwise.
constexpr int OPC_ANONYMOUS_DEFAULT = -1;
constexpr int OPC_ANONYMOUS_OFF = 0;
constexpr int OPC_ANONYMOUS_READ_ONLY = 1;
constexpr int OPC_ANONYMOUS_READ_WRITE = 2;
struct OPCSecuritySettings {
  const char* directory;
  int allowNoneOnNetwork;
  int anonymous;
};
int SetOPCSecurity(const OPCSecuritySettings* settings);

// The endpoint's certificates and users, looked after by the program's
// commands while no server runs; directory as above. 0 on success, -1 with
// the reason in error (at most errorSize bytes, ended by a zero byte).
int RenewOPCCertificate(const char* directory, char* error, int errorSize);
// Trusts the client certificate in the file (DER or PEM).
int TrustOPCClient(const char* directory, const char* file, char* error, int errorSize);
// Adds the user or replaces an existing user's password and role.
int AddOPCUser(const char* directory, const char* name, const char* password, int readWrite,
               char* error, int errorSize);
int RemoveOPCUser(const char* directory, const char* name, char* error, int errorSize);
// The users, one "<name>\t<read|readwrite>" line each, or the refused client
// certificates, one "<file>\t<subject>" line each, written to buffer (at
// most bufferSize bytes, ended by a zero byte). Returns the length of the
// whole list, so that a caller short of room asks again with enough.
int ListOPCUsers(const char* directory, char* buffer, int bufferSize);
int ListOPCRejected(const char* directory, char* buffer, int bufferSize);

// Starts the server; rateMs is the fastest sampling interval it grants.
int InitOPCServer(const GUID* clsid, int rateMs);
int EnableWriteCallback(OPCWriteCallback callback, int enable);
// Takes precedence over the classic callback while enabled. A write not
// completed within the server's bound (10 s unless the environment's
// PELMORAN_OPCUA_WRITE_TIMEOUT_MS says otherwise) is answered BadTimeout,
// and its late completion is ignored.
int EnableAsyncWriteCallback(OPCAsyncWriteCallback callback, int enable);
// -1 when the server is not running.
int CompleteOPCWrite(OPCWriteToken token, uint32_t status);
int32_t CreateOPCTag(const char* name, VARIANT value, uint16_t quality, int writable);
// The same, published with the OPC UA type of the VARIANT type vt (VT_BOOL
// Boolean, VT_I4 Int32, VT_UI4 UInt32, VT_I8 Int64, VT_UI8 UInt64, VT_R8
// Double, VT_BSTR String, any other Float) whatever the value holds: an empty
// value is a tag that has none yet. The first tag of a name fixes its type.
int32_t CreateOPCTagOfType(const char* name, VARTYPE vt, VARIANT value, uint16_t quality,
                           int writable);
int UpdateOPCTag(int32_t hTag, VARIANT value, uint16_t quality);
// The same with the reason beside the value: an OPC UA status code (a bad one
// keeps the value it is given, so clients see the last value and why it is no
// longer fresh) and the source timestamp, as an OPC UA DateTime (100 ns ticks
// since 1601-01-01 UTC); 0 stamps the moment of the call.
int UpdateOPCTagStatus(int32_t hTag, VARIANT value, uint32_t status, int64_t sourceTime);
int RemoveOPCTag(int32_t hTag);

// Folders beside the tags: Objects of FolderType that organize their
// sub-folders and have their tags as components. A folder's NodeId is
// ns=1;s=<parent's id>.<name> (ns=1;s=<name> in the tag folder), a tag's in
// it ns=1;s=<folder's id>.<name>, browsed as <name>.
constexpr int32_t OPC_TAG_FOLDER = 0;
// -1 for an unknown parent, an empty name or a folder that exists already.
int32_t CreateOPCFolder(int32_t hParent, const char* name);
// As CreateOPCTag, in a folder: -1 for an unknown folder or an empty name.
// UpdateOPCTag, UpdateOPCTagStatus and RemoveOPCTag take its handle.
int32_t CreateOPCFolderTag(int32_t hFolder, const char* name, VARIANT value, uint16_t quality,
                           int writable);
// Removes the folder with its sub-folders and tags.
int RemoveOPCFolder(int32_t hFolder);

// What a register map says of a tag beside its value: the tag's Description
// attribute, and the EngineeringUnits (EUInformation) and EURange properties
// of an AnalogItem. Null or empty texts and hasRange 0 leave them out.
typedef struct OPCTagProperties {
  const char* description;
  const char* units;  // the units' display name, e.g. "V"
  int hasRange;
  double rangeLow;
  double rangeHigh;
} OPCTagProperties;
// 0, or -1 for an unknown tag, null properties or a range that is not
// finite. Set once, before clients browse the tag; a later call replaces
// what an earlier one set.
int SetOPCTagProperties(int32_t hTag, const OPCTagProperties* properties);

// Beyond the classic entry points: the endpoint URL clients connect to
// (empty before InitOPCServer), and an orderly stop of the server thread.
const char* GetOPCServerURL();
void ShutdownOPCServer();
// The OPC UA clients connected now (0 while the server is not running); a
// connection that ended is no longer counted within about a second.
int GetOPCClientCount();

// Why the server refused or closed a client's connection, or why it
// dropped, as a line of text naming the client: called on the server's
// thread; null stops it, and none arrives after that call returns.
// Levels as syslog numbers them.
constexpr int OPC_LOG_ERROR = 3;
constexpr int OPC_LOG_WARNING = 4;
constexpr int OPC_LOG_INFO = 6;
typedef void (*OPCLogCallback)(int level, const char* text);
void EnableOPCLogCallback(OPCLogCallback callback);

}  // extern "C"
