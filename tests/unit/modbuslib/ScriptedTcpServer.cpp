#include "ScriptedTcpServer.h"

#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>

ScriptedTcpServer::ScriptedTcpServer(Script script) : script_(std::move(script)) {
  listener_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (bind(listener_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || listen(listener_, 4)) {
    return;
  }
  socklen_t len = sizeof a;
  getsockname(listener_, reinterpret_cast<sockaddr*>(&a), &len);
  port_ = ntohs(a.sin_port);
  thread_ = std::thread([this] { serve(); });
}

ScriptedTcpServer::~ScriptedTcpServer() {
  stop_ = true;
  if (thread_.joinable()) thread_.join();
  close(listener_);
}

ScriptedTcpServer::Bytes ScriptedTcpServer::answer(const Bytes& request, uint8_t unit,
                                                   const Bytes& pdu) {
  const size_t length = pdu.size() + 1;
  Bytes out(6 + length);
  out[0] = request[0];
  out[1] = request[1];
  out[4] = static_cast<uint8_t>(length >> 8);
  out[5] = static_cast<uint8_t>(length & 0xFF);
  out[6] = unit;
  std::copy(pdu.begin(), pdu.end(), out.begin() + 7);
  return out;
}

std::vector<ScriptedTcpServer::Bytes> ScriptedTcpServer::requests() const {
  std::lock_guard lock(mutex_);
  return requests_;
}

void ScriptedTcpServer::serve() {
  while (!stop_) {
    pollfd p{listener_, POLLIN, 0};
    if (poll(&p, 1, 50) <= 0) continue;
    const int client = accept(listener_, nullptr, nullptr);
    if (client < 0) continue;
    ++connections_;
    while (!stop_ && serveClient(client)) {
    }
    close(client);
  }
}

bool ScriptedTcpServer::serveClient(int client) {
  pollfd p{client, POLLIN, 0};
  if (poll(&p, 1, 50) <= 0) return true;
  uint8_t buf[300];
  const ssize_t n = read(client, buf, sizeof buf);
  if (n <= 0) return false;
  const Bytes request(buf, buf + n);
  {
    std::lock_guard lock(mutex_);
    requests_.push_back(request);
  }
  const Reply reply = script_(request);
  if (reply.hangUp) return false;
  return reply.bytes.empty() || write(client, reply.bytes.data(), reply.bytes.size()) > 0;
}
