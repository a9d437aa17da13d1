// A Modbus ASCII slave for the benchmark, since libmodbus has none: node 1,
// read holding registers (function 3) only, over 4000 registers where
// register n holds n. Anything else is refused with an exception; frames
// with a bad LRC or for another node go unanswered, as on a real line.
#pragma once

#include <atomic>
#include <string>
#include <string_view>
#include <thread>

namespace bench {

class AsciiSlave {
 public:
  static constexpr int kNode = 1;
  static constexpr int kRegisters = 4000;

  // Throws std::runtime_error when the device cannot be opened.
  explicit AsciiSlave(const std::string& device);
  ~AsciiSlave();
  AsciiSlave(const AsciiSlave&) = delete;
  AsciiSlave& operator=(const AsciiSlave&) = delete;

  long answered() const { return answered_; }

  // The whole answer (":" ... CR LF) to the hex digits of one request frame,
  // taken without its ":" and CR LF; empty when no answer is due.
  static std::string answer(std::string_view digits);

 private:
  void serve();
  void answerFrames();

  int fd_ = -1;
  std::string received_;
  std::atomic<bool> stop_{false};
  std::atomic<long> answered_{0};
  std::thread server_;
};

}  // namespace bench
