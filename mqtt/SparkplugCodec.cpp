#include "mqtt/SparkplugCodec.h"

#include "mqtt/ValueConversion.h"
#include "sparkplug_b.pb.h"

namespace mqtt {

namespace {

using org::eclipse::tahu::protobuf::Payload;
using Metric = Payload::Metric;

constexpr uint64_t kSeqZero = 0;

void SetValue(Metric* m, SparkplugType type, const ScalarValue& value) {
  if (const auto* b = std::get_if<bool>(&value)) {
    m->set_boolean_value(*b);
  } else if (const auto* i = std::get_if<int64_t>(&value)) {
    if (type == SparkplugType::Int64) {
      m->set_long_value(static_cast<uint64_t>(*i));
    } else {
      // Narrow signed types travel as their 32-bit two's complement.
      m->set_int_value(static_cast<uint32_t>(static_cast<int32_t>(*i)));
    }
  } else if (const auto* u = std::get_if<uint64_t>(&value)) {
    if (type == SparkplugType::UInt64) {
      m->set_long_value(*u);
    } else {
      m->set_int_value(static_cast<uint32_t>(*u));
    }
  } else if (const auto* d = std::get_if<double>(&value)) {
    if (type == SparkplugType::Float) {
      m->set_float_value(static_cast<float>(*d));
    } else if (type == SparkplugType::DateTime) {
      m->set_long_value(static_cast<uint64_t>(*d));
    } else {
      m->set_double_value(*d);
    }
  } else if (const auto* s = std::get_if<std::string>(&value)) {
    m->set_string_value(*s);
  } else {
    m->set_is_null(true);
  }
}

void AddProperty(Payload::PropertySet* set, const char* key, SparkplugType type, uint32_t value) {
  set->add_keys(key);
  auto* v = set->add_values();
  v->set_type(static_cast<uint32_t>(type));
  v->set_int_value(value);
}

void FillMetric(Metric* m, const MetricSample& s) {
  const SparkplugType type = SparkplugCodec::TypeOf(s.type);
  m->set_name(s.name);
  m->set_timestamp(s.timeMs);
  m->set_datatype(static_cast<uint32_t>(type));
  if (s.historical) m->set_is_historical(true);
  SetValue(m, type, s.value);
  auto* props = m->mutable_properties();
  AddProperty(props, SparkplugCodec::kQualityProperty, SparkplugType::Int32,
              static_cast<uint32_t>(ValueConversion::QualityOf(s.status)));
  if (s.writeStatus) {
    AddProperty(props, SparkplugCodec::kWriteStatusProperty, SparkplugType::UInt32, *s.writeStatus);
  }
}

ScalarValue CommandValue(const Metric& m) {
  if (m.is_null()) return std::monostate{};
  const auto type = static_cast<SparkplugType>(m.datatype());
  switch (m.value_case()) {
    case Metric::kIntValue:
      switch (type) {
        case SparkplugType::Int8: return int64_t{static_cast<int8_t>(m.int_value())};
        case SparkplugType::Int16: return int64_t{static_cast<int16_t>(m.int_value())};
        case SparkplugType::Int32: return int64_t{static_cast<int32_t>(m.int_value())};
        default: return uint64_t{m.int_value()};
      }
    case Metric::kLongValue:
      if (type == SparkplugType::Int64) return static_cast<int64_t>(m.long_value());
      return m.long_value();
    case Metric::kFloatValue: return double{m.float_value()};
    case Metric::kDoubleValue: return m.double_value();
    case Metric::kBooleanValue: return m.boolean_value();
    case Metric::kStringValue: return m.string_value();
    default: return std::monostate{};
  }
}

std::string Serialize(Payload& payload, uint64_t timeMs) {
  payload.set_timestamp(timeMs);
  return payload.SerializeAsString();
}

}  // namespace

std::string SparkplugCodec::NodeBirth(uint64_t bdSeq, uint64_t timeMs) {
  Payload payload;
  payload.set_seq(kSeqZero);
  auto* bd = payload.add_metrics();
  bd->set_name(kBdSeqMetric);
  bd->set_timestamp(timeMs);
  bd->set_datatype(static_cast<uint32_t>(SparkplugType::Int64));
  bd->set_long_value(bdSeq);
  auto* rebirth = payload.add_metrics();
  rebirth->set_name(kRebirthMetric);
  rebirth->set_timestamp(timeMs);
  rebirth->set_datatype(static_cast<uint32_t>(SparkplugType::Boolean));
  rebirth->set_boolean_value(false);
  return Serialize(payload, timeMs);
}

std::string SparkplugCodec::NodeDeath(uint64_t bdSeq, uint64_t timeMs) {
  Payload payload;
  auto* bd = payload.add_metrics();
  bd->set_name(kBdSeqMetric);
  bd->set_timestamp(timeMs);
  bd->set_datatype(static_cast<uint32_t>(SparkplugType::Int64));
  bd->set_long_value(bdSeq);
  return Serialize(payload, timeMs);
}

std::string SparkplugCodec::Metrics(const std::vector<MetricSample>& samples, uint8_t seq,
                                    uint64_t timeMs) {
  Payload payload;
  payload.set_seq(seq);
  payload.mutable_metrics()->Reserve(static_cast<int>(samples.size()));
  for (const auto& s : samples) FillMetric(payload.add_metrics(), s);
  return Serialize(payload, timeMs);
}

std::string SparkplugCodec::DeviceDeath(uint8_t seq, uint64_t timeMs) {
  Payload payload;
  payload.set_seq(seq);
  return Serialize(payload, timeMs);
}

std::optional<std::vector<ReceivedWrite>> SparkplugCodec::DecodeCommand(
    std::span<const uint8_t> bytes) {
  Payload payload;
  if (!payload.ParseFromArray(bytes.data(), static_cast<int>(bytes.size()))) return std::nullopt;
  std::vector<ReceivedWrite> writes;
  for (const auto& m : payload.metrics()) {
    writes.push_back({m.name(), CommandValue(m)});
  }
  return writes;
}

SparkplugType SparkplugCodec::TypeOf(VARTYPE type) {
  switch (type) {
    case VT_I1: return SparkplugType::Int8;
    case VT_I2: return SparkplugType::Int16;
    case VT_I4:
    case VT_INT: return SparkplugType::Int32;
    case VT_I8: return SparkplugType::Int64;
    case VT_UI1: return SparkplugType::UInt8;
    case VT_UI2: return SparkplugType::UInt16;
    case VT_UI4:
    case VT_UINT: return SparkplugType::UInt32;
    case VT_UI8: return SparkplugType::UInt64;
    case VT_R4: return SparkplugType::Float;
    case VT_R8: return SparkplugType::Double;
    case VT_BOOL: return SparkplugType::Boolean;
    case VT_BSTR: return SparkplugType::String;
    case VT_DATE: return SparkplugType::DateTime;
    default: return SparkplugType::Unknown;
  }
}

}  // namespace mqtt
