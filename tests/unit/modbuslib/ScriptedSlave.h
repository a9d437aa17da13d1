// A slave of the test's own on a pseudo-terminal: each request frame that
// arrives is handed to a script, whose bytes (none for silence) go back.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "modbuslib/modbuslib.h"

class ScriptedSlave {
 public:
  using Bytes = std::vector<uint8_t>;
  using Script = std::function<Bytes(const Bytes& request)>;

  explicit ScriptedSlave(Script script);
  ~ScriptedSlave();
  ScriptedSlave(const ScriptedSlave&) = delete;
  ScriptedSlave& operator=(const ScriptedSlave&) = delete;

  // Maps a fresh COM number to the pseudo-terminal and returns it.
  int comPort() const { return comPort_; }
  // The test's own descriptor of the device the library opens, to look at its settings.
  int deviceFd() const { return slave_; }
  std::vector<Bytes> requests() const;
  // Waits until this many requests have arrived (a broadcast is finished for
  // the master before the slave sees it); the requests so far either way.
  std::vector<Bytes> waitForRequests(size_t count, std::chrono::milliseconds limit) const;

  // Helpers for scripts.
  static Bytes rtu(Bytes frameWithoutCrc);
  static Bytes ascii(const Bytes& body);       // LRC appended
  static Bytes asciiBody(const Bytes& frame);  // ":..LRC\r\n" back to bytes without LRC

 private:
  void serve();

  Script script_;
  int master_ = -1;
  int slave_ = -1;
  int comPort_ = 0;
  std::atomic<bool> stop_{false};
  mutable std::mutex mutex_;
  mutable std::condition_variable arrived_;
  std::vector<Bytes> requests_;
  std::thread thread_;
};

SerialSettings serialSettings8N1(uint32_t baud = 19200);
