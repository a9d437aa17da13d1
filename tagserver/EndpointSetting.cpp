#include "tagserver/EndpointSetting.h"

#include <unistd.h>

#include <asio.hpp>
#include <charconv>

namespace tagserver {

namespace {

constexpr const char* kScheme = "opc.tcp://";

bool ParsePort(const std::string& text, uint16_t& port) {
  unsigned value = 0;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size() || text.empty() || value > 65535)
    return false;
  port = static_cast<uint16_t>(value);
  return true;
}

}  // namespace

bool ParseEndpointSetting(const std::string& text, EndpointSetting& out, std::string& error) {
  std::string rest = text;
  if (rest.rfind(kScheme, 0) != 0) {
    error = "the endpoint must begin with opc.tcp://";
    return false;
  }
  rest = rest.substr(std::string(kScheme).size());
  if (!rest.empty() && rest.back() == '/') rest.pop_back();
  size_t colon = rest.rfind(':');
  if (colon == std::string::npos) {
    error = "the endpoint needs a port";
    return false;
  }
  std::string host = rest.substr(0, colon);
  if (host.size() >= 2 && host.front() == '[' && host.back() == ']')
    host = host.substr(1, host.size() - 2);
  if (host == "localhost") host = "127.0.0.1";
  asio::error_code ec;
  asio::ip::make_address(host, ec);
  if (ec) {
    error = "the endpoint host must be an IP address or localhost";
    return false;
  }
  if (!ParsePort(rest.substr(colon + 1), out.port)) {
    error = "the endpoint port must be a number from 0 to 65535";
    return false;
  }
  out.host = host;
  return true;
}

std::string EndpointUrl(const EndpointSetting& at, uint16_t port) {
  std::string host = at.host;
  asio::error_code ec;
  auto address = asio::ip::make_address(host, ec);
  if (!ec && address.is_unspecified()) {
    char name[256] = {};
    host = gethostname(name, sizeof name - 1) == 0 && name[0] != '\0' ? name : "localhost";
  } else if (!ec && address.is_v6()) {
    host = "[" + host + "]";
  }
  return std::string(kScheme) + host + ":" + std::to_string(port);
}

}  // namespace tagserver
