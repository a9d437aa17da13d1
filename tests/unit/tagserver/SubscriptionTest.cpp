// Subscriptions and monitored items: what Publish returns as tags change,
// keep-alives, acknowledgements and Republish, lifetime expiry, filters,
// queues and monitoring modes. The server's timers run for real, briefly.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

#include "TestClient.h"
#include "opcua/UaStatusCodes.h"
#include "tagserver/UaNodeIds.h"

namespace tagserver {
namespace {

using test::FloatVariant;
using test::Response;
using test::TestClient;
using test::TestServer;
using test::WireWriter;

struct Notification {
  uint32_t clientHandle;
  UaDataValue value;
};

struct Published {
  uint32_t subscription = 0;
  uint32_t sequence = 0;
  bool more = false;
  std::vector<uint32_t> available;
  std::vector<Notification> items;
  uint32_t statusChange = 0;
  bool keepAlive = false;
  std::vector<uint32_t> ackResults;
};

void ReadNotificationMessage(UaDecoder& d, Published& p) {
  p.sequence = d.UInt32();
  d.DateTime();
  int32_t n = d.Int32();
  p.keepAlive = n <= 0;
  for (int32_t i = 0; i < n; ++i) {
    UaExtensionObject e = d.ExtensionObject();
    UaDecoder body(e.body.data(), e.body.size());
    if (e.typeId.numeric == UaId::StatusChangeNotification_Encoding_DefaultBinary) {
      p.statusChange = body.UInt32();
      continue;
    }
    int32_t count = body.Int32();
    for (int32_t k = 0; k < count; ++k) {
      Notification note;
      note.clientHandle = body.UInt32();
      note.value = body.DataValue();
      p.items.push_back(note);
    }
  }
}

Published Decode(const Response& r) {
  Published p;
  UaDecoder d = r.Body();
  p.subscription = d.UInt32();
  p.available = d.UInt32Array();
  p.more = d.Boolean();
  ReadNotificationMessage(d, p);
  p.ackResults = d.UInt32Array();
  return p;
}

class Subscriptions : public ::testing::Test {
 protected:
  void SetUp() override {
    a = s.tags.Create("A", FloatVariant(1), 192, true);
    b = s.tags.Create("B", FloatVariant(2), 192, false);
    c.Ready();
  }

  uint32_t CreateSubscription(double interval = 20, uint32_t lifetime = 30, uint32_t keepAlive = 3,
                              uint32_t maxNotifications = 0) {
    Response r = c.Call(UaId::CreateSubscriptionRequest_Encoding_DefaultBinary, [&](WireWriter& e) {
      e.float64(interval);
      e.uint32(lifetime);
      e.uint32(keepAlive);
      e.uint32(maxNotifications);
      e.boolean(true);
      e.byte(0);
    });
    UaDecoder d = r.Body();
    return d.UInt32();
  }

  std::vector<std::pair<uint32_t, double>> CreateItems(uint32_t sub, std::vector<std::string> names,
                                                       uint32_t queue = 1,
                                                       UaExtensionObject filter = {},
                                                       uint32_t mode = 2,
                                                       bool discardOldest = true) {
    Response r =
        c.Call(UaId::CreateMonitoredItemsRequest_Encoding_DefaultBinary, [&](WireWriter& e) {
          e.uint32(sub);
          e.uint32(2);
          e.int32(static_cast<int32_t>(names.size()));
          uint32_t handle = 1;
          for (const auto& n : names) {
            e.nodeId(UaNodeId::Str(1, n));
            e.uint32(13);
            e.nullString();
            e.qualifiedName({});
            e.uint32(mode);
            e.uint32(handle++);
            e.float64(0);
            e.extensionObject(filter);
            e.uint32(queue);
            e.boolean(discardOldest);
          }
        });
    std::vector<std::pair<uint32_t, double>> out;
    UaDecoder d = r.Body();
    int32_t n = d.Int32();
    for (int32_t i = 0; i < n; ++i) {
      uint32_t status = d.UInt32();
      uint32_t id = d.UInt32();
      double sampling = d.Double();
      d.UInt32();
      d.ExtensionObject();
      out.emplace_back(status == UaStatus::Good ? id : status, sampling);
    }
    return out;
  }

  void Publish(std::vector<std::pair<uint32_t, uint32_t>> acks = {}) {
    c.Request(UaId::PublishRequest_Encoding_DefaultBinary, [&](WireWriter& e) {
      e.int32(static_cast<int32_t>(acks.size()));
      for (auto [sub, seq] : acks) {
        e.uint32(sub);
        e.uint32(seq);
      }
    });
  }

  // Runs the server until a Publish response (or fault) comes back.
  Response Await(int maxMs = 2000) {
    for (int waited = 0; waited < maxMs; waited += 10) {
      auto responses = c.TakeResponses();
      if (!responses.empty()) return responses.front();
      s.RunFor(10);
    }
    throw std::runtime_error("no publish response");
  }

  TestServer s;
  TestClient c{*s.server};
  int32_t a = 0, b = 0;
};

TEST_F(Subscriptions, RevisedValuesRespectTheServersLimits) {
  Response r = c.Call(UaId::CreateSubscriptionRequest_Encoding_DefaultBinary, [](WireWriter& e) {
    e.float64(1);
    e.uint32(2);
    e.uint32(0);
    e.uint32(0);
    e.boolean(true);
    e.byte(0);
  });
  UaDecoder d = r.Body();
  d.UInt32();
  EXPECT_EQ(d.Double(), 10.0);  // the fastest rate the server was given
  EXPECT_EQ(d.UInt32(), 3u);    // at least three keep-alive periods
  EXPECT_EQ(d.UInt32(), 1u);
}

TEST_F(Subscriptions, InitialValuesThenUpdatesArePublished) {
  uint32_t sub = CreateSubscription();
  auto items = CreateItems(sub, {"A", "B", "NOPE"});
  EXPECT_EQ(items[2].first, UaStatus::BadNodeIdUnknown);
  EXPECT_EQ(items[0].second, 10.0);
  Publish();
  Published p = Decode(Await());
  EXPECT_EQ(p.subscription, sub);
  ASSERT_EQ(p.items.size(), 2u);
  EXPECT_EQ(std::get<float>(p.items[0].value.value.values[0]), 1.0f);
  EXPECT_EQ(p.items[1].clientHandle, 2u);
  s.tags.Update(b, FloatVariant(7), 0);
  Publish({{sub, p.sequence}});
  Published q = Decode(Await());
  EXPECT_EQ(q.ackResults, (std::vector<uint32_t>{UaStatus::Good}));
  EXPECT_EQ(q.sequence, p.sequence + 1);
  ASSERT_EQ(q.items.size(), 1u);
  EXPECT_EQ(q.items[0].clientHandle, 2u);
  EXPECT_EQ(q.items[0].value.status, UaStatus::Bad);
  EXPECT_EQ(std::get<float>(q.items[0].value.value.values[0]), 7.0f);
  EXPECT_NE(q.items[0].value.sourceTimestamp, 0);
}

TEST_F(Subscriptions, AnUnchangedValueIsNotPublishedAgain) {
  uint32_t sub = CreateSubscription(20, 300, 100);
  CreateItems(sub, {"A"});
  Publish();
  Await();
  s.tags.Update(a, FloatVariant(1), 192);
  Publish();
  s.RunFor(100);
  EXPECT_TRUE(c.TakeResponses().empty());
  s.tags.Update(a, FloatVariant(1), 0);
  Published p = Decode(Await());
  ASSERT_EQ(p.items.size(), 1u);
  EXPECT_EQ(p.items[0].value.status, UaStatus::Bad);
}

TEST_F(Subscriptions, EachCauseReachesTheClientWithTheLastValueAndTheAnswersTime) {
  uint32_t sub = CreateSubscription(20, 300, 100);
  CreateItems(sub, {"A"});
  Publish();
  Published p = Decode(Await());
  // From one bad cause to another with the value unchanged: the status alone
  // is the change a client must see.
  const uint32_t causes[] = {
      UaStatus::BadTimeout,       UaStatus::BadNotConnected, UaStatus::BadCommunicationError,
      UaStatus::BadDeviceFailure, UaStatus::BadOutOfService, UaStatus::Good};
  int64_t answered = 133000000000000000;
  for (uint32_t cause : causes) {
    SCOPED_TRACE(cause);
    answered += 10000000;
    ASSERT_TRUE(s.tags.UpdateStatus(a, FloatVariant(1), cause, answered));
    Publish({{sub, p.sequence}});
    p = Decode(Await());
    ASSERT_EQ(p.items.size(), 1u);
    EXPECT_EQ(p.items[0].value.status, cause);
    ASSERT_TRUE(p.items[0].value.hasValue);
    EXPECT_EQ(std::get<float>(p.items[0].value.value.values[0]), 1.0f);
    EXPECT_EQ(p.items[0].value.sourceTimestamp, answered);
  }
}

TEST_F(Subscriptions, ATypedTagReportsEachChangeOfItsValue) {
  VARIANT count;
  VariantInit(&count);
  count.vt = VT_UI4;
  count.ulVal = 1;
  int32_t h = s.tags.Create("D.Polls", count, 192, false);
  uint32_t sub = CreateSubscription(20, 300, 100);
  CreateItems(sub, {"D.Polls"});
  Publish();
  Published p = Decode(Await());
  for (uint32_t polls : {2u, 3u}) {
    count.ulVal = polls;
    s.tags.Update(h, count, 192);
    Publish({{sub, p.sequence}});
    p = Decode(Await());
    ASSERT_EQ(p.items.size(), 1u);
    EXPECT_EQ(p.items[0].value.value.type, UaType::UInt32);
    EXPECT_EQ(std::get<uint64_t>(p.items[0].value.value.values[0]), polls);
  }
  // The same count again is no change.
  s.tags.Update(h, count, 192);
  s.tags.Update(a, FloatVariant(5), 192);
  Publish({{sub, p.sequence}});
  p = Decode(Await());
  EXPECT_TRUE(p.keepAlive || p.items.empty());
}

TEST_F(Subscriptions, AQuietSubscriptionSendsKeepAlivesNamingTheNextNumber) {
  uint32_t sub = CreateSubscription(10, 30, 3);
  CreateItems(sub, {"A"});
  Publish();
  Published first = Decode(Await());
  Publish({{sub, first.sequence}});
  Published keepAlive = Decode(Await());
  EXPECT_TRUE(keepAlive.keepAlive);
  EXPECT_TRUE(keepAlive.items.empty());
  EXPECT_EQ(keepAlive.sequence, first.sequence + 1);
  EXPECT_TRUE(keepAlive.available.empty());
}

TEST_F(Subscriptions, RepublishReturnsUnacknowledgedMessagesOnly) {
  uint32_t sub = CreateSubscription();
  CreateItems(sub, {"A"});
  Publish();
  Published p = Decode(Await());
  EXPECT_EQ(p.available, (std::vector<uint32_t>{p.sequence}));
  auto republish = [&](uint32_t seq) {
    return c.Call(UaId::RepublishRequest_Encoding_DefaultBinary, [&](WireWriter& e) {
      e.uint32(sub);
      e.uint32(seq);
    });
  };
  Response r = republish(p.sequence);
  EXPECT_EQ(r.serviceResult, UaStatus::Good);
  Published again;
  UaDecoder d = r.Body();
  ReadNotificationMessage(d, again);
  EXPECT_EQ(again.sequence, p.sequence);
  EXPECT_EQ(again.items.size(), 1u);
  s.tags.Update(a, FloatVariant(3), 192);
  Publish({{sub, p.sequence}, {sub, 999}, {sub + 50, 1}});
  Published q = Decode(Await());
  EXPECT_EQ(q.ackResults, (std::vector<uint32_t>{UaStatus::Good, UaStatus::BadSequenceNumberUnknown,
                                                 UaStatus::BadSubscriptionIdInvalid}));
  EXPECT_EQ(republish(p.sequence).serviceResult, UaStatus::BadMessageNotAvailable);
}

TEST_F(Subscriptions, ASubscriptionWithoutPublishRequestsExpires) {
  uint32_t sub = CreateSubscription(10, 3, 1);
  CreateItems(sub, {"A"});
  s.RunFor(200);
  Response r = c.Call(UaId::SetPublishingModeRequest_Encoding_DefaultBinary, [&](WireWriter& e) {
    e.boolean(true);
    e.int32(1);
    e.uint32(sub);
  });
  UaDecoder d = r.Body();
  EXPECT_EQ(d.UInt32Array(), (std::vector<uint32_t>{UaStatus::BadSubscriptionIdInvalid}));
  Publish();
  EXPECT_EQ(Await().serviceResult, UaStatus::BadNoSubscription);
  // No monitored item is left watching the tag.
  EXPECT_TRUE(s.tags.Find("A")->watchers.empty());
}

TEST_F(Subscriptions, QueuesKeepTheNewestValuesAndFlagTheOverflow) {
  uint32_t sub = CreateSubscription(20, 300, 100);
  CreateItems(sub, {"A"}, 3);
  for (int i = 0; i < 5; ++i) {
    s.tags.Update(a, FloatVariant(10.0f + i), 192);
    s.io.restart();
    s.io.poll();
  }
  Publish();
  Published p = Decode(Await());
  ASSERT_EQ(p.items.size(), 3u);
  EXPECT_EQ(std::get<float>(p.items[0].value.value.values[0]), 12.0f);
  EXPECT_EQ(std::get<float>(p.items[2].value.value.values[0]), 14.0f);
  EXPECT_EQ(p.items[0].value.status & 0x0480u, 0x0480u);
  EXPECT_EQ(p.items[2].value.status, UaStatus::Good);
}

// A queue holds at most its size, the newest values or, dropping the newest,
// the oldest and the latest; the value beside what it dropped carries the
// Overflow bit, except in a queue of one, which holds the latest value only.
TEST_F(Subscriptions, QueuesAreBoundedAndFlagWhatTheyDropped) {
  struct Case {
    uint32_t queue;
    bool discardOldest;
    std::vector<float> values;
    std::vector<bool> overflow;
  };
  const Case cases[] = {
      {1, true, {14}, {false}},
      {1, false, {14}, {false}},
      {2, true, {13, 14}, {true, false}},
      {4, true, {11, 12, 13, 14}, {true, false, false, false}},
      {3, false, {1, 10, 14}, {false, false, true}},
      {6, true, {1, 10, 11, 12, 13, 14}, {false, false, false, false, false, false}},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(testing::Message() << "queue " << k.queue << " oldest " << k.discardOldest);
    s.tags.Update(a, FloatVariant(1), 192);
    s.io.restart();
    s.io.poll();
    uint32_t sub = CreateSubscription(20, 300, 100);
    CreateItems(sub, {"A"}, k.queue, {}, 2, k.discardOldest);
    for (int i = 0; i < 5; ++i) {
      s.tags.Update(a, FloatVariant(10.0f + i), 192);
      s.io.restart();
      s.io.poll();
    }
    Publish();
    Published p = Decode(Await());
    ASSERT_EQ(p.items.size(), k.values.size());
    for (size_t i = 0; i < k.values.size(); ++i) {
      EXPECT_EQ(std::get<float>(p.items[i].value.value.values[0]), k.values[i]);
      EXPECT_EQ((p.items[i].value.status & 0x0480u) == 0x0480u, k.overflow[i]);
    }
    c.Call(UaId::DeleteSubscriptionsRequest_Encoding_DefaultBinary, [&](WireWriter& e) {
      e.int32(1);
      e.uint32(sub);
    });
  }
}

// Requests are not held up by tag changes: one that arrives behind a large
// backlog of changes is answered after one bounded turn of handing them to
// monitored items, and the rest are still waiting in the store.
TEST_F(Subscriptions, RequestsAreAnsweredAheadOfABacklogOfChanges) {
  constexpr int kTags = 20000;
  std::vector<std::string> names;
  std::vector<int32_t> handles;
  for (int i = 0; i < kTags; ++i) {
    names.push_back("L" + std::to_string(i));
    handles.push_back(s.tags.Create(names.back(), FloatVariant(0), 192, true));
  }
  uint32_t sub = CreateSubscription();
  for (size_t from = 0; from < names.size(); from += 1000)
    CreateItems(sub, {names.begin() + from, names.begin() + from + 1000});
  struct Case {
    const char* name;
    uint32_t type;
    std::function<void(WireWriter&)> body;
  };
  const Case cases[] = {
      {"Read", UaId::ReadRequest_Encoding_DefaultBinary,
       [](WireWriter& e) {
         e.float64(0);
         e.uint32(0);
         e.int32(1);
         e.nodeId(UaNodeId::Str(1, "A"));
         e.uint32(13);
         e.nullString();
         e.qualifiedName({});
       }},
      {"Browse", UaId::BrowseRequest_Encoding_DefaultBinary,
       [](WireWriter& e) {
         e.nodeId({});
         e.dateTime(0);
         e.uint32(0);
         e.uint32(0);
         e.int32(1);
         e.nodeId(UaNodeId::Num(0, 85));
         e.uint32(0);
         e.nodeId({});
         e.boolean(true);
         e.uint32(0);
         e.uint32(63);
       }},
      {"CreateMonitoredItems", UaId::CreateMonitoredItemsRequest_Encoding_DefaultBinary,
       [&](WireWriter& e) {
         e.uint32(sub);
         e.uint32(2);
         e.int32(1);
         e.nodeId(UaNodeId::Str(1, "B"));
         e.uint32(13);
         e.nullString();
         e.qualifiedName({});
         e.uint32(2);
         e.uint32(1);
         e.float64(0);
         e.extensionObject({});
         e.uint32(1);
         e.boolean(true);
       }},
  };
  float round = 0;
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    for (int32_t h : handles) s.tags.Update(h, FloatVariant(++round), 192);
    uint32_t id = 0;
    std::vector<uint8_t> bytes = c.RequestBytes(k.type, k.body, 1 << 20, id);
    asio::post(s.io, [&] { c.Raw(bytes); });
    s.io.restart();
    std::vector<Response> answers;
    auto answered = [&] {
      return std::any_of(answers.begin(), answers.end(),
                         [&](const Response& r) { return r.requestId == id; });
    };
    while (!answered()) {
      ASSERT_EQ(s.io.run_one(), 1u);
      for (Response& r : c.TakeResponses()) answers.push_back(std::move(r));
    }
    EXPECT_EQ(answers.back().serviceResult, UaStatus::Good);
    std::vector<std::pair<TagNode*, TagSample>> waiting;
    s.tags.TakeChanges(waiting);
    EXPECT_GT(waiting.size(), 0u);
  }
}

TEST_F(Subscriptions, AnAbsoluteDeadbandHoldsBackSmallChanges) {
  uint32_t sub = CreateSubscription(20, 300, 100);
  WireWriter filter;
  filter.uint32(1);
  filter.uint32(1);
  filter.float64(0.5);
  UaExtensionObject ext{UaNodeId::Num(0, UaId::DataChangeFilter_Encoding_DefaultBinary), 1,
                        filter.bytes()};
  CreateItems(sub, {"A"}, 10, ext);
  Publish();
  Await();
  s.tags.Update(a, FloatVariant(1.25f), 192);
  s.tags.Update(b, FloatVariant(1.25f), 192);
  s.RunFor(30);
  s.tags.Update(a, FloatVariant(2.0f), 192);
  Publish();
  Published p = Decode(Await());
  ASSERT_EQ(p.items.size(), 1u);
  EXPECT_EQ(std::get<float>(p.items[0].value.value.values[0]), 2.0f);
  WireWriter percent;
  percent.uint32(1);
  percent.uint32(2);
  percent.float64(5);
  auto refused = CreateItems(sub, {"A"}, 1, {ext.typeId, 1, percent.bytes()});
  EXPECT_EQ(refused[0].first, UaStatus::BadMonitoredItemFilterUnsupported);
}

TEST_F(Subscriptions, SamplingItemsQueueSilentlyUntilReporting) {
  uint32_t sub = CreateSubscription(20, 300, 100);
  auto items = CreateItems(sub, {"A"}, 5, {}, 1);
  s.tags.Update(a, FloatVariant(5), 192);
  Publish();
  EXPECT_TRUE(Decode(Await()).keepAlive);  // the first cycle always answers
  Publish();
  s.RunFor(60);
  EXPECT_TRUE(c.TakeResponses().empty());
  Response r = c.Call(UaId::SetMonitoringModeRequest_Encoding_DefaultBinary, [&](WireWriter& e) {
    e.uint32(sub);
    e.uint32(2);
    e.int32(2);
    e.uint32(items[0].first);
    e.uint32(4242);
  });
  UaDecoder d = r.Body();
  EXPECT_EQ(d.UInt32Array(),
            (std::vector<uint32_t>{UaStatus::Good, UaStatus::BadMonitoredItemIdInvalid}));
  Published p = Decode(Await());
  ASSERT_EQ(p.items.size(), 2u);
  EXPECT_EQ(std::get<float>(p.items[1].value.value.values[0]), 5.0f);
}

TEST_F(Subscriptions, AnItemSwitchedToSamplingHoldsWhatItHadQueued) {
  uint32_t sub = CreateSubscription(20, 300, 100);
  auto items = CreateItems(sub, {"A"}, 5);
  Publish();
  Await();
  s.tags.Update(a, FloatVariant(6), 192);
  s.RunFor(1);
  auto setMode = [&](uint32_t mode) {
    c.Call(UaId::SetMonitoringModeRequest_Encoding_DefaultBinary, [&](WireWriter& e) {
      e.uint32(sub);
      e.uint32(mode);
      e.int32(1);
      e.uint32(items[0].first);
    });
  };
  setMode(1);
  Publish();
  s.RunFor(60);
  EXPECT_TRUE(c.TakeResponses().empty());
  setMode(2);
  Published p = Decode(Await());
  ASSERT_EQ(p.items.size(), 1u);
  EXPECT_EQ(std::get<float>(p.items[0].value.value.values[0]), 6.0f);
}

TEST_F(Subscriptions, ManyChangesAreSplitAcrossMessagesWithMoreNotifications) {
  uint32_t sub = CreateSubscription(20, 300, 100, 1);
  CreateItems(sub, {"A", "B"});
  Publish();
  Published first = Decode(Await());
  EXPECT_EQ(first.items.size(), 1u);
  EXPECT_TRUE(first.more);
  Publish();
  Published second = Decode(Await());
  EXPECT_EQ(second.items.size(), 1u);
  EXPECT_FALSE(second.more);
  EXPECT_NE(first.items[0].clientHandle, second.items[0].clientHandle);
}

TEST_F(Subscriptions, DeletingSubscriptionsAndItemsReportsEachId) {
  uint32_t sub = CreateSubscription();
  auto items = CreateItems(sub, {"A"});
  Response r = c.Call(UaId::DeleteMonitoredItemsRequest_Encoding_DefaultBinary, [&](WireWriter& e) {
    e.uint32(sub);
    e.int32(2);
    e.uint32(items[0].first);
    e.uint32(items[0].first);
  });
  UaDecoder d = r.Body();
  EXPECT_EQ(d.UInt32Array(),
            (std::vector<uint32_t>{UaStatus::Good, UaStatus::BadMonitoredItemIdInvalid}));
  EXPECT_TRUE(s.tags.Find("A")->watchers.empty());
  Publish();
  r = c.Call(UaId::DeleteSubscriptionsRequest_Encoding_DefaultBinary, [&](WireWriter& e) {
    e.int32(2);
    e.uint32(sub);
    e.uint32(sub + 1);
  });
  d = r.Body();
  EXPECT_EQ(d.UInt32Array(),
            (std::vector<uint32_t>{UaStatus::Good, UaStatus::BadSubscriptionIdInvalid}));
  // The waiting Publish request is answered rather than left hanging.
  Response orphan = Await();
  EXPECT_EQ(orphan.serviceResult, UaStatus::BadNoSubscription);
}

TEST_F(Subscriptions, ARemovedTagIsReportedAndPickedUpWhenCreatedAgain) {
  uint32_t sub = CreateSubscription(20, 300, 100);
  CreateItems(sub, {"B"});
  Publish();
  Await();
  s.tags.Remove(b);
  Publish();
  Published gone = Decode(Await());
  ASSERT_EQ(gone.items.size(), 1u);
  EXPECT_EQ(gone.items[0].value.status, UaStatus::BadNodeIdUnknown);
  s.tags.Create("B", FloatVariant(8), 192, false);
  Publish();
  Published back = Decode(Await());
  ASSERT_EQ(back.items.size(), 1u);
  EXPECT_EQ(std::get<float>(back.items[0].value.value.values[0]), 8.0f);
}

TEST_F(Subscriptions, AnIdleSessionTimesOutWithItsSubscriptions) {
  uint32_t sub = CreateSubscription(1000, 300, 100);
  CreateItems(sub, {"A"});
  Publish();
  Await();
  Publish();
  s.server->Housekeeping(SteadyMs() + 30000);  // within the 60 s the session asked for
  EXPECT_FALSE(s.tags.Find("A")->watchers.empty());
  s.server->Housekeeping(SteadyMs() + 61000);
  // The waiting Publish request is answered, and nothing of the session is left.
  Response closed = Await();
  EXPECT_EQ(closed.serviceResult, UaStatus::BadSessionClosed);
  EXPECT_TRUE(s.tags.Find("A")->watchers.empty());
  Response r = c.Call(UaId::SetPublishingModeRequest_Encoding_DefaultBinary, [&](WireWriter& e) {
    e.boolean(true);
    e.int32(1);
    e.uint32(sub);
  });
  EXPECT_EQ(r.serviceResult, UaStatus::BadSessionIdInvalid);
  EXPECT_EQ(s.server->SubscriptionCount(), 0u);
}

TEST_F(Subscriptions, APublishRequestPastItsTimeoutHintIsAnsweredWithBadTimeout) {
  uint32_t sub = CreateSubscription(1000, 300, 100);
  CreateItems(sub, {"A"});
  Publish();
  Await();
  c.timeoutHint = 5000;
  Publish();
  s.server->Housekeeping(SteadyMs() + 1000);
  EXPECT_TRUE(c.TakeResponses().empty());
  s.server->Housekeeping(SteadyMs() + 6000);
  auto responses = c.TakeResponses();
  ASSERT_EQ(responses.size(), 1u);
  EXPECT_EQ(responses[0].serviceResult, UaStatus::BadTimeout);
}

}  // namespace
}  // namespace tagserver
