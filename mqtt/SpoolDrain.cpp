#include "mqtt/SpoolDrain.h"

#include <algorithm>
#include <iterator>
#include <set>

#include "mqtt/PublishFormat.h"
#include "mqtt/PublisherContext.h"
#include "mqtt/SampleRecord.h"

namespace mqtt {

namespace {
using platform::LogLevel;
// QoS 1 and 2 messages allowed unconfirmed before the spool waits to drain
// more, so a long backlog never piles up in libmosquitto's memory.
constexpr uint64_t kDrainWindow = 64;
// Metrics per DDATA when the backlog is sent.
constexpr size_t kMaxMetricsPerMessage = 500;
constexpr const char* kHeldFolder = "/held";
}  // namespace

SpoolDrain::SpoolDrain(PublisherContext& context, IPublishFormat& format)
    : m_context(context), m_format(format) {}

SpoolDrain::~SpoolDrain() = default;

bool SpoolDrain::Open(std::string* error) {
  const MqttSettings& s = m_context.settings;
  auto spool = std::make_unique<Spool>(s.spoolDirectory, s.spoolLimitBytes);
  if (!spool->Open(error)) return false;
  if (spool->SkippedBytes() > 0) {
    m_context.Log(LogLevel::Warning, "skipped " + std::to_string(spool->SkippedBytes()) +
                                         " damaged bytes of the spool in " + s.spoolDirectory);
  }
  std::unique_ptr<HeldChanges> held;
  if (m_format.WaitsForBirths()) {
    held = std::make_unique<HeldChanges>(s.spoolDirectory + kHeldFolder, s.spoolLimitBytes);
    if (!held->Open(error)) return false;
  }
  m_spool = std::move(spool);
  m_held = std::move(held);
  return true;
}

void SpoolDrain::Close(const std::vector<int>& confirmed) {
  Confirm(confirmed);
  m_held.reset();
  m_spool.reset();
  m_inFlight.clear();
  m_segmentOfMid.clear();
}

void SpoolDrain::SendChanges(std::vector<MetricSample> changes) {
  if (changes.empty()) return;
  if (!m_format.Publishing() || m_spool->HasUntaken()) {
    Keep(changes);
    return;
  }
  if (m_held != nullptr) HoldBehindHeld(changes);
  if (!m_format.SendSamples(changes, true, nullptr)) Keep(changes);
}

void SpoolDrain::Keep(const std::vector<MetricSample>& samples) {
  for (const auto& s : samples) m_spool->Append(SampleRecord::Encode(s));
  m_spooled += samples.size();
}

// A device's changes stay behind its held ones, so that they arrive in order.
void SpoolDrain::HoldBehindHeld(std::vector<MetricSample>& changes) {
  std::erase_if(changes, [this](const MetricSample& s) {
    if (!m_held->Holds(s.device)) return false;
    m_held->Hold(s.device, SampleRecord::Encode(s));
    ++m_spooled;
    return true;
  });
}

bool SpoolDrain::Drainable() const {
  return m_format.Publishing() && !m_stalled && (m_spool->HasUntaken() || HeldDrainable()) &&
         m_context.session->Outstanding() < kDrainWindow;
}

bool SpoolDrain::HeldDrainable() const {
  if (m_held == nullptr) return false;
  return std::ranges::any_of(m_held->Devices(), [this](const std::string& device) {
    return m_format.Born(device) && m_held->Holds(device);
  });
}

// A segment goes once the broker has confirmed all of it: a crash before
// then finds it on disk, and it is sent again, marked historical, after the
// restart. QoS 0 has no confirmation, so there a segment goes as soon as the
// session has taken all of it.
void SpoolDrain::Drain() {
  if (!m_format.Publishing() || m_stalled) return;
  if (m_spool->HasUntaken() && m_context.session->Outstanding() < kDrainWindow) {
    DrainSegment(*m_spool, true);
  }
  if (m_held != nullptr) {
    for (const std::string& device : m_held->Devices()) {
      if (m_stalled || m_context.session->Outstanding() >= kDrainWindow) break;
      if (m_format.Born(device) && m_held->Holds(device)) {
        DrainSegment(*m_held->Of(device), false);
      }
    }
  }
  RemoveDelivered();
}

// route: the records may be of any device (the main spool), not all of one
// that is born (a device's held changes).
void SpoolDrain::DrainSegment(Spool& spool, bool route) {
  uint64_t segment = 0;
  const std::vector<std::string> records = spool.TakeNext(&segment);
  std::vector<int> mids;
  const bool whole = SendSegment(records, route, &mids);
  SegmentInFlight& flight = m_inFlight[{&spool, segment}];
  if (m_context.settings.qos > 0) {
    for (int mid : mids) m_segmentOfMid[mid] = {&spool, segment};
    flight.unconfirmed += mids.size();
  }
  if (whole) {
    flight.whole = true;
  } else {
    // Sent whole again on the next session, the part that went out included.
    m_stalled = true;
    spool.GiveBack(segment);
  }
}

// A kept change of a device that is not born, or whose held changes wait, is
// held behind them; one of a device that is gone is dropped and counted in
// gone.
bool SpoolDrain::Deliverable(const MetricSample& sample, const std::string& record, size_t* gone) {
  if (m_held == nullptr) return true;
  if (m_format.Born(sample.device) && !m_held->Holds(sample.device)) return true;
  bool known = false;
  {
    std::lock_guard lock(m_context.mutex);
    known = m_context.table.Knows(sample.device);
  }
  if (known) {
    m_held->Hold(sample.device, record);
  } else {
    ++*gone;
  }
  return false;
}

// False when the session would not take all of the records.
bool SpoolDrain::SendSegment(const std::vector<std::string>& records, bool route,
                             std::vector<int>* mids) {
  std::vector<MetricSample> batch;
  size_t gone = 0;
  for (const std::string& record : records) {
    MetricSample s;
    if (!SampleRecord::Decode({reinterpret_cast<const uint8_t*>(record.data()), record.size()},
                              &s)) {
      continue;
    }
    s.historical = true;
    if (route && !Deliverable(s, record, &gone)) continue;
    batch.push_back(std::move(s));
  }
  if (gone > 0) {
    m_context.Log(LogLevel::Warning,
                  "not sent: " + std::to_string(gone) + " kept changes of devices that are gone");
  }
  // Runs of a few hundred keep each message small and the order of the
  // records across devices.
  for (size_t at = 0; at < batch.size(); at += kMaxMetricsPerMessage) {
    const size_t end = std::min(batch.size(), at + kMaxMetricsPerMessage);
    const std::vector<MetricSample> run(batch.begin() + static_cast<ptrdiff_t>(at),
                                        batch.begin() + static_cast<ptrdiff_t>(end));
    // Not retained: the births already carry the current values.
    if (!m_format.SendSamples(run, false, mids)) return false;
  }
  return true;
}

// Mids of messages that did not come from the spool match no segment.
void SpoolDrain::Confirm(const std::vector<int>& mids) {
  for (int mid : mids) {
    const auto it = m_segmentOfMid.find(mid);
    if (it == m_segmentOfMid.end()) continue;
    --m_inFlight[it->second].unconfirmed;
    m_segmentOfMid.erase(it);
  }
  RemoveDelivered();
}

void SpoolDrain::RemoveDelivered() {
  for (auto it = m_inFlight.begin(); it != m_inFlight.end();) {
    if (!it->second.whole || it->second.unconfirmed > 0) {
      ++it;
      continue;
    }
    it->first.first->Remove(it->first.second);
    it = m_inFlight.erase(it);
  }
  if (m_held == nullptr) return;
  // A segment the bound dropped may still wait for its confirmation.
  std::set<const Spool*> inUse;
  for (const auto& [id, flight] : m_inFlight) inUse.insert(id.first);
  m_held->Prune(inUse);
}

void SpoolDrain::DropHeldOfGoneDevices() {
  if (m_held == nullptr) return;
  const std::vector<std::string> devices = m_held->Devices();
  if (devices.empty()) return;
  std::vector<std::string> gone;
  {
    std::lock_guard lock(m_context.mutex);
    for (const std::string& device : devices) {
      if (!m_context.table.Knows(device)) gone.push_back(device);
    }
  }
  for (const std::string& device : gone) {
    Spool* spool = m_held->Of(device);
    for (auto it = m_segmentOfMid.begin(); it != m_segmentOfMid.end();) {
      it = it->second.first == spool ? m_segmentOfMid.erase(it) : std::next(it);
    }
    std::erase_if(m_inFlight, [spool](const auto& flight) { return flight.first.first == spool; });
    const uint64_t records = m_held->Drop(device);
    m_context.LogAbout(
        LogLevel::Warning, device,
        "not sent: " + std::to_string(records) + " kept changes of " + device + ", which is gone");
  }
}

void SpoolDrain::Flush() {
  const bool heldWritten = m_held == nullptr || m_held->Flush();
  if (!m_spool->Flush() || !heldWritten) {
    m_context.Log(LogLevel::Error,
                  "cannot write the spool in " + m_context.settings.spoolDirectory);
  }
  NoteDrops();
}

void SpoolDrain::NoteDrops() {
  const uint64_t dropped = m_spool->Dropped() + (m_held != nullptr ? m_held->Dropped() : 0);
  if (dropped == m_loggedDrops) return;
  m_context.Log(LogLevel::Warning,
                "the spool is full: dropped " + std::to_string(dropped - m_loggedDrops) +
                    " of the oldest kept changes (" + std::to_string(dropped) + " in all)");
  m_loggedDrops = dropped;
  m_dropped = dropped;
}

}  // namespace mqtt
