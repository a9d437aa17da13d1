// A libmodbus Modbus/TCP server on loopback whose holding registers change at
// every read: after each answer every register is incremented, so every poll
// of the gateway sees every tag it reads change. The registers answered are
// counted: they are the changes offered to the gateway.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

class ChangingSlave {
 public:
  explicit ChangingSlave(int registers);
  ~ChangingSlave();
  ChangingSlave(const ChangingSlave&) = delete;
  ChangingSlave& operator=(const ChangingSlave&) = delete;

  int Port() const { return m_port; }
  uint64_t RegistersRead() const { return m_registersRead; }

 private:
  void AcceptClients();
  void ServeClient(int socket);
  void Changed(int answerLength);

  void* m_mapping = nullptr;  // modbus_mapping_t
  int m_registers = 0;
  int m_listener = -1;
  int m_port = 0;
  std::atomic<bool> m_stop{false};
  std::atomic<uint64_t> m_registersRead{0};
  std::mutex m_mutex;  // the mapping, shared by every client's thread
  std::vector<std::thread> m_clients;
  std::thread m_acceptor;
};
