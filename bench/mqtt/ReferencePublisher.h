// The reference the gateway is measured against: a libmosquitto client that
// publishes payloads like the gateway's (a Sparkplug DDATA of so many Float
// metrics, or one JSON tag document) as fast as the broker confirms them,
// keeping a bounded number unconfirmed as a QoS 1 publisher must.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>

#include "MetricCounter.h"

struct mosquitto;

struct ReferenceResult {
  uint64_t messages = 0;
  uint64_t bytes = 0;
  double seconds = 0;
};

class ReferencePublisher {
 public:
  ReferencePublisher(int port, int qos);
  ~ReferencePublisher();
  ReferencePublisher(const ReferencePublisher&) = delete;
  ReferencePublisher& operator=(const ReferencePublisher&) = delete;

  ReferenceResult Run(CountedFormat format, int metricsPerMessage, double seconds);

 private:
  static void OnPublish(mosquitto* client, void* self, int messageId);
  static std::string SparkplugPayload(int metrics, uint64_t seq);
  static std::string JsonPayload(uint64_t n);
  void WaitForRoom();
  void WaitForAll();

  int m_qos;
  mosquitto* m_client = nullptr;
  std::mutex m_mutex;
  std::condition_variable m_acknowledged;
  uint64_t m_published = 0;
  uint64_t m_confirmed = 0;
};
