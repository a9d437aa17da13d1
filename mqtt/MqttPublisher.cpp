#include "mqtt/MqttPublisher.h"

#include <sys/stat.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <fstream>
#include <map>
#include <mutex>
#include <set>
#include <thread>
#include <unordered_map>
#include <utility>
#include <vector>

#include "mqtt/HeldChanges.h"
#include "mqtt/JsonCodec.h"
#include "mqtt/MetricTable.h"
#include "mqtt/MqttSession.h"
#include "mqtt/SampleRecord.h"
#include "mqtt/SparkplugCodec.h"
#include "mqtt/Spool.h"
#include "mqtt/Topics.h"
#include "mqtt/ValueConversion.h"
#include "platform/ReplaceFile.h"

namespace mqtt {

namespace {

enum LogLevel { kError = 0, kWarning = 1, kInformation = 2 };

// QoS 1 and 2 messages allowed unconfirmed before the spool waits to drain
// more, so a long backlog never piles up in libmosquitto's memory.
constexpr uint64_t kDrainWindow = 64;
// Messages handed to libmosquitto and not yet confirmed (at QoS 0: not yet
// written) past which live changes wait in the metric table, where each tag
// keeps only its latest value: libmosquitto holds every message in memory,
// and a broker slower than the changes would grow it without end. The table
// is bounded by the number of tags and sends the newest value when there is
// room; the spool would keep every value but on disk, slower, and drop the
// oldest when full.
constexpr uint64_t kMaxUnconfirmed = 4000;
// Metrics per DDATA when the backlog is sent.
constexpr size_t kMaxMetricsPerMessage = 500;
constexpr uint32_t kBdSeqModulus = 256;
constexpr int kMaxPort = 65535;
constexpr int kMaxQos = 2;
constexpr auto kStopConfirmTimeout = std::chrono::seconds(5);
constexpr const char* kBdSeqFile = "/bdseq";
constexpr const char* kHeldFolder = "/held";
// The tag paths of m_uncleared, one per line, so that a stop before the next
// session does not leave their documents on the broker for good.
constexpr const char* kUnclearedFile = "/uncleared";
constexpr const char* kClientIdPrefix = "pelmoran-";
constexpr mode_t kFileMode = S_IRUSR | S_IWUSR | S_IRGRP | S_IROTH;
// OPC UA's Bad_Shutdown: what a command still pending when the publisher
// stops is answered with, for its write may or may not have happened.
constexpr uint32_t kBadShutdown = UaStatus::BadShutdown;
// An empty retained message is how MQTT deletes a retained one.
constexpr const char* kNoDocument = "";

// Command numbers run on across every publisher of the process: the program
// may complete a command of a stopped publisher against its successor, which
// must then find no command of its own under that id.
std::atomic<uint64_t> g_lastCommand{0};

struct SessionEvent {
  enum class Kind { Connected, Disconnected, Refused, Message };
  Kind kind;
  std::string topic;
  std::string text;
};

// A spool segment handed to the session: deleted once it went out whole
// and the broker confirmed every message of it.
struct SegmentInFlight {
  size_t unconfirmed = 0;
  bool whole = false;
};

struct PendingCommand {
  int32_t handle = 0;
  std::string idJson;
};

}  // namespace

class MqttPublisher::Impl {
 public:
  explicit Impl(MqttSettings settings);
  ~Impl() { Stop(); }

  void SetCommandHandler(CommandHandler handler);
  void SetLogHandler(LogHandler handler);
  bool Start(std::string* error);
  void Stop();
  void AddMetric(int32_t handle, const std::string& endpoint, const std::string& device,
                 const std::string& name, VARTYPE type, bool writable);
  void RemoveMetric(int32_t handle);
  void Update(int32_t handle, const VARIANT& value, uint32_t status, int64_t sourceTime);
  void SetDeviceOnline(const std::string& device, bool online);
  void CompleteCommand(uint64_t commandId, uint32_t status);
  PublisherCounters Counters() const;

 private:
  struct Pass {
    std::vector<SessionEvent> events;
    std::vector<MetricSample> changes;
    std::vector<std::pair<uint64_t, uint32_t>> completions;
    std::vector<int> confirmed;
    std::vector<std::string> removedPaths;
    bool devicesChanged = false;
    bool stopping = false;
  };

  bool Sparkplug() const { return m_settings.format == PayloadFormat::SparkplugB; }
  bool FollowsHost() const { return Sparkplug() && !m_settings.primaryHostId.empty(); }
  // Connected, and with the primary host online when one is followed.
  bool Publishing() const { return m_connected && m_hostOnline; }
  bool CheckSettings(std::string* error) const;
  void Log(int level, const std::string& text);
  void PushEvent(SessionEvent event);
  MqttSession::Handlers SessionHandlers();
  OutgoingMessage Will() const;
  std::string StatusTopic() const;
  std::string JsonTopic(const std::string& tagPath) const;
  void LoadBdSeq();
  void ClaimBdSeq();
  void LoadUncleared();
  void SaveUncleared() const;

  // The worker.
  void Run();
  bool Backlogged() const;
  bool HasWork();
  Pass TakePass();
  void RunPass(Pass& pass);
  void OnConnected();
  void OnDisconnected(const std::string& reason);
  void Publish(const OutgoingMessage& message) { m_session->Publish(message); }
  bool PublishSparkplug(SparkplugMessage type, const std::string& device,
                        const std::vector<MetricSample>& samples, int* mid = nullptr);
  void Births();
  void ReconcileDevices(bool rebirthAll);
  void SendChanges(std::vector<MetricSample> changes);
  void ClearDocuments(const std::vector<std::string>& tagPaths);
  bool SendSamples(const std::vector<MetricSample>& samples, bool retain,
                   std::vector<int>* mids = nullptr);
  void SpoolSamples(const std::vector<MetricSample>& samples);
  void HoldBehindHeld(std::vector<MetricSample>& changes);
  bool Deliverable(const MetricSample& sample, const std::string& record, size_t* gone);
  void DropHeldOfGoneDevices();
  bool HeldDrainable() const;
  void DrainSpool();
  void DrainSegment(Spool& spool, bool route);
  bool SendSegment(const std::vector<std::string>& records, bool route, std::vector<int>* mids);
  void Confirm(const std::vector<int>& mids);
  void RemoveDelivered();
  void NoteSpoolDrops();
  void OnMessage(const std::string& topic, const std::string& payload);
  void OnHostState(const std::string& payload);
  void OnSparkplugCommand(const std::string& topic, const std::string& payload);
  void OnJsonCommand(const std::string& topic, const std::string& payload);
  void Dispatch(const WriteTarget& target, const ReceivedWrite& write, std::string idJson,
                const std::string& commandDevice);
  void Refuse(const std::string& device, const std::string& name, WriteRefusal why,
              const std::string& idJson, const std::string& tagPath);
  void AnswerWrite(const MetricSample& answer, const std::string& idJson);
  void Complete(uint64_t commandId, uint32_t status);
  void AbandonCommands();
  void SayGoodbye();

  MqttSettings m_settings;
  std::unique_ptr<MqttSession> m_session;
  std::unique_ptr<Spool> m_spool;
  // Sparkplug only.
  std::unique_ptr<HeldChanges> m_held;

  // Shared with the callers' threads and libmosquitto's, under m_mutex.
  mutable std::mutex m_mutex;
  std::condition_variable m_wake;
  MetricTable m_table;
  std::vector<SessionEvent> m_events;
  std::vector<std::pair<uint64_t, uint32_t>> m_completions;
  // Mids the broker confirmed, for the worker to match with the segments:
  // a confirmation can come before Publish has told the worker its mid.
  std::vector<int> m_confirmed;
  bool m_stopping = false;
  std::thread m_worker;

  // Start and Stop, one at a time.
  std::mutex m_lifecycleMutex;
  bool m_started = false;

  mutable std::mutex m_handlerMutex;
  CommandHandler m_commandHandler;
  LogHandler m_logHandler;

  // The worker's own.
  bool m_connected = false;
  bool m_hostOnline = false;
  // The primary host's latest STATE: an older one is a retained leftover.
  uint64_t m_hostStateTime = 0;
  std::set<std::string> m_born;
  // Born in the current pass: their births carry the pass's changes.
  std::set<std::string> m_bornInPass;
  uint8_t m_seq = 0;
  std::unordered_map<uint64_t, PendingCommand> m_commands;
  // JSON documents of removed tags that no session has deleted yet.
  std::set<std::string> m_uncleared;
  uint64_t m_loggedDrops = 0;
  // The session would not take the backlog; tried again on the next session.
  bool m_drainStalled = false;
  // A segment of the main spool or of a device's held changes.
  using SegmentId = std::pair<Spool*, uint64_t>;
  std::map<SegmentId, SegmentInFlight> m_inFlight;
  std::unordered_map<int, SegmentId> m_segmentOfMid;

  // This session's number, and the next connect's; the latter is the
  // session thread's.
  std::atomic<uint32_t> m_bdSeq{0};
  uint32_t m_nextBdSeq = 0;
  std::atomic<bool> m_connectedFlag{false};
  std::atomic<uint64_t> m_connects{0};
  std::atomic<uint64_t> m_spooled{0};
  std::atomic<uint64_t> m_spoolDropped{0};
  std::atomic<uint64_t> m_commandCount{0};
  std::atomic<uint64_t> m_refused{0};
};

MqttPublisher::Impl::Impl(MqttSettings settings) : m_settings(std::move(settings)) {
  if (m_settings.clientId.empty()) m_settings.clientId = kClientIdPrefix + m_settings.edgeNodeId;
}

void MqttPublisher::Impl::SetCommandHandler(CommandHandler handler) {
  std::lock_guard lock(m_handlerMutex);
  m_commandHandler = std::move(handler);
}

void MqttPublisher::Impl::SetLogHandler(LogHandler handler) {
  std::lock_guard lock(m_handlerMutex);
  m_logHandler = std::move(handler);
}

void MqttPublisher::Impl::Log(int level, const std::string& text) {
  LogHandler handler;
  {
    std::lock_guard lock(m_handlerMutex);
    handler = m_logHandler;
  }
  if (handler) handler(level, "MQTT: " + text);
}

bool MqttPublisher::Impl::CheckSettings(std::string* error) const {
  if (m_settings.port < 1 || m_settings.port > kMaxPort) {
    *error = "the MQTT port " + std::to_string(m_settings.port) + " is not between 1 and 65535";
    return false;
  }
  if (m_settings.qos < 0 || m_settings.qos > kMaxQos) {
    *error = "the MQTT QoS " + std::to_string(m_settings.qos) + " is not 0, 1 or 2";
    return false;
  }
  if (m_settings.spoolDirectory.empty()) {
    *error = "no MQTT spool directory is set";
    return false;
  }
  if (m_settings.edgeNodeId.empty()) {
    *error = "no MQTT edge node id is set";
    return false;
  }
  return true;
}

std::string MqttPublisher::Impl::StatusTopic() const {
  return Topics::Level(m_settings.topicPrefix) + "/" + Topics::Level(m_settings.edgeNodeId) +
         "/status";
}

std::string MqttPublisher::Impl::JsonTopic(const std::string& tagPath) const {
  return Topics::Level(m_settings.topicPrefix) + "/" + tagPath;
}

OutgoingMessage MqttPublisher::Impl::Will() const {
  if (!Sparkplug()) return {StatusTopic(), JsonCodec::kOffline, true};
  return {Topics::Sparkplug(m_settings.groupId, SparkplugMessage::NDEATH, m_settings.edgeNodeId),
          SparkplugCodec::NodeDeath(m_bdSeq, ValueConversion::NowMilliseconds()), false};
}

// The file holds the first number no connect has carried yet.
void MqttPublisher::Impl::LoadBdSeq() {
  std::ifstream in(m_settings.spoolDirectory + kBdSeqFile);
  uint32_t value = 0;
  m_nextBdSeq = in >> value ? value % kBdSeqModulus : 0;
}

// Each connect's will takes a number of its own, and the one after it is on
// disk before the connect goes out: a gateway killed in the session starts
// with a number its late will cannot be matched with.
void MqttPublisher::Impl::ClaimBdSeq() {
  m_bdSeq = m_nextBdSeq;
  m_nextBdSeq = (m_bdSeq + 1) % kBdSeqModulus;
  if (!ReplaceFile(m_settings.spoolDirectory + kBdSeqFile, std::to_string(m_nextBdSeq) + "\n",
                   kFileMode)) {
    Log(kError, "cannot write the session number in " + m_settings.spoolDirectory);
  }
}

void MqttPublisher::Impl::LoadUncleared() {
  std::ifstream in(m_settings.spoolDirectory + kUnclearedFile, std::ios::binary);
  for (std::string path; std::getline(in, path);) {
    if (!path.empty()) m_uncleared.insert(path);
  }
}

void MqttPublisher::Impl::SaveUncleared() const {
  const std::string file = m_settings.spoolDirectory + kUnclearedFile;
  if (m_uncleared.empty()) {
    std::remove(file.c_str());
    return;
  }
  std::string text;
  for (const std::string& path : m_uncleared) {
    // A line cannot hold it; such a name is never a tag's.
    if (path.find('\n') == std::string::npos) text += path + "\n";
  }
  ReplaceFile(file, text, kFileMode);
}

void MqttPublisher::Impl::PushEvent(SessionEvent event) {
  std::lock_guard lock(m_mutex);
  m_events.push_back(std::move(event));
  m_wake.notify_one();
}

MqttSession::Handlers MqttPublisher::Impl::SessionHandlers() {
  MqttSession::Handlers h;
  h.connected = [this] {
    m_connectedFlag = true;
    ++m_connects;
    PushEvent({SessionEvent::Kind::Connected, {}, {}});
  };
  h.disconnected = [this](const std::string& text) {
    // Queued before the flag drops, so that a change made after Counters()
    // shows the loss is spooled rather than handed to the dead session.
    PushEvent({SessionEvent::Kind::Disconnected, {}, text});
    m_connectedFlag = false;
  };
  h.refused = [this](const std::string& text) {
    PushEvent({SessionEvent::Kind::Refused, {}, text});
  };
  h.message = [this](const std::string& topic, std::string payload) {
    PushEvent({SessionEvent::Kind::Message, topic, std::move(payload)});
  };
  h.acknowledged = [this](int mid) {
    std::lock_guard lock(m_mutex);
    m_confirmed.push_back(mid);
    m_wake.notify_one();
  };
  h.written = [this](uint64_t outstanding) {
    // Only the moments a waiting worker cares about: room again, and all out.
    if (outstanding != kMaxUnconfirmed / 2 && outstanding != 0) return;
    std::lock_guard lock(m_mutex);
    m_wake.notify_one();
  };
  // Asked for before every connect.
  h.will = [this] {
    ClaimBdSeq();
    return Will();
  };
  h.libraryError = [this](const std::string& text) { Log(kError, text); };
  return h;
}

bool MqttPublisher::Impl::Start(std::string* error) {
  std::lock_guard life(m_lifecycleMutex);
  if (m_started) return true;
  if (!CheckSettings(error)) return false;
  auto spool = std::make_unique<Spool>(m_settings.spoolDirectory, m_settings.spoolLimitBytes);
  if (!spool->Open(error)) return false;
  if (spool->SkippedBytes() > 0) {
    Log(kWarning, "skipped " + std::to_string(spool->SkippedBytes()) +
                      " damaged bytes of the spool in " + m_settings.spoolDirectory);
  }
  std::unique_ptr<HeldChanges> held;
  if (Sparkplug()) {
    held = std::make_unique<HeldChanges>(m_settings.spoolDirectory + kHeldFolder,
                                         m_settings.spoolLimitBytes);
    if (!held->Open(error)) return false;
  }
  m_spool = std::move(spool);
  m_held = std::move(held);
  LoadBdSeq();
  if (!Sparkplug()) LoadUncleared();
  {
    std::lock_guard lock(m_mutex);
    // What the previous session's end left behind is no news to the next.
    m_events.clear();
    m_confirmed.clear();
    m_stopping = false;
  }
  // Not under m_mutex: libmosquitto calls the handlers, which take it, while
  // holding locks of its own that starting it takes as well.
  auto session = std::make_unique<MqttSession>(m_settings, SessionHandlers());
  if (!session->Start(error)) return false;
  {
    std::lock_guard lock(m_mutex);
    m_session = std::move(session);
  }
  m_started = true;
  m_worker = std::thread([this] { Run(); });
  Log(kInformation, "connecting to " + m_settings.host + ":" + std::to_string(m_settings.port));
  return true;
}

void MqttPublisher::Impl::Stop() {
  std::lock_guard life(m_lifecycleMutex);
  if (!m_started) return;
  {
    std::lock_guard lock(m_mutex);
    m_stopping = true;
    m_wake.notify_one();
  }
  m_worker.join();
  // Not under m_mutex: the network thread's handlers take it while Stop
  // waits for that thread to end.
  m_session->Stop();
  std::vector<int> confirmed;
  {
    std::lock_guard lock(m_mutex);
    m_session.reset();
    confirmed = std::exchange(m_confirmed, {});
  }
  // The worker and the network thread are gone: what the broker confirmed
  // up to the end need not come again. A segment still unconfirmed stays on
  // disk for the next start.
  Confirm(confirmed);
  m_held.reset();
  m_spool.reset();
  m_inFlight.clear();
  m_segmentOfMid.clear();
  m_started = false;
  m_connected = false;
  m_hostOnline = false;
  m_born.clear();
}

void MqttPublisher::Impl::AddMetric(int32_t handle, const std::string& endpoint,
                                    const std::string& device, const std::string& name,
                                    VARTYPE type, bool writable) {
  std::lock_guard lock(m_mutex);
  m_table.Add(handle, endpoint, device, name, type, writable);
  m_wake.notify_one();
}

void MqttPublisher::Impl::RemoveMetric(int32_t handle) {
  std::lock_guard lock(m_mutex);
  m_table.Remove(handle);
  m_wake.notify_one();
}

void MqttPublisher::Impl::Update(int32_t handle, const VARIANT& value, uint32_t status,
                                 int64_t sourceTime) {
  const uint64_t timeMs = ValueConversion::MillisecondsFromFileTime(sourceTime);
  std::lock_guard lock(m_mutex);
  const bool wasIdle = !m_table.HasChanges();
  if (m_table.Update(handle, value, status, timeMs) && wasIdle) m_wake.notify_one();
}

void MqttPublisher::Impl::SetDeviceOnline(const std::string& device, bool online) {
  std::lock_guard lock(m_mutex);
  m_table.SetOnline(device, online);
  m_wake.notify_one();
}

void MqttPublisher::Impl::CompleteCommand(uint64_t commandId, uint32_t status) {
  std::lock_guard lock(m_mutex);
  m_completions.emplace_back(commandId, status);
  m_wake.notify_one();
}

PublisherCounters MqttPublisher::Impl::Counters() const {
  PublisherCounters c;
  c.connected = m_connectedFlag;
  c.connects = m_connects;
  {
    std::lock_guard lock(m_mutex);
    if (m_session) {
      c.published = m_session->Published();
      c.acknowledged = m_session->Acknowledged();
    }
  }
  c.spooled = m_spooled;
  c.spoolDropped = m_spoolDropped;
  c.commands = m_commandCount;
  c.commandsRefused = m_refused;
  return c;
}

// ---- the worker ----

// Without a connection changes go to the spool, which has a bound of its own.
bool MqttPublisher::Impl::Backlogged() const {
  return m_connected && m_session->Outstanding() >= kMaxUnconfirmed;
}

bool MqttPublisher::Impl::HasWork() {
  const bool drainable = Publishing() && !m_drainStalled &&
                         (m_spool->HasUntaken() || HeldDrainable()) &&
                         m_session->Outstanding() < kDrainWindow;
  const bool sendable = m_table.HasChanges() && !Backlogged();
  return m_stopping || !m_events.empty() || sendable || !m_completions.empty() ||
         !m_confirmed.empty() || m_table.DevicesChanged() || m_table.HasRemovals() || drainable;
}

MqttPublisher::Impl::Pass MqttPublisher::Impl::TakePass() {
  Pass pass;
  pass.events = std::exchange(m_events, {});
  if (!Backlogged()) pass.changes = m_table.TakeChanges();
  pass.completions = std::exchange(m_completions, {});
  pass.confirmed = std::exchange(m_confirmed, {});
  pass.removedPaths = m_table.TakeRemovals();
  pass.devicesChanged = m_table.DevicesChanged();
  pass.stopping = m_stopping;
  return pass;
}

void MqttPublisher::Impl::Run() {
  std::unique_lock lock(m_mutex);
  while (true) {
    m_wake.wait(lock, [this] { return HasWork(); });
    Pass pass = TakePass();
    lock.unlock();
    RunPass(pass);
    lock.lock();
    if (pass.stopping) break;
  }
}

void MqttPublisher::Impl::RunPass(Pass& pass) {
  m_bornInPass.clear();
  for (const SessionEvent& event : pass.events) {
    switch (event.kind) {
      case SessionEvent::Kind::Connected: OnConnected(); break;
      case SessionEvent::Kind::Disconnected: OnDisconnected(event.text); break;
      case SessionEvent::Kind::Refused: Log(kError, event.text); break;
      case SessionEvent::Kind::Message: OnMessage(event.topic, event.text); break;
    }
  }
  if (pass.devicesChanged) ReconcileDevices(false);
  SendChanges(std::move(pass.changes));
  if (!Sparkplug()) ClearDocuments(pass.removedPaths);
  for (const auto& [id, status] : pass.completions) Complete(id, status);
  Confirm(pass.confirmed);
  if (!pass.stopping) DrainSpool();
  const bool heldWritten = m_held == nullptr || m_held->Flush();
  if (!m_spool->Flush() || !heldWritten) {
    Log(kError, "cannot write the spool in " + m_settings.spoolDirectory);
  }
  NoteSpoolDrops();
  if (pass.stopping) {
    AbandonCommands();
    SayGoodbye();
  }
}

void MqttPublisher::Impl::OnConnected() {
  m_connected = true;
  m_drainStalled = false;
  Log(kInformation, "connected to " + m_settings.host + ":" + std::to_string(m_settings.port));
  if (Sparkplug()) {
    const std::string& g = m_settings.groupId;
    const std::string& node = m_settings.edgeNodeId;
    m_session->Subscribe(Topics::Sparkplug(g, SparkplugMessage::NCMD, node));
    m_session->Subscribe(Topics::Sparkplug(g, SparkplugMessage::DCMD, node) + "/+");
    m_hostOnline = !FollowsHost();
    if (FollowsHost()) {
      // Its retained STATE comes at once; the births wait for "online".
      m_session->Subscribe(Topics::SparkplugState(m_settings.primaryHostId));
      Log(kInformation, "waiting for the primary host " + m_settings.primaryHostId);
      return;
    }
  } else {
    m_hostOnline = true;
    m_session->Subscribe(Topics::Level(m_settings.topicPrefix) + "/+/+" +
                         std::string(Topics::kSetSuffix));
  }
  Births();
  // After the births: a tag re-added since its removal has just been
  // published again, and keeps its document.
  if (!Sparkplug()) {
    const std::set<std::string> uncleared = std::exchange(m_uncleared, {});
    ClearDocuments({uncleared.begin(), uncleared.end()});
  }
}

void MqttPublisher::Impl::OnDisconnected(const std::string& reason) {
  if (m_connected) Log(kWarning, reason);
  m_connected = false;
  m_hostOnline = false;
  m_born.clear();
}

void MqttPublisher::Impl::Births() {
  if (!Sparkplug()) {
    Publish({StatusTopic(), JsonCodec::kOnline, true});
    std::vector<MetricSample> all;
    {
      std::lock_guard lock(m_mutex);
      all = m_table.AllSamples();
    }
    SendSamples(all, true);
    return;
  }
  m_seq = 0;
  m_born.clear();
  Publish({Topics::Sparkplug(m_settings.groupId, SparkplugMessage::NBIRTH, m_settings.edgeNodeId),
           SparkplugCodec::NodeBirth(m_bdSeq, ValueConversion::NowMilliseconds())});
  ++m_seq;
  ReconcileDevices(true);
}

bool MqttPublisher::Impl::PublishSparkplug(SparkplugMessage type, const std::string& device,
                                           const std::vector<MetricSample>& samples, int* mid) {
  const uint64_t now = ValueConversion::NowMilliseconds();
  const std::string payload = type == SparkplugMessage::DDEATH
                                  ? SparkplugCodec::DeviceDeath(m_seq, now)
                                  : SparkplugCodec::Metrics(samples, m_seq, now);
  ++m_seq;
  return m_session->Publish(
      {Topics::Sparkplug(m_settings.groupId, type, m_settings.edgeNodeId, device), payload}, mid);
}

void MqttPublisher::Impl::ReconcileDevices(bool rebirthAll) {
  std::set<std::string> live;
  std::set<std::string> reshaped;
  std::vector<std::pair<std::string, std::vector<MetricSample>>> births;
  {
    std::lock_guard lock(m_mutex);
    reshaped = m_table.TakeReshaped();
    if (!Publishing() || !Sparkplug()) return;
    live = m_table.LiveDevices();
    for (const std::string& device : live) {
      if (rebirthAll || !m_born.contains(device) || reshaped.contains(device)) {
        births.emplace_back(device, m_table.DeviceSamples(device));
      }
    }
  }
  for (auto it = m_born.begin(); it != m_born.end();) {
    if (live.contains(*it)) {
      ++it;
      continue;
    }
    PublishSparkplug(SparkplugMessage::DDEATH, *it, {});
    it = m_born.erase(it);
  }
  for (const auto& [device, samples] : births) {
    PublishSparkplug(SparkplugMessage::DBIRTH, device, samples);
    m_born.insert(device);
    m_bornInPass.insert(device);
  }
  DropHeldOfGoneDevices();
}

void MqttPublisher::Impl::DropHeldOfGoneDevices() {
  std::vector<std::string> gone;
  {
    std::lock_guard lock(m_mutex);
    for (const std::string& device : m_held->Devices()) {
      if (!m_table.Knows(device)) gone.push_back(device);
    }
  }
  for (const std::string& device : gone) {
    Spool* spool = m_held->Of(device);
    for (auto it = m_segmentOfMid.begin(); it != m_segmentOfMid.end();) {
      it = it->second.first == spool ? m_segmentOfMid.erase(it) : std::next(it);
    }
    std::erase_if(m_inFlight, [spool](const auto& flight) { return flight.first.first == spool; });
    const uint64_t records = m_held->Drop(device);
    Log(kWarning,
        "not sent: " + std::to_string(records) + " kept changes of " + device + ", which is gone");
  }
}

void MqttPublisher::Impl::SendChanges(std::vector<MetricSample> changes) {
  // A birth takes the table's values after the changes were taken: they are no news.
  std::erase_if(changes,
                [this](const MetricSample& s) { return m_bornInPass.contains(s.device); });
  if (changes.empty()) return;
  if (!Publishing() || m_spool->HasUntaken()) {
    SpoolSamples(changes);
    return;
  }
  if (m_held != nullptr) HoldBehindHeld(changes);
  if (!SendSamples(changes, true)) SpoolSamples(changes);
}

// A device's changes stay behind its held ones, so that they arrive in order.
void MqttPublisher::Impl::HoldBehindHeld(std::vector<MetricSample>& changes) {
  std::erase_if(changes, [this](const MetricSample& s) {
    if (!m_held->Holds(s.device)) return false;
    m_held->Hold(s.device, SampleRecord::Encode(s));
    ++m_spooled;
    return true;
  });
}

// A removed tag's retained document would tell every new subscriber of a
// tag that is gone. One that cannot be deleted now is deleted by the next
// session, after a restart too, unless a tag of that name has come back.
void MqttPublisher::Impl::ClearDocuments(const std::vector<std::string>& tagPaths) {
  if (tagPaths.empty()) return;
  for (const std::string& path : tagPaths) {
    {
      std::lock_guard lock(m_mutex);
      if (m_table.FindByPath(path) != nullptr) continue;
    }
    if (!m_connected || !m_session->Publish({JsonTopic(path), kNoDocument, true})) {
      m_uncleared.insert(path);
    }
  }
  SaveUncleared();
}

// Sparkplug: one DDATA per device of a run of samples; samples of a device
// that is not born are dropped, for its next birth carries its values. JSON:
// one document per tag. False when the session would not take them. mids,
// when given, gathers the mids of the messages.
bool MqttPublisher::Impl::SendSamples(const std::vector<MetricSample>& samples, bool retain,
                                      std::vector<int>* mids) {
  int mid = 0;
  if (!Sparkplug()) {
    for (const auto& s : samples) {
      if (!m_session->Publish(
              {JsonTopic(Topics::TagPath(s.endpoint, s.name)), JsonCodec::TagDocument(s), retain},
              &mid)) {
        return false;
      }
      if (mids != nullptr) mids->push_back(mid);
    }
    return true;
  }
  std::map<std::string, std::vector<MetricSample>> byDevice;
  for (const auto& s : samples) {
    if (m_born.contains(s.device)) byDevice[s.device].push_back(s);
  }
  for (const auto& [device, deviceSamples] : byDevice) {
    if (!PublishSparkplug(SparkplugMessage::DDATA, device, deviceSamples, &mid)) return false;
    if (mids != nullptr) mids->push_back(mid);
  }
  return true;
}

void MqttPublisher::Impl::SpoolSamples(const std::vector<MetricSample>& samples) {
  for (const auto& s : samples) m_spool->Append(SampleRecord::Encode(s));
  m_spooled += samples.size();
}

void MqttPublisher::Impl::NoteSpoolDrops() {
  const uint64_t dropped = m_spool->Dropped() + (m_held != nullptr ? m_held->Dropped() : 0);
  if (dropped == m_loggedDrops) return;
  Log(kWarning, "the spool is full: dropped " + std::to_string(dropped - m_loggedDrops) +
                    " of the oldest kept changes (" + std::to_string(dropped) + " in all)");
  m_loggedDrops = dropped;
  m_spoolDropped = dropped;
}

// A segment goes once the broker has confirmed all of it: a crash before
// then finds it on disk, and it is sent again, marked historical, after the
// restart. QoS 0 has no confirmation, so there a segment goes as soon as the
// session has taken all of it.
void MqttPublisher::Impl::DrainSpool() {
  if (!Publishing() || m_drainStalled) return;
  if (m_spool->HasUntaken() && m_session->Outstanding() < kDrainWindow) {
    DrainSegment(*m_spool, true);
  }
  if (m_held != nullptr) {
    for (const std::string& device : m_held->Devices()) {
      if (m_drainStalled || m_session->Outstanding() >= kDrainWindow) break;
      if (m_born.contains(device) && m_held->Holds(device)) {
        DrainSegment(*m_held->Of(device), false);
      }
    }
  }
  RemoveDelivered();
}

bool MqttPublisher::Impl::HeldDrainable() const {
  if (m_held == nullptr) return false;
  for (const std::string& device : m_born) {
    if (m_held->Holds(device)) return true;
  }
  return false;
}

// route: the records may be of any device (the main spool), not all of one
// that is born (a device's held changes).
void MqttPublisher::Impl::DrainSegment(Spool& spool, bool route) {
  uint64_t segment = 0;
  const std::vector<std::string> records = spool.TakeNext(&segment);
  std::vector<int> mids;
  const bool whole = SendSegment(records, route, &mids);
  SegmentInFlight& flight = m_inFlight[{&spool, segment}];
  if (m_settings.qos > 0) {
    for (int mid : mids) m_segmentOfMid[mid] = {&spool, segment};
    flight.unconfirmed += mids.size();
  }
  if (whole) {
    flight.whole = true;
  } else {
    // Sent whole again on the next session, the part that went out included.
    m_drainStalled = true;
    spool.GiveBack(segment);
  }
}

// Sparkplug: a kept change of a device that is not born, or whose held
// changes wait, is held behind them; one of a device that is gone is
// dropped and counted in gone.
bool MqttPublisher::Impl::Deliverable(const MetricSample& sample, const std::string& record,
                                      size_t* gone) {
  if (m_held == nullptr) return true;
  if (m_born.contains(sample.device) && !m_held->Holds(sample.device)) return true;
  bool known = false;
  {
    std::lock_guard lock(m_mutex);
    known = m_table.Knows(sample.device);
  }
  if (known) {
    m_held->Hold(sample.device, record);
  } else {
    ++*gone;
  }
  return false;
}

// False when the session would not take all of the records.
bool MqttPublisher::Impl::SendSegment(const std::vector<std::string>& records, bool route,
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
    Log(kWarning, "not sent: " + std::to_string(gone) + " kept changes of devices that are gone");
  }
  // Runs of a few hundred keep each message small and the order of the
  // records across devices.
  for (size_t at = 0; at < batch.size(); at += kMaxMetricsPerMessage) {
    const size_t end = std::min(batch.size(), at + kMaxMetricsPerMessage);
    const std::vector<MetricSample> run(batch.begin() + static_cast<ptrdiff_t>(at),
                                        batch.begin() + static_cast<ptrdiff_t>(end));
    // Not retained: the births already carry the current values.
    if (!SendSamples(run, false, mids)) return false;
  }
  return true;
}

// Mids of messages that did not come from the spool match no segment.
void MqttPublisher::Impl::Confirm(const std::vector<int>& mids) {
  for (int mid : mids) {
    const auto it = m_segmentOfMid.find(mid);
    if (it == m_segmentOfMid.end()) continue;
    --m_inFlight[it->second].unconfirmed;
    m_segmentOfMid.erase(it);
  }
  RemoveDelivered();
}

void MqttPublisher::Impl::RemoveDelivered() {
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

void MqttPublisher::Impl::OnMessage(const std::string& topic, const std::string& payload) {
  if (FollowsHost() && topic == Topics::SparkplugState(m_settings.primaryHostId)) {
    OnHostState(payload);
  } else if (Sparkplug()) {
    OnSparkplugCommand(topic, payload);
  } else {
    OnJsonCommand(topic, payload);
  }
}

// Sparkplug's primary host: the edge node is born while the host is online.
// When the host goes, the session ends with a death certificate and a new
// one waits for the host, keeping the changes meanwhile, so that the host
// gets them in order once it is back.
void MqttPublisher::Impl::OnHostState(const std::string& payload) {
  const std::string& host = m_settings.primaryHostId;
  const auto state = JsonCodec::DecodeHostState(payload);
  if (!state) {
    Log(kWarning,
        "ignored a STATE of the primary host " + host + " without \"online\" and \"timestamp\"");
    return;
  }
  if (state->timestamp < m_hostStateTime) {
    Log(kInformation, "ignored a STATE of the primary host " + host + " older than the last");
    return;
  }
  m_hostStateTime = state->timestamp;
  if (!m_connected || state->online == m_hostOnline) return;
  m_hostOnline = state->online;
  if (m_hostOnline) {
    Log(kInformation, "the primary host " + host + " is online");
    Births();
    return;
  }
  Log(kWarning, "the primary host " + host + " is offline: changes are kept until it is back");
  Publish(Will());
  m_born.clear();
  m_session->EndSession();
}

void MqttPublisher::Impl::OnSparkplugCommand(const std::string& topic, const std::string& payload) {
  const std::string dcmdPrefix =
      Topics::Sparkplug(m_settings.groupId, SparkplugMessage::DCMD, m_settings.edgeNodeId) + "/";
  std::string device;
  if (topic.starts_with(dcmdPrefix)) {
    std::lock_guard lock(m_mutex);
    device = m_table.DeviceByLevel(topic.substr(dcmdPrefix.size()));
  }
  const bool toDevice = topic.starts_with(dcmdPrefix);
  const auto writes = SparkplugCodec::DecodeCommand(
      {reinterpret_cast<const uint8_t*>(payload.data()), payload.size()});
  if (!writes) {
    ++m_commandCount;
    ++m_refused;
    Log(kWarning, "refused a command on " + topic + ": not a Sparkplug B payload");
    return;
  }
  if (writes->empty()) {
    Log(kWarning, "ignored a command on " + topic + ": it names no metric");
    return;
  }
  for (const ReceivedWrite& w : *writes) {
    if (!toDevice && w.name == SparkplugCodec::kRebirthMetric) {
      // Compared in place: GCC's sanitized builds take a temporary variant
      // for a string that may be uninitialised.
      const bool* rebirth = std::get_if<bool>(&w.value);
      if (rebirth == nullptr) {
        Log(kWarning, "ignored a " + w.name + " command that is not a Boolean");
      } else if (*rebirth && Publishing()) {
        Births();
      }
      continue;
    }
    std::optional<WriteTarget> target;
    {
      std::lock_guard lock(m_mutex);
      const WriteTarget* t = m_table.FindByName(w.name);
      if (t != nullptr && (!toDevice || t->device == device)) target = *t;
    }
    if (!target) {
      Refuse(device, w.name, WriteRefusal::NodeIdUnknown, {}, {});
    } else {
      Dispatch(*target, w, {}, device);
    }
  }
}

void MqttPublisher::Impl::OnJsonCommand(const std::string& topic, const std::string& payload) {
  const std::string prefix = Topics::Level(m_settings.topicPrefix) + "/";
  if (!topic.starts_with(prefix) || !topic.ends_with(Topics::kSetSuffix)) return;
  const std::string path =
      topic.substr(prefix.size(), topic.size() - prefix.size() - Topics::kSetSuffix.size());
  std::optional<WriteTarget> target;
  {
    std::lock_guard lock(m_mutex);
    if (const WriteTarget* t = m_table.FindByPath(path)) target = *t;
  }
  const auto write = JsonCodec::DecodeWrite(payload);
  if (!write) {
    Refuse({}, path, WriteRefusal::TypeMismatch, {}, path);
  } else if (!target) {
    Refuse({}, path, WriteRefusal::NodeIdUnknown, write->idJson, path);
  } else {
    Dispatch(*target, {path, write->value}, write->idJson, {});
  }
}

void MqttPublisher::Impl::Dispatch(const WriteTarget& target, const ReceivedWrite& write,
                                   std::string idJson, const std::string& commandDevice) {
  const std::string path = Sparkplug() ? std::string() : write.name;
  const std::string device = commandDevice.empty() ? target.device : commandDevice;
  if (!target.writable) {
    Refuse(device, write.name, WriteRefusal::NotWritable, idJson, path);
    return;
  }
  VARIANT value;
  if (const HRESULT hr = ValueConversion::ToVariant(write.value, target.type, &value); hr != S_OK) {
    // A number the tag's type cannot hold is refused as an OPC UA client's is.
    Refuse(device, write.name,
           hr == DISP_E_OVERFLOW ? WriteRefusal::OutOfRange : WriteRefusal::TypeMismatch, idJson,
           path);
    return;
  }
  CommandHandler handler;
  {
    std::lock_guard lock(m_handlerMutex);
    handler = m_commandHandler;
  }
  if (!handler) {
    VariantClear(&value);
    Refuse(device, write.name, WriteRefusal::NotWritable, idJson, path);
    return;
  }
  ++m_commandCount;
  const uint64_t id = kCommandIdBit | ++g_lastCommand;
  m_commands[id] = {target.handle, std::move(idJson)};
  handler(target.handle, value, id);
  VariantClear(&value);
}

// A refused write is answered at once, the way a finished one is.
void MqttPublisher::Impl::Refuse(const std::string& device, const std::string& name,
                                 WriteRefusal why, const std::string& idJson,
                                 const std::string& tagPath) {
  ++m_commandCount;
  ++m_refused;
  const uint32_t status = static_cast<uint32_t>(why);
  Log(kWarning, "refused a write of " + name + ": " + ValueConversion::StatusText(status));
  if (!Sparkplug()) {
    Publish({JsonTopic(tagPath) + std::string(Topics::kResultSuffix),
             JsonCodec::WriteResult(status, idJson), false});
    return;
  }
  MetricSample answer;
  {
    std::lock_guard lock(m_mutex);
    const WriteTarget* t = m_table.FindByName(name);
    // A metric the device's birth did not declare has no type to answer in:
    // a host takes an undeclared metric for a lost birth, and a decoder
    // refuses type 0. Such a refusal is logged and counted only.
    if (t == nullptr || t->device != device) return;
    m_table.Sample(t->handle, &answer);
  }
  answer.name = name;
  answer.device = device;
  answer.writeStatus = status;
  AnswerWrite(answer, idJson);
}

void MqttPublisher::Impl::AnswerWrite(const MetricSample& answer, const std::string& idJson) {
  if (!Sparkplug()) {
    Publish({JsonTopic(Topics::TagPath(answer.endpoint, answer.name)) +
                 std::string(Topics::kResultSuffix),
             JsonCodec::WriteResult(*answer.writeStatus, idJson), false});
    return;
  }
  if (!Publishing()) return;
  if (answer.device.empty()) {
    PublishSparkplug(SparkplugMessage::NDATA, {}, {answer});
  } else if (m_born.contains(answer.device)) {
    PublishSparkplug(SparkplugMessage::DDATA, answer.device, {answer});
  }
}

void MqttPublisher::Impl::Complete(uint64_t commandId, uint32_t status) {
  const auto it = m_commands.find(commandId);
  if (it == m_commands.end()) return;
  const PendingCommand command = std::move(it->second);
  m_commands.erase(it);
  MetricSample answer;
  {
    std::lock_guard lock(m_mutex);
    if (!m_table.Sample(command.handle, &answer)) return;
  }
  answer.writeStatus = status;
  AnswerWrite(answer, command.idJson);
}

// The program completes a command against the publisher that issued it, and
// this one is going: its client is told now rather than never.
void MqttPublisher::Impl::AbandonCommands() {
  std::vector<uint64_t> pending;
  pending.reserve(m_commands.size());
  for (const auto& [id, command] : m_commands) pending.push_back(id);
  for (uint64_t id : pending) Complete(id, kBadShutdown);
}

// An orderly end: the death certificate the will would have been, sent and
// confirmed before the session closes.
void MqttPublisher::Impl::SayGoodbye() {
  if (!m_connected) return;
  Publish(Will());
  const auto deadline = std::chrono::steady_clock::now() + kStopConfirmTimeout;
  std::unique_lock lock(m_mutex);
  m_wake.wait_until(lock, deadline, [this] { return m_session->Outstanding() == 0; });
}

MqttPublisher::MqttPublisher(MqttSettings settings)
    : m_impl(std::make_unique<Impl>(std::move(settings))) {}
MqttPublisher::~MqttPublisher() = default;
void MqttPublisher::SetCommandHandler(CommandHandler handler) {
  m_impl->SetCommandHandler(std::move(handler));
}
void MqttPublisher::SetLogHandler(LogHandler handler) { m_impl->SetLogHandler(std::move(handler)); }
bool MqttPublisher::Start(std::string* error) { return m_impl->Start(error); }
void MqttPublisher::Stop() { m_impl->Stop(); }
void MqttPublisher::AddMetric(int32_t handle, const std::string& endpoint,
                              const std::string& device, const std::string& name, VARTYPE type,
                              bool writable) {
  m_impl->AddMetric(handle, endpoint, device, name, type, writable);
}
void MqttPublisher::RemoveMetric(int32_t handle) { m_impl->RemoveMetric(handle); }
void MqttPublisher::Update(int32_t handle, const VARIANT& value, uint32_t status,
                           int64_t sourceTime) {
  m_impl->Update(handle, value, status, sourceTime);
}
void MqttPublisher::SetDeviceOnline(const std::string& device, bool online) {
  m_impl->SetDeviceOnline(device, online);
}
void MqttPublisher::CompleteCommand(uint64_t commandId, uint32_t status) {
  m_impl->CompleteCommand(commandId, status);
}
PublisherCounters MqttPublisher::Counters() const { return m_impl->Counters(); }

}  // namespace mqtt
