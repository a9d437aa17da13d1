#include "TestClient.h"

#include <optional>
#include <stdexcept>

#include "tagserver/UaNodeIds.h"

namespace tagserver::test {

namespace {

void Header(CUaEncoder& e, const char* type, char kind) {
  e.Raw(type, 3);
  e.Byte(static_cast<uint8_t>(kind));
  e.UInt32(0);
}

void Finish(CUaEncoder& e, size_t start = 0) {
  e.PatchUInt32(start + 4, static_cast<uint32_t>(e.Size() - start));
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
  server = std::make_unique<CUaServer>(io, tags, info);
  server->SetEndpointUrl("opc.tcp://127.0.0.1:4840");
  server->SetWriteHandler([this](int32_t handle, VARIANT& value) {
    VARIANT copy;
    VariantInit(&copy);
    VariantCopy(&copy, &value);
    writes.emplace_back(handle, copy);
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

TestClient::TestClient(CUaServer& server) {
  conn = std::make_shared<CUaConnection>(server, *this, server.NextChannelId());
}

void TestClient::Send(std::vector<uint8_t>&& bytes) {
  received.insert(received.end(), bytes.begin(), bytes.end());
}

std::vector<uint8_t> TestClient::HelloBytes(uint32_t receiveBuffer, uint32_t sendBuffer,
                                            uint32_t maxMessage, uint32_t maxChunks) {
  CUaEncoder e;
  Header(e, "HEL", 'F');
  e.UInt32(0);
  e.UInt32(receiveBuffer);
  e.UInt32(sendBuffer);
  e.UInt32(maxMessage);
  e.UInt32(maxChunks);
  e.String("opc.tcp://127.0.0.1:4840");
  Finish(e);
  return e.Buffer();
}

void TestClient::Hello(uint32_t receiveBuffer, uint32_t sendBuffer, uint32_t maxMessage,
                       uint32_t maxChunks) {
  Raw(HelloBytes(receiveBuffer, sendBuffer, maxMessage, maxChunks));
}

std::vector<uint8_t> TestClient::OpenBytes(uint32_t requestType, const std::string& policy) {
  CUaEncoder e;
  Header(e, "OPN", 'F');
  e.UInt32(channelId);
  e.String(policy);
  e.NullString();
  e.NullString();
  e.UInt32(sequence++);
  e.UInt32(requestId++);
  e.NodeId(UaNodeId::Num(0, UaId::OpenSecureChannelRequest_Encoding_DefaultBinary));
  e.NodeId({});
  e.DateTime(0);
  e.UInt32(requestHandle++);
  e.UInt32(0);
  e.NullString();
  e.UInt32(0);
  e.ExtensionObject({});
  e.UInt32(0);
  e.UInt32(requestType);
  e.UInt32(1);
  e.NullString();
  e.UInt32(600000);
  Finish(e);
  return e.Buffer();
}

void TestClient::Open() {
  Raw(OpenBytes(0, "http://opcfoundation.org/UA/SecurityPolicy#None"));
  for (const Chunk& c : TakeChunks()) {
    if (c.type != "OPN") continue;
    CUaDecoder d(c.body.data(), c.body.size());
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

uint32_t TestClient::Request(uint32_t typeId, const std::function<void(CUaEncoder&)>& body,
                             size_t chunkBody) {
  CUaEncoder msg;
  msg.NodeId(UaNodeId::Num(0, typeId));
  msg.NodeId(token);
  msg.DateTime(UaNow());
  msg.UInt32(requestHandle++);
  msg.UInt32(0);
  msg.NullString();
  msg.UInt32(timeoutHint);
  msg.ExtensionObject({});
  body(msg);
  uint32_t id = requestId++;
  CUaEncoder out;
  const auto& bytes = msg.Buffer();
  for (size_t from = 0; from < bytes.size() || from == 0; from += chunkBody) {
    size_t n = std::min(chunkBody, bytes.size() - from);
    size_t start = out.Size();
    Header(out, "MSG", from + n >= bytes.size() ? 'F' : 'C');
    out.UInt32(channelId);
    out.UInt32(tokenId);
    out.UInt32(sequence++);
    out.UInt32(id);
    out.Raw(bytes.data() + from, n);
    Finish(out, start);
    if (from + n >= bytes.size()) break;
  }
  Raw(out.Buffer());
  return id;
}

std::vector<Chunk> TestClient::TakeChunks() {
  std::vector<Chunk> out;
  CUaDecoder d(received.data(), received.size());
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
    CUaDecoder d(r.bytes.data(), r.bytes.size());
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

Response TestClient::Call(uint32_t typeId, const std::function<void(CUaEncoder&)>& body) {
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

void TestClient::CreateSession() {
  Response r = Call(UaId::CreateSessionRequest_Encoding_DefaultBinary, [](CUaEncoder& e) {
    e.NullString();
    e.NullString();
    e.LocalizedText({});
    e.UInt32(1);
    e.NullString();
    e.NullString();
    e.NullArray();
    e.NullString();
    e.NullString();
    e.String("test");
    e.NullString();
    e.NullString();
    e.Double(60000);
    e.UInt32(0);
  });
  CUaDecoder d = r.Body();
  d.NodeId();
  token = d.NodeId();
}

void TestClient::ActivateSession() {
  Call(UaId::ActivateSessionRequest_Encoding_DefaultBinary, [](CUaEncoder& e) {
    e.NullString();
    e.NullString();
    e.NullArray();
    e.NullArray();
    CUaEncoder identity;
    identity.String("anonymous");
    e.ExtensionObject({UaNodeId::Num(0, UaId::AnonymousIdentityToken_Encoding_DefaultBinary), 1,
                       identity.Buffer()});
    e.NullString();
    e.NullString();
  });
}

void TestClient::Ready() {
  Connect();
  CreateSession();
  ActivateSession();
}

}  // namespace tagserver::test
