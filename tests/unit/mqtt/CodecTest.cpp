// The payload codecs: every VARIANT type out as a Sparkplug metric and back
// in through a command, hostile command payloads, and the JSON documents.
#include <gtest/gtest.h>

#include <cmath>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "mqtt/JsonCodec.h"
#include "mqtt/SparkplugCodec.h"
#include "mqtt/ValueConversion.h"
#include "sparkplug_b.pb.h"

namespace {

using mqtt::ScalarValue;
using mqtt::SparkplugType;
using org::eclipse::tahu::protobuf::Payload;

VARIANT Make(VARTYPE vt, auto assign) {
  VARIANT v;
  VariantInit(&v);
  v.vt = vt;
  assign(v);
  return v;
}

bool SameValue(const VARIANT& a, const VARIANT& b) {
  return a.vt == b.vt &&
         mqtt::ValueConversion::FromVariant(a, a.vt) == mqtt::ValueConversion::FromVariant(b, b.vt);
}

struct TypeCase {
  VARTYPE vt;
  VARIANT value;
  SparkplugType type;
  Payload::Metric::ValueCase field;
};

// Out as DDATA with the right data type and value field, then the same bytes
// in as a DCMD: the write reaches the program as the value it left as.
TEST(SparkplugCodecTest, EveryTypeRoundTripsThroughACommand) {
  const TypeCase cases[] = {
      {VT_R4, Make(VT_R4, [](VARIANT& v) { v.fltVal = -12.5f; }), SparkplugType::Float,
       Payload::Metric::kFloatValue},
      {VT_R8, Make(VT_R8, [](VARIANT& v) { v.dblVal = 1e300; }), SparkplugType::Double,
       Payload::Metric::kDoubleValue},
      {VT_I2, Make(VT_I2, [](VARIANT& v) { v.iVal = -32768; }), SparkplugType::Int16,
       Payload::Metric::kIntValue},
      {VT_I4, Make(VT_I4, [](VARIANT& v) { v.lVal = -2000000000; }), SparkplugType::Int32,
       Payload::Metric::kIntValue},
      {VT_I8, Make(VT_I8, [](VARIANT& v) { v.llVal = INT64_MIN; }), SparkplugType::Int64,
       Payload::Metric::kLongValue},
      {VT_UI2, Make(VT_UI2, [](VARIANT& v) { v.uiVal = 65535; }), SparkplugType::UInt16,
       Payload::Metric::kIntValue},
      {VT_UI4, Make(VT_UI4, [](VARIANT& v) { v.ulVal = 4000000000u; }), SparkplugType::UInt32,
       Payload::Metric::kIntValue},
      {VT_UI8, Make(VT_UI8, [](VARIANT& v) { v.ullVal = UINT64_MAX; }), SparkplugType::UInt64,
       Payload::Metric::kLongValue},
      {VT_BOOL, Make(VT_BOOL, [](VARIANT& v) { v.boolVal = VARIANT_TRUE; }), SparkplugType::Boolean,
       Payload::Metric::kBooleanValue},
      {VT_BSTR, Make(VT_BSTR, [](VARIANT& v) { v.bstrVal = SysAllocString("dåta"); }),
       SparkplugType::String, Payload::Metric::kStringValue},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.vt);
    mqtt::MetricSample s;
    s.name = "PLC1.NODE1.40001";
    s.type = c.vt;
    s.value = mqtt::ValueConversion::FromVariant(c.value, c.vt);
    s.status = 0;
    s.timeMs = 1234;
    const std::string bytes = mqtt::SparkplugCodec::Metrics({s}, 7, 99);

    Payload p;
    ASSERT_TRUE(p.ParseFromString(bytes));
    EXPECT_EQ(p.seq(), 7u);
    ASSERT_EQ(p.metrics_size(), 1);
    const auto& m = p.metrics(0);
    EXPECT_EQ(m.datatype(), static_cast<uint32_t>(c.type));
    EXPECT_EQ(m.value_case(), c.field);
    EXPECT_EQ(m.timestamp(), 1234u);
    ASSERT_EQ(m.properties().keys_size(), 1);
    EXPECT_EQ(m.properties().keys(0), "Quality");
    EXPECT_EQ(m.properties().values(0).int_value(), 192u);

    const auto writes = mqtt::SparkplugCodec::DecodeCommand(
        {reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()});
    ASSERT_TRUE(writes);
    ASSERT_EQ(writes->size(), 1u);
    EXPECT_EQ((*writes)[0].name, s.name);
    VARIANT back;
    ASSERT_EQ(mqtt::ValueConversion::ToVariant((*writes)[0].value, c.vt, &back), S_OK);
    EXPECT_TRUE(SameValue(back, c.value));
    VariantClear(&back);
    VARIANT copy = c.value;
    VariantClear(&copy);
  }
}

std::string Command(auto fill) {
  Payload p;
  fill(p);
  return p.SerializeAsString();
}

struct HostileCase {
  const char* name;
  std::string bytes;
  bool decodes;
  // The tag's type the write would go to, and whether its value fits it.
  VARTYPE target;
  bool usable;
};

// Bytes that are no payload are refused whole; metrics whose values do not
// fit the tag are refused one by one; neither crashes nor throws.
TEST(SparkplugCodecTest, HostileCommandsAreRefusedCleanly) {
  const HostileCase cases[] = {
      {"garbage", std::string("\xff\xff\xff\xff\xff\xff\xff\xff\xff\xff\x01", 11), false, VT_I4,
       false},
      {"truncated metric", std::string("\x12\x10\x0a\x03", 4), false, VT_I4, false},
      {"no value", Command([](Payload& p) { p.add_metrics()->set_name("a"); }), true, VT_I4, false},
      {"null value", Command([](Payload& p) {
         auto* m = p.add_metrics();
         m->set_name("a");
         m->set_is_null(true);
         m->set_int_value(3);
       }),
       true, VT_I4, false},
      {"text into a number", Command([](Payload& p) {
         auto* m = p.add_metrics();
         m->set_name("a");
         m->set_string_value("twelve");
       }),
       true, VT_R4, false},
      {"out of range", Command([](Payload& p) {
         auto* m = p.add_metrics();
         m->set_name("a");
         m->set_datatype(static_cast<uint32_t>(SparkplugType::Int32));
         m->set_int_value(static_cast<uint32_t>(-5));
       }),
       true, VT_UI2, false},
      {"double overflowing a float", Command([](Payload& p) {
         auto* m = p.add_metrics();
         m->set_name("a");
         m->set_double_value(1e300);
       }),
       true, VT_R4, false},
      {"dataset value", Command([](Payload& p) {
         auto* m = p.add_metrics();
         m->set_name("a");
         m->mutable_dataset_value()->set_num_of_columns(1);
       }),
       true, VT_I4, false},
      {"text that is not UTF-8", Command([](Payload& p) {
         auto* m = p.add_metrics();
         m->set_name("a");
         m->set_string_value(std::string("ok\xc0\xaf", 4));
       }),
       true, VT_BSTR, false},
      {"negative int8 fits", Command([](Payload& p) {
         auto* m = p.add_metrics();
         m->set_name("a");
         m->set_datatype(static_cast<uint32_t>(SparkplugType::Int8));
         m->set_int_value(0xFFFFFFFFu);
       }),
       true, VT_I2, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const auto writes = mqtt::SparkplugCodec::DecodeCommand(
        {reinterpret_cast<const uint8_t*>(c.bytes.data()), c.bytes.size()});
    ASSERT_EQ(writes.has_value(), c.decodes);
    if (!writes) continue;
    ASSERT_EQ(writes->size(), 1u);
    VARIANT v;
    const HRESULT hr = mqtt::ValueConversion::ToVariant((*writes)[0].value, c.target, &v);
    EXPECT_EQ(hr == S_OK, c.usable);
    if (hr == S_OK) VariantClear(&v);
  }
}

struct JsonWriteCase {
  const char* payload;
  bool decodes;
  ScalarValue value;
  std::string idJson;
};

// A primary host's STATE decodes only whole: a boolean "online" and a
// timestamp in whole milliseconds.
TEST(JsonCodecTest, DecodesHostStatesStrictly) {
  struct Case {
    const char* payload;
    std::optional<std::pair<bool, uint64_t>> state;
  };
  const Case cases[] = {
      {R"({"online": true, "timestamp": 1668114759262})", std::pair{true, 1668114759262ull}},
      {R"({"timestamp": 0, "online": false, "extra": [1]})", std::pair{false, 0ull}},
      {R"({"online": "true", "timestamp": 1})", std::nullopt},
      {R"({"online": true})", std::nullopt},
      {R"({"online": true, "timestamp": -1})", std::nullopt},
      {R"({"online": true, "timestamp": 1.5})", std::nullopt},
      {R"({"online": true, "timestamp": 18446744073709551616})", std::nullopt},
      {"ONLINE", std::nullopt},
      {"[true, 1]", std::nullopt},
  };
  for (const Case& c : cases) {
    const auto state = mqtt::JsonCodec::DecodeHostState(c.payload);
    ASSERT_EQ(state.has_value(), c.state.has_value()) << c.payload;
    if (state) {
      EXPECT_EQ(std::pair(state->online, state->timestamp), *c.state) << c.payload;
    }
  }
}

TEST(JsonCodecTest, DecodesWritesStrictly) {
  const JsonWriteCase cases[] = {
      {"12.5", true, 12.5, ""},
      {" -7 ", true, int64_t{-7}, ""},
      {"18446744073709551615", true, uint64_t{UINT64_MAX}, ""},
      {"true", true, true, ""},
      {R"("a\"b\u00e9\ud83d\ude00")", true, std::string("a\"b\xc3\xa9\xf0\x9f\x98\x80"), ""},
      {R"({"value": 3, "id": {"n": [1, "x"]}})", true, int64_t{3}, R"({"n": [1, "x"]})"},
      {R"({"id": 5})", true, std::monostate{}, "5"},
      {"null", true, std::monostate{}, ""},
      {"[1]", true, std::monostate{}, ""},
      {"1e999", true, std::monostate{}, ""},
      {R"({"value": 1, "value": 2})", false, {}, ""},
      {"01", false, {}, ""},
      {"1.", false, {}, ""},
      {"tru", false, {}, ""},
      {R"("\ud800")", false, {}, ""},
      {"\"tab\there\"", false, {}, ""},
      {"{\"value\": 1,}", false, {}, ""},
      {"1 2", false, {}, ""},
      {"", false, {}, ""},
      {"[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[1]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]",
       false,
       {},
       ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.payload);
    const auto write = mqtt::JsonCodec::DecodeWrite(c.payload);
    ASSERT_EQ(write.has_value(), c.decodes);
    if (!write) continue;
    EXPECT_EQ(write->value, c.value);
    EXPECT_EQ(write->idJson, c.idJson);
  }
}

struct DocumentCase {
  ScalarValue value;
  uint32_t status;
  bool historical;
  const char* document;
};

TEST(JsonCodecTest, WritesTagDocumentsAndResults) {
  const DocumentCase cases[] = {
      {12.5, 0x40920000u, true,
       R"({"value": 12.5, "quality": "uncertain", "status": "0x40920000", )"
       R"("timestamp": "2026-12-07T18:00:00.123Z", "historical": true})"},
      {std::string("say \"hi\"\n"), 0x80000000u, false,
       R"({"value": "say \"hi\"\n", "quality": "bad", "status": "0x80000000", )"
       R"("timestamp": "2026-12-07T18:00:00.123Z"})"},
      {std::nan(""), 0, false,
       R"({"value": null, "quality": "good", "status": "0x00000000", )"
       R"("timestamp": "2026-12-07T18:00:00.123Z"})"},
      {uint64_t{UINT64_MAX}, 0, false,
       R"({"value": 18446744073709551615, "quality": "good", "status": "0x00000000", )"
       R"("timestamp": "2026-12-07T18:00:00.123Z"})"},
  };
  for (const auto& c : cases) {
    mqtt::MetricSample s;
    s.value = c.value;
    s.status = c.status;
    s.timeMs = 1796666400123ull;  // 2026-12-07T18:00:00.123Z
    s.historical = c.historical;
    EXPECT_EQ(mqtt::JsonCodec::TagDocument(s), c.document);
  }
  EXPECT_EQ(mqtt::JsonCodec::WriteResult(0, R"("w1")"),
            R"({"status": "0x00000000", "good": true, "id": "w1"})");
  EXPECT_EQ(mqtt::JsonCodec::WriteResult(0x803B0000u, ""),
            R"({"status": "0x803B0000", "good": false})");
}

}  // namespace
