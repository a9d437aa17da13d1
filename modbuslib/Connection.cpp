#include "modbuslib/Connection.h"

#include <algorithm>
#include <chrono>
#include <future>

#include "modbuslib/Library.h"
#include "modbuslib/LineServer.h"
#include "modbuslib/PduCodec.h"

namespace mbl {

namespace {
constexpr int kDefaultTimeoutMs = 2000;
// Bytes kept from a Modbus/TCP stream while no answer is due: more than any
// frame, so a late answer that arrives between requests is still skipped whole.
constexpr size_t kMaxStrayStream = 1024;
constexpr int64_t kUnixEpochTicks = 116444736000000000LL;  // 1601-01-01 to 1970-01-01
constexpr int64_t kNanosecondsPerTick = 100;

// Whether a frame carries this node and PDU.
bool Carries(const FrameResult& frame, const std::vector<uint8_t>& content) {
  return content.size() == frame.pdu.size() + 1 && content[0] == frame.address &&
         std::equal(frame.pdu.begin(), frame.pdu.end(), content.begin() + 1);
}

int64_t FileTimeNow() {
  auto since = std::chrono::system_clock::now().time_since_epoch();
  return std::chrono::duration_cast<std::chrono::nanoseconds>(since).count() / kNanosecondsPerTick +
         kUnixEpochTicks;
}
}  // namespace

Connection::Connection(asio::io_context& io, int handle, Dialect dialect, int timeoutMs,
                       std::unique_ptr<Framer> framer)
    : io_(io),
      handle_(handle),
      dialect_(dialect),
      timeoutMs_(timeoutMs > 0 ? timeoutMs : kDefaultTimeoutMs),
      framer_(std::move(framer)),
      timer_(io),
      settleTimer_(io),
      pauseTimer_(io) {}

void Connection::setRetries(int retries) {
  asio::post(io_, [self = shared_from_this(), retries] { self->retries_ = std::max(retries, 0); });
}

void Connection::setPause(std::chrono::milliseconds pause) {
  asio::post(io_, [self = shared_from_this(), pause] { self->pause_ = pause; });
}

int Connection::accept(const RequestHeader& header, const uint16_t* data, bool write, Job& job) {
  // Reads go through PollMODBUS, writes through WriteMODBUS.
  if (write != (header.function > 4)) return MBS_INVALID_COMMAND;
  if (int status = RequestPlan::build(header, dialect_, serialLine(), job.plan)) return status;
  if (write && data == nullptr) return MBS_WRITE_FAILURE;
  job.header = header;
  job.words.assign(header.length, 0);
  if (write) std::copy(data, data + header.length, job.words.begin());
  return MBS_OK;
}

int Connection::submit(const RequestHeader* header, const uint16_t* data, bool write) {
  if (header == nullptr) return MBS_INVALID_COMMAND;
  Job job;
  if (int status = accept(*header, data, write, job)) return status;
  {
    std::lock_guard lock(mutex_);
    if (closed_) return MBS_INVALID_HANDLE;
    if (busy_) return MBS_MSG_OVERRUN;
    if (!linkUp()) return MBS_SVR_NOT_CONNECTED;
    busy_ = true;
    hasResult_ = false;
  }
  if (io_.get_executor().running_in_this_thread()) {
    // From a callback: the previous request is wholly finished, so the next
    // one may start straight away.
    begin(std::move(job));
  } else {
    asio::post(io_, [self = shared_from_this(), job = std::move(job)]() mutable {
      self->begin(std::move(job));
    });
  }
  return MBS_OK;
}

int Connection::fetch(RequestHeader* header, uint16_t* data, int capacity) {
  std::lock_guard lock(mutex_);
  if (!hasResult_) return MBS_UNINITIALIZED;
  if (header != nullptr) *header = result_.header;
  if (data != nullptr && capacity > 0) {
    const size_t n = std::min(result_.words.size(), static_cast<size_t>(capacity));
    std::copy_n(result_.words.begin(), n, data);
  }
  return result_.status;
}

int Connection::fetchTime(int64_t* settledAt) {
  std::lock_guard lock(mutex_);
  if (!hasResult_) return MBS_UNINITIALIZED;
  if (settledAt != nullptr) *settledAt = result_.settledAt;
  return MBS_OK;
}

void Connection::setCallback(ModbusCallback callback) {
  std::lock_guard lock(mutex_);
  callback_ = callback;
}

ModbusCallback Connection::callback() const {
  std::lock_guard lock(mutex_);
  return callback_;
}

ModbusCounters Connection::counters() const {
  return ModbusCounters{counters_.requests,       counters_.answers,          counters_.timeouts,
                        counters_.checksumErrors, counters_.invalidResponses, counters_.discarded,
                        counters_.linkLosses};
}

void Connection::markClosed() { closed_ = true; }

void Connection::close() {
  closed_ = true;
  auto release = [self = shared_from_this()] {
    self->active_ = false;
    self->awaiting_ = false;
    self->held_.reset();
    self->timer_.cancel();
    self->settleTimer_.cancel();
    self->pauseTimer_.cancel();
    self->waiting_.clear();
    if (self->server_) self->server_->stop();
    self->shutdown();
  };
  if (io_.get_executor().running_in_this_thread()) {
    release();
    return;
  }
  // The device or socket is free when this returns, so it can be opened again at once.
  std::promise<void> released;
  asio::post(io_, [&released, release] {
    release();
    released.set_value();
  });
  released.get_future().wait();
}

void Connection::share(std::shared_ptr<LineServer> server) {
  asio::post(io_, [self = shared_from_this(), server = std::move(server)]() mutable {
    if (self->server_) self->server_->stop();
    if (self->closed_) {
      server->stop();
      return;
    }
    self->server_ = std::move(server);
  });
}

void Connection::forward(const Exchange& ex, std::vector<uint8_t> pdu, ForwardDone done) {
  if (closed_ || !linkUp()) {
    done(MBS_SVR_NOT_CONNECTED, {});
    return;
  }
  Job job;
  job.done = std::move(done);
  job.forwarded = ex;
  job.pdu = std::move(pdu);
  begin(std::move(job));
}

void Connection::begin(Job job) {
  if (closed_) return;
  // One exchange on the line at a time; the others wait their turn in order.
  if (running_ || !waiting_.empty()) {
    waiting_.push_back(std::move(job));
    return;
  }
  run(std::move(job));
}

void Connection::run(Job job) {
  running_ = true;
  job_ = std::move(job);
  sendExchange();
}

void Connection::startNext() {
  if (running_ || waiting_.empty() || closed_) return;
  Job next = std::move(waiting_.front());
  waiting_.pop_front();
  run(std::move(next));
}

const Exchange& Connection::current() const {
  return job_.done ? job_.forwarded : job_.plan.exchanges()[job_.step];
}

void Connection::sendExchange() {
  if (std::chrono::steady_clock::now() < pauseUntil_) {
    pauseTimer_.expires_at(pauseUntil_);
    pauseTimer_.async_wait([self = shared_from_this()](const asio::error_code& ec) {
      if (!ec && !self->closed_) self->sendExchange();
    });
    return;
  }
  const Exchange& ex = current();
  const std::vector<uint8_t> pdu =
      job_.done ? job_.pdu : PduCodec::encode(ex, job_.words.data() + ex.firstWord);
  // A serial line starts each exchange afresh; a Modbus/TCP stream keeps
  // what came meanwhile, so that a late answer there is skipped whole.
  if (serialLine()) rx_.clear();
  held_.reset();
  asking_.assign(1, ex.slave);
  asking_.insert(asking_.end(), pdu.begin(), pdu.end());
  expect_ = Expectation{ex.slave, ex.function, PduCodec::answerLength(ex)};
  active_ = true;
  awaiting_ = !job_.plan.broadcast();
  retriesLeft_ = retries_;
  ++counters_.requests;
  // The time limit runs from the start, so a transmission that never ends still finishes.
  armTimer();
  std::vector<uint8_t> frame = framer_->encode(ex.slave, pdu);
  Library::instance().trace(handle_, MBS_TRACE_SENT, frame.data(), frame.size());
  if (retries_ > 0) sentFrame_ = frame;
  transmit(std::move(frame));
}

bool Connection::resend() {
  if (retriesLeft_ <= 0 || !awaiting_ || held_ || requestHeld()) return false;
  --retriesLeft_;
  // A part of the lost answer cannot begin the answer to the resend; the
  // whole lost answer, coming late, is an answer to the same request.
  rx_.clear();
  armTimer();
  std::vector<uint8_t> frame = sentFrame_;
  Library::instance().trace(handle_, MBS_TRACE_SENT, frame.data(), frame.size());
  transmit(std::move(frame));
  return true;
}

void Connection::armTimer() {
  deadline_ = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs_);
  // A wait already pending moves on to the new deadline when it fires, which
  // spares re-arming the timer for every exchange.
  if (!timerPending_) waitForDeadline();
}

void Connection::waitForDeadline() {
  timerPending_ = true;
  timer_.expires_at(deadline_);
  timer_.async_wait([self = shared_from_this()](const asio::error_code& ec) {
    self->timerPending_ = false;
    if (ec || !self->active_ || self->closed_) return;
    // A request still waiting for the line has its whole time-out ahead.
    if (self->requestHeld()) {
      self->deadline_ =
          std::chrono::steady_clock::now() + std::chrono::milliseconds(self->timeoutMs_);
    }
    if (std::chrono::steady_clock::now() < self->deadline_) {
      self->waitForDeadline();
      return;
    }
    if (self->held_) {
      self->takeHeld();  // nothing followed it in the whole time-out
      return;
    }
    if (self->resend()) return;
    self->awaiting_ = false;
    self->lateAnswerDue_ = true;
    // Part of an answer that never finished cannot begin the next one.
    self->rx_.clear();
    ++self->counters_.timeouts;
    self->exchangeTimedOut();
    self->stepDone(MBS_POLL_TIMEOUT);
  });
}

void Connection::sent(bool ok) {
  if (!active_ || closed_) return;
  if (!ok) {
    awaiting_ = false;
    stepDone(MBS_WRITE_FAILURE);
  } else if (!awaiting_) {
    stepDone(MBS_OK);
  }
}

void Connection::received(const uint8_t* bytes, size_t size) {
  if (closed_) return;
  Library::instance().trace(handle_, MBS_TRACE_RECEIVED, bytes, size);
  if (!awaiting_) {
    stray(bytes, size);
    return;
  }
  rx_.insert(rx_.end(), bytes, bytes + size);
  for (;;) {
    FrameResult frame = framer_->parse(rx_, expect_);
    counters_.discarded += frame.dropped;
    rx_.erase(rx_.begin(), rx_.begin() + static_cast<long>(frame.consumed));
    if (frame.kind == FrameResult::Kind::Incomplete) break;
    if (frame.kind == FrameResult::Kind::Frame && mayBeCopy(frame)) {
      held_ = std::move(frame);
      continue;
    }
    settled(frame);
    return;
  }
  if (!held_) return;
  // Bytes still coming put the moment off: the answer may be among them.
  settleTimer_.expires_after(settleTime());
  settleTimer_.async_wait([self = shared_from_this()](const asio::error_code& ec) {
    if (!ec && self->held_ && self->awaiting_ && !self->closed_) self->takeHeld();
  });
}

bool Connection::mayBeCopy(const FrameResult& frame) const {
  if (!serialLine() || held_) return false;
  // The line echoing the request back, or the last answer coming again
  // (a slave or converter that sends each answer twice): the real answer
  // follows it. A repeat asked by the same request is taken, as its data
  // are the ones asked for.
  return Carries(frame, asking_) || (Carries(frame, lastAnswer_) && asking_ != lastAsked_);
}

void Connection::takeHeld() {
  const FrameResult frame = std::move(*held_);
  held_.reset();
  settled(frame);
}

void Connection::settled(const FrameResult& frame) {
  settleTimer_.cancel();
  if (held_) {
    // Another answer followed the one held: that one was a copy.
    ++counters_.discarded;
    held_.reset();
  }
  awaiting_ = false;
  framingChecked(frame.kind == FrameResult::Kind::Frame);
  if (frame.kind == FrameResult::Kind::Error) {
    count(frame.status);
    stepDone(frame.status);
  } else {
    answer(frame);
  }
}

void Connection::stray(const uint8_t* bytes, size_t size) {
  // Nothing is due: on a serial line this is a late answer or noise. A
  // Modbus/TCP stream is kept for the next exchange to skip frame by frame
  // while a late answer may come; after an answer nothing more belongs to it.
  if (serialLine() || !lateAnswerDue_) {
    ++counters_.discarded;
    return;
  }
  if (rx_.size() + size > kMaxStrayStream) {
    ++counters_.discarded;
    rx_.clear();
  }
  rx_.insert(rx_.end(), bytes, bytes + size);
}

void Connection::answer(const FrameResult& frame) {
  const Exchange& ex = current();
  lastAsked_ = asking_;
  lastAnswer_.assign(1, frame.address);
  lastAnswer_.insert(lastAnswer_.end(), frame.pdu.begin(), frame.pdu.end());
  lateAnswerDue_ = false;
  // One request is outstanding at a time, so bytes after its answer belong to
  // no exchange (junk a slave appends); kept, they would spoil the next one.
  if (!rx_.empty()) {
    ++counters_.discarded;
    rx_.clear();
  }
  int status = MBS_INVALID_RESPONSE;
  if (frame.address == ex.slave && job_.done) {
    // Another master's answer goes back as the slave gave it, exceptions too.
    if (!frame.pdu.empty() && (frame.pdu[0] & 0x7F) == ex.function) {
      status = MBS_OK;
      job_.pdu = frame.pdu;
    }
  } else if (frame.address == ex.slave) {
    status = PduCodec::decode(ex, frame.pdu, job_.words.data() + ex.firstWord);
  }
  count(status);
  stepDone(status);
}

void Connection::count(int status) {
  if (status == MBS_INVALID_CHECKSUM) {
    ++counters_.checksumErrors;
  } else if (status == MBS_INVALID_RESPONSE) {
    ++counters_.invalidResponses;
  } else {
    ++counters_.answers;
  }
}

void Connection::stepDone(int status) {
  active_ = false;
  if (pause_.count() > 0) pauseUntil_ = std::chrono::steady_clock::now() + pause_;
  if (status == MBS_OK && !job_.done && ++job_.step < job_.plan.exchanges().size()) {
    sendExchange();
    return;
  }
  finish(status);
}

void Connection::failOutstanding(int status) {
  if (!active_) return;
  if (status == MBS_SVR_NOT_CONNECTED) ++counters_.linkLosses;
  awaiting_ = false;
  stepDone(status);
}

void Connection::forwardDone(int status, std::vector<uint8_t> answer) {
  ForwardDone done = std::move(job_.done);
  job_ = Job{};
  running_ = false;
  done(status, std::move(answer));
  startNext();
}

void Connection::finish(int status) {
  if (job_.done) {
    forwardDone(status, status == MBS_OK ? std::move(job_.pdu) : std::vector<uint8_t>{});
    return;
  }
  // Taken here, as the answer's last bytes are parsed, not when the caller
  // gets round to fetching it.
  const int64_t settledAt = FileTimeNow();
  {
    std::lock_guard lock(mutex_);
    result_.settledAt = settledAt;
    result_.status = status;
    result_.header = job_.header;
    result_.words = std::move(job_.words);
    hasResult_ = true;
    busy_ = false;
  }
  job_ = Job{};
  running_ = false;
  Library::instance().requestDone(*this);
  startNext();
}

}  // namespace mbl
