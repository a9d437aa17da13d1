// The gateway as a Sparkplug B edge node: its births (NBIRTH, and a DBIRTH
// per device that is up), its deaths (NDEATH as the will, DDEATH for a
// device that went), the session numbers bdSeq and seq, the primary host
// application it may follow, and NCMD and DCMD. The worker's only, but
// NextWill, which the session's thread asks for.
#pragma once

#include <atomic>
#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "mqtt/PublishFormat.h"
#include "mqtt/Topics.h"

namespace mqtt {

struct PublisherContext;

class SparkplugEdge : public IPublishFormat {
 public:
  explicit SparkplugEdge(PublisherContext& context);

  void Load() override;
  OutgoingMessage NextWill() override;
  OutgoingMessage Will() const override;
  void OnConnected() override;
  void OnDisconnected() override;
  bool Publishing() const override;
  bool WaitsForBirths() const override { return true; }
  bool Born(const std::string& device) const override { return m_born.contains(device); }
  std::set<std::string> TakeBornInPass() override;
  void ReconcileDevices() override { Reconcile(false); }
  void OnRemovedTags(const std::vector<std::string>&) override {}
  bool SendSamples(const std::vector<MetricSample>& samples, bool retain,
                   std::vector<int>* mids) override;
  void OnMessage(const std::string& topic, const std::string& payload,
                 CommandIntake& intake) override;
  void AnswerWrite(const MetricSample& answer, const std::string& idJson) override;
  void AnswerRefusal(const std::string& name, uint32_t status, const WriteOrigin& origin) override;

 private:
  bool FollowsHost() const;
  void Births();
  void Reconcile(bool rebirthAll);
  bool Publish(SparkplugMessage type, const std::string& device,
               const std::vector<MetricSample>& samples, int* mid = nullptr);
  void OnHostState(const std::string& payload);
  void OnCommand(const std::string& topic, const std::string& payload, CommandIntake& intake);

  PublisherContext& m_context;
  // The primary host is online, or none is followed; false between sessions.
  bool m_hostOnline = false;
  // The primary host's latest STATE: an older one is a retained leftover.
  uint64_t m_hostStateTime = 0;
  std::set<std::string> m_born;
  std::set<std::string> m_bornInPass;
  uint8_t m_seq = 0;
  // This session's number, and the next connect's; the latter is the
  // session thread's.
  std::atomic<uint32_t> m_bdSeq{0};
  uint32_t m_nextBdSeq = 0;
};

}  // namespace mqtt
