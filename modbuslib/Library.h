// The library's shared state: its I/O thread, the open connections by
// handle, and the delivery of callbacks.
#pragma once

#include <asio.hpp>
#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "modbuslib/modbuslib.h"
#include "platform/Log.h"

namespace mbl {

class Connection;

class Library {
 public:
  static Library& instance();

  asio::io_context& io() { return io_; }
  int reserveHandle();
  // Registers the connection and starts it on the I/O thread.
  int add(const std::shared_ptr<Connection>& connection);
  std::shared_ptr<Connection> find(int handle);
  void close(int handle);
  void setLinkCallback(ConnectionCallback callback);
  void setModbusCallback(int handle, ModbusCallback callback);
  void setLogCallback(LogCallback callback);
  void setTraceCallback(TraceCallback callback);
  // I/O thread: bytes sent or received on a connection.
  void trace(int handle, ModbusTraceDirection direction, const uint8_t* bytes, size_t size);
  // Any thread: the line reaches the program's logger (category Modbus,
  // context the device or address it is about) on the I/O thread, so that
  // the log hook, fed from it, is called on that one thread as every other
  // call of the library's.
  void log(ModbusLogLevel level, std::string context, std::string text);

  // I/O thread. Neither calls back once the connection is closed, nor after
  // its response callback was taken away.
  void requestDone(const Connection& connection);
  void linkEvent(int event, const Connection& connection);

 private:
  Library();
  ~Library();

  asio::io_context io_;
  asio::executor_work_guard<asio::io_context::executor_type> work_;
  std::mutex mapMutex_;
  std::map<int, std::shared_ptr<Connection>> connections_;
  int lastHandle_ = 0;
  std::atomic<ConnectionCallback> linkCallback_{nullptr};
  platform::CategoryHook logHook_{platform::LogCategory::Modbus};
  // Read unlocked first, so that bytes cost nothing more while nobody traces.
  std::atomic<TraceCallback> traceCallback_{nullptr};
  // Held while a callback runs, and by whoever closes a connection or takes
  // its callback away, so that none arrives after those return. Recursive,
  // because a callback may close its own connection.
  std::recursive_mutex dispatch_;
  std::thread thread_;
};

}  // namespace mbl
