#include "ChangingSlave.h"

#include <modbus.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <stdexcept>

namespace {

constexpr uint8_t kReadHoldingRegisters = 0x03;
constexpr int kPollMs = 100;

}  // namespace

ChangingSlave::ChangingSlave(int registers) : m_registers(registers) {
  modbus_mapping_t* map = modbus_mapping_new(0, 0, registers, 0);
  if (map == nullptr) throw std::runtime_error("no memory for the registers");
  m_mapping = map;
  modbus_t* ctx = modbus_new_tcp("127.0.0.1", 0);
  m_listener = modbus_tcp_listen(ctx, 4);
  modbus_free(ctx);
  if (m_listener < 0) throw std::runtime_error("cannot listen on loopback");
  sockaddr_in address{};
  socklen_t length = sizeof address;
  getsockname(m_listener, reinterpret_cast<sockaddr*>(&address), &length);
  m_port = ntohs(address.sin_port);
  m_acceptor = std::thread([this] { AcceptClients(); });
}

ChangingSlave::~ChangingSlave() {
  m_stop = true;
  m_acceptor.join();
  for (auto& client : m_clients) client.join();
  close(m_listener);
  modbus_mapping_free(static_cast<modbus_mapping_t*>(m_mapping));
}

void ChangingSlave::AcceptClients() {
  while (!m_stop) {
    pollfd p{m_listener, POLLIN, 0};
    if (poll(&p, 1, kPollMs) <= 0) continue;
    const int client = accept(m_listener, nullptr, nullptr);
    if (client < 0) continue;
    std::lock_guard lock(m_mutex);
    m_clients.emplace_back([this, client] { ServeClient(client); });
  }
}

void ChangingSlave::ServeClient(int socket) {
  modbus_t* ctx = modbus_new_tcp("127.0.0.1", 0);
  modbus_set_socket(ctx, socket);
  uint8_t query[MODBUS_TCP_MAX_ADU_LENGTH];
  const int header = modbus_get_header_length(ctx);
  while (!m_stop) {
    pollfd p{socket, POLLIN, 0};
    if (poll(&p, 1, kPollMs) <= 0) continue;
    const int n = modbus_receive(ctx, query);
    if (n < 0) break;
    if (n == 0) continue;
    std::lock_guard lock(m_mutex);
    const int sent = modbus_reply(ctx, query, n, static_cast<modbus_mapping_t*>(m_mapping));
    if (query[header] == kReadHoldingRegisters) Changed(sent - header);
  }
  close(socket);
  modbus_free(ctx);
}

// Counted from the answer libmodbus made: function, byte count, then two
// bytes a register (an exception is two bytes and counts none). Every register
// moves on, so the next read of any of them is a change.
void ChangingSlave::Changed(int answerLength) {
  constexpr int kAnswerHeader = 2;
  if (answerLength <= kAnswerHeader) return;
  m_registersRead += static_cast<uint64_t>((answerLength - kAnswerHeader) / 2);
  auto* registers = static_cast<modbus_mapping_t*>(m_mapping)->tab_registers;
  for (int r = 0; r < m_registers; ++r) ++registers[r];
}
