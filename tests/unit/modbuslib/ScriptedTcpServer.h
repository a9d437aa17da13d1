// A Modbus/TCP server of the test's own on loopback: each request frame is
// handed to a script whose bytes go back; an empty answer means silence and
// a script may instead drop the connection.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

class ScriptedTcpServer {
 public:
  using Bytes = std::vector<uint8_t>;
  struct Reply {
    Bytes bytes;
    bool hangUp = false;
  };
  using Script = std::function<Reply(const Bytes& request)>;

  explicit ScriptedTcpServer(Script script);
  ~ScriptedTcpServer();
  ScriptedTcpServer(const ScriptedTcpServer&) = delete;
  ScriptedTcpServer& operator=(const ScriptedTcpServer&) = delete;

  int port() const { return port_; }
  int connections() const { return connections_; }
  std::vector<Bytes> requests() const;
  // The answer to a request: same transaction, protocol 0, given unit and PDU.
  static Bytes answer(const Bytes& request, uint8_t unit, const Bytes& pdu);

 private:
  void serve();
  bool serveClient(int client);

  Script script_;
  int listener_ = -1;
  int port_ = 0;
  std::atomic<bool> stop_{false};
  std::atomic<int> connections_{0};
  mutable std::mutex mutex_;
  std::vector<Bytes> requests_;
  std::thread thread_;
};
