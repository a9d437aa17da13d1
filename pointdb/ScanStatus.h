// The documented numbers of a scan's or request's status: 0 when good, 1-255
// a slave's exception code, and from 256 the Modbus library's own reasons,
// with the program's own past them; and what each says to an operator and to
// an OPC UA client.
#pragma once

#include <cstdint>

#include "modbuslib/modbuslib.h"

enum class ScanStatus : int32_t {
  Ok = MBS_OK,
  InvalidHandle = MBS_INVALID_HANDLE,
  MsgOverrun = MBS_MSG_OVERRUN,
  InvalidAddress = MBS_INVALID_ADDRESS,
  InvalidNode = MBS_INVALID_NODE,
  InvalidLength = MBS_INVALID_LENGTH,
  InvalidCommand = MBS_INVALID_COMMAND,
  OutOfMemory = MBS_OUT_OF_MEMORY,
  PollTimeout = MBS_POLL_TIMEOUT,
  InvalidProtocol = MBS_INVALID_PROTOCOL,
  InvalidChecksum = MBS_INVALID_CHECKSUM,
  ChannelNotConnected = MBS_CHANNEL_NOT_CONNECTED,
  InvalidResponse = MBS_INVALID_RESPONSE,
  WriteFailure = MBS_WRITE_FAILURE,
  SvrNotConnected = MBS_SVR_NOT_CONNECTED,
  Uninitialized = MBS_UNINITIALIZED,
  FunctionNotSupported = MBS_FUNCTION_NOT_SUPPORTED,
  // The request's device has stopped answering and is held back for a while.
  DeviceDemoted = 280,
};

constexpr int32_t kLastSlaveException = MBS_LAST_EXCEPTION;

// An exception answer is still an answer: the device is alive.
constexpr bool IsSlaveException(int32_t status) {
  return status > static_cast<int32_t>(ScanStatus::Ok) && status <= kLastSlaveException;
}

constexpr int32_t ToNumber(ScanStatus status) { return static_cast<int32_t>(status); }

// The text a scan shows for its status: empty for 0 and for a number this
// table does not know.
const char* ScanStatusText(int32_t status);
// The OPC UA status a tag is published with, and a client's write answered
// with, after a request ends with status.
uint32_t UaStatusOf(int32_t status);
