#include "tagserver/SubscriptionRequests.h"

namespace tagserver {

CreateSubscriptionRequest CreateSubscriptionRequest::read(CUaDecoder& in) {
  CreateSubscriptionRequest r;
  r.requestedPublishingInterval = in.Double();
  r.requestedLifetimeCount = in.UInt32();
  r.requestedMaxKeepAliveCount = in.UInt32();
  r.maxNotificationsPerPublish = in.UInt32();
  r.publishingEnabled = in.Boolean();
  r.priority = in.Byte();
  return r;
}

ModifySubscriptionRequest ModifySubscriptionRequest::read(CUaDecoder& in) {
  ModifySubscriptionRequest r;
  r.subscriptionId = in.UInt32();
  r.requestedPublishingInterval = in.Double();
  r.requestedLifetimeCount = in.UInt32();
  r.requestedMaxKeepAliveCount = in.UInt32();
  r.maxNotificationsPerPublish = in.UInt32();
  r.priority = in.Byte();
  return r;
}

SetPublishingModeRequest SetPublishingModeRequest::read(CUaDecoder& in) {
  SetPublishingModeRequest r;
  r.publishingEnabled = in.Boolean();
  r.subscriptionIds = in.UInt32Array();
  return r;
}

SubscriptionAcknowledgement SubscriptionAcknowledgement::read(CUaDecoder& in) {
  SubscriptionAcknowledgement a;
  a.subscriptionId = in.UInt32();
  a.sequenceNumber = in.UInt32();
  return a;
}

PublishRequest PublishRequest::read(CUaDecoder& in) {
  return {in.ArrayOf(SubscriptionAcknowledgement::kMinSize, SubscriptionAcknowledgement::read)};
}

RepublishRequest RepublishRequest::read(CUaDecoder& in) {
  RepublishRequest r;
  r.subscriptionId = in.UInt32();
  r.retransmitSequenceNumber = in.UInt32();
  return r;
}

DeleteSubscriptionsRequest DeleteSubscriptionsRequest::read(CUaDecoder& in) {
  return {in.UInt32Array()};
}

}  // namespace tagserver
