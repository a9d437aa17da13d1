#include "modbuslib/Library.h"

#include "modbuslib/Connection.h"

namespace mbl {

Library& Library::instance() {
  static Library library;
  return library;
}

Library::Library() : work_(asio::make_work_guard(io_)), thread_([this] { io_.run(); }) {}

Library::~Library() {
  work_.reset();
  io_.stop();
  // A program that ends from inside a callback cannot wait for its own thread.
  if (thread_.get_id() == std::this_thread::get_id()) {
    thread_.detach();
  } else if (thread_.joinable()) {
    thread_.join();
  }
}

int Library::reserveHandle() {
  std::lock_guard lock(mapMutex_);
  return ++lastHandle_;
}

int Library::add(const std::shared_ptr<Connection>& connection) {
  {
    std::lock_guard lock(mapMutex_);
    connections_[connection->handle()] = connection;
  }
  asio::post(io_, [connection] { connection->start(); });
  return connection->handle();
}

std::shared_ptr<Connection> Library::find(int handle) {
  std::lock_guard lock(mapMutex_);
  const auto it = connections_.find(handle);
  return it == connections_.end() ? nullptr : it->second;
}

void Library::close(int handle) {
  std::shared_ptr<Connection> connection;
  {
    std::lock_guard dispatch(dispatch_);
    std::lock_guard lock(mapMutex_);
    const auto it = connections_.find(handle);
    if (it == connections_.end()) return;
    connection = it->second;
    connections_.erase(it);
    connection->markClosed();
  }
  // Outside the dispatch lock: the I/O thread may be waiting for it to give
  // a callback that the closed mark now stops.
  connection->close();
}

void Library::setLinkCallback(ConnectionCallback callback) { linkCallback_ = callback; }

void Library::setModbusCallback(int handle, ModbusCallback callback) {
  std::lock_guard dispatch(dispatch_);
  if (auto connection = find(handle)) connection->setCallback(callback);
}

void Library::setLogCallback(LogCallback callback) { logHook_.set(callback); }

void Library::log(ModbusLogLevel level, std::string context, std::string text) {
  auto deliver = [level, context = std::move(context), text = std::move(text)] {
    platform::log(static_cast<platform::LogLevel>(level), platform::LogCategory::Modbus, context,
                  text);
  };
  // On the I/O thread at once, so that a line comes before the link event of the same drop.
  if (io_.get_executor().running_in_this_thread()) {
    deliver();
  } else {
    asio::post(io_, std::move(deliver));
  }
}

void Library::setTraceCallback(TraceCallback callback) {
  std::lock_guard dispatch(dispatch_);
  traceCallback_ = callback;
}

void Library::trace(int handle, ModbusTraceDirection direction, const uint8_t* bytes, size_t size) {
  if (traceCallback_ == nullptr) return;
  std::lock_guard dispatch(dispatch_);
  if (TraceCallback callback = traceCallback_)
    callback(handle, direction, bytes, static_cast<int>(size));
}

void Library::requestDone(const Connection& connection) {
  std::lock_guard dispatch(dispatch_);
  if (!connection.isOpen()) return;
  if (ModbusCallback callback = connection.callback()) callback(connection.handle(), 0, 0);
}

void Library::linkEvent(int event, const Connection& connection) {
  std::lock_guard dispatch(dispatch_);
  if (!connection.isOpen()) return;
  if (ConnectionCallback callback = linkCallback_) callback(event, connection.handle());
}

}  // namespace mbl
