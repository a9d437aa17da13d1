// A real mosquitto broker for the publisher's tests, a TCP relay in front of
// it that a test can cut and restore (the broker then sees the gateway's
// connection die and sends its will), and a libmosquitto subscriber that
// records what arrives.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

struct mosquitto;
struct mosquitto_message;

namespace mqtt_test {

constexpr auto kDeadline = std::chrono::seconds(30);

int FreePort();
// Waits until something accepts connections on the port.
bool WaitListening(int port);

// A child process in a process group of its own, ended with the group.
class Child {
 public:
  explicit Child(std::vector<std::string> argv);
  ~Child() { Stop(); }
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;
  void Stop();

 private:
  pid_t m_pid = -1;
};

class Broker {
 public:
  // anonymous: whether clients without a login are let in.
  explicit Broker(const std::filesystem::path& dir, bool anonymous = true);
  int Port() const { return m_port; }

 private:
  int m_port;
  std::unique_ptr<Child> m_process;
};

// socat, relaying one port to the broker's.
class Relay {
 public:
  explicit Relay(int brokerPort);
  int Port() const { return m_port; }
  void Cut() { m_process.reset(); }
  void Restore();

 private:
  int m_brokerPort;
  int m_port;
  std::unique_ptr<Child> m_process;
};

struct Received {
  std::string topic;
  std::string payload;
  bool retained = false;
};

class Subscriber {
 public:
  Subscriber(int port, const std::string& pattern);
  ~Subscriber();
  void Publish(const std::string& topic, const std::string& payload, bool retain = false);
  // The first message at or after *from that matches, its index in *from +
  // 1; false at the deadline.
  bool WaitFor(size_t* from, const std::function<bool(const Received&)>& match, Received* found);

 private:
  static void OnMessage(mosquitto*, void* self, const mosquitto_message* m);
  static void OnSubscribe(mosquitto*, void* self, int, int, const int*);
  mosquitto* m_mosq = nullptr;
  std::mutex m_mutex;
  std::condition_variable m_cv;
  std::vector<Received> m_messages;
  bool m_subscribed = false;
};

// Lets the gateway in and then confirms nothing it publishes: a broker that
// goes away between taking messages and acknowledging them.
class SilentBroker {
 public:
  SilentBroker();
  ~SilentBroker() { Close(); }
  SilentBroker(const SilentBroker&) = delete;
  SilentBroker& operator=(const SilentBroker&) = delete;
  int Port() const { return m_port; }
  // Ends the connection and takes no more.
  void Close();

 private:
  void Serve();
  int m_listener;
  int m_port;
  std::mutex m_mutex;
  int m_client = -1;
  bool m_closed = false;
  std::thread m_thread;
};

// Waits for a condition that nothing signals, such as a counter.
bool WaitUntil(const std::function<bool()>& condition);

}  // namespace mqtt_test
