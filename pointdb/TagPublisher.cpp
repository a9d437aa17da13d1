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

ITagObserver::TagInfo InfoOf(const CModbusTag& tag, const std::string& name,
                             const TagSource& source) {
  return {.handle = tag.m_hTag,
          .name = name,
          .endpoint = source.endpoint,
          .slaveNode = source.slaveNode,
          .type = PublishedType(tag),
          .writable = source.writable,
          .device = {}};
}

}  // namespace

int64_t Now() {
  auto since = std::chrono::system_clock::now().time_since_epoch();
  return std::chrono::duration_cast<std::chrono::nanoseconds>(since).count() / kNanosecondsPerTick +
         kUnixEpochTicks;
}

VARTYPE PublishedType(const CModbusTag& tag) {
  const bool bits = IsBitPointType(static_cast<PointType>(tag.m_nPointType));
  return bits ? VARTYPE{VT_R4} : PublishedVarType(tag.m_nDataType, tag.m_format);
}

void Create(CModbusTag& tag, const std::string& name, uint16_t quality, const TagSource& source) {
  const TagServerBinding& server = TagServer();
  const VARTYPE type = PublishedType(tag);
  if (type != VT_R4 && server.CreateOPCTagOfType) {
    tag.m_hTag =
        server.CreateOPCTagOfType(name.c_str(), type, tag.m_value, quality, source.writable);
  } else if (server.CreateOPCTag) {
    tag.m_hTag = server.CreateOPCTag(name.c_str(), tag.m_value, quality, source.writable ? 1 : 0);
  }
  tag.m_bPublished = false;
  // A tag the server refused is one no client sees, and no client can write.
  if (tag.m_hTag != -1 && source.observer) source.observer->OnTagCreated(InfoOf(tag, name, source));
}

void Publish(CModbusTag& tag, uint32_t status, int64_t sourceTime, ITagObserver* observer) {
  if (tag.m_hTag == -1) return;
  tag.m_bPublished = true;
  tag.m_nPublishedStatus = status;
  tag.m_publishedTime = sourceTime;
  const TagServerBinding& server = TagServer();
  if (server.UpdateOPCTagStatus) {
    server.UpdateOPCTagStatus(tag.m_hTag, tag.m_value, status, sourceTime);
  } else if (server.UpdateOPCTag) {
    server.UpdateOPCTag(tag.m_hTag, tag.m_value,
                        status == OPC_STATUS_GOOD ? OPC_QUALITY_GOOD : OPC_QUALITY_BAD);
  }
  if (observer) observer->OnTagPublished(tag.m_hTag, tag.m_value, status, sourceTime);
}

void Remove(CModbusTag& tag, ITagObserver* observer) {
  if (tag.m_hTag == -1) return;
  if (TagServer().RemoveOPCTag) TagServer().RemoveOPCTag(tag.m_hTag);
  if (observer) observer->OnTagRemoved(tag.m_hTag);
  tag.m_hTag = -1;
}

void Announce(const CModbusTag& tag, const std::string& name, const TagSource& source) {
  if (tag.m_hTag == -1 || !source.observer) return;
  source.observer->OnTagCreated(InfoOf(tag, name, source));
  if (tag.m_bPublished)
    source.observer->OnTagPublished(tag.m_hTag, tag.m_value, tag.m_nPublishedStatus,
                                    tag.m_publishedTime);
}

}  // namespace tagpublisher
