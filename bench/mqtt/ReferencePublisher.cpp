#include "ReferencePublisher.h"

#include <mosquitto.h>

#include <chrono>
#include <stdexcept>

#include "sparkplug_b.pb.h"

namespace {

constexpr int kKeepAliveSeconds = 30;
// Unconfirmed messages allowed at once: enough to keep the connection busy.
constexpr uint64_t kWindow = 1000;
constexpr auto kLastConfirmations = std::chrono::seconds(30);
constexpr uint32_t kFloat = 9;
constexpr uint32_t kInt32 = 3;
constexpr uint32_t kGoodQuality = 192;
constexpr int kSeqModulo = 256;

uint64_t NowMs() {
  return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                   std::chrono::system_clock::now().time_since_epoch())
                                   .count());
}

std::string TagName(uint64_t n) { return "BENCH.NODE1.4" + std::to_string(10000 + n % 50000); }

}  // namespace

ReferencePublisher::ReferencePublisher(int port, int qos) : m_qos(qos) {
  m_client = mosquitto_new("pelmoran-bench-reference", true, this);
  if (m_client == nullptr) throw std::runtime_error("mosquitto_new failed");
  mosquitto_publish_callback_set(m_client, &ReferencePublisher::OnPublish);
  mosquitto_max_inflight_messages_set(m_client, static_cast<unsigned int>(kWindow));
  if (mosquitto_connect(m_client, "127.0.0.1", port, kKeepAliveSeconds) != MOSQ_ERR_SUCCESS ||
      mosquitto_loop_start(m_client) != MOSQ_ERR_SUCCESS) {
    mosquitto_destroy(m_client);
    throw std::runtime_error("cannot reach the broker");
  }
}

ReferencePublisher::~ReferencePublisher() {
  mosquitto_disconnect(m_client);
  mosquitto_loop_stop(m_client, false);
  mosquitto_destroy(m_client);
}

ReferenceResult ReferencePublisher::Run(CountedFormat format, int metricsPerMessage,
                                        double seconds) {
  ReferenceResult result;
  const auto start = std::chrono::steady_clock::now();
  const auto end = start + std::chrono::duration<double>(seconds);
  while (std::chrono::steady_clock::now() < end) {
    WaitForRoom();
    const bool sparkplug = format == CountedFormat::Sparkplug;
    const std::string payload = sparkplug ? SparkplugPayload(metricsPerMessage, result.messages)
                                          : JsonPayload(result.messages);
    const std::string topic = sparkplug ? "spBv1.0/reference/DDATA/bench/BENCH"
                                        : "reference/BENCH/" + TagName(result.messages);
    mosquitto_publish(m_client, nullptr, topic.c_str(), static_cast<int>(payload.size()),
                      payload.data(), m_qos, !sparkplug);
    ++result.messages;
    result.bytes += payload.size();
  }
  WaitForAll();
  result.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  return result;
}

void ReferencePublisher::WaitForRoom() {
  std::unique_lock lock(m_mutex);
  ++m_published;
  if (m_qos == 0) return;
  m_acknowledged.wait(lock, [this] { return m_published - m_confirmed <= kWindow; });
}

// Disconnecting with messages still queued would lose them: they count as sent.
void ReferencePublisher::WaitForAll() {
  if (m_qos == 0) return;
  std::unique_lock lock(m_mutex);
  m_acknowledged.wait_for(lock, kLastConfirmations, [this] { return m_confirmed == m_published; });
}

void ReferencePublisher::OnPublish(mosquitto*, void* self, int) {
  auto* publisher = static_cast<ReferencePublisher*>(self);
  {
    std::lock_guard lock(publisher->m_mutex);
    ++publisher->m_confirmed;
  }
  publisher->m_acknowledged.notify_one();
}

std::string ReferencePublisher::SparkplugPayload(int metrics, uint64_t seq) {
  org::eclipse::tahu::protobuf::Payload payload;
  const uint64_t now = NowMs();
  payload.set_timestamp(now);
  payload.set_seq(seq % kSeqModulo);
  for (int k = 0; k < metrics; ++k) {
    auto* metric = payload.add_metrics();
    metric->set_name(TagName(seq * static_cast<uint64_t>(metrics) + static_cast<uint64_t>(k)));
    metric->set_timestamp(now);
    metric->set_datatype(kFloat);
    metric->set_float_value(static_cast<float>(k));
    auto* properties = metric->mutable_properties();
    properties->add_keys("Quality");
    auto* quality = properties->add_values();
    quality->set_type(kInt32);
    quality->set_int_value(kGoodQuality);
  }
  return payload.SerializeAsString();
}

std::string ReferencePublisher::JsonPayload(uint64_t n) {
  return R"({"value": )" + std::to_string(n % 65536) +
         R"(, "quality": "good", "status": "0x00000000", "timestamp": "2026-12-07T18:00:00.123Z"})";
}
