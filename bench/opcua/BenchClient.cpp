// A minimal OPC UA client for the benchmarks, in a process of its own so that
// its cost stays out of the server's figures. SecurityPolicy None and an
// anonymous session, so that it talks to our server and to the reference one.
//
//   opcua_bench_client <port> <tags> <seconds> [options]
// monitors every tag (ns=1;s=BENCH.<i>, or the names in --names) with one
// subscription, keeps Publish requests in flight from the start and counts
// the data change notifications it receives. Prints "ready" once all items
// are created and the first notifications are in, then, after the given
// seconds, "delivered <n>" (counted after ready). Options:
//   --pipelined         send every CreateMonitoredItems request without
//                       waiting for the answers (one at a time otherwise)
//   --batch N           items per CreateMonitoredItems request (5000)
//   --interval MS       sampling and publishing interval (100)
//   --queue N           queue size (10)
//   --create-timeout S  give up creating after S seconds; then "created <n>
//                       <seconds>" tells how far it got (no limit)
//   --names FILE        one node name (namespace 1, string id) a line
//   --settle S          seconds between creation and ready (2)
//
//   opcua_bench_client <port> read <name>
// reads the node's Value every 100 ms until stdin closes, then prints
// "reads <n> <median ms> <99th percentile ms> <max ms>"; a Read still
// unanswered at the end counts with its age so far.
#include <poll.h>

#include <algorithm>
#include <asio.hpp>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <optional>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "tagserver/UaDecoder.h"
#include "tagserver/UaEncoder.h"
#include "tagserver/UaNodeIds.h"

using namespace tagserver;
using asio::ip::tcp;
using Clock = std::chrono::steady_clock;

namespace {

constexpr uint32_t kOurBufferSize = 65536;
constexpr size_t kChunkHeader = 24;
constexpr int kPublishesInFlight = 5;
constexpr uint32_t kValueAttribute = 13;
constexpr uint32_t kReportingMode = 2;
constexpr uint32_t kTimestampsBoth = 2;
constexpr auto kReadEvery = std::chrono::milliseconds(100);

struct Options {
  uint16_t port = 0;
  std::vector<std::string> names;
  int seconds = 0;
  bool pipelined = false;
  int batch = 5000;
  double interval = 100;
  uint32_t queue = 10;
  std::optional<double> createTimeout;
  int settle = 2;
};

double Since(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

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
    for (uint32_t v : {0u, kOurBufferSize, kOurBufferSize, 0u, 0u}) hello.UInt32(v);
    hello.String("opc.tcp://127.0.0.1");
    hello.PatchUInt32(4, static_cast<uint32_t>(hello.Size()));
    asio::write(m_socket, asio::buffer(hello.Buffer()));
    ReadAcknowledge();
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

  void Subscribe(const Options& o) {
    auto sub = Call(UaId::CreateSubscriptionRequest_Encoding_DefaultBinary, [&](UaEncoder& e) {
      e.Double(o.interval);
      e.UInt32(1000);
      e.UInt32(10);
      e.UInt32(0);
      e.Boolean(true);
      e.Byte(0);
    });
    UaDecoder d(sub.data(), sub.size());
    SkipResponseHeader(d);
    m_nSubscription = d.UInt32();
    for (int i = 0; i < kPublishesInFlight; ++i) Publish(0, 0);
  }

  // Creates the items, one request at a time or all at once, answering
  // Publish responses meanwhile; the items created before the deadline.
  uint64_t Monitor(const Options& o, std::optional<Clock::time_point> deadline) {
    size_t sent = 0;
    const size_t window = o.pipelined ? SIZE_MAX : 1;
    const size_t total = o.names.size();
    for (size_t from = 0; from < total; from += static_cast<size_t>(o.batch)) {
      while (sent - m_nCreateAnswers >= window)
        if (!Pump(deadline)) return m_nCreated;
      SendCreate(o, from, std::min(total, from + static_cast<size_t>(o.batch)));
      ++sent;
      while (Readable(0)) Pump(deadline);
    }
    while (m_nCreateAnswers < sent)
      if (!Pump(deadline)) break;
    return m_nCreated;
  }

  // Answers messages until the time given; the notifications counted so far.
  uint64_t CountUntil(Clock::time_point until) {
    while (Clock::now() < until) Pump(until);
    return m_nNotifications;
  }

  uint64_t Notifications() const { return m_nNotifications; }

  // Sends a Read every interval until stdin closes; the time each took.
  std::vector<double> ReadUntilStdinCloses(const std::string& name) {
    std::vector<double> took;
    auto next = Clock::now();
    bool waiting = false;
    Clock::time_point asked;
    for (;;) {
      if (!waiting && Clock::now() >= next) {
        SendRead(name);
        waiting = true;
        asked = Clock::now();
        next = asked + kReadEvery;
      }
      pollfd fds[2] = {{m_socket.native_handle(), POLLIN, 0}, {0, POLLIN, 0}};
      ::poll(fds, 2, 10);
      if (fds[1].revents != 0) break;
      if (fds[0].revents == 0) continue;
      std::vector<uint8_t> body = ReadMessage();
      UaDecoder d(body.data(), body.size());
      if (waiting && d.NodeId().numeric == UaId::ReadResponse_Encoding_DefaultBinary) {
        took.push_back(Since(asked) * 1000);
        waiting = false;
      }
    }
    if (waiting) took.push_back(Since(asked) * 1000);
    return took;
  }

 private:
  void SendCreate(const Options& o, size_t from, size_t to) {
    Send(UaId::CreateMonitoredItemsRequest_Encoding_DefaultBinary, [&](UaEncoder& e) {
      e.UInt32(m_nSubscription);
      e.UInt32(kTimestampsBoth);
      e.Int32(static_cast<int32_t>(to - from));
      for (size_t i = from; i < to; ++i) {
        e.NodeId(UaNodeId::Str(1, o.names[i]));
        e.UInt32(kValueAttribute);
        e.NullString();
        e.QualifiedName({});
        e.UInt32(kReportingMode);
        e.UInt32(static_cast<uint32_t>(i));
        e.Double(o.interval);
        e.ExtensionObject({});
        e.UInt32(o.queue);
        e.Boolean(true);
      }
    });
  }

  void SendRead(const std::string& name) {
    Send(UaId::ReadRequest_Encoding_DefaultBinary, [&](UaEncoder& e) {
      e.Double(0);
      e.UInt32(kTimestampsBoth);
      e.Int32(1);
      e.NodeId(UaNodeId::Str(1, name));
      e.UInt32(kValueAttribute);
      e.NullString();
      e.QualifiedName({});
    });
  }

  void Publish(uint32_t subscription, uint32_t sequence) {
    Send(UaId::PublishRequest_Encoding_DefaultBinary, [&](UaEncoder& e) {
      e.Int32(sequence > 0 ? 1 : 0);
      if (sequence > 0) {
        e.UInt32(subscription);
        e.UInt32(sequence);
      }
    });
  }

  // Waits for one message until the deadline and handles it; false when
  // none came in time.
  bool Pump(std::optional<Clock::time_point> deadline) {
    int wait = -1;
    if (deadline) {
      auto left = std::chrono::duration_cast<std::chrono::milliseconds>(*deadline - Clock::now());
      wait = static_cast<int>(std::max<std::chrono::milliseconds::rep>(0, left.count()));
    }
    if (!Readable(wait)) return false;
    std::vector<uint8_t> body = ReadMessage();
    UaDecoder d(body.data(), body.size());
    const uint32_t type = d.NodeId().numeric;
    if (type == UaId::PublishResponse_Encoding_DefaultBinary) {
      CountPublished(d);
    } else if (type == UaId::CreateMonitoredItemsResponse_Encoding_DefaultBinary) {
      CountCreated(d);
    } else if (type == UaId::ServiceFault_Encoding_DefaultBinary) {
      d.DateTime();
      const uint32_t handle = d.UInt32();
      std::fprintf(stderr, "service fault 0x%08x\n", d.StatusCode());
      // A refused CreateMonitoredItems is an answer too. A refused Publish
      // is not sent again: the server said it has enough of them.
      if (m_createHandles.erase(handle) > 0) ++m_nCreateAnswers;
    }
    return true;
  }

  void CountPublished(UaDecoder& d) {
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
      m_nNotifications += static_cast<uint32_t>(n.Int32());
    }
    Publish(sub, datas > 0 ? sequence : 0);
  }

  void CountCreated(UaDecoder& d) {
    d.DateTime();
    m_createHandles.erase(d.UInt32());
    d.UInt32();
    d.SkipDiagnosticInfo();
    d.StringArray();
    d.ExtensionObject();
    const int32_t results = d.Int32();
    for (int32_t i = 0; i < results; ++i) {
      if (d.StatusCode() == 0) ++m_nCreated;
      d.UInt32();
      d.Double();
      d.UInt32();
      d.ExtensionObject();
    }
    ++m_nCreateAnswers;
  }

  bool Readable(int timeoutMs) {
    pollfd p{m_socket.native_handle(), POLLIN, 0};
    return ::poll(&p, 1, timeoutMs) > 0;
  }

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
    if (type == UaId::CreateMonitoredItemsRequest_Encoding_DefaultBinary)
      m_createHandles.insert(m_nRequestId);
    UaEncoder msg;
    msg.NodeId(UaNodeId::Num(0, type));
    RequestHeader(msg);
    body(msg);
    const auto& bytes = msg.Buffer();
    const size_t per = m_nChunkSize - kChunkHeader;
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

  // The server's receive buffer bounds the chunks this client may send.
  void ReadAcknowledge() {
    uint8_t head[8];
    asio::read(m_socket, asio::buffer(head));
    std::vector<uint8_t> rest(Size(head) - 8);
    asio::read(m_socket, asio::buffer(rest));
    if (std::string(reinterpret_cast<char*>(head), 3) != "ACK")
      throw std::runtime_error("server refused Hello");
    UaDecoder d(rest.data(), rest.size());
    d.UInt32();
    m_nChunkSize = std::min<uint32_t>(kOurBufferSize, d.UInt32());
  }

  static uint32_t Size(const uint8_t* head) {
    return head[4] | head[5] << 8 | head[6] << 16 | static_cast<uint32_t>(head[7]) << 24;
  }

  // One whole message body (type id first) of MSG or OPN.
  std::vector<uint8_t> ReadMessage() {
    std::vector<uint8_t> body;
    for (;;) {
      uint8_t head[8];
      asio::read(m_socket, asio::buffer(head));
      std::vector<uint8_t> rest(Size(head) - 8);
      asio::read(m_socket, asio::buffer(rest));
      std::string type(reinterpret_cast<char*>(head), 3);
      if (type == "ERR") throw std::runtime_error("server sent Error");
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
  uint32_t m_nChunkSize = kOurBufferSize;
  uint32_t m_nSubscription = 0;
  uint64_t m_nNotifications = 0;
  uint64_t m_nCreated = 0;
  std::set<uint32_t> m_createHandles;  // requests not yet answered
  size_t m_nCreateAnswers = 0;
};

std::vector<std::string> ReadNames(const std::string& path) {
  std::ifstream in(path);
  std::vector<std::string> names;
  for (std::string line; std::getline(in, line);)
    if (!line.empty()) names.push_back(line);
  return names;
}

Options Parse(int argc, char** argv) {
  Options o;
  o.port = static_cast<uint16_t>(std::atoi(argv[1]));
  const int tags = std::atoi(argv[2]);
  o.seconds = std::atoi(argv[3]);
  for (int i = 4; i < argc; ++i) {
    const std::string option = argv[i];
    const bool hasValue = i + 1 < argc;
    if (option == "--pipelined") o.pipelined = true;
    else if (option == "--batch" && hasValue) o.batch = std::max(1, std::atoi(argv[++i]));
    else if (option == "--interval" && hasValue) o.interval = std::atof(argv[++i]);
    else if (option == "--queue" && hasValue) o.queue = static_cast<uint32_t>(std::atoi(argv[++i]));
    else if (option == "--create-timeout" && hasValue) o.createTimeout = std::atof(argv[++i]);
    else if (option == "--names" && hasValue) o.names = ReadNames(argv[++i]);
    else if (option == "--settle" && hasValue) o.settle = std::atoi(argv[++i]);
    else throw std::invalid_argument("unknown option " + option);
  }
  if (o.names.empty())
    for (int i = 0; i < tags; ++i) o.names.push_back("BENCH." + std::to_string(i));
  return o;
}

void Line(const std::string& text) {
  std::printf("%s\n", text.c_str());
  std::fflush(stdout);
}

int Monitor(const Options& o) {
  asio::io_context io;
  BenchClient client(io, o.port);
  client.Open();
  client.Session();
  client.Subscribe(o);
  const auto start = Clock::now();
  std::optional<Clock::time_point> deadline;
  if (o.createTimeout)
    deadline = start + std::chrono::duration_cast<Clock::duration>(
                           std::chrono::duration<double>(*o.createTimeout));
  const uint64_t created = client.Monitor(o, deadline);
  char text[96];
  std::snprintf(text, sizeof text, "created %llu %.2f", static_cast<unsigned long long>(created),
                Since(start));
  Line(text);
  // Let the initial values drain before counting.
  const uint64_t before = client.CountUntil(Clock::now() + std::chrono::seconds(o.settle));
  Line("ready");
  const uint64_t after = client.CountUntil(Clock::now() + std::chrono::seconds(o.seconds));
  Line("delivered " + std::to_string(after - before));
  return 0;
}

int Reader(uint16_t port, const std::string& name) {
  asio::io_context io;
  BenchClient client(io, port);
  client.Open();
  client.Session();
  std::vector<double> took = client.ReadUntilStdinCloses(name);
  if (took.empty()) took.push_back(0);
  std::sort(took.begin(), took.end());
  char text[128];
  std::snprintf(text, sizeof text, "reads %zu %.2f %.2f %.2f", took.size(),
                took[took.size() / 2], took[took.size() * 99 / 100], took.back());
  Line(text);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    if (argc == 4 && std::string(argv[2]) == "read")
      return Reader(static_cast<uint16_t>(std::atoi(argv[1])), argv[3]);
    if (argc < 4) return 2;
    return Monitor(Parse(argc, argv));
  } catch (const std::exception& e) {
    std::fprintf(stderr, "opcua_bench_client: %s\n", e.what());
    return 1;
  }
}
