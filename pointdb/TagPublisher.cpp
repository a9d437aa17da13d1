#include "pointdb/TagPublisher.h"

#include <chrono>

#include "pointdb/DataTypeInfo.h"
#include "pointdb/ModbusTag.h"
#include "pointdb/PointType.h"
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

void Create(CModbusTag& tag, const std::string& name, uint16_t quality, bool writable) {
  const TagServerBinding& server = TagServer();
  const bool bits = IsBitPointType(static_cast<PointType>(tag.m_nPointType));
  const VARTYPE type = bits ? VARTYPE{VT_R4} : PublishedVarType(tag.m_nDataType, tag.m_format);
  if (type != VT_R4 && server.CreateOPCTagOfType) {
    tag.m_hTag = server.CreateOPCTagOfType(name.c_str(), type, tag.m_value, quality, writable);
  } else if (server.CreateOPCTag) {
    tag.m_hTag = server.CreateOPCTag(name.c_str(), tag.m_value, quality, writable ? 1 : 0);
  }
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
