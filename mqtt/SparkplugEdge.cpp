#include "mqtt/SparkplugEdge.h"

#include <fstream>
#include <map>
#include <optional>
#include <utility>
#include <variant>

#include "mqtt/CommandIntake.h"
#include "mqtt/JsonCodec.h"
#include "mqtt/PublisherContext.h"
#include "mqtt/SparkplugCodec.h"
#include "mqtt/ValueConversion.h"
#include "platform/ReplaceFile.h"

namespace mqtt {

namespace {
constexpr uint32_t kBdSeqModulus = 256;
constexpr const char* kBdSeqFile = "/bdseq";
using platform::LogLevel;
}  // namespace

SparkplugEdge::SparkplugEdge(PublisherContext& context) : m_context(context) {}

// The file holds the first number no connect has carried yet.
void SparkplugEdge::Load() {
  std::ifstream in(m_context.settings.spoolDirectory + kBdSeqFile);
  uint32_t value = 0;
  m_nextBdSeq = in >> value ? value % kBdSeqModulus : 0;
}

// Each connect's will takes a number of its own, and the one after it is on
// disk before the connect goes out: a gateway killed in the session starts
// with a number its late will cannot be matched with.
OutgoingMessage SparkplugEdge::NextWill() {
  m_bdSeq = m_nextBdSeq;
  m_nextBdSeq = (m_bdSeq + 1) % kBdSeqModulus;
  const std::string& directory = m_context.settings.spoolDirectory;
  if (!ReplaceFile(directory + kBdSeqFile, std::to_string(m_nextBdSeq) + "\n",
                   PublisherContext::kFileMode)) {
    m_context.Log(LogLevel::Error, "cannot write the session number in " + directory);
  }
  return Will();
}

OutgoingMessage SparkplugEdge::Will() const {
  const MqttSettings& s = m_context.settings;
  return {Topics::Sparkplug(s.groupId, SparkplugMessage::NDEATH, s.edgeNodeId),
          SparkplugCodec::NodeDeath(m_bdSeq, ValueConversion::NowMilliseconds()), false};
}

bool SparkplugEdge::FollowsHost() const { return !m_context.settings.primaryHostId.empty(); }

bool SparkplugEdge::Publishing() const { return m_context.connected && m_hostOnline; }

void SparkplugEdge::OnConnected() {
  const MqttSettings& s = m_context.settings;
  m_context.session->Subscribe(Topics::Sparkplug(s.groupId, SparkplugMessage::NCMD, s.edgeNodeId));
  m_context.session->Subscribe(Topics::Sparkplug(s.groupId, SparkplugMessage::DCMD, s.edgeNodeId) +
                               "/+");
  m_hostOnline = !FollowsHost();
  if (FollowsHost()) {
    // Its retained STATE comes at once; the births wait for "online".
    m_context.session->Subscribe(Topics::SparkplugState(s.primaryHostId));
    m_context.Log(LogLevel::Info, "waiting for the primary host " + s.primaryHostId);
    return;
  }
  Births();
}

void SparkplugEdge::OnDisconnected() {
  m_hostOnline = false;
  m_born.clear();
}

std::set<std::string> SparkplugEdge::TakeBornInPass() { return std::exchange(m_bornInPass, {}); }

void SparkplugEdge::Births() {
  const MqttSettings& s = m_context.settings;
  m_seq = 0;
  m_born.clear();
  m_context.session->Publish(
      {Topics::Sparkplug(s.groupId, SparkplugMessage::NBIRTH, s.edgeNodeId),
       SparkplugCodec::NodeBirth(m_bdSeq, ValueConversion::NowMilliseconds())});
  ++m_seq;
  Reconcile(true);
}

bool SparkplugEdge::Publish(SparkplugMessage type, const std::string& device,
                            const std::vector<MetricSample>& samples, int* mid) {
  const uint64_t now = ValueConversion::NowMilliseconds();
  const std::string payload = type == SparkplugMessage::DDEATH
                                  ? SparkplugCodec::DeviceDeath(m_seq, now)
                                  : SparkplugCodec::Metrics(samples, m_seq, now);
  ++m_seq;
  const MqttSettings& s = m_context.settings;
  return m_context.session->Publish(
      {Topics::Sparkplug(s.groupId, type, s.edgeNodeId, device), payload}, mid);
}

void SparkplugEdge::Reconcile(bool rebirthAll) {
  std::set<std::string> live;
  std::set<std::string> reshaped;
  std::vector<std::pair<std::string, std::vector<MetricSample>>> births;
  {
    std::lock_guard lock(m_context.mutex);
    reshaped = m_context.table.TakeReshaped();
    if (!Publishing()) return;
    live = m_context.table.LiveDevices();
    for (const std::string& device : live) {
      if (rebirthAll || !m_born.contains(device) || reshaped.contains(device)) {
        births.emplace_back(device, m_context.table.DeviceSamples(device));
      }
    }
  }
  for (auto it = m_born.begin(); it != m_born.end();) {
    if (live.contains(*it)) {
      ++it;
      continue;
    }
    Publish(SparkplugMessage::DDEATH, *it, {});
    it = m_born.erase(it);
  }
  for (const auto& [device, samples] : births) {
    Publish(SparkplugMessage::DBIRTH, device, samples);
    m_born.insert(device);
    m_bornInPass.insert(device);
  }
}

// One DDATA per device of a run of samples; samples of a device that is not
// born are dropped, for its next birth carries its values.
bool SparkplugEdge::SendSamples(const std::vector<MetricSample>& samples, bool,
                                std::vector<int>* mids) {
  std::map<std::string, std::vector<MetricSample>> byDevice;
  for (const auto& s : samples) {
    if (m_born.contains(s.device)) byDevice[s.device].push_back(s);
  }
  int mid = 0;
  for (const auto& [device, deviceSamples] : byDevice) {
    if (!Publish(SparkplugMessage::DDATA, device, deviceSamples, &mid)) return false;
    if (mids != nullptr) mids->push_back(mid);
  }
  return true;
}

void SparkplugEdge::OnMessage(const std::string& topic, const std::string& payload,
                              CommandIntake& intake) {
  if (FollowsHost() && topic == Topics::SparkplugState(m_context.settings.primaryHostId)) {
    OnHostState(payload);
  } else {
    OnCommand(topic, payload, intake);
  }
}

// Sparkplug's primary host: the edge node is born while the host is online.
// When the host goes, the session ends with a death certificate and a new
// one waits for the host, keeping the changes meanwhile, so that the host
// gets them in order once it is back.
void SparkplugEdge::OnHostState(const std::string& payload) {
  const std::string& host = m_context.settings.primaryHostId;
  const auto state = JsonCodec::DecodeHostState(payload);
  if (!state) {
    m_context.Log(LogLevel::Warning, "ignored a STATE of the primary host " + host +
                                         " without \"online\" and \"timestamp\"");
    return;
  }
  if (state->timestamp < m_hostStateTime) {
    m_context.Log(LogLevel::Info,
                  "ignored a STATE of the primary host " + host + " older than the last");
    return;
  }
  m_hostStateTime = state->timestamp;
  if (!m_context.connected || state->online == m_hostOnline) return;
  m_hostOnline = state->online;
  if (m_hostOnline) {
    m_context.Log(LogLevel::Info, "the primary host " + host + " is online");
    Births();
    return;
  }
  m_context.Log(LogLevel::Warning,
                "the primary host " + host + " is offline: changes are kept until it is back");
  m_context.session->Publish(Will());
  m_born.clear();
  m_context.session->EndSession();
}

void SparkplugEdge::OnCommand(const std::string& topic, const std::string& payload,
                              CommandIntake& intake) {
  const MqttSettings& s = m_context.settings;
  const std::string dcmdPrefix =
      Topics::Sparkplug(s.groupId, SparkplugMessage::DCMD, s.edgeNodeId) + "/";
  std::string device;
  if (topic.starts_with(dcmdPrefix)) {
    std::lock_guard lock(m_context.mutex);
    device = m_context.table.DeviceByLevel(topic.substr(dcmdPrefix.size()));
  }
  const bool toDevice = topic.starts_with(dcmdPrefix);
  const auto writes = SparkplugCodec::DecodeCommand(
      {reinterpret_cast<const uint8_t*>(payload.data()), payload.size()});
  if (!writes) {
    intake.CountUnreadable();
    m_context.Log(LogLevel::Warning,
                  "refused a command on " + topic + ": not a Sparkplug B payload");
    return;
  }
  if (writes->empty()) {
    m_context.Log(LogLevel::Warning, "ignored a command on " + topic + ": it names no metric");
    return;
  }
  for (const ReceivedWrite& w : *writes) {
    if (!toDevice && w.name == SparkplugCodec::kRebirthMetric) {
      // Compared in place: GCC's sanitized builds take a temporary variant
      // for a string that may be uninitialised.
      const bool* rebirth = std::get_if<bool>(&w.value);
      if (rebirth == nullptr) {
        m_context.Log(LogLevel::Warning, "ignored a " + w.name + " command that is not a Boolean");
      } else if (*rebirth && Publishing()) {
        Births();
      }
      continue;
    }
    std::optional<WriteTarget> target;
    {
      std::lock_guard lock(m_context.mutex);
      const WriteTarget* t = m_context.table.FindByName(w.name);
      if (t != nullptr && (!toDevice || t->device == device)) target = *t;
    }
    if (!target) {
      intake.Refuse(w.name, WriteRefusal::NodeIdUnknown, {device, {}, {}});
    } else {
      intake.Dispatch(*target, w, {device, {}, {}});
    }
  }
}

void SparkplugEdge::AnswerWrite(const MetricSample& answer, const std::string&) {
  if (!Publishing()) return;
  if (answer.device.empty()) {
    Publish(SparkplugMessage::NDATA, {}, {answer});
  } else if (m_born.contains(answer.device)) {
    Publish(SparkplugMessage::DDATA, answer.device, {answer});
  }
}

void SparkplugEdge::AnswerRefusal(const std::string& name, uint32_t status,
                                  const WriteOrigin& origin) {
  MetricSample answer;
  {
    std::lock_guard lock(m_context.mutex);
    const WriteTarget* t = m_context.table.FindByName(name);
    // A metric the device's birth did not declare has no type to answer in:
    // a host takes an undeclared metric for a lost birth, and a decoder
    // refuses type 0. Such a refusal is logged and counted only.
    if (t == nullptr || t->device != origin.device) return;
    m_context.table.Sample(t->handle, &answer);
  }
  answer.name = name;
  answer.device = origin.device;
  answer.writeStatus = status;
  AnswerWrite(answer, origin.idJson);
}

}  // namespace mqtt
