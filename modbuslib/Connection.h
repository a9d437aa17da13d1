// One open connection: the caller's side (start a request, fetch its
// response, close) and the I/O thread's side (send each exchange, match the
// answer, time out). A transport supplies only the moving of bytes.
#pragma once

#include <asio.hpp>
#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "modbuslib/Framer.h"
#include "modbuslib/RequestPlan.h"
#include "modbuslib/modbuslib.h"

namespace mbl {

class LineServer;

class Connection : public std::enable_shared_from_this<Connection> {
 public:
  Connection(asio::io_context& io, int handle, Dialect dialect, int timeoutMs,
             std::unique_ptr<Framer> framer);
  virtual ~Connection() = default;
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  int handle() const { return handle_; }
  bool isOpen() const { return !closed_; }

  // Caller's thread.
  int submit(const RequestHeader* header, const uint16_t* data, bool write);
  int fetch(RequestHeader* header, uint16_t* data, int capacity);
  // When the result fetch gives was settled, as FILETIME ticks.
  int fetchTime(int64_t* settledAt);
  void setCallback(ModbusCallback callback);
  ModbusCallback callback() const;
  ModbusCounters counters() const;
  // No callback follows once the connection is marked closed.
  void markClosed();
  // Marks it closed and releases its device or socket before returning; waits
  // for the I/O thread unless called on it.
  void close();

  // Caller's thread: how often a request that got no answer in time is sent
  // again before it times out (datagrams may be lost), and how long the line
  // stays quiet between one exchange and the next (slow devices).
  void setRetries(int retries);
  void setPause(std::chrono::milliseconds pause);

  // I/O thread: begins the transport's own work (connecting, reading).
  virtual void start() = 0;

  // Whether other masters may share it: a serial framing, on a port or a network.
  bool sharable() const { return serialLine(); }
  // Caller's thread: the server of the other masters, stopped with the connection.
  void share(std::shared_ptr<LineServer> server);
  // I/O thread: a checked request PDU of another master, put on the line in
  // turn with the caller's requests. done gets 0 and the slave's answer PDU
  // (an exception answer included), or the status that ended the exchange.
  using ForwardDone = std::function<void(int status, std::vector<uint8_t> answer)>;
  void forward(const Exchange& ex, std::vector<uint8_t> pdu, ForwardDone done);

 protected:
  virtual bool linkUp() const = 0;
  virtual bool serialLine() const = 0;
  // I/O thread: put a frame on the wire; call sent() when it has gone.
  virtual void transmit(std::vector<uint8_t> frame) = 0;
  virtual void shutdown() = 0;
  // I/O thread: the exchange on the wire got no answer in time.
  virtual void exchangeTimedOut() {}
  // I/O thread: the request has not gone out yet, the line being busy.
  virtual bool requestHeld() const { return false; }
  // I/O thread: how long the line must stay quiet after an answer that may be
  // a copy (see mayBeCopy) before it is taken; zero where frames carry ids.
  virtual std::chrono::microseconds settleTime() const { return {}; }
  // I/O thread: whether the answer just parsed kept the stream in step.
  virtual void framingChecked(bool /*inStep*/) {}

  // I/O thread, for the transports.
  void received(const uint8_t* bytes, size_t size);
  void sent(bool ok);
  void failOutstanding(int status);
  const Framer& framer() const { return *framer_; }
  int timeoutMs() const { return timeoutMs_; }
  const Expectation& expectation() const { return expect_; }
  // Whether the exchange being sent is one that the slave answers.
  bool awaitingAnswer() const { return awaiting_; }
  // The time limit of the exchange runs from now: for a request that had to
  // wait for the line before it could go out.
  void armTimer();
  void countDiscarded() { ++counters_.discarded; }

 private:
  struct Job {
    RequestHeader header{};
    RequestPlan plan;
    std::vector<uint16_t> words;
    size_t step = 0;
    // Another master's request: sent as it came, its answer handed to done.
    ForwardDone done;
    Exchange forwarded;
    std::vector<uint8_t> pdu;
  };
  // Updated on the I/O thread, read by the caller's.
  struct Counters {
    std::atomic<uint32_t> requests{0};
    std::atomic<uint32_t> answers{0};
    std::atomic<uint32_t> timeouts{0};
    std::atomic<uint32_t> checksumErrors{0};
    std::atomic<uint32_t> invalidResponses{0};
    std::atomic<uint32_t> discarded{0};
    std::atomic<uint32_t> linkLosses{0};
  };
  struct Result {
    int status = MBS_UNINITIALIZED;
    RequestHeader header{};
    std::vector<uint16_t> words;
    int64_t settledAt = 0;
  };

  int accept(const RequestHeader& header, const uint16_t* data, bool write, Job& job);
  void begin(Job job);
  void run(Job job);
  void startNext();
  const Exchange& current() const;
  void forwardDone(int status, std::vector<uint8_t> answer);
  void sendExchange();
  void waitForDeadline();
  bool resend();
  void settled(const FrameResult& frame);
  void answer(const FrameResult& frame);
  bool mayBeCopy(const FrameResult& frame) const;
  void hold(FrameResult frame);
  void takeHeld();
  void stray(const uint8_t* bytes, size_t size);
  void count(int status);
  void stepDone(int status);
  void finish(int status);

  asio::io_context& io_;
  const int handle_;
  const Dialect dialect_;
  const int timeoutMs_;
  std::unique_ptr<Framer> framer_;
  std::atomic<bool> closed_{false};
  Counters counters_;

  mutable std::mutex mutex_;  // guards the caller's side below
  bool busy_ = false;
  bool hasResult_ = false;
  Result result_;
  ModbusCallback callback_ = nullptr;

  // I/O thread only.
  Job job_;
  bool running_ = false;      // job_ is on its way
  std::deque<Job> waiting_;   // the caller's and other masters' requests, in turn
  std::shared_ptr<LineServer> server_;
  bool active_ = false;    // an exchange is on the wire
  bool awaiting_ = false;  // its answer is still due
  bool timerPending_ = false;
  std::chrono::steady_clock::time_point deadline_{};
  Expectation expect_;
  std::vector<uint8_t> rx_;
  asio::steady_timer timer_;
  // A serial answer carries no id: one that repeats the line's last answer
  // word for word, though asked by another request, may be that answer sent
  // twice, so it is held until the line has settled.
  std::vector<uint8_t> asking_;      // node and PDU of the request on the wire
  std::vector<uint8_t> lastAsked_;   // ...of the one that got the last answer
  std::vector<uint8_t> lastAnswer_;  // node and PDU of that answer
  std::optional<FrameResult> held_;
  asio::steady_timer settleTimer_;
  // Modbus/TCP: a request timed out and its answer may still come.
  bool lateAnswerDue_ = false;
  int retries_ = 0;
  int retriesLeft_ = 0;
  std::vector<uint8_t> sentFrame_;  // kept for a resend
  std::chrono::milliseconds pause_{0};
  std::chrono::steady_clock::time_point pauseUntil_{};
  asio::steady_timer pauseTimer_;
};

}  // namespace mbl
