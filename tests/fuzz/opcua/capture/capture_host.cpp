// The server with a fixed random seed on 127.0.0.1 and a free port, for
// recording fuzzer seeds: prints "port <n>", serves until killed.
#include <asio.hpp>
#include <iostream>
#include <string>

#include "tagserver/TagStore.h"
#include "tagserver/TcpListener.h"
#include "tagserver/UaServer.h"

int main() {
  asio::io_context io;
  tagserver::TagStore tags;
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_R4;
  v.fltVal = 1;
  tags.Create("PLC1.NODE1.1.0001", v, 192, 1);
  v.fltVal = 12.5f;
  tags.Create("PLC1.NODE1.4.0007", v, 192, 0);
  tagserver::ServerInfo info;
  info.folderName = "Korvane.Modbus_OPC_Server";
  tagserver::UaServer server(io, tags, info);
  server.SeedRandom(0);
  server.SetWriteHandler([](int32_t, VARIANT&, uint64_t) { return 0u; });
  tagserver::TcpListener listener(io, server);
  std::string error;
  if (!listener.Open({asio::ip::make_address("127.0.0.1"), 0}, error)) return 1;
  server.SetEndpointUrl("opc.tcp://127.0.0.1:" + std::to_string(listener.Port()));
  std::cout << "port " << listener.Port() << std::endl;
  io.run();
}
