// A libmosquitto subscriber that counts what arrives: messages, payload bytes
// and metrics (Sparkplug: the metrics of each DDATA, and of births apart;
// JSON: one metric a tag document). Counting runs on libmosquitto's thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

struct mosquitto;
struct mosquitto_message;

enum class CountedFormat { Sparkplug, Json };

struct MetricCounts {
  uint64_t messages = 0;
  uint64_t bytes = 0;
  uint64_t metrics = 0;     // in DDATA, or JSON tag documents
  uint64_t born = 0;        // metrics in DBIRTH
  uint64_t historical = 0;  // metrics marked historical
  uint64_t undecodable = 0;
};

class MetricCounter {
 public:
  MetricCounter(int port, CountedFormat format);
  ~MetricCounter();
  MetricCounter(const MetricCounter&) = delete;
  MetricCounter& operator=(const MetricCounter&) = delete;

  MetricCounts Counts() const;

 private:
  static void OnConnect(mosquitto* client, void* self, int result);
  static void OnMessage(mosquitto* client, void* self, const mosquitto_message* message);
  void Count(const std::string& topic, const void* payload, int length);
  void CountSparkplug(const std::string& topic, const void* payload, int length);

  CountedFormat m_format;
  mosquitto* m_client = nullptr;
  std::atomic<uint64_t> m_messages{0};
  std::atomic<uint64_t> m_bytes{0};
  std::atomic<uint64_t> m_metrics{0};
  std::atomic<uint64_t> m_born{0};
  std::atomic<uint64_t> m_historical{0};
  std::atomic<uint64_t> m_undecodable{0};
};
