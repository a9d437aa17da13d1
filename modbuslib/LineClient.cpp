#include "modbuslib/LineClient.h"

#include "modbuslib/Connection.h"
#include "modbuslib/LineServer.h"
#include "modbuslib/MbapRequest.h"

namespace mbl {

namespace {
constexpr uint8_t kBusy = 6;
constexpr uint8_t kPathUnavailable = 0x0A;
constexpr uint8_t kNoResponse = 0x0B;

bool IsWrite(uint8_t function) {
  return function == 5 || function == 6 || function == 15 || function == 16;
}

uint16_t WordAt(const std::vector<uint8_t>& pdu, size_t at) {
  return static_cast<uint16_t>(pdu[at] << 8 | pdu[at + 1]);
}

// The exchange as the line's framing must expect its answer.
Exchange ExchangeOf(uint8_t unit, const std::vector<uint8_t>& pdu) {
  Exchange ex;
  ex.slave = unit;
  ex.function = pdu[0];
  ex.wireAddress = WordAt(pdu, 1);
  ex.count = WordAt(pdu, 3);
  return ex;
}

std::string PeerName(const asio::ip::tcp::socket& socket) {
  asio::error_code ec;
  const auto peer = socket.remote_endpoint(ec);
  if (ec) return "an unknown client";
  return peer.address().to_string() + ":" + std::to_string(peer.port());
}
}  // namespace

LineClient::LineClient(asio::ip::tcp::socket socket, std::weak_ptr<LineServer> server)
    : socket_(std::move(socket)), server_(std::move(server)), peer_(PeerName(socket_)) {
  asio::error_code ignored;
  socket_.set_option(asio::ip::tcp::no_delay(true), ignored);
}

void LineClient::read() {
  socket_.async_read_some(asio::buffer(buffer_), [self = shared_from_this()](
                                                     const asio::error_code& ec, size_t n) {
    if (self->closed_) return;
    if (ec) {
      self->gone();
      return;
    }
    self->rx_.insert(self->rx_.end(), self->buffer_.begin(), self->buffer_.begin() + n);
    self->take();
    if (!self->closed_) self->read();
  });
}

void LineClient::take() {
  for (;;) {
    MbapRequest request = MbapRequest::decode(rx_);
    if (request.kind == MbapRequest::Kind::Incomplete) return;
    if (request.kind == MbapRequest::Kind::Broken) {
      gone();  // a stream that cannot be followed cannot be answered either
      return;
    }
    rx_.erase(rx_.begin(), rx_.begin() + static_cast<long>(request.consumed));
    handle(request.transaction, request.unit, std::move(request.pdu));
  }
}

void LineClient::handle(uint16_t transaction, uint8_t unit, std::vector<uint8_t> pdu) {
  const uint8_t function = pdu.empty() ? 0 : pdu[0];
  auto server = server_.lock();
  auto line = server ? server->line() : nullptr;
  if (!line) {
    send(MbapRequest::exception(transaction, unit, function, kPathUnavailable));
    return;
  }
  if (const uint8_t code = MbapRequest::check(pdu)) {
    send(MbapRequest::exception(transaction, unit, function, code));
    return;
  }
  // A broadcast gets no answer on the line, so none could be passed back.
  if (unit == 0) {
    send(MbapRequest::exception(transaction, unit, function, kPathUnavailable));
    return;
  }
  if (queued_ >= server->limits().queuedPerClient) {
    send(MbapRequest::exception(transaction, unit, function, kBusy));
    return;
  }
  if (IsWrite(function)) server->logWrite(peer_, function, unit, WordAt(pdu, 1));
  ++queued_;
  const Exchange ex = ExchangeOf(unit, pdu);
  line->forward(ex, std::move(pdu),
                [self = shared_from_this(), transaction, unit, function](
                    int status, std::vector<uint8_t> answer) {
                  self->answered(transaction, unit, function, status, std::move(answer));
                });
}

void LineClient::answered(uint16_t transaction, uint8_t unit, uint8_t function, int status,
                          std::vector<uint8_t> answer) {
  --queued_;
  if (closed_) return;
  if (status == 0) {
    send(MbapRequest::encode(transaction, unit, answer));
  } else {
    const uint8_t code = status == MBS_SVR_NOT_CONNECTED ? kPathUnavailable : kNoResponse;
    send(MbapRequest::exception(transaction, unit, function, code));
  }
}

void LineClient::send(std::vector<uint8_t> frame) {
  tx_.push_back(std::move(frame));
  if (tx_.size() == 1) writeNext();
}

void LineClient::writeNext() {
  asio::async_write(socket_, asio::buffer(tx_.front()),
                    [self = shared_from_this()](const asio::error_code& ec, size_t) {
                      if (self->closed_) return;
                      if (ec) {
                        self->gone();
                        return;
                      }
                      self->tx_.pop_front();
                      if (!self->tx_.empty()) self->writeNext();
                    });
}

void LineClient::stop() {
  closed_ = true;
  asio::error_code ignored;
  socket_.shutdown(asio::socket_base::shutdown_both, ignored);
  socket_.close(ignored);
}

void LineClient::gone() {
  stop();
  if (auto server = server_.lock()) server->clientGone(shared_from_this());
}

}  // namespace mbl
