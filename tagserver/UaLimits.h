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
// One client address may hold only a part of the connections and sessions,
// so that one host cannot keep every other one out.
constexpr size_t kMaxChannelsPerAddress = 25;
constexpr size_t kMaxSessionsPerAddress = 25;
// What the buffers of all connections together may hold: unfinished
// requests coming in and answers not yet sent.
constexpr size_t kBufferBudget = 256 * 1024 * 1024;
// The answers one connection may have waiting unsent; one answer alone may
// be larger.
constexpr size_t kMaxUnsentBytes = 16 * 1024 * 1024;
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

// How long a client may hold what it does not use, and how much output it may
// leave unread; the server keeps one set, tests shorten it.
struct Allowances {
  // A session that is never activated, whatever timeout it asked for.
  int64_t unactivatedSessionMs = 20000;
  // A secure channel that carries no session and no request.
  int64_t idleChannelMs = 30000;
  // From the first byte of a message to its last.
  int64_t partialMessageMs = 15000;
  size_t maxUnsentBytes = kMaxUnsentBytes;
};

}  // namespace tagserver::limits
