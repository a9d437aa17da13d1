#include "pointdb/ScanStatus.h"

#include <algorithm>
#include <iterator>

#include "tagserver/tagserver.h"

namespace {

// Every status the program names: the text of the ones it adds to the Modbus
// library's (null: the library's text), and what an OPC UA client is told.
struct StatusRow {
  ScanStatus status;
  const char* ownText;
  uint32_t uaStatus;
};

constexpr StatusRow kStatusRows[] = {
    {ScanStatus::Ok, nullptr, OPC_STATUS_GOOD},
    {ScanStatus::InvalidHandle, nullptr, OPC_STATUS_BAD_NOT_CONNECTED},
    {ScanStatus::MsgOverrun, nullptr, OPC_STATUS_BAD_COMMUNICATION_ERROR},
    {ScanStatus::InvalidAddress, nullptr, OPC_STATUS_BAD_OUT_OF_RANGE},
    {ScanStatus::InvalidNode, nullptr, OPC_STATUS_BAD_COMMUNICATION_ERROR},
    {ScanStatus::InvalidLength, nullptr, OPC_STATUS_BAD_OUT_OF_RANGE},
    {ScanStatus::InvalidCommand, nullptr, OPC_STATUS_BAD_COMMUNICATION_ERROR},
    {ScanStatus::OutOfMemory, nullptr, OPC_STATUS_BAD_COMMUNICATION_ERROR},
    {ScanStatus::PollTimeout, nullptr, OPC_STATUS_BAD_TIMEOUT},
    {ScanStatus::InvalidProtocol, nullptr, OPC_STATUS_BAD_COMMUNICATION_ERROR},
    {ScanStatus::InvalidChecksum, nullptr, OPC_STATUS_BAD_COMMUNICATION_ERROR},
    {ScanStatus::ChannelNotConnected, nullptr, OPC_STATUS_BAD_NOT_CONNECTED},
    {ScanStatus::InvalidResponse, nullptr, OPC_STATUS_BAD_COMMUNICATION_ERROR},
    {ScanStatus::WriteFailure, nullptr, OPC_STATUS_BAD_COMMUNICATION_ERROR},
    {ScanStatus::SvrNotConnected, nullptr, OPC_STATUS_BAD_NOT_CONNECTED},
    {ScanStatus::Uninitialized, nullptr, OPC_STATUS_BAD_COMMUNICATION_ERROR},
    {ScanStatus::FunctionNotSupported, nullptr, OPC_STATUS_BAD_COMMUNICATION_ERROR},
    {ScanStatus::DeviceDemoted, "DEVICE DEMOTED", OPC_STATUS_BAD_OUT_OF_SERVICE},
};

const StatusRow* FindRow(int32_t status) {
  const auto* row =
      std::find_if(std::begin(kStatusRows), std::end(kStatusRows),
                   [status](const StatusRow& r) { return ToNumber(r.status) == status; });
  return row == std::end(kStatusRows) ? nullptr : row;
}

}  // namespace

const char* ScanStatusText(int32_t status) {
  const StatusRow* row = FindRow(status);
  if (row != nullptr && row->ownText != nullptr) return row->ownText;
  return ModbusStatusText(status);
}

uint32_t UaStatusOf(int32_t status) {
  // The slave answered: it is there, but it would not do what was asked.
  if (IsSlaveException(status)) return OPC_STATUS_BAD_DEVICE_FAILURE;
  const StatusRow* row = FindRow(status);
  return row == nullptr ? OPC_STATUS_BAD_COMMUNICATION_ERROR : row->uaStatus;
}
