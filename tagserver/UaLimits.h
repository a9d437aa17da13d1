// The server's limits; docs/tagserver.md lists them for users.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tagserver::limits {

constexpr uint32_t kReceiveBufferSize = 65536;
constexpr uint32_t kSendBufferSize = 65536;
constexpr uint32_t kMinBufferSize = 8192;
constexpr uint32_t kMaxMessageSize = 16 * 1024 * 1024;
constexpr uint32_t kMaxChunkCount = 1024;
constexpr size_t kMaxConnections = 100;
constexpr size_t kMaxSessions = 100;
constexpr size_t kMaxSubscriptionsPerSession = 50;
constexpr size_t kMaxMonitoredItemsPerSession = 200000;
constexpr size_t kMaxPublishRequestsPerSession = 64;
constexpr size_t kMaxContinuationPointsPerSession = 8;
constexpr size_t kMaxRetransmitQueue = 20;
constexpr uint32_t kMaxNodesPerRequest = 200000;
constexpr uint32_t kMaxReferencesPerBrowse = 1000;
constexpr uint32_t kMaxNotificationsPerPublish = 20000;
constexpr uint32_t kMaxQueueSize = 100;
constexpr uint32_t kMaxStringLength = 65535;
constexpr double kMinSessionTimeoutMs = 10000;
constexpr double kMaxSessionTimeoutMs = 3600000;
constexpr uint32_t kMinTokenLifetimeMs = 10000;
constexpr uint32_t kMaxTokenLifetimeMs = 3600000;
constexpr uint32_t kHelloTimeoutMs = 10000;
constexpr double kMaxPublishingIntervalMs = 3600000;
constexpr uint32_t kMaxLifetimeCount = 100000;
constexpr uint32_t kMaxKeepAliveCount = 10000;

}  // namespace tagserver::limits
