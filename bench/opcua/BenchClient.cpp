// A minimal OPC UA client for the benchmark, in a process of its own so that
// its cost stays out of the server's figures: it monitors every tag
// (BENCH.<i>) with one subscription, keeps Publish requests in flight and
// counts the data change notifications it receives.
//   opcua_bench_client <port> <tags> <seconds>
// Prints "ready <s>" once all items are created (in s seconds) and the first
// notifications are in, then, after the given seconds, "delivered <n>"
// (counted after ready).
#include <asio.hpp>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "tagserver/UaDecoder.h"
#include "tagserver/UaEncoder.h"
#include "tagserver/UaNodeIds.h"

using namespace tagserver;
using asio::ip::tcp;

namespace {

class BenchClient {
 public:
  BenchClient(asio::io_context& io, uint16_t port) : m_socket(io) {
    m_socket.connect({asio::ip::make_address("127.0.0.1"), port});
    m_socket.set_option(tcp::no_delay(true));
  }

  void Open() {
    UaEncoder hello;
    hello.Raw("HELF", 4);
    hello.UInt32(0);
    for (uint32_t v : {0u, 65536u, 65536u, 0u, 0u}) hello.UInt32(v);
    hello.String("opc.tcp://127.0.0.1");
    hello.PatchUInt32(4, static_cast<uint32_t>(hello.Size()));
    asio::write(m_socket, asio::buffer(hello.Buffer()));
    ReadMessage();
    UaEncoder open;
    open.Raw("OPNF", 4);
    open.UInt32(0);
    open.UInt32(0);
    open.String("http://opcfoundation.org/UA/SecurityPolicy#None");
    open.NullString();
    open.NullString();
    open.UInt32(m_nSequence++);
    open.UInt32(m_nRequestId++);
    open.NodeId(UaNodeId::Num(0, UaId::OpenSecureChannelRequest_Encoding_DefaultBinary));
    RequestHeader(open);
    for (uint32_t v : {0u, 0u, 1u}) open.UInt32(v);
    open.NullString();
    open.UInt32(3600000);
    open.PatchUInt32(4, static_cast<uint32_t>(open.Size()));
    asio::write(m_socket, asio::buffer(open.Buffer()));
    std::vector<uint8_t> body = ReadMessage();
    UaDecoder d(body.data(), body.size());
    d.NodeId();
    SkipResponseHeader(d);
    d.UInt32();
    m_nChannel = d.UInt32();
    m_nToken = d.UInt32();
  }

  void Session() {
    auto created = Call(UaId::CreateSessionRequest_Encoding_DefaultBinary, [](UaEncoder& e) {
      e.NullString();
      e.NullString();
      e.LocalizedText({});
      e.UInt32(1);
      e.NullString();
      e.NullString();
      e.NullArray();
      for (int i = 0; i < 5; ++i) e.NullString();
      e.Double(600000);
      e.UInt32(0);
    });
    UaDecoder d(created.data(), created.size());
    SkipResponseHeader(d);
    d.NodeId();
    m_auth = d.NodeId();
    Call(UaId::ActivateSessionRequest_Encoding_DefaultBinary, [](UaEncoder& e) {
      e.NullString();
      e.NullString();
      e.NullArray();
      e.NullArray();
      e.ExtensionObject({});
      e.NullString();
      e.NullString();
    });
  }

  void Monitor(int tags) {
    auto sub = Call(UaId::CreateSubscriptionRequest_Encoding_DefaultBinary, [](UaEncoder& e) {
      e.Double(100);
      e.UInt32(1000);
      e.UInt32(10);
      e.UInt32(0);
      e.Boolean(true);
      e.Byte(0);
    });
    UaDecoder d(sub.data(), sub.size());
    SkipResponseHeader(d);
    uint32_t id = d.UInt32();
    for (int from = 0; from < tags; from += 5000) {
      int n = std::min(5000, tags - from);
      Call(UaId::CreateMonitoredItemsRequest_Encoding_DefaultBinary, [&](UaEncoder& e) {
        e.UInt32(id);
        e.UInt32(2);
        e.Int32(n);
        for (int i = from; i < from + n; ++i) {
          e.NodeId(UaNodeId::Str(1, "BENCH." + std::to_string(i)));
          e.UInt32(13);
          e.NullString();
          e.QualifiedName({});
          e.UInt32(2);
          e.UInt32(static_cast<uint32_t>(i));
          e.Double(100);
          e.ExtensionObject({});
          e.UInt32(1);
          e.Boolean(true);
        }
      });
    }
  }

  // Keeps a few Publish requests in flight and counts notifications until
  // the deadline; returns the count.
  uint64_t Count(std::chrono::steady_clock::time_point until) {
    for (int i = 0; i < 5; ++i)
      Send(UaId::PublishRequest_Encoding_DefaultBinary, [](UaEncoder& e) { e.Int32(0); });
    uint64_t count = 0;
    while (std::chrono::steady_clock::now() < until) {
      std::vector<uint8_t> body = ReadMessage();
      UaDecoder d(body.data(), body.size());
      if (d.NodeId().numeric != UaId::PublishResponse_Encoding_DefaultBinary) continue;
      SkipResponseHeader(d);
      uint32_t sub = d.UInt32();
      d.UInt32Array();
      d.Boolean();
      uint32_t sequence = d.UInt32();
      d.DateTime();
      int32_t datas = d.Int32();
      for (int32_t i = 0; i < datas; ++i) {
        UaExtensionObject e = d.ExtensionObject();
        if (e.typeId.numeric != UaId::DataChangeNotification_Encoding_DefaultBinary) continue;
        UaDecoder n(e.body.data(), e.body.size());
        count += static_cast<uint32_t>(n.Int32());
      }
      Send(UaId::PublishRequest_Encoding_DefaultBinary, [&](UaEncoder& e) {
        e.Int32(datas > 0 ? 1 : 0);
        if (datas > 0) {
          e.UInt32(sub);
          e.UInt32(sequence);
        }
      });
    }
    return count;
  }

 private:
  void RequestHeader(UaEncoder& e) {
    e.NodeId(m_auth);
    e.DateTime(0);
    e.UInt32(m_nRequestId);
    e.UInt32(0);
    e.NullString();
    e.UInt32(0);
    e.ExtensionObject({});
  }

  static void SkipResponseHeader(UaDecoder& d) {
    d.DateTime();
    d.UInt32();
    d.UInt32();
    d.SkipDiagnosticInfo();
    d.StringArray();
    d.ExtensionObject();
  }

  void Send(uint32_t type, const std::function<void(UaEncoder&)>& body) {
    UaEncoder msg;
    msg.NodeId(UaNodeId::Num(0, type));
    RequestHeader(msg);
    body(msg);
    const auto& bytes = msg.Buffer();
    const size_t per = 65536 - 24;
    UaEncoder out;
    for (size_t from = 0; from < bytes.size(); from += per) {
      size_t n = std::min(per, bytes.size() - from);
      size_t start = out.Size();
      out.Raw(from + n >= bytes.size() ? "MSGF" : "MSGC", 4);
      out.UInt32(0);
      out.UInt32(m_nChannel);
      out.UInt32(m_nToken);
      out.UInt32(m_nSequence++);
      out.UInt32(m_nRequestId);
      out.Raw(bytes.data() + from, n);
      out.PatchUInt32(start + 4, static_cast<uint32_t>(out.Size() - start));
    }
    ++m_nRequestId;
    asio::write(m_socket, asio::buffer(out.Buffer()));
  }

  std::vector<uint8_t> Call(uint32_t type, const std::function<void(UaEncoder&)>& body) {
    Send(type, body);
    std::vector<uint8_t> answer = ReadMessage();
    UaDecoder d(answer.data(), answer.size());
    d.NodeId();
    return std::vector<uint8_t>(answer.begin() + static_cast<std::ptrdiff_t>(d.Position()),
                                answer.end());
  }

  // One whole message body (type id first) of MSG or OPN; other kinds empty.
  std::vector<uint8_t> ReadMessage() {
    std::vector<uint8_t> body;
    for (;;) {
      uint8_t head[8];
      asio::read(m_socket, asio::buffer(head));
      uint32_t size = head[4] | head[5] << 8 | head[6] << 16 | head[7] << 24;
      std::vector<uint8_t> rest(size - 8);
      asio::read(m_socket, asio::buffer(rest));
      std::string type(reinterpret_cast<char*>(head), 3);
      if (type == "ERR") throw std::runtime_error("server sent Error");
      if (type == "ACK") return {};
      size_t skip = 16;
      if (type == "OPN") {
        UaDecoder d(rest.data(), rest.size());
        d.UInt32();
        d.String();
        d.Bytes();
        d.Bytes();
        skip = d.Position() + 8;
      }
      body.insert(body.end(), rest.begin() + static_cast<std::ptrdiff_t>(skip), rest.end());
      if (head[3] == 'F') return body;
    }
  }

  tcp::socket m_socket;
  UaNodeId m_auth;
  uint32_t m_nChannel = 0;
  uint32_t m_nToken = 0;
  uint32_t m_nSequence = 1;
  uint32_t m_nRequestId = 1;
};

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) return 2;
  asio::io_context io;
  BenchClient client(io, static_cast<uint16_t>(std::atoi(argv[1])));
  client.Open();
  client.Session();
  auto creating = std::chrono::steady_clock::now();
  client.Monitor(std::atoi(argv[2]));
  double created =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - creating).count();
  // Let the initial values drain before counting.
  client.Count(std::chrono::steady_clock::now() + std::chrono::seconds(2));
  std::printf("ready %.3f\n", created);
  std::fflush(stdout);
  auto until = std::chrono::steady_clock::now() + std::chrono::seconds(std::atoi(argv[3]));
  std::printf("delivered %llu\n", static_cast<unsigned long long>(client.Count(until)));
  return 0;
}
