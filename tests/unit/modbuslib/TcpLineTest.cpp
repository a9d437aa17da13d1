// Requests on Modbus/TCP against the test's own server: answers that do not
// belong to the request, a server that hangs up, and the link events.
#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "CallbackRecorder.h"
#include "ScriptedTcpServer.h"

using namespace std::chrono_literals;
using Bytes = ScriptedTcpServer::Bytes;
using Reply = ScriptedTcpServer::Reply;

namespace {

class TcpLine : public ::testing::Test {
 protected:
  void open(ScriptedTcpServer::Script script) {
    EnableConnectionCallback(&CallbackRecorder::onLink);
    server_ = std::make_unique<ScriptedTcpServer>(std::move(script));
    TcpOptions options{};
    options.timeoutMs = 1000;
    handle_ = ConnectTCP2(inet_addr("127.0.0.1"), static_cast<uint32_t>(server_->port()), &options);
    ASSERT_NE(handle_, -1);
    ASSERT_TRUE(CallbackRecorder::waitLink(handle_, MBS_EVENT_CONNECTED, 5s));
    EnableModbusCallback(handle_, &CallbackRecorder::onResponse);
  }
  void TearDown() override { CloseConnection(handle_); }
  int run(RequestHeader h, std::vector<uint16_t>& words) {
    return CallbackRecorder::exchange(handle_, h, words);
  }

  std::atomic<int> answer_{0};  // outlives the server's thread
  std::unique_ptr<ScriptedTcpServer> server_;
  int handle_ = -1;
};

}  // namespace

TEST_F(TcpLine, AnswersThatDoNotBelongToTheRequest) {
  open([this](const Bytes& request) -> Reply {
    Bytes good = ScriptedTcpServer::answer(request, request[6], {3, 2, 0x43, 0x21});
    switch (answer_++) {
      case 0: good[1] ^= 0xFF; return {good};  // another transaction
      case 1: good[6] = 99; return {good};     // another unit
      case 2: good[3] = 1; return {good};      // not protocol 0
      case 3: return {ScriptedTcpServer::answer(request, request[6], {3, 4, 0, 1, 0, 2})};
      case 4: return {ScriptedTcpServer::answer(request, request[6], {0x83, 3})};
      case 5: return {Bytes(good.begin(), good.begin() + 9)};  // cut short
      default: return {good};
    }
  });
  std::vector<uint16_t> words;
  const RequestHeader h{17, 3, 1000, 1};
  // An earlier transaction's frame is skipped; its own answer never comes.
  EXPECT_EQ(run(h, words), MBS_POLL_TIMEOUT);
  EXPECT_EQ(run(h, words), MBS_INVALID_RESPONSE);
  EXPECT_EQ(run(h, words), MBS_INVALID_RESPONSE);
  EXPECT_EQ(run(h, words), MBS_INVALID_RESPONSE);
  EXPECT_EQ(run(h, words), 3);
  EXPECT_EQ(run(h, words), MBS_POLL_TIMEOUT);
  ASSERT_EQ(run(h, words), MBS_OK);
  EXPECT_EQ(words[0], 0x4321);
  // Every request has its own transaction; the unit id is the slave node.
  const std::vector<Bytes> seen = server_->requests();
  ASSERT_EQ(seen.size(), 7u);
  for (size_t i = 0; i < seen.size(); ++i) {
    EXPECT_EQ(seen[i],
              (Bytes{0, static_cast<uint8_t>(i + 1), 0, 0, 0, 6, 17, 3, 0x03, 0xE7, 0, 1}));
  }
}

TEST_F(TcpLine, HangUpDuringARequestFinishesItThenGivesEvent4Once) {
  open([](const Bytes&) { return Reply{{}, true}; });
  std::vector<uint16_t> words;
  EXPECT_EQ(run(RequestHeader{1, 4, 1, 2}, words), MBS_SVR_NOT_CONNECTED);
  ASSERT_TRUE(CallbackRecorder::waitLink(handle_, MBS_EVENT_TERMINATED, 5s));
  // A second event 4 would follow at once: a connection made after it has
  // given its own event, the count shows none came.
  TcpOptions options{};
  const int next = ConnectTCP2(inet_addr("127.0.0.1"), server_->port(), &options);
  ASSERT_TRUE(CallbackRecorder::waitLink(next, MBS_EVENT_CONNECTED, 5s));
  CloseConnection(next);
  EXPECT_EQ(CallbackRecorder::linkEvents(handle_, MBS_EVENT_TERMINATED), 1);
  EXPECT_EQ(CallbackRecorder::responses(handle_), 1);
  const RequestHeader h{1, 4, 1, 2};
  EXPECT_EQ(PollMODBUS(handle_, &h), MBS_SVR_NOT_CONNECTED);
}

TEST_F(TcpLine, TwoAnswersOutOfStepInARowMakeTheConnectionAgain) {
  // After its first answer the slave's framing has lost its place on the
  // first connection; a new one puts it back.
  open([this](const Bytes& request) -> Reply {
    Bytes good = ScriptedTcpServer::answer(request, request[6], {3, 2, 0x43, 0x21});
    if (server_->connections() == 1 && answer_++ > 0) good[3] = 1;  // not protocol 0
    return {good};
  });
  std::vector<int> statuses;
  std::vector<uint16_t> words;
  for (int i = 0; i < 5; ++i) statuses.push_back(run(RequestHeader{1, 3, 1, 1}, words));
  EXPECT_EQ(statuses,
            (std::vector<int>{MBS_OK, MBS_INVALID_RESPONSE, MBS_INVALID_RESPONSE, MBS_OK, MBS_OK}));
  EXPECT_EQ(server_->connections(), 2);
  // Made again within the library: the program sees the link stay up.
  EXPECT_EQ(CallbackRecorder::linkEvents(handle_, MBS_EVENT_CONNECTED), 1);
  EXPECT_EQ(CallbackRecorder::linkEvents(handle_, MBS_EVENT_TERMINATED), 0);
}

TEST_F(TcpLine, TakingTheCallbackAwayStopsIt) {
  open([](const Bytes& request) -> Reply {
    return {ScriptedTcpServer::answer(request, request[6], {3, 2, 0, 5})};
  });
  EnableModbusCallback(handle_, nullptr);
  const RequestHeader h{1, 3, 1, 1};
  ASSERT_EQ(PollMODBUS(handle_, &h), MBS_OK);
  // The request still finishes: its response can be fetched.
  RequestHeader out{};
  uint16_t word = 0;
  int status = MBS_UNINITIALIZED;
  for (int i = 0; i < 100 && status == MBS_UNINITIALIZED; ++i) {
    std::this_thread::sleep_for(10ms);
    status = MODBUSResponse(handle_, &out, &word, 1);
  }
  EXPECT_EQ(status, MBS_OK);
  EXPECT_EQ(word, 5);
  // The next request, with the callback back, calls back once: the first never did.
  EnableModbusCallback(handle_, &CallbackRecorder::onResponse);
  std::vector<uint16_t> words(1);
  ASSERT_EQ(run(h, words), MBS_OK);
  EXPECT_EQ(CallbackRecorder::responses(handle_), 1);
}

TEST(TcpConnect, ClosingGivesNoEvent4AndANewConnectionGetsItsOwnHandle) {
  EnableConnectionCallback(&CallbackRecorder::onLink);
  ScriptedTcpServer server([](const Bytes& request) -> Reply {
    return {ScriptedTcpServer::answer(request, request[6], {3, 2, 0, 5})};
  });
  TcpOptions options{};
  const int first =
      ConnectTCP2(inet_addr("127.0.0.1"), static_cast<uint32_t>(server.port()), &options);
  ASSERT_TRUE(CallbackRecorder::waitLink(first, MBS_EVENT_CONNECTED, 5s));
  CloseConnection(first);
  const int second =
      ConnectTCP2(inet_addr("127.0.0.1"), static_cast<uint32_t>(server.port()), &options);
  EXPECT_NE(second, first);
  ASSERT_TRUE(CallbackRecorder::waitLink(second, MBS_EVENT_CONNECTED, 5s));
  // Closing gives no event 4, only a drop does: none has come by the time an
  // exchange on the second connection is over.
  EnableModbusCallback(second, &CallbackRecorder::onResponse);
  std::vector<uint16_t> words(1);
  ASSERT_EQ(CallbackRecorder::exchange(second, RequestHeader{1, 3, 1, 1}, words), MBS_OK);
  EXPECT_EQ(CallbackRecorder::linkEvents(first, MBS_EVENT_TERMINATED), 0);
  CloseConnection(second);
}
