// Store and forward: changes that cannot go now (no session, or kept changes
// still waiting) are appended to the spool, and once the session publishes
// they go out in order, marked historical, a segment at a time, behind the
// births. A segment leaves the disk once the broker has confirmed all of it.
// For a format whose devices must be born first, kept changes of a device
// that is not born wait in a spool of the device's own (HeldChanges).
// The worker's only, but the counters.
#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "mqtt/HeldChanges.h"
#include "mqtt/MetricSample.h"
#include "mqtt/Spool.h"

namespace mqtt {

class IPublishFormat;
struct PublisherContext;

class SpoolDrain {
 public:
  SpoolDrain(PublisherContext& context, IPublishFormat& format);
  ~SpoolDrain();

  // Opens the spools a previous run left.
  bool Open(std::string* error);
  // The publisher stopped: what the broker confirmed up to the end leaves
  // the disk, a segment still unconfirmed stays for the next start.
  void Close(const std::vector<int>& confirmed);
  // A new session takes the backlog again.
  void OnConnected() { m_stalled = false; }

  // Live changes: published, or kept behind what is kept already.
  void SendChanges(std::vector<MetricSample> changes);
  // Whether Drain has something to send and the session room for it.
  bool Drainable() const;
  void Drain();
  // Mids the broker confirmed.
  void Confirm(const std::vector<int>& mids);
  // Held changes of devices the table no longer knows are dropped.
  void DropHeldOfGoneDevices();
  // Syncs what was appended, and logs what the bound dropped.
  void Flush();

  uint64_t Spooled() const { return m_spooled; }
  uint64_t Dropped() const { return m_dropped; }

 private:
  // A spool segment handed to the session: deleted once it went out whole
  // and the broker confirmed every message of it.
  struct SegmentInFlight {
    size_t unconfirmed = 0;
    bool whole = false;
  };
  // A segment of the main spool or of a device's held changes.
  using SegmentId = std::pair<Spool*, uint64_t>;

  void Keep(const std::vector<MetricSample>& samples);
  void HoldBehindHeld(std::vector<MetricSample>& changes);
  bool HeldDrainable() const;
  void DrainSegment(Spool& spool, bool route);
  bool SendSegment(const std::vector<std::string>& records, bool route, std::vector<int>* mids);
  bool Deliverable(const MetricSample& sample, const std::string& record, size_t* gone);
  void RemoveDelivered();
  void NoteDrops();

  PublisherContext& m_context;
  IPublishFormat& m_format;
  std::unique_ptr<Spool> m_spool;
  // Only for a format that waits for births.
  std::unique_ptr<HeldChanges> m_held;
  // The session would not take the backlog; tried again on the next session.
  bool m_stalled = false;
  std::map<SegmentId, SegmentInFlight> m_inFlight;
  std::unordered_map<int, SegmentId> m_segmentOfMid;
  uint64_t m_loggedDrops = 0;

  std::atomic<uint64_t> m_spooled{0};
  std::atomic<uint64_t> m_dropped{0};
};

}  // namespace mqtt
