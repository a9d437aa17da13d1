// One slave device polled by its register map: its tags, published under the
// names the operator gave in the device's folder, and the reads the planner
// chose for them, each poll class on its own period. Requests go to the
// endpoint's queue as a scan's do, one of the device's reads at a time, with
// the device's pause between them. Main thread only.
#pragma once

#include <climits>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/Variant.h"
#include "pointdb/ModbusTag.h"
#include "pointdb/RegisterMap.h"
#include "pointdb/ScanCounters.h"
#include "pointdb/TagObserver.h"

class CModbusMsg;
class IRequestSink;
struct ScanContext;

class MapDevice {
 public:
  // A Run that has nothing to do until something changes.
  static constexpr int64_t kIdle = INT64_MAX;

  // What the devices share with whoever runs them: the time (steady clock,
  // ms), and a call asking for a Run as soon as possible (an answer arrived).
  struct Hooks {
    std::function<int64_t()> now;
    std::function<void()> wake;
  };

  // Publishes the map's tags in folder, each waiting for its first value.
  // The hooks outlive the device.
  MapDevice(ScanContext& context, const Hooks& hooks, int32_t key, int32_t folder, DeviceMap map);
  // Takes every tag off the tag server; a request still out is handed to the
  // runtime when it comes back.
  ~MapDevice();
  MapDevice(const MapDevice&) = delete;
  MapDevice& operator=(const MapDevice&) = delete;

  // The map changed but the device's folder did not: tags whose row is the
  // same keep their node, others go or come, and the reads are planned anew.
  void Apply(DeviceMap map);
  // Starts every poll class that is due and sends what may go now; the time
  // (steady clock, ms) it wants to run next, kIdle for none.
  int64_t Run(int64_t nowMs);
  // False when the handle is none of the device's tags.
  bool HandleClientWrite(int32_t hTag, VARIANT* value, uint64_t token);
  // Tells observer of every tag as it stands.
  void AnnounceTags(ITagObserver& observer) const;
  void OnRequestDone(CModbusMsg* request);  // takes ownership

  const DeviceMap& Map() const { return m_map; }
  const DevicePlan& Plan() const { return m_plan; }
  const ScanCounters& Counters() const { return m_counters; }
  int32_t Folder() const { return m_hFolder; }
  // Reads sent since the device was made.
  int64_t ReadsSent() const { return m_readsSent; }
  // Passes through every poll class (all its reads answered or refused).
  int64_t PollsDone() const { return m_pollsDone; }

 private:
  struct Tag {
    std::unique_ptr<CModbusTag> tag;
    // The tag's first register as last read, for a write of one of its bits.
    uint16_t current = 0;
    bool known = false;
  };
  struct PollClass {
    int32_t periodMs = 0;
    int64_t dueMs = 0;
    std::vector<int> reads;  // indices into m_plan.reads
    int pending = 0;         // reads of the pass in progress not yet settled
  };

  std::string FullName(const MapTag& row) const;
  Tag Publish(const MapTag& row);
  void Withdraw(Tag& tag);
  ITagObserver::TagInfo InfoOf(const Tag& tag, const MapTag& row) const;
  void Plan();
  void StartClass(PollClass& pollClass);
  void SendNext(int64_t nowMs);
  bool Send(int read);
  // The read came back (or could not go out) with status and, when good, words.
  void Settle(int read, int32_t status, const uint16_t* words, int64_t arrived);
  void PublishStatus(const std::vector<int32_t>& tags, int32_t status);
  bool SendWrite(const MapTag& row, const std::vector<uint16_t>& words, uint64_t token,
                 uint32_t& refusal);
  std::unique_ptr<CModbusMsg> NewRequest() const;

  ScanContext& m_context;
  const Hooks& m_hooks;
  int32_t m_nKey;
  int32_t m_hFolder;
  DeviceMap m_map;
  DevicePlan m_plan;
  std::vector<Tag> m_tags;  // as m_map.tags
  std::unordered_map<int32_t, int> m_byHandle;
  std::vector<PollClass> m_classes;
  std::deque<int> m_waiting;  // reads due, in order
  int m_outstanding = -1;
  int64_t m_sentMs = 0;
  int64_t m_nextSendMs = 0;
  int64_t m_readsSent = 0;
  int64_t m_pollsDone = 0;
  ScanCounters m_counters;
  // What the device's requests carry back to it; replaced when the reads are
  // planned anew, so that an answer to an old plan's read finds it expired.
  std::shared_ptr<IRequestSink> m_pResponder;
};
