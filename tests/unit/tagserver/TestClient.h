// A hand-made OPC UA client that talks to one UaConnection in memory: it
// writes requests with its own WireWriter and reads the server's bytes back
// into messages, so tests see exactly what went over the wire.
#pragma once

#include <asio.hpp>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "WireWriter.h"
#include "tagserver/UaConnection.h"
#include "tagserver/UaDecoder.h"
#include "tagserver/UaServer.h"

namespace tagserver::test {

struct Chunk {
  std::string type;  // "ACK", "ERR", "OPN", "MSG"
  char kind = 'F';
  std::vector<uint8_t> body;  // after the headers
  uint32_t requestId = 0;
};

struct Response {
  uint32_t typeId = 0;
  uint32_t requestHandle = 0;
  uint32_t serviceResult = 0;
  uint32_t requestId = 0;
  std::vector<uint8_t> bytes;
  size_t bodyAt = 0;
  UaDecoder Body() const { return UaDecoder(bytes.data() + bodyAt, bytes.size() - bodyAt); }
};

class TestClient : public IConnectionSink {
 public:
  explicit TestClient(UaServer& server);

  void Send(std::vector<uint8_t>&& bytes) override;
  void Close() override { closed = true; }
  std::string PeerAddress() const override { return address; }

  void Raw(const std::vector<uint8_t>& bytes) { conn->Receive(bytes.data(), bytes.size()); }
  static std::vector<uint8_t> HelloBytes(uint32_t receiveBuffer, uint32_t sendBuffer,
                                         uint32_t maxMessage, uint32_t maxChunks);
  void Hello(uint32_t receiveBuffer = 65536, uint32_t sendBuffer = 65536, uint32_t maxMessage = 0,
             uint32_t maxChunks = 0);
  std::vector<uint8_t> OpenBytes(uint32_t requestType, const std::string& policy);
  void Open();
  // Sends one request, cut into chunks of at most chunkBody bytes of body.
  uint32_t Request(uint32_t typeId, const std::function<void(WireWriter&)>& body,
                   size_t chunkBody = 1 << 20);
  // The bytes of such a request, not sent; requestId is the one it carries.
  std::vector<uint8_t> RequestBytes(uint32_t typeId, const std::function<void(WireWriter&)>& body,
                                    size_t chunkBody, uint32_t& id);
  // The chunks that arrived so far, assembled into whole messages.
  std::vector<Chunk> TakeChunks();
  std::vector<Response> TakeResponses();
  Response Call(uint32_t typeId, const std::function<void(WireWriter&)>& body);
  void Connect();
  // A CreateSession request with no certificate and no nonce, answered.
  Response RequestSession();
  void CreateSession();
  void ActivateSession();
  // Hello, channel, session, activation.
  void Ready();

  std::shared_ptr<UaConnection> conn;
  std::vector<uint8_t> received;
  std::vector<Response> backlog;
  bool closed = false;
  std::string address;  // empty: the server counts no address
  UaNodeId token;
  ByteString serverNonce;  // of CreateSession
  uint32_t channelId = 0;
  uint32_t tokenId = 0;
  uint32_t sequence = 1;
  uint32_t requestId = 1;
  uint32_t requestHandle = 100;
  uint32_t timeoutHint = 0;
};

VARIANT FloatVariant(float f);

// A server on an io_context that the test runs by hand, recording writes.
struct TestServer {
  TestServer();
  ~TestServer();
  // Runs the server's timers and posted work for a while.
  void RunFor(int ms);

  asio::io_context io;
  TagStore tags;
  std::unique_ptr<UaServer> server;
  std::vector<std::pair<int32_t, VARIANT>> writes;
  std::vector<uint64_t> tokens;  // parallel to writes
  uint32_t writeResult = 0;
};

}  // namespace tagserver::test
