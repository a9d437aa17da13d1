#include "mqtt/MqttSession.h"

#include <mosquitto.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <mutex>

namespace mqtt {

namespace {
constexpr unsigned kReconnectFirstSeconds = 1;
constexpr unsigned kReconnectMaxSeconds = 30;
constexpr const char* kSystemCaPath = "/etc/ssl/certs";
// QoS 1 and 2 messages on the wire awaiting the broker's confirmation.
// libmosquitto's 20 hold a fast publisher to one window per round trip;
// the rest wait in its memory all the same.
constexpr int kInFlightWindow = 500;
// Distinct library errors remembered between two accepted sessions; past
// that they are forgotten, so that texts that vary cannot grow the memory.
constexpr size_t kMaxRememberedLibraryErrors = 32;

void InitLibraryOnce() {
  static std::once_flag once;
  std::call_once(once, [] { mosquitto_lib_init(); });
}

bool Readable(const std::string& path) { return path.empty() || ::access(path.c_str(), R_OK) == 0; }
}  // namespace

MqttSession::MqttSession(MqttSettings settings, Handlers handlers)
    : m_settings(std::move(settings)), m_handlers(std::move(handlers)) {}

MqttSession::~MqttSession() {
  Stop();
  if (m_mosq != nullptr) mosquitto_destroy(m_mosq);
}

bool MqttSession::ConfigureTls(std::string* error) {
  for (const std::string* file : {&m_settings.caFile, &m_settings.certFile, &m_settings.keyFile}) {
    if (!Readable(*file)) {
      *error = "cannot read " + *file;
      return false;
    }
  }
  if (m_settings.certFile.empty() != m_settings.keyFile.empty()) {
    *error = "a client certificate needs its key, and a key its certificate";
    return false;
  }
  const char* ca = m_settings.caFile.empty() ? nullptr : m_settings.caFile.c_str();
  const char* caPath = ca == nullptr ? kSystemCaPath : nullptr;
  const char* cert = m_settings.certFile.empty() ? nullptr : m_settings.certFile.c_str();
  const char* key = m_settings.keyFile.empty() ? nullptr : m_settings.keyFile.c_str();
  const int rc = mosquitto_tls_set(m_mosq, ca, caPath, cert, key, nullptr);
  if (rc != MOSQ_ERR_SUCCESS) {
    *error = std::string("TLS settings refused: ") + mosquitto_strerror(rc);
    return false;
  }
  return true;
}

bool MqttSession::Configure(std::string* error) {
  mosquitto_int_option(
      m_mosq, MOSQ_OPT_PROTOCOL_VERSION,
      m_settings.protocol == ProtocolVersion::V5 ? MQTT_PROTOCOL_V5 : MQTT_PROTOCOL_V311);
  mosquitto_int_option(m_mosq, MOSQ_OPT_SEND_MAXIMUM, kInFlightWindow);
  mosquitto_reconnect_delay_set(m_mosq, kReconnectFirstSeconds, kReconnectMaxSeconds, true);
  // The v5 callback: an MQTT 5 broker refuses with a reason code, which
  // the 3.1.1 connack texts do not know.
  mosquitto_connect_v5_callback_set(m_mosq, &MqttSession::OnConnect);
  mosquitto_log_callback_set(m_mosq, &MqttSession::OnLog);
  mosquitto_disconnect_callback_set(m_mosq, &MqttSession::OnDisconnect);
  mosquitto_publish_callback_set(m_mosq, &MqttSession::OnPublish);
  mosquitto_message_callback_set(m_mosq, &MqttSession::OnMessage);
  if (!m_settings.username.empty()) {
    const char* password = m_settings.password.empty() ? nullptr : m_settings.password.c_str();
    if (mosquitto_username_pw_set(m_mosq, m_settings.username.c_str(), password) !=
        MOSQ_ERR_SUCCESS) {
      *error = "the user name or password cannot be sent";
      return false;
    }
  }
  return !m_settings.tls || ConfigureTls(error);
}

bool MqttSession::Start(std::string* error) {
  InitLibraryOnce();
  m_mosq = mosquitto_new(m_settings.clientId.c_str(), true, this);
  if (m_mosq == nullptr) {
    *error = "cannot make an MQTT client";
    return false;
  }
  if (!Configure(error)) return false;
  SetWill();
  mosquitto_threaded_set(m_mosq, true);
  // A broker that cannot be reached yet is no error: the network thread
  // keeps trying.
  mosquitto_connect_async(m_mosq, m_settings.host.c_str(), m_settings.port,
                          m_settings.keepAliveSeconds);
  m_network = std::thread([this] { RunNetwork(); });
  return true;
}

// libmosquitto's loop retries a lost connection by itself, but gives up for
// good on what it takes as fatal: a failed TLS handshake, a protocol error,
// a refused login. An unattended gateway must go on trying (a certificate
// may be mended at the broker), so the loop is entered again after a
// growing pause. The stop lock is held across the reconnect, so that a
// Stop in between cannot be undone by it.
void MqttSession::RunNetwork() {
  unsigned pause = kReconnectFirstSeconds;
  while (true) {
    mosquitto_loop_forever(m_mosq, -1, 1);
    // The pauses grow over failures in a row, not over a gateway's life.
    if (m_accepted.exchange(false)) pause = kReconnectFirstSeconds;
    std::unique_lock lock(m_stopMutex);
    if (m_stopWake.wait_for(lock, std::chrono::seconds(pause), [this] { return m_stopping; }))
      return;
    pause = std::min(pause * 2, kReconnectMaxSeconds);
    mosquitto_reconnect_async(m_mosq);
  }
}

void MqttSession::Stop() {
  if (!m_network.joinable()) return;
  {
    std::lock_guard lock(m_stopMutex);
    m_stopping = true;
    mosquitto_disconnect(m_mosq);
  }
  m_stopWake.notify_all();
  m_network.join();
}

void MqttSession::EndSession() {
  std::lock_guard lock(m_stopMutex);
  if (!m_stopping) mosquitto_disconnect(m_mosq);
}

void MqttSession::SetWill() {
  const OutgoingMessage will = m_handlers.will();
  mosquitto_will_set(m_mosq, will.topic.c_str(), static_cast<int>(will.payload.size()),
                     will.payload.data(), m_settings.qos, will.retain);
}

bool MqttSession::Publish(const OutgoingMessage& message, int* mid) {
  const int rc = mosquitto_publish(m_mosq, mid, message.topic.c_str(),
                                   static_cast<int>(message.payload.size()), message.payload.data(),
                                   m_settings.qos, message.retain);
  // Without a connection, libmosquitto still queues a QoS 1 or 2 message and
  // sends it after the reconnect: it has been handed over all the same.
  const bool queued = rc == MOSQ_ERR_NO_CONN && m_settings.qos > 0;
  if (rc != MOSQ_ERR_SUCCESS && !queued) return false;
  ++m_published;
  return true;
}

bool MqttSession::Subscribe(const std::string& pattern) {
  return mosquitto_subscribe(m_mosq, nullptr, pattern.c_str(), m_settings.qos) == MOSQ_ERR_SUCCESS;
}

uint64_t MqttSession::Outstanding() const {
  const uint64_t done = m_done;
  const uint64_t handedOver = m_published;
  return handedOver > done ? handedOver - done : 0;
}

void MqttSession::OnConnect(mosquitto*, void* self, int rc, int, const mqtt5__property*) {
  auto* session = static_cast<MqttSession*>(self);
  if (rc == 0) {
    {
      std::lock_guard lock(session->m_libraryErrorMutex);
      session->m_loggedLibraryErrors.clear();
    }
    // A reconnect drops the QoS 0 messages the last connection had not
    // written, without a word: none of them is waiting any more.
    if (session->m_settings.qos == 0) session->m_done = session->m_published.load();
    session->m_accepted = true;
    session->m_handlers.connected();
    return;
  }
  const char* reason = session->m_settings.protocol == ProtocolVersion::V5
                           ? mosquitto_reason_string(rc)
                           : mosquitto_connack_string(rc);
  session->m_handlers.refused(std::string("the broker refused the connection: ") + reason);
}

// libmosquitto says why a TLS handshake failed only in its log, in one line
// or several, and says it again at every reconnect: once is enough until a
// session is accepted.
void MqttSession::OnLog(mosquitto*, void* self, int level, const char* text) {
  if (level != MOSQ_LOG_ERR || text == nullptr) return;
  auto* session = static_cast<MqttSession*>(self);
  {
    std::lock_guard lock(session->m_libraryErrorMutex);
    auto& logged = session->m_loggedLibraryErrors;
    if (logged.contains(text)) return;
    if (logged.size() >= kMaxRememberedLibraryErrors) logged.clear();
    logged.insert(text);
  }
  session->m_handlers.libraryError(text);
}

void MqttSession::OnDisconnect(mosquitto*, void* self, int rc) {
  auto* session = static_cast<MqttSession*>(self);
  session->m_handlers.disconnected(rc == 0
                                       ? std::string("disconnected")
                                       : std::string("connection lost: ") + mosquitto_strerror(rc));
  // The next attempt must carry the next session's death certificate.
  session->SetWill();
}

void MqttSession::OnPublish(mosquitto*, void* self, int mid) {
  auto* session = static_cast<MqttSession*>(self);
  ++session->m_done;
  if (session->m_settings.qos == 0) {
    session->m_handlers.written(session->Outstanding());
    return;
  }
  ++session->m_acknowledged;
  session->m_handlers.acknowledged(mid);
}

void MqttSession::OnMessage(mosquitto*, void* self, const mosquitto_message* message) {
  auto* session = static_cast<MqttSession*>(self);
  std::string payload;
  if (message->payloadlen > 0) {
    payload.assign(static_cast<const char*>(message->payload),
                   static_cast<size_t>(message->payloadlen));
  }
  session->m_handlers.message(message->topic, std::move(payload));
}

}  // namespace mqtt
