#include "tagserver/UaConnection.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "opcua/UaStatusCodes.h"
#include "tagserver/AsymmetricSecurityHeader.h"
#include "tagserver/RequestHeader.h"
#include "tagserver/SecureChannelRequests.h"
#include "tagserver/ServerLog.h"
#include "tagserver/UaDecoder.h"
#include "tagserver/UaEncoder.h"
#include "tagserver/UaLimits.h"
#include "tagserver/UaNodeIds.h"
#include "tagserver/UaServer.h"

namespace tagserver {

namespace {

constexpr size_t kHeaderSize = 8;
constexpr size_t kMaxEndpointUrl = 4096;

uint32_t ReadU32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

std::string StatusText(uint32_t status) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08X", status);
  return text;
}

void WriteHeader(UaEncoder& enc, const char* type, char chunk) {
  enc.Raw(type, 3);
  enc.Byte(static_cast<uint8_t>(chunk));
  enc.UInt32(0);  // size, patched when the chunk is complete
}

}  // namespace

UaConnection::UaConnection(UaServer& server, IConnectionSink& sink, uint32_t channelId)
    : m_server(server),
      m_sink(sink),
      m_nChannelId(channelId),
      m_buffers(server.Buffers()),
      m_nCreatedMs(SteadyMs()) {}

UaConnection::~UaConnection() { m_buffers->Give(m_nBudgeted); }

void UaConnection::Receive(const uint8_t* data, size_t size) {
  if (m_state == State::Closed) return;
  if (m_inbuf.size() == m_nInPos) m_nChunkSinceMs = SteadyMs();
  m_inbuf.insert(m_inbuf.end(), data, data + size);
  try {
    while (m_state != State::Closed && m_inbuf.size() - m_nInPos >= kHeaderSize) {
      const uint8_t* head = m_inbuf.data() + m_nInPos;
      uint32_t length = ReadU32(head + 4);
      uint32_t limit = m_state == State::Fresh ? limits::kMinBufferSize : m_nReceiveBuffer;
      if (length < kHeaderSize || length > limit)
        throw UaDecodeError(UaStatus::BadTcpMessageTooLarge, "chunk size out of bounds");
      if (m_inbuf.size() - m_nInPos < length) break;
      m_nInPos += length;
      ProcessChunk(m_inbuf.data() + (m_nInPos - length), length);
    }
  } catch (const UaDecodeError& e) {
    Fail(e.Status(), e.what());
    return;
  } catch (const std::exception& e) {
    Fail(UaStatus::BadInternalError, e.what());
    return;
  }
  if (m_state == State::Closed) return;
  // What is left is the start of a chunk that arrived with this read.
  if (m_nInPos > 0) m_nChunkSinceMs = SteadyMs();
  m_inbuf.erase(m_inbuf.begin(), m_inbuf.begin() + static_cast<std::ptrdiff_t>(m_nInPos));
  m_nInPos = 0;
  if (!HoldBuffers())
    Fail(UaStatus::BadTcpNotEnoughResources, "the server's buffers for requests are full");
}

bool UaConnection::HoldBuffers() {
  const size_t held = m_inbuf.size() + m_assembly.size();
  if (held > m_nBudgeted && !m_buffers->Take(held - m_nBudgeted)) return false;
  if (held < m_nBudgeted) m_buffers->Give(m_nBudgeted - held);
  m_nBudgeted = held;
  return true;
}

void UaConnection::ProcessChunk(uint8_t* chunk, size_t size) {
  std::string type(reinterpret_cast<const char*>(chunk), 3);
  if (type == "HEL") {
    if (m_state != State::Fresh || chunk[3] != 'F')
      throw UaDecodeError(UaStatus::BadTcpMessageTypeInvalid, "unexpected Hello");
    OnHello(chunk + kHeaderSize, size - kHeaderSize);
  } else if (m_state == State::Fresh) {
    throw UaDecodeError(UaStatus::BadTcpMessageTypeInvalid, "Hello expected first");
  } else if (type == "OPN") {
    OnOpen(chunk, size);
  } else if (type == "MSG" || type == "CLO") {
    if (m_state != State::Open)
      throw UaDecodeError(UaStatus::BadSecureChannelIdInvalid, "no channel");
    OnSymmetric(chunk, size);
  } else {
    throw UaDecodeError(UaStatus::BadTcpMessageTypeInvalid, "unknown message type");
  }
}

void UaConnection::OnHello(const uint8_t* body, size_t size) {
  UaDecoder in(body, size);
  in.UInt32();  // protocol version: every version so far speaks version 0
  uint32_t peerReceive = in.UInt32();
  uint32_t peerSend = in.UInt32();
  m_nPeerMaxMessage = in.UInt32();
  m_nPeerMaxChunks = in.UInt32();
  std::string url = in.String();
  if (url.size() > kMaxEndpointUrl)
    throw UaDecodeError(UaStatus::BadTcpEndpointUrlInvalid, "endpoint URL too long");
  if (peerReceive < limits::kMinBufferSize || peerSend < limits::kMinBufferSize)
    throw UaDecodeError(UaStatus::BadConnectionRejected, "buffer sizes below 8192");
  m_nSendBuffer = std::min(limits::kSendBufferSize, peerReceive);
  m_nReceiveBuffer = std::min(limits::kReceiveBufferSize, peerSend);
  UaEncoder out;
  WriteHeader(out, "ACK", 'F');
  out.UInt32(0);
  out.UInt32(m_nReceiveBuffer);
  out.UInt32(m_nSendBuffer);
  out.UInt32(limits::kMaxMessageSize);
  out.UInt32(limits::kMaxChunkCount);
  out.PatchUInt32(4, static_cast<uint32_t>(out.Size()));
  m_state = State::Acknowledged;
  m_sink.Send(std::move(out.Buffer()));
}

void UaConnection::CheckSequence(uint32_t sequence) {
  // Numbers wrap below 1024 once they pass 4294966271; anything else must
  // follow the previous one exactly.
  bool follows = !m_bSequenceStarted || sequence == m_nLastReceivedSequence + 1 ||
                 (m_nLastReceivedSequence > 4294966271u && sequence < 1024);
  if (!follows)
    throw UaDecodeError(UaStatus::BadSequenceNumberInvalid, "sequence number out of order");
  m_bSequenceStarted = true;
  m_nLastReceivedSequence = sequence;
}

void UaConnection::OnOpen(const uint8_t* chunk, size_t size) {
  if (chunk[3] != 'F')
    throw UaDecodeError(UaStatus::BadTcpMessageTypeInvalid, "OpenSecureChannel in chunks");
  UaDecoder in(chunk + kHeaderSize, size - kHeaderSize);
  uint32_t channelId = in.UInt32();
  AsymmetricSecurityHeader header = AsymmetricSecurityHeader::read(in);
  const bool renew = m_state == State::Open;
  m_security.Accept(header, m_server.Pki(), renew);
  ByteString plain = m_security.OpenAsymmetric(chunk, size, kHeaderSize + in.Position());
  UaDecoder body(plain.data(), plain.size());
  CheckSequence(body.UInt32());
  uint32_t requestId = body.UInt32();
  OpenRequest request = ReadOpenRequest(body);
  CheckOpenRequest(request, renew, channelId);
  m_security.SetMode(static_cast<SecurityMode>(request.mode));
  ByteString serverNonce;
  if (m_security.Policy().Secure())
    serverNonce = SymmetricCrypto::RandomBytes(SecurityPolicy::kNonceLength);
  m_previous = m_current;
  m_current = {
      m_nNextTokenId++, SteadyMs(),
      std::clamp(request.lifetime, limits::kMinTokenLifetimeMs, limits::kMaxTokenLifetimeMs)};
  m_security.DropTokensBefore(m_previous.id);
  m_security.AddToken(m_current.id, request.clientNonce, serverNonce);
  if (!renew && !m_server.AdmitChannel(shared_from_this()))
    throw UaDecodeError(UaStatus::BadTcpServerTooBusy,
                        std::to_string(limits::kMaxChannelsPerAddress) +
                            " secure channels are open from this address already");
  m_state = State::Open;
  m_nLastRequestMs = SteadyMs();
  SendOpenResponse(requestId, request.requestHandle, serverNonce);
}

void UaConnection::CheckOpenRequest(const OpenRequest& request, bool renew,
                                    uint32_t channelId) const {
  if (request.requestType > 1 || renew != (request.requestType == 1) ||
      (renew && channelId != m_nChannelId))
    throw UaDecodeError(UaStatus::BadRequestTypeInvalid,
                        "OpenSecureChannel request type does not fit");
  const auto mode = static_cast<SecurityMode>(request.mode);
  if (!m_server.Security().Opens(m_security.Policy(), mode) || (renew && mode != m_security.Mode()))
    throw UaDecodeError(UaStatus::BadSecurityModeRejected,
                        "security policy and mode not offered on this endpoint");
  if (m_security.Policy().Secure() && request.clientNonce.size() != SecurityPolicy::kNonceLength)
    throw UaDecodeError(UaStatus::BadNonceInvalid, "client nonce is not 32 bytes");
}

UaConnection::OpenRequest UaConnection::ReadOpenRequest(UaDecoder& in) {
  if (in.NodeId() != UaNodeId::Num(0, UaId::OpenSecureChannelRequest_Encoding_DefaultBinary))
    throw UaDecodeError(UaStatus::BadTcpMessageTypeInvalid, "OPN without OpenSecureChannelRequest");
  RequestHeader header = RequestHeader::read(in);
  OpenSecureChannelRequest r = OpenSecureChannelRequest::read(in);
  return {header.requestHandle, r.requestType, r.securityMode, r.requestedLifetime,
          std::move(r.clientNonce)};
}

void UaConnection::SendOpenResponse(uint32_t requestId, uint32_t requestHandle,
                                    const ByteString& serverNonce) {
  UaEncoder out;
  WriteHeader(out, "OPN", 'F');
  out.UInt32(m_nChannelId);
  m_security.WriteAsymmetricHeader(out);
  const size_t bodyFrom = out.Size();
  out.UInt32(++m_nSendSequence);
  out.UInt32(requestId);
  out.NodeId(UaNodeId::Num(0, UaId::OpenSecureChannelResponse_Encoding_DefaultBinary));
  UaServer::WriteResponseHeader(out, requestHandle, UaStatus::Good);
  out.UInt32(0);
  out.UInt32(m_nChannelId);
  out.UInt32(m_current.id);
  out.DateTime(UaNow());
  out.UInt32(m_current.lifetimeMs);
  out.Bytes(serverNonce);
  m_security.SecureAsymmetric(out, bodyFrom);
  m_sink.Send(std::move(out.Buffer()));
}

size_t UaConnection::MaxResponseSize() const {
  size_t limit = m_nPeerMaxMessage;
  if (m_nPeerMaxChunks != 0) {
    size_t byChunks = size_t{m_nPeerMaxChunks} * m_security.MaxSymmetricBody(m_nSendBuffer);
    limit = limit == 0 ? byChunks : std::min(limit, byChunks);
  }
  return limit;
}

bool UaConnection::TokenKnown(uint32_t tokenId, int64_t nowMs) const {
  for (const Token* t : {&m_current, &m_previous}) {
    if (t->id != 0 && t->id == tokenId && nowMs < t->createdMs + t->lifetimeMs * 5 / 4) return true;
  }
  return false;
}

bool UaConnection::TokenExpired(int64_t nowMs) const {
  return m_state == State::Open && nowMs >= m_current.createdMs + m_current.lifetimeMs * 5 / 4;
}

int64_t UaConnection::PartialMs(int64_t nowMs) const {
  int64_t since = nowMs;
  if (!m_inbuf.empty()) since = std::min(since, m_nChunkSinceMs);
  if (m_nChunks > 0) since = std::min(since, m_nAssemblySinceMs);
  return nowMs - since;
}

void UaConnection::CheckTimers(int64_t nowMs) {
  if (m_state == State::Closed) return;
  const limits::Allowances& allowed = m_server.Allowances();
  if (!HasChannel() && nowMs - m_nCreatedMs > limits::kHelloTimeoutMs) {
    Fail(UaStatus::BadTimeout, "no secure channel opened in time");
  } else if (TokenExpired(nowMs)) {
    Fail(UaStatus::BadSecureChannelTokenUnknown, "security token expired without renewal");
  } else if (PartialMs(nowMs) > allowed.partialMessageMs) {
    Fail(UaStatus::BadTimeout, "message not complete in time");
  } else if (HasChannel() && nowMs - m_nLastRequestMs > allowed.idleChannelMs &&
             !m_server.HasSessionOn(this)) {
    Fail(UaStatus::BadTimeout, "secure channel idle without a session");
  }
}

void UaConnection::OnSymmetric(uint8_t* chunk, size_t size) {
  if (size < ChannelSecurity::kSymmetricHeader + ChannelSecurity::kSequenceHeader)
    throw UaDecodeError(UaStatus::BadDecodingError, "chunk too short");
  bool isClose = chunk[0] == 'C';
  char kind = static_cast<char>(chunk[3]);
  if (ReadU32(chunk + 8) != m_nChannelId)
    throw UaDecodeError(UaStatus::BadSecureChannelIdInvalid, "wrong channel");
  const uint32_t tokenId = ReadU32(chunk + 12);
  if (!TokenKnown(tokenId, SteadyMs()))
    throw UaDecodeError(UaStatus::BadSecureChannelTokenUnknown, "token unknown or expired");
  auto [plain, plainSize] = m_security.OpenSymmetric(chunk, size, tokenId);
  CheckSequence(ReadU32(plain));
  uint32_t requestId = ReadU32(plain + 4);
  if (kind == 'A') {
    m_assembly.clear();
    m_nChunks = 0;
    return;
  }
  if (kind != 'C' && kind != 'F')
    throw UaDecodeError(UaStatus::BadTcpMessageTypeInvalid, "unknown chunk type");
  if (m_nChunks > 0 && requestId != m_nAssemblyRequestId)
    throw UaDecodeError(UaStatus::BadTcpMessageTypeInvalid, "chunks of two requests interleaved");
  if (m_nChunks == 0) m_nAssemblySinceMs = SteadyMs();
  if (++m_nChunks > limits::kMaxChunkCount || m_assembly.size() + size > limits::kMaxMessageSize)
    throw UaDecodeError(UaStatus::BadTcpMessageTooLarge, "message too large");
  m_nAssemblyRequestId = requestId;
  const uint8_t* body = plain + ChannelSecurity::kSequenceHeader;
  m_assembly.insert(m_assembly.end(), body, body + (plainSize - ChannelSecurity::kSequenceHeader));
  if (kind == 'F') OnCompleteMessage(requestId, isClose);
}

void UaConnection::OnCompleteMessage(uint32_t requestId, bool isClose) {
  std::vector<uint8_t> message;
  message.swap(m_assembly);
  m_nChunks = 0;
  m_nLastRequestMs = SteadyMs();
  if (isClose) {
    Shutdown();
    return;
  }
  m_server.OnRequest(shared_from_this(), requestId, message);
}

void UaConnection::SendMessage(uint32_t requestId, const std::vector<uint8_t>& body) {
  if (m_state != State::Open) return;
  SendChunks("MSG", requestId, body);
}

void UaConnection::SendChunks(const char* type, uint32_t requestId,
                              const std::vector<uint8_t>& body) {
  const size_t perChunk = m_security.MaxSymmetricBody(m_nSendBuffer);
  const size_t chunks = std::max<size_t>(1, (body.size() + perChunk - 1) / perChunk);
  UaEncoder out;
  out.Buffer().reserve(m_nSendBuffer * chunks);
  for (size_t i = 0; i < chunks; ++i) {
    size_t start = out.Size();
    size_t from = i * perChunk;
    size_t n = std::min(perChunk, body.size() - from);
    WriteHeader(out, type, i + 1 == chunks ? 'F' : 'C');
    out.UInt32(m_nChannelId);
    out.UInt32(m_current.id);
    out.UInt32(++m_nSendSequence);
    out.UInt32(requestId);
    out.Raw(body.data() + from, n);
    m_security.SecureSymmetric(out.Buffer(), start, m_current.id);
  }
  m_sink.Send(std::move(out.Buffer()));
}

void UaConnection::Fail(uint32_t status, const std::string& reason) {
  if (m_state == State::Closed) return;
  const std::string why = reason + " (" + StatusText(status) + ")";
  // Anyone who reaches the port can be refused as often as they like.
  if (HasChannel())
    ServerLog::write(OPC_LOG_WARNING, ClientName(), "connection closed: " + why);
  else
    ServerLog::writeLimited(OPC_LOG_WARNING, why, ClientName(), "connection refused: " + why);
  UaEncoder out;
  WriteHeader(out, "ERR", 'F');
  out.UInt32(status);
  out.String(reason);
  out.PatchUInt32(4, static_cast<uint32_t>(out.Size()));
  m_sink.Send(std::move(out.Buffer()));
  Shutdown();
}

void UaConnection::Shutdown() {
  if (m_state == State::Closed) return;
  m_state = State::Closed;
  m_inbuf.clear();
  m_assembly.clear();
  HoldBuffers();
  m_server.OnConnectionClosed(this);
  m_sink.Close();
}

std::string UaConnection::ClientName() const {
  const std::string peer = m_sink.PeerName();
  return "OPC UA client " + (peer.empty() ? "on channel " + std::to_string(m_nChannelId) : peer);
}

}  // namespace tagserver
