// One client connection: UA TCP framing (Hello, Acknowledge, Error, chunks)
// and its secure channel, plain or secured. It knows nothing of
// sockets: bytes come in through Receive and go out through the sink, so
// that tests and the fuzzer drive it directly.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "tagserver/BufferBudget.h"
#include "tagserver/ChannelSecurity.h"

namespace tagserver {

class UaServer;
class UaDecoder;

class IConnectionSink {
 public:
  virtual ~IConnectionSink() = default;
  virtual void Send(std::vector<uint8_t>&& bytes) = 0;
  // No more bytes go out or come in after this.
  virtual void Close() = 0;
  // Who is at the other end, as the log names it; empty when nobody can say.
  virtual std::string PeerName() const { return {}; }
  // The client's address alone, which the per-address limits count by;
  // empty when nobody can say, and then nothing is counted.
  virtual std::string PeerAddress() const { return {}; }
};

class UaConnection : public std::enable_shared_from_this<UaConnection> {
 public:
  UaConnection(UaServer& server, IConnectionSink& sink, uint32_t channelId);
  ~UaConnection();
  UaConnection(const UaConnection&) = delete;
  UaConnection& operator=(const UaConnection&) = delete;

  void Receive(const uint8_t* data, size_t size);
  // body: the encoded response, type NodeId first.
  void SendMessage(uint32_t requestId, const std::vector<uint8_t>& body);
  // Sends an Error message and closes.
  void Fail(uint32_t status, const std::string& reason);
  void Shutdown();
  bool IsOpen() const { return m_state != State::Closed; }
  bool HasChannel() const { return m_state == State::Open; }
  // The largest response body the peer takes, by its message size and
  // chunk count limits; 0 for no limit.
  size_t MaxResponseSize() const;
  // True when the current token's lifetime (with a quarter of grace) is over.
  bool TokenExpired(int64_t nowMs) const;
  // Closes a connection that holds what it does not use: no channel opened
  // in time, an expired token, a message left unfinished, or a channel idle
  // without a session.
  void CheckTimers(int64_t nowMs);
  std::string PeerAddress() const { return m_sink.PeerAddress(); }
  const ChannelSecurity& Security() const { return m_security; }
  // The client's "address:port"; empty when nobody can say.
  std::string PeerName() const { return m_sink.PeerName(); }

 private:
  enum class State { Fresh, Acknowledged, Open, Closed };
  struct Token {
    uint32_t id = 0;
    int64_t createdMs = 0;
    uint32_t lifetimeMs = 0;
  };

  struct OpenRequest {
    uint32_t requestHandle = 0;
    uint32_t requestType = 0;  // 0 issue, 1 renew
    uint32_t mode = 0;
    uint32_t lifetime = 0;
    ByteString clientNonce;
  };

  void ProcessChunk(uint8_t* chunk, size_t size);
  static OpenRequest ReadOpenRequest(UaDecoder& in);
  void CheckOpenRequest(const OpenRequest& request, bool renew, uint32_t channelId) const;
  void SendOpenResponse(uint32_t requestId, uint32_t requestHandle, const ByteString& serverNonce);
  void OnHello(const uint8_t* body, size_t size);
  void OnOpen(const uint8_t* chunk, size_t size);
  void OnSymmetric(uint8_t* chunk, size_t size);
  void OnCompleteMessage(uint32_t requestId, bool isClose);
  void CheckSequence(uint32_t sequence);
  bool TokenKnown(uint32_t tokenId, int64_t nowMs) const;
  void SendChunks(const char* type, uint32_t requestId, const std::vector<uint8_t>& body);
  std::string ClientName() const;
  // Squares what the buffers hold with the server's budget; false when the
  // budget has no room for them.
  bool HoldBuffers();
  int64_t PartialMs(int64_t nowMs) const;

  UaServer& m_server;
  IConnectionSink& m_sink;
  State m_state = State::Fresh;
  uint32_t m_nChannelId;
  std::vector<uint8_t> m_inbuf;
  size_t m_nInPos = 0;
  std::vector<uint8_t> m_assembly;
  uint32_t m_nChunks = 0;
  uint32_t m_nAssemblyRequestId = 0;
  uint32_t m_nSendBuffer = 0;
  uint32_t m_nReceiveBuffer = 0;
  uint32_t m_nPeerMaxMessage = 0;
  uint32_t m_nPeerMaxChunks = 0;
  uint32_t m_nSendSequence = 0;
  uint32_t m_nLastReceivedSequence = 0;
  bool m_bSequenceStarted = false;
  Token m_current;
  Token m_previous;
  uint32_t m_nNextTokenId = 1;
  ChannelSecurity m_security;
  std::shared_ptr<BufferBudget> m_buffers;
  size_t m_nBudgeted = 0;
  int64_t m_nCreatedMs;
  int64_t m_nLastRequestMs = 0;
  int64_t m_nChunkSinceMs = 0;     // the chunk partly in m_inbuf began arriving
  int64_t m_nAssemblySinceMs = 0;  // the first chunk of m_assembly arrived
};

}  // namespace tagserver
