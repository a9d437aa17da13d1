// Arbitrary bytes from a client to a server that offers the secured
// policies: the asymmetric security header, the client's certificate and
// its trust, RSA decryption, the signature and the padding of
// OpenSecureChannel. The seeds are node-opcua conversations recorded against
// the fixed certificate in pki/, so their first chunk decrypts.
#include <asio.hpp>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "FuzzPki.h"
#include "tagserver/PkiStore.h"
#include "tagserver/TagStore.h"
#include "tagserver/UaConnection.h"
#include "tagserver/UaServer.h"

namespace {

class CountingSink : public tagserver::IConnectionSink {
 public:
  void Send(std::vector<uint8_t>&& bytes) override { sent += bytes.size(); }
  void Close() override { closed = true; }
  size_t sent = 0;
  bool closed = false;
};

std::shared_ptr<const tagserver::PkiStore> Pki() {
  static const auto pki = [] {
    auto store = std::make_shared<tagserver::PkiStore>(fuzzpki::Folder() + "pki/");
    std::string error;
    if (!store->LoadOrCreateOwn("urn:pelmoran:Korvane.Modbus_OPC_Server", error)) std::abort();
    return store;
  }();
  return pki;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  asio::io_context io;
  tagserver::TagStore tags;
  tagserver::ServerInfo info;
  info.folderName = "Korvane.Modbus_OPC_Server";
  tagserver::UaServer server(io, tags, info);
  server.SeedRandom(0);
  tagserver::EndpointSecurity security;
  security.offerSecure = true;
  server.SetSecurity(security, Pki(),
                     std::make_shared<tagserver::UserDirectory>(fuzzpki::Folder() + "opcua-users"));
  CountingSink sink;
  auto conn = std::make_shared<tagserver::UaConnection>(server, sink, server.NextChannelId());
  conn->Receive(data, size);
  io.poll();
  return 0;
}
