// The publisher against a real mosquitto broker, seen by a subscriber of its
// own: births, data, a write and its answer, the will when the connection
// dies, and the spool sent in order once the broker is back.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <functional>
#include <mutex>
#include <set>

#include "BrokerHarness.h"
#include "mqtt/MqttPublisher.h"
#include "platform/Log.h"
#include "sparkplug_b.pb.h"

namespace {

namespace fs = std::filesystem;
using mqtt_test::Received;
using org::eclipse::tahu::protobuf::Payload;

constexpr const char* kTag = "PLC1.NODE1.40001";
constexpr const char* kReadOnlyTag = "PLC1.NODE1.10001";
constexpr int32_t kTagHandle = 1;
constexpr int32_t kReadOnlyHandle = 2;
constexpr const char* kTopicRoot = "spBv1.0/grp/";

VARIANT Float(float f) {
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_R4;
  v.fltVal = f;
  return v;
}

Payload Decode(const Received& r) {
  Payload p;
  EXPECT_TRUE(p.ParseFromString(r.payload)) << r.topic;
  return p;
}

const Payload::Metric* Find(const Payload& p, const std::string& name) {
  for (const auto& m : p.metrics()) {
    if (m.name() == name) return &m;
  }
  return nullptr;
}

uint64_t BdSeq(const Received& r) { return Find(Decode(r), "bdSeq")->long_value(); }

uint32_t Property(const Payload::Metric& m, const std::string& key) {
  for (int i = 0; i < m.properties().keys_size(); ++i) {
    if (m.properties().keys(i) == key) return m.properties().values(i).int_value();
  }
  return 0xFFFFFFFFu;
}

std::function<bool(const Received&)> Topic(const std::string& type) {
  return [type](const Received& r) { return r.topic.starts_with(kTopicRoot + type + "/edge"); };
}

class BrokerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    m_dir = fs::temp_directory_path() / ("pelmoran-mqtt-" + std::to_string(::getpid()));
    fs::remove_all(m_dir);
    fs::create_directories(m_dir);
    m_broker = std::make_unique<mqtt_test::Broker>(m_dir);
    m_relay = std::make_unique<mqtt_test::Relay>(m_broker->Port());
    m_sub = std::make_unique<mqtt_test::Subscriber>(m_broker->Port(), "#");
  }
  void TearDown() override {
    m_sub.reset();
    m_relay.reset();
    m_broker.reset();
    fs::remove_all(m_dir);
  }

  mqtt::MqttSettings Settings() const {
    mqtt::MqttSettings s;
    s.host = "127.0.0.1";
    s.port = m_relay->Port();
    s.groupId = "grp";
    s.edgeNodeId = "edge";
    s.keepAliveSeconds = 5;
    s.spoolDirectory = (m_dir / "spool").string();
    return s;
  }

  Received Next(const std::function<bool(const Received&)>& match) {
    Received r;
    EXPECT_TRUE(m_sub->WaitFor(&m_at, match, &r)) << "no such message in time";
    return r;
  }

  // The values of the next count historical metrics in DDATA, in order.
  std::vector<float> Historical(size_t count) {
    std::vector<float> values;
    Received r;
    while (values.size() < count && m_sub->WaitFor(&m_at, Topic("DDATA"), &r)) {
      const Payload p = Decode(r);
      for (const auto& metric : p.metrics()) {
        if (metric.is_historical()) values.push_back(metric.float_value());
      }
    }
    return values;
  }

  fs::path m_dir;
  std::unique_ptr<mqtt_test::Broker> m_broker;
  std::unique_ptr<mqtt_test::Relay> m_relay;
  std::unique_ptr<mqtt_test::Subscriber> m_sub;
  size_t m_at = 0;
};

struct Write {
  int32_t handle;
  float value;
  uint64_t id;
};

TEST_F(BrokerTest, SparkplugSessionsWillAndSpool) {
  mqtt::MqttPublisher pub(Settings());
  std::mutex mutex;
  std::condition_variable cv;
  std::vector<Write> writes;
  pub.SetCommandHandler([&](int32_t handle, const VARIANT& value, uint64_t id) {
    std::lock_guard lock(mutex);
    writes.push_back({handle, value.vt == VT_R4 ? value.fltVal : -1.0f, id});
    cv.notify_all();
  });
  pub.AddMetric(kTagHandle, "PLC1", "PLC1", kTag, VT_R4, true);
  pub.AddMetric(kReadOnlyHandle, "PLC1", "PLC1", kReadOnlyTag, VT_BOOL, false);
  std::string error;
  ASSERT_TRUE(pub.Start(&error)) << error;

  // Births: NBIRTH with seq 0, then the device with every tag.
  const Received nbirth = Next(Topic("NBIRTH"));
  EXPECT_EQ(Decode(nbirth).seq(), 0u);
  const uint64_t bdSeq = BdSeq(nbirth);
  // The device is born once every tag has had its first update.
  VARIANT v = Float(2.5f);
  pub.Update(kTagHandle, v, 0, 0);
  pub.Update(kReadOnlyHandle, v, 0x80000000u, 0);
  const Payload dbirth = Decode(Next(Topic("DBIRTH")));
  EXPECT_EQ(dbirth.seq(), 1u);
  ASSERT_NE(Find(dbirth, kTag), nullptr);
  EXPECT_EQ(Find(dbirth, kTag)->float_value(), 2.5f);
  ASSERT_NE(Find(dbirth, kReadOnlyTag), nullptr);

  // A change goes out as DDATA.
  v = Float(12.5f);
  pub.Update(kTagHandle, v, 0, 0);
  const Payload ddata = Decode(Next(Topic("DDATA")));
  ASSERT_NE(Find(ddata, kTag), nullptr);
  EXPECT_EQ(Find(ddata, kTag)->float_value(), 12.5f);
  EXPECT_EQ(Property(*Find(ddata, kTag), "Quality"), 192u);

  // A DCMD: the writable tag reaches the handler, the others are answered
  // at once with their refusal.
  Payload cmd;
  auto* m = cmd.add_metrics();
  m->set_name(kTag);
  m->set_datatype(9);
  m->set_float_value(3.5f);
  cmd.add_metrics()->set_name("no such tag");
  auto* huge = cmd.add_metrics();
  huge->set_name(kTag);
  huge->set_datatype(10);
  huge->set_double_value(1e39);
  auto* ro = cmd.add_metrics();
  ro->set_name(kReadOnlyTag);
  ro->set_boolean_value(true);
  m_sub->Publish("spBv1.0/grp/DCMD/edge/PLC1", cmd.SerializeAsString());
  Write write{};
  {
    std::unique_lock lock(mutex);
    ASSERT_TRUE(cv.wait_for(lock, mqtt_test::kDeadline, [&] { return !writes.empty(); }));
    write = writes.front();
  }
  EXPECT_EQ(write.handle, kTagHandle);
  EXPECT_EQ(write.value, 3.5f);
  EXPECT_NE(write.id & mqtt::MqttPublisher::kCommandIdBit, 0u);
  // The metric no birth declared is not answered: the first answer is the
  // one after it, a value a Float cannot hold.
  const Payload outOfRange = Decode(Next(Topic("DDATA")));
  EXPECT_EQ(Find(outOfRange, "no such tag"), nullptr);
  ASSERT_NE(Find(outOfRange, kTag), nullptr);
  EXPECT_EQ(Property(*Find(outOfRange, kTag), "Write Status"), 0x803C0000u);
  const Payload readOnly = Decode(Next(Topic("DDATA")));
  EXPECT_EQ(Property(*Find(readOnly, kReadOnlyTag), "Write Status"), 0x803B0000u);
  pub.CompleteCommand(write.id, 0);
  const Payload answer = Decode(Next(Topic("DDATA")));
  ASSERT_NE(Find(answer, kTag), nullptr);
  EXPECT_EQ(Property(*Find(answer, kTag), "Write Status"), 0u);
  EXPECT_EQ(pub.Counters().commands, 4u);
  EXPECT_EQ(pub.Counters().commandsRefused, 3u);

  // The connection dies: the broker sends the will with this session's bdSeq.
  m_relay->Cut();
  const Received will = Next(Topic("NDEATH"));
  EXPECT_EQ(BdSeq(will), bdSeq);
  ASSERT_TRUE(mqtt_test::WaitUntil([&] { return !pub.Counters().connected; }));

  // Changes while away are kept, each one as it came.
  const float kept[] = {1, 2, 3, 4, 5};
  for (size_t i = 0; i < std::size(kept); ++i) {
    v = Float(kept[i]);
    pub.Update(kTagHandle, v, 0, 0);
    ASSERT_TRUE(mqtt_test::WaitUntil([&] { return pub.Counters().spooled == i + 1; }));
  }

  // Back: births with the next bdSeq, then the kept changes in order, marked
  // historical, then live ones. Messages the broker had not confirmed when the
  // relay was cut come again as well, unmarked, which is why only the
  // historical ones are collected here.
  m_relay->Restore();
  const Received rebirth = Next(Topic("NBIRTH"));
  EXPECT_EQ(BdSeq(rebirth), (bdSeq + 1) % 256);
  Next(Topic("DBIRTH"));
  EXPECT_EQ(Historical(std::size(kept)), std::vector<float>(std::begin(kept), std::end(kept)));
  v = Float(99);
  pub.Update(kTagHandle, v, 0, 0);
  const Payload live = Decode(Next([](const Received& r) {
    return Topic("DDATA")(r) && Find(Decode(r), kTag) != nullptr &&
           Find(Decode(r), kTag)->float_value() == 99.0f;
  }));
  EXPECT_FALSE(live.metrics(0).is_historical());
  EXPECT_EQ(live.metrics(0).float_value(), 99.0f);

  // An orderly stop says so itself, with the session's bdSeq.
  pub.Stop();
  EXPECT_EQ(BdSeq(Next(Topic("NDEATH"))), (bdSeq + 1) % 256);
}

// A gateway stopped while changes wait sends them after its next start,
// after its births, marked historical.
TEST_F(BrokerTest, SpooledChangesSurviveARestart) {
  m_relay->Cut();
  const float kept[] = {7, 8, 9};
  {
    mqtt::MqttPublisher pub(Settings());
    pub.AddMetric(kTagHandle, "PLC1", "PLC1", kTag, VT_R4, true);
    std::string error;
    ASSERT_TRUE(pub.Start(&error)) << error;
    for (size_t i = 0; i < std::size(kept); ++i) {
      VARIANT v = Float(kept[i]);
      pub.Update(kTagHandle, v, 0, 0);
      ASSERT_TRUE(mqtt_test::WaitUntil([&] { return pub.Counters().spooled == i + 1; }));
    }
    pub.Stop();
  }
  m_relay->Restore();
  mqtt::MqttPublisher pub(Settings());
  pub.AddMetric(kTagHandle, "PLC1", "PLC1", kTag, VT_R4, true);
  std::string error;
  ASSERT_TRUE(pub.Start(&error)) << error;
  Next(Topic("NBIRTH"));
  VARIANT v = Float(10);
  pub.Update(kTagHandle, v, 0, 0);
  Next(Topic("DBIRTH"));
  EXPECT_EQ(Historical(std::size(kept)), std::vector<float>(std::begin(kept), std::end(kept)));
}

// Kept changes of a device that is away when the broker is back wait in a
// spool of their own, after a restart too, and go out after the device's
// birth; those of a device that is gone by then are dropped, and said so.
TEST_F(BrokerTest, KeptChangesOfADeviceThatIsAwayWaitForItsBirth) {
  struct Device {
    int32_t handle;
    const char* name;
    const char* tag;
    float kept;
  };
  const Device devices[] = {{kTagHandle, "PLC1", kTag, 1},
                            {3, "PLC2", "PLC2.NODE1.40001", 2},
                            {4, "PLC3", "PLC3.NODE1.40001", 3}};
  const auto add = [](mqtt::MqttPublisher& pub, const Device& d) {
    pub.AddMetric(d.handle, d.name, d.name, d.tag, VT_R4, true);
  };
  const auto birthOf = [](const std::string& device) {
    return
        [device](const Received& r) { return r.topic == kTopicRoot + ("DBIRTH/edge/" + device); };
  };
  m_relay->Cut();
  {
    mqtt::MqttPublisher pub(Settings());
    for (const Device& d : devices) add(pub, d);
    std::string error;
    ASSERT_TRUE(pub.Start(&error)) << error;
    for (const Device& d : devices) {
      VARIANT v = Float(d.kept);
      pub.Update(d.handle, v, 0, 0);
    }
    ASSERT_TRUE(mqtt_test::WaitUntil([&] { return pub.Counters().spooled == 3; }));
    pub.SetDeviceOnline("PLC2", false);
    pub.SetDeviceOnline("PLC3", false);
    m_relay->Restore();
    Next(birthOf("PLC1"));
    EXPECT_EQ(Historical(1), std::vector<float>{1});
    pub.Stop();
  }
  mqtt::MqttPublisher pub(Settings());
  add(pub, devices[0]);
  add(pub, devices[1]);
  pub.SetDeviceOnline("PLC2", false);
  std::atomic<bool> goneSaid{false};
  const platform::ScopedLogSink sink([&](const platform::LogRecord& line) {
    if (line.text.find("1 kept changes of PLC3, which is gone") != std::string::npos)
      goneSaid = true;
  });
  std::string error;
  ASSERT_TRUE(pub.Start(&error)) << error;
  ASSERT_TRUE(mqtt_test::WaitUntil([&] { return goneSaid.load(); }));
  pub.SetDeviceOnline("PLC2", true);
  VARIANT v = Float(20);
  pub.Update(devices[1].handle, v, 0, 0);
  Next(birthOf("PLC2"));
  EXPECT_EQ(Historical(1), std::vector<float>{2});
  // Once confirmed, nothing is held any more.
  EXPECT_TRUE(mqtt_test::WaitUntil([&] { return fs::is_empty(m_dir / "spool" / "held"); }));
}

size_t SegmentFiles(const fs::path& dir) {
  size_t count = 0;
  for (const auto& e : fs::recursive_directory_iterator(dir))
    count += e.path().extension() == ".seg";
  return count;
}

struct UnconfirmedCase {
  int qos;
  std::vector<float> kept;
};

// A segment sent to a broker that never confirmed it is still on disk when
// the gateway stops, and comes after the next start; once the broker has
// confirmed it, it is gone.
TEST_F(BrokerTest, UnconfirmedSegmentIsSentAgainAfterARestart) {
  const UnconfirmedCase cases[] = {{1, {7, 8, 9}}, {2, {4, 5}}};
  for (const UnconfirmedCase& c : cases) {
    SCOPED_TRACE("QoS " + std::to_string(c.qos));
    mqtt::MqttSettings settings = Settings();
    settings.qos = c.qos;
    settings.spoolDirectory = (m_dir / ("spool-qos" + std::to_string(c.qos))).string();
    const auto start = [&](int port) {
      settings.port = port;
      auto pub = std::make_unique<mqtt::MqttPublisher>(settings);
      pub->AddMetric(kTagHandle, "PLC1", "PLC1", kTag, VT_R4, true);
      std::string error;
      EXPECT_TRUE(pub->Start(&error)) << error;
      return pub;
    };

    m_relay->Cut();
    auto pub = start(m_relay->Port());
    for (size_t i = 0; i < c.kept.size(); ++i) {
      VARIANT v = Float(c.kept[i]);
      pub->Update(kTagHandle, v, 0, 0);
      ASSERT_TRUE(mqtt_test::WaitUntil([&] { return pub->Counters().spooled == i + 1; }));
    }
    pub.reset();

    // NBIRTH; the device's first poll; DBIRTH, then the kept changes, which
    // waited for it among the device's held ones.
    constexpr uint64_t kBirthsAndSegment = 3;
    const auto firstPoll = [&] {
      VARIANT v = Float(0);
      pub->Update(kTagHandle, v, 0, 0);
    };
    mqtt_test::SilentBroker silent;
    pub = start(silent.Port());
    ASSERT_TRUE(mqtt_test::WaitUntil([&] { return pub->Counters().published == 1; }));
    firstPoll();
    ASSERT_TRUE(
        mqtt_test::WaitUntil([&] { return pub->Counters().published == kBirthsAndSegment; }));
    silent.Close();
    ASSERT_TRUE(mqtt_test::WaitUntil([&] { return !pub->Counters().connected; }));
    pub.reset();
    EXPECT_EQ(SegmentFiles(settings.spoolDirectory), 1u);

    m_relay->Restore();
    pub = start(m_relay->Port());
    Next(Topic("NBIRTH"));
    firstPoll();
    Next(Topic("DBIRTH"));
    EXPECT_EQ(Historical(c.kept.size()), c.kept);
    EXPECT_TRUE(mqtt_test::WaitUntil([&] { return SegmentFiles(settings.spoolDirectory) == 0; }));
  }
}

// A broker that takes messages and confirms none: past the publisher's bound
// of unconfirmed messages new changes wait in its table, one per tag, instead
// of piling up in libmosquitto. A removed tag's empty document goes out in the
// same pass as any changes the worker takes, so each removal shows whether
// the changes made before it went too.
TEST_F(BrokerTest, ChangesWaitWhileTheBrokerConfirmsNothing) {
  constexpr uint64_t kUnconfirmedBound = 4000;
  constexpr int32_t kTags = 100;
  constexpr int32_t kRemovals = 20;
  for (int qos : {1, 2}) {
    SCOPED_TRACE("QoS " + std::to_string(qos));
    mqtt_test::SilentBroker silent;
    mqtt::MqttSettings settings = Settings();
    settings.qos = qos;
    settings.format = mqtt::PayloadFormat::Json;
    settings.port = silent.Port();
    settings.spoolDirectory = (m_dir / ("silent-qos" + std::to_string(qos))).string();
    mqtt::MqttPublisher pub(settings);
    for (int32_t h = 1; h <= kTags + kRemovals; ++h) {
      pub.AddMetric(h, "PLC1", "PLC1", "PLC1.NODE1." + std::to_string(h), VT_R4, false);
    }
    std::string error;
    ASSERT_TRUE(pub.Start(&error)) << error;
    // Every document and the status: the session is up, and changes made
    // from now on go out live rather than to the spool.
    const uint64_t births = kTags + kRemovals + 1;
    ASSERT_TRUE(mqtt_test::WaitUntil([&] { return pub.Counters().published == births; }));
    float value = 0;
    const auto round = [&] {
      value += 1;
      for (int32_t h = 1; h <= kTags; ++h) {
        VARIANT v = Float(value);
        pub.Update(h, v, 0, 0);
      }
    };
    ASSERT_TRUE(mqtt_test::WaitUntil([&] {
      round();
      return pub.Counters().published >= kUnconfirmedBound;
    }));
    const uint64_t full = pub.Counters().published;
    uint64_t last = full;
    for (int32_t h = kTags + 1; h <= kTags + kRemovals; ++h) {
      round();
      pub.RemoveMetric(h);
      ASSERT_TRUE(mqtt_test::WaitUntil([&] { return pub.Counters().published > last; }));
      last = pub.Counters().published;
    }
    // At most the rest of the pass that reached the bound, then the removals.
    EXPECT_LE(last - full, static_cast<uint64_t>(kTags + kRemovals));
    // Gone before the publisher stops, which then waits for no goodbye.
    silent.Close();
    EXPECT_TRUE(mqtt_test::WaitUntil([&] { return !pub.Counters().connected; }));
  }
}

// A removed tag, and what a new subscriber is then given for it.
struct RemovalCase {
  int32_t handle;
  const char* name;
  bool whileAway;
  bool readded;
};

// The topics of the retained messages a new subscriber to pattern gets:
// mosquitto sends them before anything published after it subscribed.
std::set<std::string> RetainedTopics(int port, const std::string& pattern,
                                     mqtt_test::Subscriber& publisher,
                                     const std::string& markerTopic) {
  mqtt_test::Subscriber fresh(port, pattern);
  publisher.Publish(markerTopic, "marker");
  std::set<std::string> topics;
  size_t from = 0;
  Received marker;
  EXPECT_TRUE(fresh.WaitFor(
      &from,
      [&](const Received& r) {
        if (r.retained) topics.insert(r.topic);
        return r.topic == markerTopic;
      },
      &marker));
  return topics;
}

// JSON: retained tag documents, deleted when their tag goes, the status topic
// with its will, and a write by <tag>/set answered on <tag>/set/result with
// the request's id, also when the gateway stops before the write has ended.
TEST_F(BrokerTest, JsonDocumentsAndWrites) {
  const RemovalCase removals[] = {{3, "PLC1.NODE1.40003", false, false},
                                  {4, "PLC1.NODE1.40004", true, false},
                                  {5, "PLC1.NODE1.40005", true, true}};
  mqtt::MqttSettings settings = Settings();
  settings.format = mqtt::PayloadFormat::Json;
  settings.topicPrefix = "pm";
  mqtt::MqttPublisher pub(settings);
  std::mutex mutex;
  std::condition_variable cv;
  std::vector<uint64_t> ids;
  pub.SetCommandHandler([&](int32_t, const VARIANT&, uint64_t id) {
    std::lock_guard lock(mutex);
    ids.push_back(id);
    cv.notify_all();
  });
  pub.AddMetric(kTagHandle, "PLC1", "PLC1", kTag, VT_R4, true);
  for (const RemovalCase& c : removals)
    pub.AddMetric(c.handle, "PLC1", "PLC1", c.name, VT_R4, false);
  std::string error;
  ASSERT_TRUE(pub.Start(&error)) << error;
  const auto topic = [](const std::string& t) {
    return [t](const Received& r) { return r.topic == t; };
  };
  const auto tagTopic = [](const RemovalCase& c) { return std::string("pm/PLC1/") + c.name; };
  const auto deleted = [&](const RemovalCase& c) {
    return [t = tagTopic(c)](const Received& r) { return r.topic == t && r.payload.empty(); };
  };
  EXPECT_EQ(Next(topic("pm/edge/status")).payload, "online");
  for (const RemovalCase& c : removals) {
    size_t from = 0;
    Received birth;
    ASSERT_TRUE(m_sub->WaitFor(&from, topic(tagTopic(c)), &birth)) << c.name;
  }
  pub.RemoveMetric(removals[0].handle);
  Next(deleted(removals[0]));
  VARIANT v = Float(12.5f);
  pub.Update(kTagHandle, v, 0, 0);
  const Received doc = Next([](const Received& r) {
    return r.topic == "pm/PLC1/PLC1.NODE1.40001" && r.payload.starts_with("{\"value\": 12.5,");
  });
  EXPECT_NE(doc.payload.find(R"("quality": "good", "status": "0x00000000")"), std::string::npos);

  m_sub->Publish("pm/PLC1/PLC1.NODE1.40001/set", R"({"value": 3, "id": "w-1"})");
  m_sub->Publish("pm/PLC1/PLC1.NODE1.40001/set", R"({"value": "three"})");
  m_sub->Publish("pm/PLC1/PLC1.NODE1.40001/set", "{not json");
  m_sub->Publish("pm/PLC1/PLC1.NODE1.40001/set", R"({"value": 1e39})");
  uint64_t id = 0;
  {
    std::unique_lock lock(mutex);
    ASSERT_TRUE(cv.wait_for(lock, mqtt_test::kDeadline, [&] { return !ids.empty(); }));
    id = ids.front();
  }
  const auto result = topic("pm/PLC1/PLC1.NODE1.40001/set/result");
  EXPECT_EQ(Next(result).payload, R"({"status": "0x80740000", "good": false})");
  EXPECT_EQ(Next(result).payload, R"({"status": "0x80740000", "good": false})");
  EXPECT_EQ(Next(result).payload, R"({"status": "0x803C0000", "good": false})");
  pub.CompleteCommand(id, 0);
  EXPECT_EQ(Next(result).payload, R"({"status": "0x00000000", "good": true, "id": "w-1"})");
  EXPECT_EQ(pub.Counters().commandsRefused, 3u);

  m_relay->Cut();
  EXPECT_EQ(Next(topic("pm/edge/status")).payload, "offline");
  ASSERT_TRUE(mqtt_test::WaitUntil([&] { return !pub.Counters().connected; }));
  for (const RemovalCase& c : removals) {
    if (!c.whileAway) continue;
    pub.RemoveMetric(c.handle);
    if (c.readded) pub.AddMetric(c.handle, "PLC1", "PLC1", c.name, VT_R4, false);
  }
  m_relay->Restore();
  EXPECT_EQ(Next(topic("pm/edge/status")).payload, "online");
  Next(deleted(removals[1]));
  // A change sent after the deletions: once it is in, so are they.
  v = Float(77);
  pub.Update(kTagHandle, v, 0, 0);
  Next([](const Received& r) {
    return r.topic == "pm/PLC1/PLC1.NODE1.40001" && r.payload.starts_with("{\"value\": 77,");
  });
  const std::set<std::string> retained =
      RetainedTopics(m_broker->Port(), "pm/PLC1/#", *m_sub, "pm/PLC1/marker");
  EXPECT_TRUE(retained.contains("pm/PLC1/PLC1.NODE1.40001"));
  for (const RemovalCase& c : removals) {
    EXPECT_EQ(retained.contains(tagTopic(c)), c.readded) << c.name;
  }

  // A write the program has not finished when the gateway stops.
  m_sub->Publish("pm/PLC1/PLC1.NODE1.40001/set", R"({"value": 4, "id": "w-2"})");
  {
    std::unique_lock lock(mutex);
    ASSERT_TRUE(cv.wait_for(lock, mqtt_test::kDeadline, [&] { return ids.size() == 2; }));
  }
  pub.Stop();
  EXPECT_EQ(Next(result).payload, R"({"status": "0x800C0000", "good": false, "id": "w-2"})");
  EXPECT_EQ(Next(topic("pm/edge/status")).payload, "offline");
}

// A tag removed while the broker is away, with the gateway stopped before it
// came back: the next start deletes the tag's document.
TEST_F(BrokerTest, JsonDocumentOfATagRemovedBeforeAStopIsDeletedAfterTheRestart) {
  mqtt::MqttSettings settings = Settings();
  settings.format = mqtt::PayloadFormat::Json;
  settings.topicPrefix = "pm";
  const std::string tagTopic = std::string("pm/PLC1/") + kTag;
  const fs::path uncleared = m_dir / "spool" / "uncleared";
  {
    mqtt::MqttPublisher pub(settings);
    pub.AddMetric(kTagHandle, "PLC1", "PLC1", kTag, VT_R4, false);
    std::string error;
    ASSERT_TRUE(pub.Start(&error)) << error;
    Next([&](const Received& r) { return r.topic == tagTopic && !r.payload.empty(); });
    m_relay->Cut();
    ASSERT_TRUE(mqtt_test::WaitUntil([&] { return !pub.Counters().connected; }));
    pub.RemoveMetric(kTagHandle);
    ASSERT_TRUE(mqtt_test::WaitUntil([&] { return fs::exists(uncleared); }));
    pub.Stop();
  }
  m_relay->Restore();
  mqtt::MqttPublisher pub(settings);
  std::string error;
  ASSERT_TRUE(pub.Start(&error)) << error;
  Next([&](const Received& r) { return r.topic == tagTopic && r.payload.empty(); });
  EXPECT_FALSE(
      RetainedTopics(m_broker->Port(), "pm/PLC1/#", *m_sub, "pm/PLC1/marker").contains(tagTopic));
  EXPECT_FALSE(fs::exists(uncleared));
}

// Following a primary host: nothing is born before its STATE says online,
// and changes are kept meanwhile; its going offline ends the session with
// NDEATH; a STATE older than the latest is ignored.
TEST_F(BrokerTest, BirthsWaitForThePrimaryHost) {
  const std::string stateTopic = "spBv1.0/STATE/scada";
  const auto state = [](bool online, int timestamp) {
    return std::string("{\"online\": ") + (online ? "true" : "false") +
           ", \"timestamp\": " + std::to_string(timestamp) + "}";
  };
  // Where the message that matches lies in all the subscriber received.
  const auto indexOf = [&](const std::function<bool(const Received&)>& match) {
    size_t from = 0;
    Received r;
    EXPECT_TRUE(m_sub->WaitFor(&from, match, &r));
    return from;
  };
  const auto stateSaying = [&](const std::string& payload) {
    return
        [&, payload](const Received& r) { return r.topic == stateTopic && r.payload == payload; };
  };
  mqtt::MqttSettings settings = Settings();
  settings.primaryHostId = "scada";
  mqtt::MqttPublisher pub(settings);
  std::atomic<bool> staleIgnored{false};
  const platform::ScopedLogSink sink([&](const platform::LogRecord& line) {
    if (line.text.find("older than the last") != std::string::npos) staleIgnored = true;
  });
  pub.AddMetric(kTagHandle, "PLC1", "PLC1", kTag, VT_R4, true);
  std::string error;
  ASSERT_TRUE(pub.Start(&error)) << error;
  ASSERT_TRUE(mqtt_test::WaitUntil([&] { return pub.Counters().connected; }));
  VARIANT v = Float(1);
  pub.Update(kTagHandle, v, 0, 0);
  ASSERT_TRUE(mqtt_test::WaitUntil([&] { return pub.Counters().spooled == 1; }));
  m_sub->Publish(stateTopic, state(true, 1000), true);
  const Received birth = Next(Topic("NBIRTH"));
  EXPECT_GT(m_at, indexOf(stateSaying(state(true, 1000))));
  Next(Topic("DBIRTH"));
  EXPECT_EQ(Historical(1), std::vector<float>{1});

  m_sub->Publish(stateTopic, state(false, 1000), true);
  const Received death = Next(Topic("NDEATH"));
  EXPECT_EQ(BdSeq(death), BdSeq(birth));
  v = Float(2);
  pub.Update(kTagHandle, v, 0, 0);
  ASSERT_TRUE(mqtt_test::WaitUntil([&] { return pub.Counters().spooled == 2; }));
  // Retained, so that the next session sees it whenever it subscribes.
  m_sub->Publish(stateTopic, state(true, 500), true);
  ASSERT_TRUE(mqtt_test::WaitUntil([&] { return staleIgnored.load(); }));
  m_sub->Publish(stateTopic, state(true, 2000), true);
  const Received rebirth = Next(Topic("NBIRTH"));
  EXPECT_GT(m_at, indexOf(stateSaying(state(true, 2000))));
  EXPECT_EQ(BdSeq(rebirth), (BdSeq(birth) + 1) % 256);
  EXPECT_EQ(Historical(1), std::vector<float>{2});
}

// A command the gateway ignores says so, once; the refused write sent after
// them marks when every line of theirs has come.
TEST_F(BrokerTest, IgnoredCommandsAreLoggedOnce) {
  struct Case {
    std::string payload;
    std::string line;
  };
  Payload notBoolean;
  auto* rebirth = notBoolean.add_metrics();
  rebirth->set_name("Node Control/Rebirth");
  rebirth->set_int_value(1);
  const Case cases[] = {
      {"", "ignored a command on spBv1.0/grp/NCMD/edge: it names no metric"},
      {notBoolean.SerializeAsString(),
       "ignored a Node Control/Rebirth command that is not a Boolean"},
  };
  mqtt::MqttPublisher pub(Settings());
  std::mutex mutex;
  std::condition_variable cv;
  std::vector<std::string> lines;
  const platform::ScopedLogSink sink([&](const platform::LogRecord& line) {
    std::lock_guard lock(mutex);
    lines.emplace_back(line.text);
    cv.notify_all();
  });
  std::string error;
  ASSERT_TRUE(pub.Start(&error)) << error;
  Next(Topic("NBIRTH"));
  for (const Case& c : cases) m_sub->Publish("spBv1.0/grp/NCMD/edge", c.payload);
  Payload marker;
  marker.add_metrics()->set_name("no such tag");
  m_sub->Publish("spBv1.0/grp/NCMD/edge", marker.SerializeAsString());
  std::unique_lock lock(mutex);
  ASSERT_TRUE(cv.wait_for(lock, mqtt_test::kDeadline, [&] {
    return std::ranges::any_of(lines, [](auto& l) { return l.find("no such tag") != l.npos; });
  }));
  for (const Case& c : cases) EXPECT_EQ(std::ranges::count(lines, c.line), 1) << c.line;
}

// A broker that will not have the gateway: the refusal is logged as an
// error with the broker's reason, and nothing counts as connected.
TEST_F(BrokerTest, RefusalIsLogged) {
  mqtt_test::Broker closed(m_dir, false);
  mqtt::MqttSettings settings = Settings();
  settings.port = closed.Port();
  mqtt::MqttPublisher pub(settings);
  std::mutex mutex;
  std::condition_variable cv;
  std::vector<std::string> errors;
  const platform::ScopedLogSink sink([&](const platform::LogRecord& line) {
    std::lock_guard lock(mutex);
    if (line.level == platform::LogLevel::Error) errors.emplace_back(line.text);
    cv.notify_all();
  });
  std::string error;
  ASSERT_TRUE(pub.Start(&error)) << error;
  std::unique_lock lock(mutex);
  ASSERT_TRUE(cv.wait_for(lock, mqtt_test::kDeadline, [&] { return !errors.empty(); }));
  EXPECT_NE(errors.front().find("refused the connection: Connection Refused: not authorised"),
            std::string::npos)
      << errors.front();
  EXPECT_EQ(pub.Counters().connects, 0u);
}

// Settings the publisher cannot work with are refused before any connection,
// each with its reason.
TEST(PublisherSettings, UnusableSettingsAreRefusedWithTheReason) {
  struct Case {
    std::function<void(mqtt::MqttSettings&)> spoil;
    std::string reason;
  };
  const std::vector<Case> cases = {
      {[](mqtt::MqttSettings& s) { s.port = 0; }, "the MQTT port 0 is not between 1 and 65535"},
      {[](mqtt::MqttSettings& s) { s.port = 65536; },
       "the MQTT port 65536 is not between 1 and 65535"},
      {[](mqtt::MqttSettings& s) { s.qos = 3; }, "the MQTT QoS 3 is not 0, 1 or 2"},
      {[](mqtt::MqttSettings& s) { s.spoolDirectory.clear(); }, "no MQTT spool directory is set"},
      {[](mqtt::MqttSettings& s) { s.edgeNodeId.clear(); }, "no MQTT edge node id is set"},
  };
  for (const Case& c : cases) {
    mqtt::MqttSettings settings;
    settings.host = "127.0.0.1";
    settings.edgeNodeId = "edge";
    settings.spoolDirectory = "/nonexistent/spool";
    c.spoil(settings);
    mqtt::MqttPublisher pub(settings);
    std::string error;
    EXPECT_FALSE(pub.Start(&error)) << c.reason;
    EXPECT_EQ(error, c.reason);
  }
}

}  // namespace
