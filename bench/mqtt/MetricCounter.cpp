#include "MetricCounter.h"

#include <mosquitto.h>

#include <stdexcept>

#include "sparkplug_b.pb.h"

namespace {

constexpr int kKeepAliveSeconds = 30;
constexpr int kQos = 1;

bool IsMessageType(const std::string& topic, const char* type) {
  return topic.find(std::string("/") + type + "/") != std::string::npos;
}

}  // namespace

MetricCounter::MetricCounter(int port, CountedFormat format) : m_format(format) {
  m_client = mosquitto_new("pelmoran-bench-counter", true, this);
  if (m_client == nullptr) throw std::runtime_error("mosquitto_new failed");
  mosquitto_connect_callback_set(m_client, &MetricCounter::OnConnect);
  mosquitto_message_callback_set(m_client, &MetricCounter::OnMessage);
  if (mosquitto_connect(m_client, "127.0.0.1", port, kKeepAliveSeconds) != MOSQ_ERR_SUCCESS ||
      mosquitto_loop_start(m_client) != MOSQ_ERR_SUCCESS) {
    mosquitto_destroy(m_client);
    throw std::runtime_error("cannot reach the broker");
  }
}

MetricCounter::~MetricCounter() {
  mosquitto_disconnect(m_client);
  mosquitto_loop_stop(m_client, false);
  mosquitto_destroy(m_client);
}

MetricCounts MetricCounter::Counts() const {
  return {m_messages, m_bytes, m_metrics, m_born, m_historical, m_undecodable};
}

void MetricCounter::OnConnect(mosquitto* client, void* self, int result) {
  if (result != 0) return;
  const char* topic =
      static_cast<MetricCounter*>(self)->m_format == CountedFormat::Sparkplug ? "spBv1.0/#" : "#";
  mosquitto_subscribe(client, nullptr, topic, kQos);
}

void MetricCounter::OnMessage(mosquitto*, void* self, const mosquitto_message* message) {
  static_cast<MetricCounter*>(self)->Count(message->topic, message->payload, message->payloadlen);
}

void MetricCounter::Count(const std::string& topic, const void* payload, int length) {
  ++m_messages;
  m_bytes += static_cast<uint64_t>(length);
  if (m_format == CountedFormat::Sparkplug) {
    CountSparkplug(topic, payload, length);
  } else if (topic.ends_with("/status") || topic.ends_with("/result")) {
    return;
  } else {
    ++m_metrics;
  }
}

void MetricCounter::CountSparkplug(const std::string& topic, const void* payload, int length) {
  org::eclipse::tahu::protobuf::Payload decoded;
  if (!decoded.ParseFromArray(payload, length)) {
    ++m_undecodable;
    return;
  }
  const auto metrics = static_cast<uint64_t>(decoded.metrics_size());
  if (IsMessageType(topic, "DDATA")) {
    m_metrics += metrics;
  } else if (IsMessageType(topic, "DBIRTH")) {
    m_born += metrics;
  }
  for (const auto& metric : decoded.metrics()) {
    if (metric.is_historical()) ++m_historical;
  }
}
