// The monitored item services and the parameters and filter they carry.
#pragma once

#include <cstdint>
#include <vector>

#include "tagserver/AttributeRequests.h"
#include "tagserver/UaDecoder.h"
#include "tagserver/UaTypes.h"

namespace tagserver {

struct MonitoringParameters {
  uint32_t clientHandle = 0;
  double samplingInterval = 0;
  UaExtensionObject filter;
  uint32_t queueSize = 0;
  bool discardOldest = false;

  static MonitoringParameters read(UaDecoder& in);
};

// The body of the one filter the server takes, from a filter's ExtensionObject.
struct DataChangeFilter {
  uint32_t trigger = 0;       // 0 status, 1 status and value, 2 also the source timestamp
  uint32_t deadbandType = 0;  // 0 none, 1 absolute, 2 percent
  double deadbandValue = 0;

  static DataChangeFilter read(UaDecoder& in);
};

struct MonitoredItemCreateRequest {
  ReadValueId itemToMonitor;
  uint32_t monitoringMode = 0;  // unchecked as read; see MonitoringMode
  MonitoringParameters requestedParameters;

  static constexpr size_t kMinSize = 40;
  static MonitoredItemCreateRequest read(UaDecoder& in);
};

struct CreateMonitoredItemsRequest {
  uint32_t subscriptionId = 0;
  uint32_t timestampsToReturn = 0;
  std::vector<MonitoredItemCreateRequest> itemsToCreate;

  static CreateMonitoredItemsRequest read(UaDecoder& in);
};

struct MonitoredItemModifyRequest {
  uint32_t monitoredItemId = 0;
  MonitoringParameters requestedParameters;

  static constexpr size_t kMinSize = 24;
  static MonitoredItemModifyRequest read(UaDecoder& in);
};

struct ModifyMonitoredItemsRequest {
  uint32_t subscriptionId = 0;
  uint32_t timestampsToReturn = 0;
  std::vector<MonitoredItemModifyRequest> itemsToModify;

  static ModifyMonitoredItemsRequest read(UaDecoder& in);
};

struct SetMonitoringModeRequest {
  uint32_t subscriptionId = 0;
  uint32_t monitoringMode = 0;
  std::vector<uint32_t> monitoredItemIds;

  static SetMonitoringModeRequest read(UaDecoder& in);
};

struct DeleteMonitoredItemsRequest {
  uint32_t subscriptionId = 0;
  std::vector<uint32_t> monitoredItemIds;

  static DeleteMonitoredItemsRequest read(UaDecoder& in);
};

}  // namespace tagserver
