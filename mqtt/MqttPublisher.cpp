#include "mqtt/MqttPublisher.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <set>
#include <thread>
#include <utility>
#include <vector>

#include "mqtt/CommandIntake.h"
#include "mqtt/JsonDocuments.h"
#include "mqtt/MqttSession.h"
#include "mqtt/PublisherContext.h"
#include "mqtt/SparkplugEdge.h"
#include "mqtt/SpoolDrain.h"
#include "mqtt/ValueConversion.h"

namespace mqtt {

namespace {

using platform::LogLevel;

// Messages handed to libmosquitto and not yet confirmed (at QoS 0: not yet
// written) past which live changes wait in the metric table, where each tag
// keeps only its latest value: libmosquitto holds every message in memory,
// and a broker slower than the changes would grow it without end. The table
// is bounded by the number of tags and sends the newest value when there is
// room; the spool would keep every value but on disk, slower, and drop the
// oldest when full.
constexpr uint64_t kMaxUnconfirmed = 4000;
constexpr int kMaxPort = 65535;
constexpr int kMaxQos = 2;
constexpr auto kStopConfirmTimeout = std::chrono::seconds(5);
constexpr const char* kClientIdPrefix = "pelmoran-";

struct SessionEvent {
  enum class Kind { Connected, Disconnected, Refused, Message };
  Kind kind;
  std::string topic;
  std::string text;
};

MqttSettings WithClientId(MqttSettings settings) {
  if (settings.clientId.empty()) settings.clientId = kClientIdPrefix + settings.edgeNodeId;
  return settings;
}

std::unique_ptr<IPublishFormat> MakeFormat(PublisherContext& context) {
  if (context.settings.format == PayloadFormat::Json)
    return std::make_unique<JsonDocuments>(context);
  return std::make_unique<SparkplugEdge>(context);
}

}  // namespace

// The publisher's threads meet here: the callers' and libmosquitto's hand
// their news over under the context's mutex, and one worker acts on it in
// passes, through the format, the spool and the commands' intake.
class MqttPublisher::Impl {
 public:
  explicit Impl(MqttSettings settings);
  ~Impl() { Stop(); }

  void SetCommandHandler(CommandHandler handler) { m_intake.SetHandler(std::move(handler)); }
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

  bool CheckSettings(std::string* error) const;
  void PushEvent(SessionEvent event);
  MqttSession::Handlers SessionHandlers();

  // The worker.
  void Run();
  bool Backlogged() const;
  bool HasWork();
  Pass TakePass();
  void RunPass(Pass& pass);
  void OnConnected();
  void OnDisconnected(const std::string& reason);
  void SendChanges(std::vector<MetricSample> changes);
  void SayGoodbye();

  PublisherContext m_context;
  std::unique_ptr<IPublishFormat> m_format;
  CommandIntake m_intake;
  SpoolDrain m_drain;
  std::unique_ptr<MqttSession> m_session;

  // Shared with the callers' threads and libmosquitto's, under m_context.mutex.
  std::condition_variable m_wake;
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

  std::atomic<bool> m_connectedFlag{false};
  std::atomic<uint64_t> m_connects{0};
};

MqttPublisher::Impl::Impl(MqttSettings settings)
    : m_context(WithClientId(std::move(settings))),
      m_format(MakeFormat(m_context)),
      m_intake(m_context, *m_format),
      m_drain(m_context, *m_format) {}

bool MqttPublisher::Impl::CheckSettings(std::string* error) const {
  const MqttSettings& s = m_context.settings;
  if (s.port < 1 || s.port > kMaxPort) {
    *error = "the MQTT port " + std::to_string(s.port) + " is not between 1 and 65535";
    return false;
  }
  if (s.qos < 0 || s.qos > kMaxQos) {
    *error = "the MQTT QoS " + std::to_string(s.qos) + " is not 0, 1 or 2";
    return false;
  }
  if (s.spoolDirectory.empty()) {
    *error = "no MQTT spool directory is set";
    return false;
  }
  if (s.edgeNodeId.empty()) {
    *error = "no MQTT edge node id is set";
    return false;
  }
  return true;
}

void MqttPublisher::Impl::PushEvent(SessionEvent event) {
  std::lock_guard lock(m_context.mutex);
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
    std::lock_guard lock(m_context.mutex);
    m_confirmed.push_back(mid);
    m_wake.notify_one();
  };
  h.written = [this](uint64_t outstanding) {
    // Only the moments a waiting worker cares about: room again, and all out.
    if (outstanding != kMaxUnconfirmed / 2 && outstanding != 0) return;
    std::lock_guard lock(m_context.mutex);
    m_wake.notify_one();
  };
  // Asked for before every connect.
  h.will = [this] { return m_format->NextWill(); };
  h.libraryError = [this](const std::string& text) { m_context.Log(LogLevel::Error, text); };
  return h;
}

bool MqttPublisher::Impl::Start(std::string* error) {
  std::lock_guard life(m_lifecycleMutex);
  if (m_started) return true;
  if (!CheckSettings(error)) return false;
  if (!m_drain.Open(error)) return false;
  m_format->Load();
  {
    std::lock_guard lock(m_context.mutex);
    // What the previous session's end left behind is no news to the next.
    m_events.clear();
    m_confirmed.clear();
    m_stopping = false;
  }
  // Not under the mutex: libmosquitto calls the handlers, which take it,
  // while holding locks of its own that starting it takes as well.
  auto session = std::make_unique<MqttSession>(m_context.settings, SessionHandlers());
  if (!session->Start(error)) return false;
  {
    std::lock_guard lock(m_context.mutex);
    m_session = std::move(session);
    m_context.session = m_session.get();
  }
  m_started = true;
  m_worker = std::thread([this] { Run(); });
  m_context.Log(LogLevel::Info, "connecting to " + m_context.broker);
  return true;
}

void MqttPublisher::Impl::Stop() {
  std::lock_guard life(m_lifecycleMutex);
  if (!m_started) return;
  {
    std::lock_guard lock(m_context.mutex);
    m_stopping = true;
    m_wake.notify_one();
  }
  m_worker.join();
  // Not under the mutex: the network thread's handlers take it while Stop
  // waits for that thread to end.
  m_session->Stop();
  std::vector<int> confirmed;
  {
    std::lock_guard lock(m_context.mutex);
    m_context.session = nullptr;
    m_session.reset();
    confirmed = std::exchange(m_confirmed, {});
  }
  // The worker and the network thread are gone.
  m_drain.Close(confirmed);
  m_started = false;
  m_context.connected = false;
  m_format->OnDisconnected();
}

void MqttPublisher::Impl::AddMetric(int32_t handle, const std::string& endpoint,
                                    const std::string& device, const std::string& name,
                                    VARTYPE type, bool writable) {
  std::lock_guard lock(m_context.mutex);
  m_context.table.Add(handle, endpoint, device, name, type, writable);
  m_wake.notify_one();
}

void MqttPublisher::Impl::RemoveMetric(int32_t handle) {
  std::lock_guard lock(m_context.mutex);
  m_context.table.Remove(handle);
  m_wake.notify_one();
}

void MqttPublisher::Impl::Update(int32_t handle, const VARIANT& value, uint32_t status,
                                 int64_t sourceTime) {
  const uint64_t timeMs = ValueConversion::MillisecondsFromFileTime(sourceTime);
  std::lock_guard lock(m_context.mutex);
  const bool wasIdle = !m_context.table.HasChanges();
  if (m_context.table.Update(handle, value, status, timeMs) && wasIdle) m_wake.notify_one();
}

void MqttPublisher::Impl::SetDeviceOnline(const std::string& device, bool online) {
  std::lock_guard lock(m_context.mutex);
  m_context.table.SetOnline(device, online);
  m_wake.notify_one();
}

void MqttPublisher::Impl::CompleteCommand(uint64_t commandId, uint32_t status) {
  std::lock_guard lock(m_context.mutex);
  m_completions.emplace_back(commandId, status);
  m_wake.notify_one();
}

PublisherCounters MqttPublisher::Impl::Counters() const {
  PublisherCounters c;
  c.connected = m_connectedFlag;
  c.connects = m_connects;
  {
    std::lock_guard lock(m_context.mutex);
    if (m_session) {
      c.published = m_session->Published();
      c.acknowledged = m_session->Acknowledged();
    }
  }
  c.spooled = m_drain.Spooled();
  c.spoolDropped = m_drain.Dropped();
  c.commands = m_intake.Received();
  c.commandsRefused = m_intake.Refused();
  return c;
}

// ---- the worker ----

// Without a connection changes go to the spool, which has a bound of its own.
bool MqttPublisher::Impl::Backlogged() const {
  return m_context.connected && m_session->Outstanding() >= kMaxUnconfirmed;
}

bool MqttPublisher::Impl::HasWork() {
  const MetricTable& table = m_context.table;
  const bool sendable = table.HasChanges() && !Backlogged();
  return m_stopping || !m_events.empty() || sendable || !m_completions.empty() ||
         !m_confirmed.empty() || table.DevicesChanged() || table.HasRemovals() ||
         m_drain.Drainable();
}

MqttPublisher::Impl::Pass MqttPublisher::Impl::TakePass() {
  Pass pass;
  pass.events = std::exchange(m_events, {});
  if (!Backlogged()) pass.changes = m_context.table.TakeChanges();
  pass.completions = std::exchange(m_completions, {});
  pass.confirmed = std::exchange(m_confirmed, {});
  pass.removedPaths = m_context.table.TakeRemovals();
  pass.devicesChanged = m_context.table.DevicesChanged();
  pass.stopping = m_stopping;
  return pass;
}

void MqttPublisher::Impl::Run() {
  std::unique_lock lock(m_context.mutex);
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
  for (const SessionEvent& event : pass.events) {
    switch (event.kind) {
      case SessionEvent::Kind::Connected: OnConnected(); break;
      case SessionEvent::Kind::Disconnected: OnDisconnected(event.text); break;
      case SessionEvent::Kind::Refused: m_context.Log(LogLevel::Error, event.text); break;
      case SessionEvent::Kind::Message:
        m_format->OnMessage(event.topic, event.text, m_intake);
        break;
    }
  }
  if (pass.devicesChanged) m_format->ReconcileDevices();
  // Held changes of a device the table no longer has would wait for a birth
  // that never comes.
  if (m_format->Publishing()) m_drain.DropHeldOfGoneDevices();
  SendChanges(std::move(pass.changes));
  m_format->OnRemovedTags(pass.removedPaths);
  for (const auto& [id, status] : pass.completions) m_intake.Complete(id, status);
  m_drain.Confirm(pass.confirmed);
  if (!pass.stopping) m_drain.Drain();
  m_drain.Flush();
  if (pass.stopping) {
    m_intake.AbandonAll();
    SayGoodbye();
  }
}

void MqttPublisher::Impl::OnConnected() {
  m_context.connected = true;
  m_drain.OnConnected();
  m_context.Log(LogLevel::Info, "connected to " + m_context.broker);
  m_format->OnConnected();
}

void MqttPublisher::Impl::OnDisconnected(const std::string& reason) {
  if (m_context.connected) m_context.Log(LogLevel::Warning, reason);
  m_context.connected = false;
  m_format->OnDisconnected();
}

void MqttPublisher::Impl::SendChanges(std::vector<MetricSample> changes) {
  // A birth takes the table's values after the changes were taken: they are no news.
  const std::set<std::string> born = m_format->TakeBornInPass();
  std::erase_if(changes, [&born](const MetricSample& s) { return born.contains(s.device); });
  m_drain.SendChanges(std::move(changes));
}

// An orderly end: the death certificate the will would have been, sent and
// confirmed before the session closes.
void MqttPublisher::Impl::SayGoodbye() {
  if (!m_context.connected) return;
  m_session->Publish(m_format->Will());
  const auto deadline = std::chrono::steady_clock::now() + kStopConfirmTimeout;
  std::unique_lock lock(m_context.mutex);
  m_wake.wait_until(lock, deadline, [this] { return m_session->Outstanding() == 0; });
}

MqttPublisher::MqttPublisher(MqttSettings settings)
    : m_impl(std::make_unique<Impl>(std::move(settings))) {}
MqttPublisher::~MqttPublisher() = default;
void MqttPublisher::SetCommandHandler(CommandHandler handler) {
  m_impl->SetCommandHandler(std::move(handler));
}
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
