#include "pointdb/TagPublisher.h"

#include <chrono>

#include "pointdb/ModbusTag.h"
#include "pointdb/TagServerBinding.h"

namespace tagpublisher {

namespace {

// 100 ns ticks from 1601-01-01 to the Unix epoch.
constexpr int64_t kUnixEpochTicks = 116444736000000000LL;
constexpr int64_t kNanosecondsPerTick = 100;

}  // namespace

int64_t Now() {
  auto since = std::chrono::system_clock::now().time_since_epoch();
  return std::chrono::duration_cast<std::chrono::nanoseconds>(since).count() / kNanosecondsPerTick +
         kUnixEpochTicks;
}

void Publish(const CModbusTag& tag, uint32_t status, int64_t sourceTime) {
  if (tag.m_hTag == -1) return;
  const TagServerBinding& server = TagServer();
  if (server.UpdateOPCTagStatus) {
    server.UpdateOPCTagStatus(tag.m_hTag, tag.m_value, status, sourceTime);
  } else if (server.UpdateOPCTag) {
    server.UpdateOPCTag(tag.m_hTag, tag.m_value,
                        status == OPC_STATUS_GOOD ? OPC_QUALITY_GOOD : OPC_QUALITY_BAD);
  }
}

}  // namespace tagpublisher
