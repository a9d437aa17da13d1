#include "mqtt/JsonDocuments.h"

#include <cstdio>
#include <fstream>
#include <optional>
#include <utility>

#include "mqtt/CommandIntake.h"
#include "mqtt/JsonCodec.h"
#include "mqtt/PublisherContext.h"
#include "mqtt/Topics.h"
#include "platform/ReplaceFile.h"

namespace mqtt {

namespace {
// The tag paths of m_uncleared, one per line, so that a stop before the next
// session does not leave their documents on the broker for good.
constexpr const char* kUnclearedFile = "/uncleared";
// An empty retained message is how MQTT deletes a retained one.
constexpr const char* kNoDocument = "";
}  // namespace

JsonDocuments::JsonDocuments(PublisherContext& context) : m_context(context) {}

std::string JsonDocuments::StatusTopic() const {
  const MqttSettings& s = m_context.settings;
  return Topics::Level(s.topicPrefix) + "/" + Topics::Level(s.edgeNodeId) + "/status";
}

std::string JsonDocuments::TopicOf(const std::string& tagPath) const {
  return Topics::Level(m_context.settings.topicPrefix) + "/" + tagPath;
}

void JsonDocuments::Load() {
  std::ifstream in(m_context.settings.spoolDirectory + kUnclearedFile, std::ios::binary);
  for (std::string path; std::getline(in, path);) {
    if (!path.empty()) m_uncleared.insert(path);
  }
}

void JsonDocuments::SaveUncleared() const {
  const std::string file = m_context.settings.spoolDirectory + kUnclearedFile;
  if (m_uncleared.empty()) {
    std::remove(file.c_str());
    return;
  }
  std::string text;
  for (const std::string& path : m_uncleared) {
    // A line cannot hold it; such a name is never a tag's.
    if (path.find('\n') == std::string::npos) text += path + "\n";
  }
  ReplaceFile(file, text, PublisherContext::kFileMode);
}

OutgoingMessage JsonDocuments::Will() const { return {StatusTopic(), JsonCodec::kOffline, true}; }

bool JsonDocuments::Publishing() const { return m_context.connected; }

// The status, then every tag's document: what a subscriber that came while
// the gateway was away has missed.
void JsonDocuments::OnConnected() {
  m_context.session->Subscribe(Topics::Level(m_context.settings.topicPrefix) + "/+/+" +
                               std::string(Topics::kSetSuffix));
  m_context.session->Publish({StatusTopic(), JsonCodec::kOnline, true});
  std::vector<MetricSample> all;
  {
    std::lock_guard lock(m_context.mutex);
    all = m_context.table.AllSamples();
  }
  SendSamples(all, true, nullptr);
  // After the documents: a tag re-added since its removal has just been
  // published again, and keeps its document.
  const std::set<std::string> uncleared = std::exchange(m_uncleared, {});
  OnRemovedTags({uncleared.begin(), uncleared.end()});
}

// Documents are per tag, not per device: nothing is reborn.
void JsonDocuments::ReconcileDevices() {
  std::lock_guard lock(m_context.mutex);
  m_context.table.TakeReshaped();
}

// A removed tag's retained document would tell every new subscriber of a
// tag that is gone. One that cannot be deleted now is deleted by the next
// session, after a restart too, unless a tag of that name has come back.
void JsonDocuments::OnRemovedTags(const std::vector<std::string>& tagPaths) {
  if (tagPaths.empty()) return;
  for (const std::string& path : tagPaths) {
    {
      std::lock_guard lock(m_context.mutex);
      if (m_context.table.FindByPath(path) != nullptr) continue;
    }
    if (!m_context.connected || !m_context.session->Publish({TopicOf(path), kNoDocument, true})) {
      m_uncleared.insert(path);
    }
  }
  SaveUncleared();
}

bool JsonDocuments::SendSamples(const std::vector<MetricSample>& samples, bool retain,
                                std::vector<int>* mids) {
  int mid = 0;
  for (const auto& s : samples) {
    if (!m_context.session->Publish(
            {TopicOf(Topics::TagPath(s.endpoint, s.name)), JsonCodec::TagDocument(s), retain},
            &mid)) {
      return false;
    }
    if (mids != nullptr) mids->push_back(mid);
  }
  return true;
}

void JsonDocuments::OnMessage(const std::string& topic, const std::string& payload,
                              CommandIntake& intake) {
  const std::string prefix = Topics::Level(m_context.settings.topicPrefix) + "/";
  if (!topic.starts_with(prefix) || !topic.ends_with(Topics::kSetSuffix)) return;
  const std::string path =
      topic.substr(prefix.size(), topic.size() - prefix.size() - Topics::kSetSuffix.size());
  std::optional<WriteTarget> target;
  {
    std::lock_guard lock(m_context.mutex);
    if (const WriteTarget* t = m_context.table.FindByPath(path)) target = *t;
  }
  const auto write = JsonCodec::DecodeWrite(payload);
  if (!write) {
    intake.Refuse(path, WriteRefusal::TypeMismatch, {{}, {}, path});
  } else if (!target) {
    intake.Refuse(path, WriteRefusal::NodeIdUnknown, {{}, write->idJson, path});
  } else {
    intake.Dispatch(*target, {path, write->value}, {{}, write->idJson, path});
  }
}

void JsonDocuments::AnswerWrite(const MetricSample& answer, const std::string& idJson) {
  m_context.session->Publish(
      {TopicOf(Topics::TagPath(answer.endpoint, answer.name)) + std::string(Topics::kResultSuffix),
       JsonCodec::WriteResult(*answer.writeStatus, idJson), false});
}

void JsonDocuments::AnswerRefusal(const std::string&, uint32_t status, const WriteOrigin& origin) {
  m_context.session->Publish({TopicOf(origin.tagPath) + std::string(Topics::kResultSuffix),
                              JsonCodec::WriteResult(status, origin.idJson), false});
}

}  // namespace mqtt
