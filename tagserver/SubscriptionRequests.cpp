#include "tagserver/SubscriptionRequests.h"

namespace tagserver {

CreateSubscriptionRequest CreateSubscriptionRequest::read(UaDecoder& in) {
  CreateSubscriptionRequest r;
  r.requestedPublishingInterval = in.Double();
  r.requestedLifetimeCount = in.UInt32();
  r.requestedMaxKeepAliveCount = in.UInt32();
  r.maxNotificationsPerPublish = in.UInt32();
  r.publishingEnabled = in.Boolean();
  r.priority = in.Byte();
  return r;
}

ModifySubscriptionRequest ModifySubscriptionRequest::read(UaDecoder& in) {
  ModifySubscriptionRequest r;
  r.subscriptionId = in.UInt32();
  r.requestedPublishingInterval = in.Double();
  r.requestedLifetimeCount = in.UInt32();
  r.requestedMaxKeepAliveCount = in.UInt32();
  r.maxNotificationsPerPublish = in.UInt32();
  r.priority = in.Byte();
  return r;
}

SetPublishingModeRequest SetPublishingModeRequest::read(UaDecoder& in) {
  SetPublishingModeRequest r;
  r.publishingEnabled = in.Boolean();
  r.subscriptionIds = in.UInt32Array();
  return r;
}

SubscriptionAcknowledgement SubscriptionAcknowledgement::read(UaDecoder& in) {
  SubscriptionAcknowledgement a;
  a.subscriptionId = in.UInt32();
  a.sequenceNumber = in.UInt32();
  return a;
}

PublishRequest PublishRequest::read(UaDecoder& in) {
  return {in.ArrayOf(SubscriptionAcknowledgement::kMinSize, SubscriptionAcknowledgement::read)};
}

RepublishRequest RepublishRequest::read(UaDecoder& in) {
  RepublishRequest r;
  r.subscriptionId = in.UInt32();
  r.retransmitSequenceNumber = in.UInt32();
  return r;
}

DeleteSubscriptionsRequest DeleteSubscriptionsRequest::read(UaDecoder& in) {
  return {in.UInt32Array()};
}

}  // namespace tagserver
