#include "runtime/MapDevice.h"

#include <algorithm>
#include <map>

#include "pointdb/ClientWrites.h"
#include "pointdb/MapTagCodec.h"
#include "pointdb/ModbusFunction.h"
#include "pointdb/ModbusMsg.h"
#include "pointdb/ReadPlanner.h"
#include "pointdb/RequestSink.h"
#include "pointdb/ScanContext.h"
#include "pointdb/ScanLink.h"
#include "pointdb/TagPublisher.h"
#include "pointdb/TagServerBinding.h"

namespace {

// Request addresses are one-based references in a 16-bit field.
constexpr int kLastReference = 0xFFFF;
// The most registers one function 16 request writes.
constexpr int kMaxWriteWords = 123;
constexpr uint8_t kWriteMultipleCoils = 15;

// The device as its requests reach it.
class DeviceResponder : public IRequestSink {
 public:
  explicit DeviceResponder(MapDevice& device) : m_device(device) {}
  void OnRequestDone(CModbusMsg* request) override { m_device.OnRequestDone(request); }

 private:
  MapDevice& m_device;
};

// A value of the type alone: the tag server fixes a node's type from the
// first value it is given.
VARIANT TypedEmpty(VARTYPE type) {
  VARIANT value;
  VariantInit(&value);
  value.vt = type;
  if (type == VT_BSTR) value.bstrVal = SysAllocString("");
  return value;
}

// Whether a tag may keep its node when its row changes: everything a client
// sees of it, or the device reads for it, is the same.
bool SameNode(const MapTag& a, const MapTag& b) {
  return a.name == b.name && a.table == b.table && a.offset == b.offset && a.type == b.type &&
         a.format == b.format && a.units == b.units && a.description == b.description &&
         a.access == b.access;
}

uint8_t WriteFunction(PointType table, size_t words, bool alwaysMultiple) {
  const bool single = words == 1 && !alwaysMultiple;
  if (table == PointType::Coil)
    return single ? static_cast<uint8_t>(ModbusFunction::WriteSingleCoil) : kWriteMultipleCoils;
  return static_cast<uint8_t>(single ? ModbusFunction::WriteSingleRegister
                                     : ModbusFunction::WriteMultipleRegisters);
}

}  // namespace

MapDevice::MapDevice(ScanContext& context, const Hooks& hooks, int32_t key, int32_t folder,
                     DeviceMap map)
    : m_context(context),
      m_hooks(hooks),
      m_nKey(key),
      m_hFolder(folder),
      m_map(std::move(map)),
      m_pResponder(std::make_shared<DeviceResponder>(*this)) {
  for (const MapTag& row : m_map.tags) m_tags.push_back(Publish(row));
  Plan();
}

MapDevice::~MapDevice() {
  for (Tag& tag : m_tags) Withdraw(tag);
}

std::string MapDevice::FullName(const MapTag& row) const {
  return m_map.endpoint + "." + m_map.DisplayName() + "." + row.name;
}

ITagObserver::TagInfo MapDevice::InfoOf(const Tag& tag, const MapTag& row) const {
  const MapTagCodec codec(row);
  return {.handle = tag.tag->m_hTag,
          .name = FullName(row),
          .endpoint = m_map.endpoint,
          .slaveNode = m_map.slave,
          .type = codec.PublishedType(),
          .writable = codec.Writable(),
          .device = m_map.DisplayName()};
}

MapDevice::Tag MapDevice::Publish(const MapTag& row) {
  const MapTagCodec codec(row);
  Tag tag{.tag = std::make_unique<CModbusTag>()};
  tag.tag->m_nPointType = static_cast<int32_t>(row.table);
  tag.tag->m_nDataType = static_cast<int32_t>(row.type);
  tag.tag->m_format = row.format;
  const TagServerBinding& server = TagServer();
  VARIANT typed = TypedEmpty(codec.PublishedType());
  if (server.CreateOPCFolderTag)
    tag.tag->m_hTag = server.CreateOPCFolderTag(m_hFolder, row.name.c_str(), typed,
                                                OPC_QUALITY_BAD, codec.Writable() ? 1 : 0);
  VariantClear(&typed);
  if (tag.tag->m_hTag == -1) return tag;
  OPCTagProperties properties{.description = row.description.c_str(),
                              .units = row.units.c_str(),
                              .hasRange = 0,
                              .rangeLow = 0.0,
                              .rangeHigh = 0.0};
  properties.hasRange = codec.EngineeringRange(properties.rangeLow, properties.rangeHigh) ? 1 : 0;
  if (server.SetOPCTagProperties) server.SetOPCTagProperties(tag.tag->m_hTag, &properties);
  if (m_context.m_pTagObserver) m_context.m_pTagObserver->OnTagCreated(InfoOf(tag, row));
  // Quality 0 alone would not tell a client that a value is on its way.
  tagpublisher::Publish(*tag.tag, OPC_STATUS_BAD_WAITING_FOR_INITIAL_DATA, tagpublisher::Now(),
                        m_context.m_pTagObserver);
  return tag;
}

void MapDevice::Withdraw(Tag& tag) {
  if (!tag.tag) return;
  m_byHandle.erase(tag.tag->m_hTag);
  tagpublisher::Remove(*tag.tag, m_context.m_pTagObserver);
}

void MapDevice::AnnounceTags(ITagObserver& observer) const {
  for (size_t i = 0; i < m_tags.size(); ++i) {
    const CModbusTag& tag = *m_tags[i].tag;
    if (tag.m_hTag == -1) continue;
    observer.OnTagCreated(InfoOf(m_tags[i], m_map.tags[i]));
    if (tag.m_bPublished)
      observer.OnTagPublished(tag.m_hTag, tag.m_value, tag.m_nPublishedStatus,
                              tag.m_publishedTime);
  }
}

void MapDevice::Apply(DeviceMap map) {
  std::map<std::string, size_t> before;
  for (size_t i = 0; i < m_map.tags.size(); ++i) before[m_map.tags[i].name] = i;
  std::vector<Tag> tags;
  for (const MapTag& row : map.tags) {
    auto old = before.find(row.name);
    if (old != before.end() && SameNode(m_map.tags[old->second], row)) {
      tags.push_back(std::move(m_tags[old->second]));
    } else {
      tags.push_back(Tag{});
    }
  }
  for (Tag& gone : m_tags) Withdraw(gone);
  m_map = std::move(map);
  m_tags = std::move(tags);
  for (size_t i = 0; i < m_tags.size(); ++i)
    if (!m_tags[i].tag) m_tags[i] = Publish(m_map.tags[i]);
  // Answers to the old plan's reads find this responder gone.
  m_pResponder = std::make_shared<DeviceResponder>(*this);
  Plan();
}

void MapDevice::Plan() {
  m_byHandle.clear();
  for (size_t i = 0; i < m_tags.size(); ++i)
    if (m_tags[i].tag->m_hTag != -1) m_byHandle[m_tags[i].tag->m_hTag] = static_cast<int>(i);
  m_plan = PlanReads(m_map);
  m_classes.clear();
  m_waiting.clear();
  m_outstanding = -1;
  const int64_t now = m_hooks.now();
  for (size_t r = 0; r < m_plan.reads.size(); ++r) {
    const int32_t period = m_plan.reads[r].pollClassMs;
    auto it = std::find_if(m_classes.begin(), m_classes.end(),
                           [&](const PollClass& c) { return c.periodMs == period; });
    if (it == m_classes.end()) it = m_classes.insert(m_classes.end(), {period, now, {}, 0});
    it->reads.push_back(static_cast<int>(r));
  }
}

int64_t MapDevice::Run(int64_t nowMs) {
  for (PollClass& pollClass : m_classes) {
    if (nowMs < pollClass.dueMs) continue;
    pollClass.dueMs += std::max(pollClass.periodMs, 1);
    // A device that answers slower than the class's period skips passes
    // rather than falling ever further behind.
    if (pollClass.dueMs <= nowMs) pollClass.dueMs = nowMs + std::max(pollClass.periodMs, 1);
    // A pass still in progress: this tick is dropped, as a scan's is.
    if (pollClass.pending == 0) StartClass(pollClass);
  }
  SendNext(nowMs);
  int64_t next = kIdle;
  for (const PollClass& pollClass : m_classes) next = std::min(next, pollClass.dueMs);
  if (m_outstanding < 0 && !m_waiting.empty()) next = std::min(next, m_nextSendMs);
  return next;
}

void MapDevice::StartClass(PollClass& pollClass) {
  IScanLink* link = m_context.m_pLink;
  if (!link || !link->IsEndpointConnected(m_map.endpoint)) {
    // Values that are no longer being read must not stay good at the clients.
    for (int read : pollClass.reads)
      PublishStatus(m_plan.reads[read].tags, ToNumber(ScanStatus::ChannelNotConnected));
    return;
  }
  pollClass.pending = static_cast<int>(pollClass.reads.size());
  m_waiting.insert(m_waiting.end(), pollClass.reads.begin(), pollClass.reads.end());
}

void MapDevice::SendNext(int64_t nowMs) {
  while (m_outstanding < 0 && !m_waiting.empty() && nowMs >= m_nextSendMs) {
    const int read = m_waiting.front();
    m_waiting.pop_front();
    if (Send(read)) {
      m_outstanding = read;
      m_sentMs = nowMs;
      ++m_readsSent;
    }
  }
}

std::unique_ptr<CModbusMsg> MapDevice::NewRequest() const {
  auto request = std::make_unique<CModbusMsg>();
  request->m_nKey = m_nKey;
  request->m_nSlaveNode = static_cast<uint8_t>(m_map.slave);
  request->m_pScan = m_pResponder;
  // Until an endpoint says otherwise: one that refuses for a reason of its
  // own sets its status, and every hand-back sets the outcome's.
  request->SetStatus(ScanStatus::ChannelNotConnected);
  return request;
}

bool MapDevice::Send(int read) {
  const PlannedRead& planned = m_plan.reads[read];
  auto request = NewRequest();
  request->m_nPointType = static_cast<uint8_t>(planned.table);
  request->m_nScanLength = planned.count;
  request->m_nTagCount = static_cast<int32_t>(planned.tags.size());
  request->m_nPollFrequency = planned.pollClassMs;
  if (planned.start >= kLastReference) {
    // Register 65535 has no one-based reference a request can carry.
    Settle(read, ToNumber(ScanStatus::InvalidAddress), nullptr, tagpublisher::Now());
    return false;
  }
  request->m_nPointAddress = static_cast<uint16_t>(planned.start + 1);
  IScanLink* link = m_context.m_pLink;
  if (link && link->IsEndpointConnected(m_map.endpoint) &&
      link->SendToEndpoint(m_map.endpoint, request.get())) {
    request.release();  // the endpoint owns it now and hands it back
    return true;
  }
  Settle(read, request->m_nStatus, nullptr, tagpublisher::Now());
  return false;
}

void MapDevice::OnRequestDone(CModbusMsg* request) {
  std::unique_ptr<CModbusMsg> owned(request);
  clientwrites::CompleteAll(m_context.m_pTagObserver, *owned);
  if (IsWriteFunction(owned->m_nPointType)) {
    m_counters.Count(owned->m_nStatus, -1);
    return;
  }
  if (m_outstanding < 0) return;
  const PlannedRead& planned = m_plan.reads[m_outstanding];
  if (owned->m_nPointType != static_cast<uint8_t>(planned.table) ||
      owned->m_nPointAddress != planned.start + 1 || owned->m_nScanLength != planned.count)
    return;
  const int read = m_outstanding;
  m_outstanding = -1;
  const int64_t now = m_hooks.now();
  m_counters.Count(owned->m_nStatus, now - m_sentMs);
  m_nextSendMs = now + m_map.limits.pauseMs;
  // A request the program settled itself was settled just now.
  const int64_t arrived = owned->m_answeredAt != 0 ? owned->m_answeredAt : tagpublisher::Now();
  const int32_t status = owned->m_nStatus;
  Settle(read, status, owned->m_data, arrived);
  owned.reset();
  // Sent from the next run, never from inside the endpoint's hand-back.
  if (m_hooks.wake) m_hooks.wake();
  if (status == ToNumber(ScanStatus::PollTimeout) && m_context.m_pLink)
    m_context.m_pLink->CloseEndpoint(m_map.endpoint);
}

void MapDevice::Settle(int read, int32_t status, const uint16_t* words, int64_t arrived) {
  const PlannedRead& planned = m_plan.reads[read];
  for (PollClass& pollClass : m_classes) {
    if (pollClass.periodMs != planned.pollClassMs || pollClass.pending == 0) continue;
    if (--pollClass.pending == 0) ++m_pollsDone;
  }
  // An equal read still queued will bring fresh values.
  if (status == ToNumber(ScanStatus::MsgOverrun)) return;
  if (status != ToNumber(ScanStatus::Ok) || words == nullptr) {
    PublishStatus(planned.tags, status);
    return;
  }
  for (int32_t index : planned.tags) {
    Tag& tag = m_tags[index];
    const MapTag& row = m_map.tags[index];
    const MapTagCodec codec(row);
    const int from = row.offset - planned.start;
    const int registers = codec.Registers();
    const bool inside = from >= 0 && from + registers <= planned.count;
    VariantClear(&tag.tag->m_value);
    const bool decoded =
        inside && codec.Decode(std::span<const uint16_t>(words + (inside ? from : 0),
                                                         static_cast<size_t>(registers)),
                               tag.tag->m_value);
    if (inside) {
      tag.current = words[from];
      tag.known = true;
    }
    tagpublisher::Publish(*tag.tag,
                          decoded ? OPC_STATUS_GOOD : OPC_STATUS_BAD_DATA_ENCODING_INVALID, arrived,
                          m_context.m_pTagObserver);
  }
}

void MapDevice::PublishStatus(const std::vector<int32_t>& tags, int32_t status) {
  const uint32_t uaStatus = clientwrites::StatusOf(status);
  const int64_t now = tagpublisher::Now();
  for (int32_t index : tags)
    tagpublisher::Publish(*m_tags[index].tag, uaStatus, now, m_context.m_pTagObserver);
}

bool MapDevice::HandleClientWrite(int32_t hTag, VARIANT* value, uint64_t token) {
  const auto it = m_byHandle.find(hTag);
  if (hTag == -1 || it == m_byHandle.end()) return false;
  const MapTag& row = m_map.tags[it->second];
  const Tag& tag = m_tags[it->second];
  const MapTagCodec codec(row);
  uint32_t refusal = OPC_STATUS_BAD_NOT_WRITABLE;
  std::vector<uint16_t> words;
  if (codec.Writable()) {
    if (codec.NeedsCurrent() && !tag.known) {
      // A bit is written with the register's other bits as last read.
      refusal = OPC_STATUS_BAD_WAITING_FOR_INITIAL_DATA;
    } else {
      refusal = codec.Encode(*value, tag.current, words);
      if (refusal == OPC_STATUS_GOOD && SendWrite(row, words, token, refusal)) return true;
    }
  }
  clientwrites::Complete(m_context.m_pTagObserver, token, refusal);
  return true;
}

bool MapDevice::SendWrite(const MapTag& row, const std::vector<uint16_t>& words, uint64_t token,
                          uint32_t& refusal) {
  IScanLink* link = m_context.m_pLink;
  refusal = OPC_STATUS_BAD_NOT_CONNECTED;
  if (!link || !link->IsEndpointConnected(m_map.endpoint)) return false;
  const int count = static_cast<int>(words.size());
  // The reference is 16 bits on the wire: a target past it would wrap round
  // to an unrelated low register, so it is never sent.
  refusal = OPC_STATUS_BAD_OUT_OF_RANGE;
  if (count < 1 || count > kMaxWriteWords || row.offset + 1 > kLastReference ||
      row.offset + count > kLastReference + 1)
    return false;
  auto request = NewRequest();
  request->m_nPointType = WriteFunction(row.table, words.size(), m_map.limits.alwaysMultipleWrites);
  request->m_nPointAddress = static_cast<uint16_t>(row.offset + 1);
  request->m_nScanLength = static_cast<uint16_t>(count);
  std::copy(words.begin(), words.end(), request->m_data);
  if (token != clientwrites::kNoToken) request->m_clientWrites.push_back(token);
  if (!link->SendToEndpoint(m_map.endpoint, request.get())) {
    refusal = clientwrites::StatusOf(request->m_nStatus);
    return false;
  }
  request.release();  // the endpoint owns it now and hands it back
  return true;
}
