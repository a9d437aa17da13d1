// One other master connected to a shared line: reads its Modbus/TCP
// requests, forwards each onto the line, answers each with its own answer.
#pragma once

#include <asio.hpp>
#include <array>
#include <deque>
#include <memory>
#include <string>
#include <vector>

namespace mbl {

class LineServer;

class LineClient : public std::enable_shared_from_this<LineClient> {
 public:
  LineClient(asio::ip::tcp::socket socket, std::weak_ptr<LineServer> server);
  void start() { read(); }
  void stop();

 private:
  void read();
  void take();
  void handle(uint16_t transaction, uint8_t unit, std::vector<uint8_t> pdu);
  void answered(uint16_t transaction, uint8_t unit, uint8_t function, int status,
                std::vector<uint8_t> answer);
  void send(std::vector<uint8_t> frame);
  void writeNext();
  void gone();

  asio::ip::tcp::socket socket_;
  std::weak_ptr<LineServer> server_;
  std::string peer_;  // address:port, as the log names it
  std::array<uint8_t, 512> buffer_{};
  std::vector<uint8_t> rx_;
  std::deque<std::vector<uint8_t>> tx_;
  int queued_ = 0;  // forwarded and not answered yet
  bool closed_ = false;
};

}  // namespace mbl
