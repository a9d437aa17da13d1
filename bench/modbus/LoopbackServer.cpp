#include "LoopbackServer.h"

#include <modbus.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

LoopbackServer::LoopbackServer() {
  modbus_t* ctx = modbus_new_tcp("127.0.0.1", 0);
  modbus_mapping_t* map = modbus_mapping_new(0, 0, 1000, 0);
  for (int i = 0; i < 1000; ++i) map->tab_registers[i] = static_cast<uint16_t>(i);
  context_ = ctx;
  mapping_ = map;
  listener_ = modbus_tcp_listen(ctx, 1);
  sockaddr_in a{};
  socklen_t len = sizeof a;
  getsockname(listener_, reinterpret_cast<sockaddr*>(&a), &len);
  port_ = ntohs(a.sin_port);
  thread_ = std::thread([this] { serve(); });
}

LoopbackServer::~LoopbackServer() {
  stop_ = true;
  thread_.join();
  close(listener_);
  modbus_mapping_free(static_cast<modbus_mapping_t*>(mapping_));
  modbus_free(static_cast<modbus_t*>(context_));
}

void LoopbackServer::serve() {
  auto* ctx = static_cast<modbus_t*>(context_);
  auto* map = static_cast<modbus_mapping_t*>(mapping_);
  while (!stop_) {
    pollfd p{listener_, POLLIN, 0};
    if (poll(&p, 1, 100) <= 0) continue;
    if (modbus_tcp_accept(ctx, &listener_) < 0) continue;
    uint8_t query[MODBUS_TCP_MAX_ADU_LENGTH];
    while (!stop_) {
      const int n = modbus_receive(ctx, query);
      if (n < 0) break;
      if (n > 0) modbus_reply(ctx, query, n, map);
    }
    close(modbus_get_socket(ctx));
  }
}
