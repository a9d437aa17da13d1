// What a client holds ends with it: queued timer work never outlives the
// session it belongs to, and sessions, channels and buffers that a client
// leaves unused are taken back in time for the other clients.
#include <gtest/gtest.h>

#include <thread>
#include <utility>

#include "TestClient.h"
#include "opcua/UaStatusCodes.h"
#include "tagserver/TcpLink.h"
#include "tagserver/UaLimits.h"
#include "tagserver/UaNodeIds.h"

namespace tagserver {
namespace {

using test::TestClient;
using test::TestServer;
using test::WireWriter;
using Clients = std::vector<std::unique_ptr<TestClient>>;
constexpr const char* kNone = "http://opcfoundation.org/UA/SecurityPolicy#None";

std::unique_ptr<TestClient> Connected(TestServer& s, const std::string& address,
                                      bool session = false) {
  auto c = std::make_unique<TestClient>(*s.server);
  c->address = address;
  c->Connect();
  if (session) c->CreateSession();
  return c;
}

uint32_t SessionResult(TestClient& c) { return c.RequestSession().serviceResult; }

uint32_t CloseResult(TestClient& c) {
  auto body = [](WireWriter& e) { e.boolean(true); };  // deletes the subscriptions
  return c.Call(UaId::CloseSessionRequest_Encoding_DefaultBinary, body).serviceResult;
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
  c.Raw(c.OpenBytes(0, kNone));
  return ErrorSent(c);
}

std::vector<uint8_t> GetEndpointsBytes(TestClient& c, size_t chunkBody = 1 << 20) {
  uint32_t id = 0;
  auto body = [](WireWriter& e) {
    e.string("opc.tcp://127.0.0.1:4840");
    for (int i = 0; i < 2; ++i) e.nullArray();
  };
  return c.RequestBytes(UaId::GetEndpointsRequest_Encoding_DefaultBinary, body, chunkBody, id);
}

// Many subscriptions of many items each, ticking as fast as allowed, and then
// end(c) closes or times out the session. The closer's timer is set before the
// subscriptions' and the loop first runs when all are due, so every tick is
// already queued when the session goes.
void EndWhileTicksQueued(TestServer& s, const std::function<void(TestClient&)>& end) {
  constexpr uint32_t kSubscriptions = 50, kItemsEach = 500;
  s.tags.Create("A", test::FloatVariant(1), 192, true);
  for (int round = 0; round < 3; ++round) {
    TestClient c(*s.server);
    asio::steady_timer closer(s.io, std::chrono::milliseconds(0));
    c.Ready();
    for (uint32_t i = 0; i < kSubscriptions; ++i) {
      const test::Response r =
          c.Call(UaId::CreateSubscriptionRequest_Encoding_DefaultBinary, [](WireWriter& e) {
            e.float64(10);
            for (uint32_t v : {1000u, 10u, 0u}) e.uint32(v);
            e.boolean(true);
            e.byte(0);
          });
      c.Call(UaId::CreateMonitoredItemsRequest_Encoding_DefaultBinary, [&](WireWriter& e) {
        for (uint32_t v : {r.Body().UInt32(), 2u, kItemsEach}) e.uint32(v);
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
    ASSERT_EQ(s.server->SubscriptionCount(), size_t{kSubscriptions});
    closer.async_wait([&](const asio::error_code&) { end(c); });
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    s.io.restart();
    s.io.poll();
    EXPECT_EQ(s.server->SubscriptionCount(), 0u);
  }
}

// A client that never reads, to a server link on a real socket with small
// kernel buffers, is dropped.
void NonReaderIsDropped(TestServer& s) {
  s.server->SetAllowances({.maxUnsentBytes = 64 * 1024});
  using asio::ip::tcp;
  tcp::acceptor acceptor(s.io, {asio::ip::address_v4::loopback(), 0});
  asio::io_context clientIo;
  tcp::socket client(clientIo), accepted(s.io);
  client.open(tcp::v4());
  client.set_option(asio::socket_base::receive_buffer_size(4096));
  client.connect(acceptor.local_endpoint());
  acceptor.accept(accepted);
  accepted.set_option(asio::socket_base::send_buffer_size(4096));
  TestClient words(*s.server);  // writes the bytes only
  words.channelId = s.server->NextChannelId();
  words.tokenId = 1;
  auto link = std::make_shared<TcpLink>(std::move(accepted), *s.server, words.channelId);
  link->Start();
  const std::weak_ptr<TcpLink> alive = std::exchange(link, nullptr);
  std::vector<uint8_t> out = TestClient::HelloBytes(65536, 65536, 0, 0);
  for (size_t i = 0; i <= 2000; ++i) {
    auto more = i == 0 ? words.OpenBytes(0, kNone) : GetEndpointsBytes(words);
    out.insert(out.end(), more.begin(), more.end());
  }
  asio::error_code writeError, shutdownError;
  std::thread writer([&] { asio::write(client, asio::buffer(out), writeError); });
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  s.io.restart();
  while (!alive.expired() && std::chrono::steady_clock::now() < deadline)
    s.io.run_one_for(std::chrono::milliseconds(100));
  EXPECT_TRUE(alive.expired());
  client.shutdown(tcp::socket::shutdown_both, shutdownError);
  writer.join();
}

TEST(Lifetime, WhatAClientHoldsEndsWithItAndWhatItLeavesUnusedIsTakenBack) {
  const std::vector<std::pair<const char*, std::function<void(TestServer&)>>> cases = {
      {"ticks queued when the client closes its session find it gone",
       [](TestServer& s) { EndWhileTicksQueued(s, [](TestClient& c) { CloseResult(c); }); }},
      {"ticks queued when the session times out find it gone",
       [](TestServer& s) {
         EndWhileTicksQueued(s, [&](TestClient&) { s.server->Housekeeping(SteadyMs() + 3600001); });
       }},
      {"unactivated sessions end with their connections, or soon; activated ones last",
       [](TestServer& s) {
         auto kept = Connected(s, "198.51.100.1", true);
         kept->ActivateSession();
         Clients held;
         for (size_t i = 1; i < limits::kMaxSessions; ++i)
           held.push_back(Connected(s, "10.0.0." + std::to_string(i), true));
         auto late = Connected(s, "198.51.100.2");
         EXPECT_EQ(SessionResult(*late), UaStatus::BadTooManySessions);
         held.front()->conn->Shutdown();
         EXPECT_EQ(SessionResult(*late), UaStatus::Good);
         EXPECT_EQ(SessionResult(*late), UaStatus::BadTooManySessions);
         s.server->Housekeeping(SteadyMs() + s.server->Allowances().unactivatedSessionMs + 1);
         EXPECT_EQ(SessionResult(*late), UaStatus::Good);
         EXPECT_EQ(CloseResult(*kept), UaStatus::Good);
       }},
      {"a channel idle without a session, or a message dripped in bytes or chunks, times out",
       [](TestServer& s) {
         auto idle = Connected(s, "198.51.100.1");
         auto working = Connected(s, "198.51.100.2", true);
         auto dripping = Connected(s, "198.51.100.3");
         auto chunked = Connected(s, "198.51.100.4");
         auto bytes = GetEndpointsBytes(*dripping);
         dripping->Raw({bytes.begin(), bytes.begin() + 10});
         auto chunks = GetEndpointsBytes(*chunked, 8);
         chunked->Raw({chunks.begin(), chunks.begin() + 32});  // the first chunk, whole
         const limits::Allowances a = s.server->Allowances();
         for (TestClient* c : {dripping.get(), chunked.get()}) {
           EXPECT_FALSE(c->closed);
           c->conn->CheckTimers(SteadyMs() + a.partialMessageMs + 1);
           EXPECT_EQ(ErrorSent(*c), UaStatus::BadTimeout);
         }
         for (TestClient* c : {idle.get(), working.get()})
           c->conn->CheckTimers(SteadyMs() + a.idleChannelMs + 1);
         EXPECT_EQ(ErrorSent(*idle), UaStatus::BadTimeout);
         EXPECT_FALSE(working->closed);
       }},
      {"one address opens a bounded number of channels and creates a bounded number of sessions",
       [](TestServer& s) {
         Clients held;
         for (size_t i = 0; i < limits::kMaxChannelsPerAddress; ++i)
           held.push_back(Connected(s, "192.0.2.1"));
         EXPECT_TRUE(held.back()->conn->HasChannel());
         EXPECT_EQ(OpenRefusal(s, "192.0.2.1"), UaStatus::BadTcpServerTooBusy);
         EXPECT_EQ(OpenRefusal(s, "192.0.2.2"), 0u);
         for (size_t i = 0; i < limits::kMaxSessionsPerAddress; ++i)
           ASSERT_EQ(SessionResult(*held.back()), UaStatus::Good);
         EXPECT_EQ(SessionResult(*held.front()), UaStatus::BadTooManySessions);
         EXPECT_EQ(SessionResult(*Connected(s, "192.0.2.2")), UaStatus::Good);
         held.front()->conn->Shutdown();
         EXPECT_EQ(OpenRefusal(s, "192.0.2.1"), 0u);
       }},
      {"a client that does not read is dropped", NonReaderIsDropped},
  };
  for (const auto& [what, run] : cases) {
    SCOPED_TRACE(what);
    TestServer s;
    run(s);
    EXPECT_EQ(s.server->Buffers()->InUse(), 0u);
  }
}

}  // namespace
}  // namespace tagserver
