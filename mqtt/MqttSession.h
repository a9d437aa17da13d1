// One client connection to the broker through libmosquitto: its network
// thread, TLS and login, and the reconnects with growing pauses. The will is
// asked for before every connect, so each attempt carries the current one.
// The handlers run on libmosquitto's thread and must not call back into the
// session while holding a lock that a publishing thread holds.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <set>
#include <string>
#include <thread>

#include "mqtt/MqttSettings.h"

struct mosquitto;
struct mosquitto_message;
struct mqtt5__property;

namespace mqtt {

struct OutgoingMessage {
  std::string topic;
  std::string payload;
  bool retain = false;
};

class MqttSession {
 public:
  struct Handlers {
    std::function<void()> connected;
    // A session that ended, and a connect the broker refused; text says why.
    std::function<void(const std::string& text)> disconnected;
    std::function<void(const std::string& text)> refused;
    std::function<void(const std::string& topic, std::string payload)> message;
    // A QoS 1 or 2 message the broker confirmed, by the mid Publish gave.
    std::function<void(int mid)> acknowledged;
    // A QoS 0 message libmosquitto has written to the connection, and how
    // many it still holds.
    std::function<void(uint64_t outstanding)> written;
    std::function<OutgoingMessage()> will;
    // An error libmosquitto reported itself, such as a failed TLS handshake;
    // each text once until the broker accepts a session.
    std::function<void(const std::string& text)> libraryError;
  };

  MqttSession(MqttSettings settings, Handlers handlers);
  ~MqttSession();
  MqttSession(const MqttSession&) = delete;
  MqttSession& operator=(const MqttSession&) = delete;

  bool Start(std::string* error);
  // Disconnects cleanly (the broker drops the will) and ends the thread.
  void Stop();
  // Disconnects cleanly and connects again after the first pause.
  void EndSession();
  // Handed to the broker, or at QoS 1 and 2 queued by libmosquitto for the
  // next connection; false when the message is lost. mid, when given, is
  // the number the broker's confirmation will carry.
  bool Publish(const OutgoingMessage& message, int* mid = nullptr);
  bool Subscribe(const std::string& pattern);

  uint64_t Published() const { return m_published; }
  uint64_t Acknowledged() const { return m_acknowledged; }
  // Messages handed over and still in libmosquitto's memory: at QoS 1 and 2
  // not yet confirmed, at QoS 0 not yet written.
  uint64_t Outstanding() const;

 private:
  static void OnConnect(mosquitto*, void* self, int rc, int flags,
                        const mqtt5__property* properties);
  static void OnLog(mosquitto*, void* self, int level, const char* text);
  static void OnDisconnect(mosquitto*, void* self, int rc);
  static void OnPublish(mosquitto*, void* self, int mid);
  static void OnMessage(mosquitto*, void* self, const mosquitto_message* message);
  bool Configure(std::string* error);
  bool ConfigureTls(std::string* error);
  void SetWill();
  void RunNetwork();

  MqttSettings m_settings;
  Handlers m_handlers;
  mosquitto* m_mosq = nullptr;
  std::thread m_network;
  std::mutex m_stopMutex;
  std::condition_variable m_stopWake;
  bool m_stopping = false;
  std::mutex m_libraryErrorMutex;
  std::set<std::string> m_loggedLibraryErrors;
  std::atomic<uint64_t> m_published{0};
  // Confirmed, or at QoS 0 written or dropped by a reconnect.
  std::atomic<uint64_t> m_done{0};
  std::atomic<uint64_t> m_acknowledged{0};
  // A session was accepted since the network loop last ended.
  std::atomic<bool> m_accepted{false};
};

}  // namespace mqtt
