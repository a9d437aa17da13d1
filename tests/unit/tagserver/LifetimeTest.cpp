// What a client holds ends with it: queued timer work never outlives the
// session it belongs to, and sessions, channels and buffers that a client
// leaves unused are taken back in time for the other clients.
#include <gtest/gtest.h>

#include <thread>
#include <utility>

#include "TestClient.h"
#include "tagserver/TcpLink.h"
#include "tagserver/UaLimits.h"
#include "tagserver/UaNodeIds.h"
#include "tagserver/UaStatusCodes.h"

namespace tagserver {
namespace {

using test::FloatVariant;
using test::TestClient;
using test::TestServer;
using test::WireWriter;

constexpr double kFastMs = 10;
constexpr int kSubscriptions = 50;
constexpr int kItemsEach = 500;

// A subscription with many items on one tag, published as fast as allowed.
void WatchFast(TestClient& c) {
  const test::Response r = c.Call(UaId::CreateSubscriptionRequest_Encoding_DefaultBinary,
                                  [](WireWriter& e) {
                                    e.float64(kFastMs);
                                    for (uint32_t v : {1000u, 10u, 0u}) e.uint32(v);
                                    e.boolean(true);
                                    e.byte(0);
                                  });
  const uint32_t sub = r.Body().UInt32();
  c.Call(UaId::CreateMonitoredItemsRequest_Encoding_DefaultBinary, [&](WireWriter& e) {
    e.uint32(sub);
    e.uint32(2);
    e.int32(kItemsEach);
    for (uint32_t handle = 1; handle <= kItemsEach; ++handle) {
      e.nodeId(UaNodeId::Str(1, "A"));
      e.uint32(13);
      e.nullString();
      e.qualifiedName({});
      for (uint32_t v : {2u, handle}) e.uint32(v);
      e.float64(0);
      e.extensionObject({});
      e.uint32(1);
      e.boolean(true);
    }
  });
}

// The session ends from a timer that expires before every subscription's
// first tick, so that the ticks are already queued when it goes.
TEST(Lifetime, SubscriptionTicksQueuedWhenTheSessionEndsFindItGone) {
  struct Case {
    const char* what;
    std::function<void(TestServer&, TestClient&)> end;
  };
  const std::vector<Case> cases = {
      {"closed by the client",
       [](TestServer&, TestClient& c) {
         c.Call(UaId::CloseSessionRequest_Encoding_DefaultBinary,
                [](WireWriter& e) { e.boolean(true); });
       }},
      {"timed out", [](TestServer& s, TestClient&) { s.server->Housekeeping(SteadyMs() + 3600001); }},
  };
  constexpr int kRounds = 3;
  for (const Case& k : cases) {
    SCOPED_TRACE(k.what);
    TestServer s;
    s.tags.Create("A", FloatVariant(1), 192, true);
    for (int round = 0; round < kRounds; ++round) {
      TestClient c(*s.server);
      asio::steady_timer closer(s.io);
      closer.expires_after(std::chrono::milliseconds(0));
      c.Ready();
      for (int i = 0; i < kSubscriptions; ++i) WatchFast(c);
      ASSERT_EQ(s.server->SubscriptionCount(), static_cast<size_t>(kSubscriptions));
      bool ended = false;
      closer.async_wait([&](const asio::error_code&) {
        k.end(s, c);
        ended = true;
      });
      // Every tick is due before the loop first looks at its timers.
      std::this_thread::sleep_for(std::chrono::milliseconds(static_cast<int>(kFastMs) * 2));
      s.io.restart();
      while (!ended) s.io.run_one();
      s.io.poll();
      EXPECT_EQ(s.server->SubscriptionCount(), 0u);
    }
  }
}

using Clients = std::vector<std::unique_ptr<TestClient>>;
constexpr const char* kNone = "http://opcfoundation.org/UA/SecurityPolicy#None";

std::unique_ptr<TestClient> Connected(TestServer& s, const std::string& address) {
  auto c = std::make_unique<TestClient>(*s.server);
  c->address = address;
  c->Connect();
  return c;
}

uint32_t ErrorSent(TestClient& c) {
  for (const test::Chunk& chunk : c.TakeChunks())
    if (chunk.type == "ERR") return UaDecoder(chunk.body.data(), chunk.body.size()).UInt32();
  return 0;
}

uint32_t OpenRefusal(TestServer& s, const std::string& address) {
  TestClient c(*s.server);
  c.address = address;
  c.Hello();
  c.TakeChunks();
  c.Raw(c.OpenBytes(0, kNone));
  return ErrorSent(c);
}

std::vector<uint8_t> GetEndpointsBytes(TestClient& c, size_t chunkBody = 1 << 20) {
  uint32_t id = 0;
  return c.RequestBytes(
      UaId::GetEndpointsRequest_Encoding_DefaultBinary,
      [](WireWriter& e) {
        e.string("opc.tcp://127.0.0.1:4840");
        e.nullArray();
        e.nullArray();
      },
      chunkBody, id);
}

// Sessions created and never activated, each from an address of its own.
Clients FillSessions(TestServer& s, size_t count) {
  Clients held;
  for (size_t i = 0; i < count; ++i) {
    held.push_back(Connected(s, "10.0.0." + std::to_string(i)));
    held.back()->CreateSession();
  }
  return held;
}

// A client that never reads, to a server link on a real socket with small
// kernel buffers; true when the server drops it.
bool NonReaderDropped(TestServer& s) {
  constexpr size_t kRequests = 2000;
  s.server->SetAllowances({.maxUnsentBytes = 64 * 1024});
  using asio::ip::tcp;
  tcp::acceptor acceptor(s.io, {asio::ip::address_v4::loopback(), 0});
  asio::io_context clientIo;
  tcp::socket client(clientIo);
  client.open(tcp::v4());
  client.set_option(asio::socket_base::receive_buffer_size(4096));
  client.connect(acceptor.local_endpoint());
  tcp::socket accepted(s.io);
  acceptor.accept(accepted);
  accepted.set_option(asio::socket_base::send_buffer_size(4096));
  TestClient words(*s.server);  // writes the bytes only
  words.channelId = s.server->NextChannelId();
  words.tokenId = 1;
  auto link = std::make_shared<TcpLink>(std::move(accepted), *s.server, words.channelId);
  link->Start();
  const std::weak_ptr<TcpLink> alive = std::exchange(link, nullptr);
  std::vector<uint8_t> out = TestClient::HelloBytes(65536, 65536, 0, 0);
  for (size_t i = 0; i <= kRequests; ++i) {
    auto more = i == 0 ? words.OpenBytes(0, kNone) : GetEndpointsBytes(words);
    out.insert(out.end(), more.begin(), more.end());
  }
  std::thread writer([&] {
    asio::error_code ignored;
    asio::write(client, asio::buffer(out), ignored);
  });
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  s.io.restart();
  while (!alive.expired() && std::chrono::steady_clock::now() < deadline)
    s.io.run_one_for(std::chrono::milliseconds(100));
  asio::error_code ignored;
  client.shutdown(tcp::socket::shutdown_both, ignored);
  writer.join();
  return alive.expired();
}

TEST(Lifetime, WhatAClientLeavesUnusedIsTakenBackForTheOthers) {
  struct Case {
    const char* what;
    std::function<void(TestServer&)> run;
  };
  const std::vector<Case> cases = {
      {"unactivated sessions end with their connections",
       [](TestServer& s) {
         Clients held = FillSessions(s, limits::kMaxSessions);
         auto late = Connected(s, "198.51.100.1");
         EXPECT_EQ(late->RequestSession().serviceResult, UaStatus::BadTooManySessions);
         for (auto& c : held) c->conn->Shutdown();
         EXPECT_EQ(late->RequestSession().serviceResult, UaStatus::Good);
       }},
      {"unactivated sessions end soon, activated ones keep their timeout",
       [](TestServer& s) {
         auto kept = Connected(s, "198.51.100.2");
         kept->CreateSession();
         kept->ActivateSession();
         Clients held = FillSessions(s, limits::kMaxSessions - 1);
         auto late = Connected(s, "198.51.100.1");
         EXPECT_EQ(late->RequestSession().serviceResult, UaStatus::BadTooManySessions);
         s.server->Housekeeping(SteadyMs() + s.server->Allowances().unactivatedSessionMs + 1);
         EXPECT_EQ(late->RequestSession().serviceResult, UaStatus::Good);
         auto close = [](WireWriter& e) { e.boolean(true); };
         EXPECT_EQ(kept->Call(UaId::CloseSessionRequest_Encoding_DefaultBinary, close).serviceResult,
                   UaStatus::Good);
       }},
      {"a channel idle without a session closes",
       [](TestServer& s) {
         auto idle = Connected(s, "198.51.100.1");
         auto working = Connected(s, "198.51.100.2");
         working->CreateSession();
         const int64_t later = SteadyMs() + s.server->Allowances().idleChannelMs + 1;
         idle->conn->CheckTimers(later);
         working->conn->CheckTimers(later);
         EXPECT_EQ(ErrorSent(*idle), UaStatus::BadTimeout);
         EXPECT_FALSE(working->closed);
       }},
      {"a message dripped in bytes or chunks times out",
       [](TestServer& s) {
         auto dripping = Connected(s, "198.51.100.1");
         auto chunked = Connected(s, "198.51.100.2");
         auto bytes = GetEndpointsBytes(*dripping);
         dripping->Raw({bytes.begin(), bytes.begin() + 10});
         auto chunks = GetEndpointsBytes(*chunked, 8);
         chunked->Raw({chunks.begin(), chunks.begin() + 32});  // the first chunk, whole
         const int64_t later = SteadyMs() + s.server->Allowances().partialMessageMs + 1;
         for (TestClient* c : {dripping.get(), chunked.get()}) {
           EXPECT_FALSE(c->closed);
           c->conn->CheckTimers(later);
           EXPECT_EQ(ErrorSent(*c), UaStatus::BadTimeout);
         }
       }},
      {"one address opens a bounded number of channels",
       [](TestServer& s) {
         Clients held;
         for (size_t i = 0; i < limits::kMaxChannelsPerAddress; ++i)
           held.push_back(Connected(s, "192.0.2.1"));
         EXPECT_TRUE(held.back()->conn->HasChannel());
         EXPECT_EQ(OpenRefusal(s, "192.0.2.1"), UaStatus::BadTcpServerTooBusy);
         EXPECT_EQ(OpenRefusal(s, "192.0.2.2"), 0u);
         held.front()->conn->Shutdown();
         EXPECT_EQ(OpenRefusal(s, "192.0.2.1"), 0u);
       }},
      {"one address creates a bounded number of sessions",
       [](TestServer& s) {
         auto busy = Connected(s, "192.0.2.1");
         for (size_t i = 0; i < limits::kMaxSessionsPerAddress; ++i)
           ASSERT_EQ(busy->RequestSession().serviceResult, UaStatus::Good);
         EXPECT_EQ(busy->RequestSession().serviceResult, UaStatus::BadTooManySessions);
         EXPECT_EQ(Connected(s, "192.0.2.2")->RequestSession().serviceResult, UaStatus::Good);
       }},
      {"a client that does not read is dropped",
       [](TestServer& s) { EXPECT_TRUE(NonReaderDropped(s)); }},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.what);
    TestServer s;
    k.run(s);
    EXPECT_EQ(s.server->Buffers()->InUse(), 0u);
  }
}

}  // namespace
}  // namespace tagserver
