// Arbitrary bytes into the message decoder of one connection, as a client
// would send them, with a fresh server behind it each time. The seeds are
// whole client conversations recorded with the same fixed random seed, so
// their session tokens are valid and the services behind them are reached.
#include <asio.hpp>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

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

VARIANT Float(float f) {
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_R4;
  v.fltVal = f;
  return v;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  asio::io_context io;
  tagserver::TagStore tags;
  tags.Create("PLC1.NODE1.1.0001", Float(1), 192, 1);
  tags.Create("PLC1.NODE1.4.0007", Float(12.5f), 192, 0);
  tagserver::ServerInfo info;
  info.folderName = "Korvane.Modbus_OPC_Server";
  tagserver::UaServer server(io, tags, info);
  server.SeedRandom(0);
  server.SetWriteHandler([](int32_t, VARIANT&, uint64_t) { return 0u; });
  CountingSink sink;
  auto conn = std::make_shared<tagserver::UaConnection>(server, sink, server.NextChannelId());
  // Split the input once, so that messages cut across reads are covered too.
  size_t cut = size == 0 ? 0 : data[0] % (size + 1);
  conn->Receive(data, cut);
  conn->Receive(data + cut, size - cut);
  server.OnTagChanges();
  io.poll();
  return 0;
}
