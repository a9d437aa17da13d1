#include "tagserver/MonitoredItemRequests.h"

namespace tagserver {

MonitoringParameters MonitoringParameters::read(UaDecoder& in) {
  MonitoringParameters p;
  p.clientHandle = in.UInt32();
  p.samplingInterval = in.Double();
  p.filter = in.ExtensionObject();
  p.queueSize = in.UInt32();
  p.discardOldest = in.Boolean();
  return p;
}

DataChangeFilter DataChangeFilter::read(UaDecoder& in) {
  DataChangeFilter f;
  f.trigger = in.UInt32();
  f.deadbandType = in.UInt32();
  f.deadbandValue = in.Double();
  return f;
}

MonitoredItemCreateRequest MonitoredItemCreateRequest::read(UaDecoder& in) {
  MonitoredItemCreateRequest r;
  r.itemToMonitor = ReadValueId::read(in);
  r.monitoringMode = in.UInt32();
  r.requestedParameters = MonitoringParameters::read(in);
  return r;
}

CreateMonitoredItemsRequest CreateMonitoredItemsRequest::read(UaDecoder& in) {
  CreateMonitoredItemsRequest r;
  r.subscriptionId = in.UInt32();
  r.timestampsToReturn = in.UInt32();
  r.itemsToCreate =
      in.ArrayOf(MonitoredItemCreateRequest::kMinSize, MonitoredItemCreateRequest::read);
  return r;
}

MonitoredItemModifyRequest MonitoredItemModifyRequest::read(UaDecoder& in) {
  MonitoredItemModifyRequest r;
  r.monitoredItemId = in.UInt32();
  r.requestedParameters = MonitoringParameters::read(in);
  return r;
}

ModifyMonitoredItemsRequest ModifyMonitoredItemsRequest::read(UaDecoder& in) {
  ModifyMonitoredItemsRequest r;
  r.subscriptionId = in.UInt32();
  r.timestampsToReturn = in.UInt32();
  r.itemsToModify =
      in.ArrayOf(MonitoredItemModifyRequest::kMinSize, MonitoredItemModifyRequest::read);
  return r;
}

SetMonitoringModeRequest SetMonitoringModeRequest::read(UaDecoder& in) {
  SetMonitoringModeRequest r;
  r.subscriptionId = in.UInt32();
  r.monitoringMode = in.UInt32();
  r.monitoredItemIds = in.UInt32Array();
  return r;
}

DeleteMonitoredItemsRequest DeleteMonitoredItemsRequest::read(UaDecoder& in) {
  DeleteMonitoredItemsRequest r;
  r.subscriptionId = in.UInt32();
  r.monitoredItemIds = in.UInt32Array();
  return r;
}

}  // namespace tagserver
