// A Modbus/TCP port through which other masters (a device maker's
// configuration tool, a second SCADA) reach the slaves of a serial line that
// this library holds. Their requests take turns with the caller's on the
// line's one exchange; everything runs on the library's I/O thread.
#pragma once

#include <asio.hpp>
#include <chrono>
#include <memory>
#include <set>
#include <string>

namespace mbl {

class Connection;
class LineClient;

struct LineLimits {
  int clients = 4;            // connections at a time; more are closed at once
  int queuedPerClient = 4;    // requests of one client waiting for the line
};

class LineServer : public std::enable_shared_from_this<LineServer> {
 public:
  LineServer(asio::io_context& io, std::weak_ptr<Connection> line, std::string context,
             LineLimits limits);
  // Caller's thread, before any accepting starts: binds and listens. Returns
  // the port bound (the one asked, or a free one for 0), or 0 with why set.
  uint16_t listen(const std::string& bindAddress, uint16_t port, std::string& why);
  void start();
  // I/O thread: closes the port and every client.
  void stop();

  // I/O thread, for the clients.
  std::shared_ptr<Connection> line() const { return line_.lock(); }
  const LineLimits& limits() const { return limits_; }
  void clientGone(const std::shared_ptr<LineClient>& client);
  // A write of another master, named in the log, at most kLogBurst lines a
  // window so that a flood of writes does not flood the log.
  void logWrite(const std::string& client, uint8_t function, uint8_t unit, uint16_t address);

 private:
  void accept();

  asio::ip::tcp::acceptor acceptor_;
  std::weak_ptr<Connection> line_;
  const std::string context_;
  const LineLimits limits_;
  std::set<std::shared_ptr<LineClient>> clients_;
  std::chrono::steady_clock::time_point windowStart_{};
  int loggedInWindow_ = 0;
  int unlogged_ = 0;
};

}  // namespace mbl
