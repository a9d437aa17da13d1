#include "TestClient.h"

#include <optional>
#include <stdexcept>

#include "tagserver/UaNodeIds.h"

namespace tagserver::test {

namespace {

void Header(WireWriter& w, const char* type, char kind) {
  w.raw(std::string_view(type, 3));
  w.byte(static_cast<uint8_t>(kind));
  w.uint32(0);
}

void Finish(WireWriter& w, size_t start = 0) {
  w.patchUInt32(start + 4, static_cast<uint32_t>(w.size() - start));
}

}  // namespace

VARIANT FloatVariant(float f) {
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_R4;
  v.fltVal = f;
  return v;
}

TestServer::TestServer() {
  ServerInfo info;
  info.folderName = "Korvane.Modbus_OPC_Server";
  info.applicationUri = "urn:test";
  info.minSamplingMs = 10;
  server = std::make_unique<UaServer>(io, tags, info);
  server->SetEndpointUrl("opc.tcp://127.0.0.1:4840");
  server->SetWriteHandler([this](int32_t handle, VARIANT& value, uint64_t token) {
    VARIANT copy;
    VariantInit(&copy);
    VariantCopy(&copy, &value);
    writes.emplace_back(handle, copy);
    tokens.push_back(token);
    return writeResult;
  });
  tags.SetChangeNotifier([this] { asio::post(io, [this] { server->OnTagChanges(); }); });
}

TestServer::~TestServer() {
  tags.SetChangeNotifier(nullptr);
  for (auto& [h, v] : writes) VariantClear(&v);
}

void TestServer::RunFor(int ms) {
  io.restart();
  io.run_for(std::chrono::milliseconds(ms));
}

TestClient::TestClient(UaServer& server) {
  conn = std::make_shared<UaConnection>(server, *this, server.NextChannelId());
}

void TestClient::Send(std::vector<uint8_t>&& bytes) {
  received.insert(received.end(), bytes.begin(), bytes.end());
}

std::vector<uint8_t> TestClient::HelloBytes(uint32_t receiveBuffer, uint32_t sendBuffer,
                                            uint32_t maxMessage, uint32_t maxChunks) {
  WireWriter e;
  Header(e, "HEL", 'F');
  e.uint32(0);
  e.uint32(receiveBuffer);
  e.uint32(sendBuffer);
  e.uint32(maxMessage);
  e.uint32(maxChunks);
  e.string("opc.tcp://127.0.0.1:4840");
  Finish(e);
  return e.bytes();
}

void TestClient::Hello(uint32_t receiveBuffer, uint32_t sendBuffer, uint32_t maxMessage,
                       uint32_t maxChunks) {
  Raw(HelloBytes(receiveBuffer, sendBuffer, maxMessage, maxChunks));
}

std::vector<uint8_t> TestClient::OpenBytes(uint32_t requestType, const std::string& policy) {
  WireWriter e;
  Header(e, "OPN", 'F');
  e.uint32(channelId);
  e.string(policy);
  e.nullString();
  e.nullString();
  e.uint32(sequence++);
  e.uint32(requestId++);
  e.nodeId(UaNodeId::Num(0, UaId::OpenSecureChannelRequest_Encoding_DefaultBinary));
  e.nodeId({});
  e.dateTime(0);
  e.uint32(requestHandle++);
  e.uint32(0);
  e.nullString();
  e.uint32(0);
  e.extensionObject({});
  e.uint32(0);
  e.uint32(requestType);
  e.uint32(1);
  e.nullString();
  e.uint32(600000);
  Finish(e);
  return e.bytes();
}

void TestClient::Open() {
  Raw(OpenBytes(0, "http://opcfoundation.org/UA/SecurityPolicy#None"));
  for (const Chunk& c : TakeChunks()) {
    if (c.type != "OPN") continue;
    UaDecoder d(c.body.data(), c.body.size());
    d.NodeId();
    d.DateTime();
    d.UInt32();
    d.UInt32();
    d.SkipDiagnosticInfo();
    d.StringArray();
    d.ExtensionObject();
    d.UInt32();
    channelId = d.UInt32();
    tokenId = d.UInt32();
  }
}

uint32_t TestClient::Request(uint32_t typeId, const std::function<void(WireWriter&)>& body,
                             size_t chunkBody) {
  uint32_t id = 0;
  Raw(RequestBytes(typeId, body, chunkBody, id));
  return id;
}

std::vector<uint8_t> TestClient::RequestBytes(uint32_t typeId,
                                              const std::function<void(WireWriter&)>& body,
                                              size_t chunkBody, uint32_t& id) {
  WireWriter msg;
  msg.nodeId(UaNodeId::Num(0, typeId));
  msg.nodeId(token);
  msg.dateTime(UaNow());
  msg.uint32(requestHandle++);
  msg.uint32(0);
  msg.nullString();
  msg.uint32(timeoutHint);
  msg.extensionObject({});
  body(msg);
  id = requestId++;
  WireWriter out;
  const auto& bytes = msg.bytes();
  for (size_t from = 0; from < bytes.size() || from == 0; from += chunkBody) {
    size_t n = std::min(chunkBody, bytes.size() - from);
    size_t start = out.size();
    Header(out, "MSG", from + n >= bytes.size() ? 'F' : 'C');
    out.uint32(channelId);
    out.uint32(tokenId);
    out.uint32(sequence++);
    out.uint32(id);
    out.raw(bytes.data() + from, n);
    Finish(out, start);
    if (from + n >= bytes.size()) break;
  }
  return out.bytes();
}

std::vector<Chunk> TestClient::TakeChunks() {
  std::vector<Chunk> out;
  UaDecoder d(received.data(), received.size());
  Chunk pending;
  while (d.Remaining() >= 8) {
    Chunk c;
    char head[4];
    d.Raw(head, 4);
    c.type.assign(head, 3);
    c.kind = head[3];
    uint32_t size = d.UInt32();
    size_t end = d.Position() + size - 8;
    if (c.type == "MSG") {
      d.UInt32();
      d.UInt32();
      d.UInt32();
      c.requestId = d.UInt32();
    } else if (c.type == "OPN") {
      d.UInt32();
      d.String();
      d.Bytes();
      d.Bytes();
      d.UInt32();
      c.requestId = d.UInt32();
    }
    c.body.resize(end - d.Position());
    d.Raw(c.body.data(), c.body.size());
    if (c.type == "MSG" && c.kind == 'C') {
      pending.body.insert(pending.body.end(), c.body.begin(), c.body.end());
      continue;
    }
    if (c.type == "MSG" && !pending.body.empty()) {
      pending.body.insert(pending.body.end(), c.body.begin(), c.body.end());
      c.body = std::move(pending.body);
      pending = Chunk{};
    }
    out.push_back(std::move(c));
  }
  received.clear();
  return out;
}

std::vector<Response> TestClient::TakeResponses() {
  std::vector<Response> out = std::move(backlog);
  backlog.clear();
  for (Chunk& c : TakeChunks()) {
    if (c.type != "MSG") continue;
    Response r;
    r.requestId = c.requestId;
    r.bytes = std::move(c.body);
    UaDecoder d(r.bytes.data(), r.bytes.size());
    r.typeId = d.NodeId().numeric;
    d.DateTime();
    r.requestHandle = d.UInt32();
    r.serviceResult = d.UInt32();
    d.SkipDiagnosticInfo();
    d.StringArray();
    d.ExtensionObject();
    r.bodyAt = d.Position();
    out.push_back(std::move(r));
  }
  return out;
}

Response TestClient::Call(uint32_t typeId, const std::function<void(WireWriter&)>& body) {
  uint32_t id = Request(typeId, body);
  std::optional<Response> answer;
  for (Response& r : TakeResponses()) {
    if (r.requestId == id) {
      answer = std::move(r);
    } else {
      backlog.push_back(std::move(r));  // an answer to an earlier Publish
    }
  }
  if (!answer) throw std::runtime_error("no response");
  return *answer;
}

void TestClient::Connect() {
  Hello();
  TakeChunks();
  Open();
}

Response TestClient::RequestSession() {
  return Call(UaId::CreateSessionRequest_Encoding_DefaultBinary, [](WireWriter& e) {
    e.nullString();
    e.nullString();
    e.localizedText({});
    e.uint32(1);
    e.nullString();
    e.nullString();
    e.nullArray();
    e.nullString();
    e.nullString();
    e.string("test");
    e.nullString();
    e.nullString();
    e.float64(60000);
    e.uint32(0);
  });
}

void TestClient::CreateSession() {
  Response r = RequestSession();
  UaDecoder d = r.Body();
  d.NodeId();
  token = d.NodeId();
  d.Double();
  serverNonce = d.Bytes();
}

void TestClient::ActivateSession() {
  Call(UaId::ActivateSessionRequest_Encoding_DefaultBinary, [](WireWriter& e) {
    e.nullString();
    e.nullString();
    e.nullArray();
    e.nullArray();
    WireWriter identity;
    identity.string("anonymous");
    e.extensionObject({UaNodeId::Num(0, UaId::AnonymousIdentityToken_Encoding_DefaultBinary), 1,
                       identity.bytes()});
    e.nullString();
    e.nullString();
  });
}

void TestClient::Ready() {
  Connect();
  CreateSession();
  ActivateSession();
}

}  // namespace tagserver::test
