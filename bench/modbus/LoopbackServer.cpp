#include "LoopbackServer.h"

#include <modbus.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

LoopbackServer::LoopbackServer() {
  modbus_mapping_t* map = modbus_mapping_new(0, 0, 1000, 0);
  for (int i = 0; i < 1000; ++i) map->tab_registers[i] = static_cast<uint16_t>(i);
  mapping_ = map;
  modbus_t* ctx = modbus_new_tcp("127.0.0.1", 0);
  listener_ = modbus_tcp_listen(ctx, 4);
  modbus_free(ctx);
  sockaddr_in a{};
  socklen_t len = sizeof a;
  getsockname(listener_, reinterpret_cast<sockaddr*>(&a), &len);
  port_ = ntohs(a.sin_port);
  acceptor_ = std::thread([this] { acceptClients(); });
}

LoopbackServer::~LoopbackServer() {
  stop_ = true;
  acceptor_.join();
  for (auto& t : clients_) t.join();
  close(listener_);
  modbus_mapping_free(static_cast<modbus_mapping_t*>(mapping_));
}

void LoopbackServer::acceptClients() {
  while (!stop_) {
    pollfd p{listener_, POLLIN, 0};
    if (poll(&p, 1, 100) <= 0) continue;
    const int client = accept(listener_, nullptr, nullptr);
    if (client < 0) continue;
    std::lock_guard lock(mutex_);
    clients_.emplace_back([this, client] { serveClient(client); });
  }
}

void LoopbackServer::serveClient(int socket) {
  modbus_t* ctx = modbus_new_tcp("127.0.0.1", 0);
  modbus_set_socket(ctx, socket);
  auto* map = static_cast<modbus_mapping_t*>(mapping_);
  uint8_t query[MODBUS_TCP_MAX_ADU_LENGTH];
  while (!stop_) {
    pollfd p{socket, POLLIN, 0};
    if (poll(&p, 1, 100) <= 0) continue;
    const int n = modbus_receive(ctx, query);
    if (n < 0) break;
    if (n > 0) modbus_reply(ctx, query, n, map);
  }
  close(socket);
  modbus_free(ctx);
}
