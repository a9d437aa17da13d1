// The listening address: 127.0.0.1:4840 unless PELMORAN_OPCUA_ENDPOINT
// names another, as opc.tcp://<IPv4 address, [IPv6 address] or localhost>:<port>.
// Port 0 asks for a free port.
#pragma once

#include <cstdint>
#include <string>

namespace tagserver {

struct EndpointSetting {
  std::string host = "127.0.0.1";
  uint16_t port = 4840;
};

// False, with the reason in error, for a value that is not such a URL.
bool ParseEndpointSetting(const std::string& text, EndpointSetting& out, std::string& error);
// The URL clients are told: the host as set, or this machine's name when
// the server listens on every address.
std::string EndpointUrl(const EndpointSetting& at, uint16_t port);

}  // namespace tagserver
