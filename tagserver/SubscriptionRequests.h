// The subscription services, Publish and Republish.
#pragma once

#include <cstdint>
#include <vector>

#include "tagserver/UaDecoder.h"

namespace tagserver {

struct CreateSubscriptionRequest {
  double requestedPublishingInterval = 0;
  uint32_t requestedLifetimeCount = 0;
  uint32_t requestedMaxKeepAliveCount = 0;
  uint32_t maxNotificationsPerPublish = 0;
  bool publishingEnabled = false;
  uint8_t priority = 0;

  static CreateSubscriptionRequest read(UaDecoder& in);
};

struct ModifySubscriptionRequest {
  uint32_t subscriptionId = 0;
  double requestedPublishingInterval = 0;
  uint32_t requestedLifetimeCount = 0;
  uint32_t requestedMaxKeepAliveCount = 0;
  uint32_t maxNotificationsPerPublish = 0;
  uint8_t priority = 0;

  static ModifySubscriptionRequest read(UaDecoder& in);
};

struct SetPublishingModeRequest {
  bool publishingEnabled = false;
  std::vector<uint32_t> subscriptionIds;

  static SetPublishingModeRequest read(UaDecoder& in);
};

struct SubscriptionAcknowledgement {
  uint32_t subscriptionId = 0;
  uint32_t sequenceNumber = 0;

  static constexpr size_t kMinSize = 8;
  static SubscriptionAcknowledgement read(UaDecoder& in);
};

struct PublishRequest {
  std::vector<SubscriptionAcknowledgement> subscriptionAcknowledgements;

  static PublishRequest read(UaDecoder& in);
};

struct RepublishRequest {
  uint32_t subscriptionId = 0;
  uint32_t retransmitSequenceNumber = 0;

  static RepublishRequest read(UaDecoder& in);
};

struct DeleteSubscriptionsRequest {
  std::vector<uint32_t> subscriptionIds;

  static DeleteSubscriptionsRequest read(UaDecoder& in);
};

}  // namespace tagserver
