// The gateway as plain JSON: one retained document per tag under the topic
// prefix, the gateway's retained status ("online", and "offline" as its
// will), writes on each tag's /set topic answered on /set/result, and the
// documents of removed tags deleted, after a restart too. The worker's only.
#pragma once

#include <set>
#include <string>
#include <vector>

#include "mqtt/PublishFormat.h"

namespace mqtt {

struct PublisherContext;

class JsonDocuments : public IPublishFormat {
 public:
  explicit JsonDocuments(PublisherContext& context);

  void Load() override;
  OutgoingMessage NextWill() override { return Will(); }
  OutgoingMessage Will() const override;
  void OnConnected() override;
  void OnDisconnected() override {}
  bool Publishing() const override;
  // A document goes whenever its tag changes: there are no births to wait for.
  bool WaitsForBirths() const override { return false; }
  bool Born(const std::string&) const override { return true; }
  std::set<std::string> TakeBornInPass() override { return {}; }
  void ReconcileDevices() override;
  void OnRemovedTags(const std::vector<std::string>& tagPaths) override;
  bool SendSamples(const std::vector<MetricSample>& samples, bool retain,
                   std::vector<int>* mids) override;
  void OnMessage(const std::string& topic, const std::string& payload,
                 CommandIntake& intake) override;
  void AnswerWrite(const MetricSample& answer, const std::string& idJson) override;
  void AnswerRefusal(const std::string& name, uint32_t status, const WriteOrigin& origin) override;

 private:
  std::string StatusTopic() const;
  std::string TopicOf(const std::string& tagPath) const;
  void SaveUncleared() const;

  PublisherContext& m_context;
  // Documents of removed tags that no session has deleted yet.
  std::set<std::string> m_uncleared;
};

}  // namespace mqtt
