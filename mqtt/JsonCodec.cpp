#include "mqtt/JsonCodec.h"

#include <charconv>
#include <cmath>
#include <cstdio>

#include "mqtt/JsonParser.h"
#include "mqtt/ValueConversion.h"

namespace mqtt {

namespace {

const char* QualityName(Quality q) {
  switch (q) {
    case Quality::Good: return "good";
    case Quality::Uncertain: return "uncertain";
    default: return "bad";
  }
}

std::string ValueText(const ScalarValue& value) {
  if (const auto* b = std::get_if<bool>(&value)) return *b ? "true" : "false";
  if (const auto* i = std::get_if<int64_t>(&value)) return std::to_string(*i);
  if (const auto* u = std::get_if<uint64_t>(&value)) return std::to_string(*u);
  if (const auto* d = std::get_if<double>(&value)) return JsonCodec::Number(*d);
  if (const auto* s = std::get_if<std::string>(&value)) return JsonCodec::Quote(*s);
  return "null";
}

// Integers keep every digit; anything else is a double.
ScalarValue NumberValue(const std::string& text) {
  const char* first = text.data();
  const char* last = text.data() + text.size();
  int64_t i = 0;
  if (auto r = std::from_chars(first, last, i); r.ec == std::errc{} && r.ptr == last) return i;
  uint64_t u = 0;
  if (auto r = std::from_chars(first, last, u); r.ec == std::errc{} && r.ptr == last) return u;
  double d = 0;
  if (auto r = std::from_chars(first, last, d);
      r.ec == std::errc{} && r.ptr == last && std::isfinite(d)) {
    return d;
  }
  return std::monostate{};
}

ScalarValue ScalarOf(const JsonValue& v) {
  switch (v.kind) {
    case JsonValue::Kind::Bool: return v.boolean;
    case JsonValue::Kind::Number: return NumberValue(v.text);
    case JsonValue::Kind::String: return v.text;
    default: return std::monostate{};
  }
}

}  // namespace

std::string JsonCodec::Quote(std::string_view text) {
  std::string out = "\"";
  for (char c : text) {
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (static_cast<unsigned char>(c) < 0x20) {
          char escaped[8];
          std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned>(c));
          out += escaped;
        } else {
          out.push_back(c);
        }
    }
  }
  return out + "\"";
}

std::string JsonCodec::Number(double value) {
  // JSON has no NaN or infinity.
  if (!std::isfinite(value)) return "null";
  char text[32];
  const auto r = std::to_chars(text, text + sizeof text, value);
  return std::string(text, r.ptr);
}

std::string JsonCodec::TagDocument(const MetricSample& s) {
  std::string doc = "{\"value\": " + ValueText(s.value) + ", \"quality\": \"" +
                    QualityName(ValueConversion::QualityOf(s.status)) + "\", \"status\": \"" +
                    ValueConversion::StatusText(s.status) + "\", \"timestamp\": \"" +
                    ValueConversion::IsoTime(s.timeMs) + "\"";
  if (s.historical) doc += ", \"historical\": true";
  return doc + "}";
}

std::string JsonCodec::WriteResult(uint32_t status, const std::string& idJson) {
  std::string doc = "{\"status\": \"" + ValueConversion::StatusText(status) + "\", \"good\": " +
                    (ValueConversion::QualityOf(status) == Quality::Good ? "true" : "false");
  if (!idJson.empty()) doc += ", \"id\": " + idJson;
  return doc + "}";
}

std::optional<JsonWrite> JsonCodec::DecodeWrite(std::string_view payload) {
  JsonValue doc;
  if (!JsonParser::Parse(payload, &doc)) return std::nullopt;
  JsonWrite write;
  if (doc.kind != JsonValue::Kind::Object) {
    write.value = ScalarOf(doc);
    return write;
  }
  if (const JsonValue* id = doc.Member("id")) {
    write.idJson = std::string(payload.substr(id->begin, id->end - id->begin));
  }
  if (const JsonValue* value = doc.Member("value")) write.value = ScalarOf(*value);
  return write;
}

std::optional<HostState> JsonCodec::DecodeHostState(std::string_view payload) {
  JsonValue doc;
  if (!JsonParser::Parse(payload, &doc) || doc.kind != JsonValue::Kind::Object) return std::nullopt;
  const JsonValue* online = doc.Member("online");
  const JsonValue* timestamp = doc.Member("timestamp");
  if (online == nullptr || online->kind != JsonValue::Kind::Bool || timestamp == nullptr ||
      timestamp->kind != JsonValue::Kind::Number) {
    return std::nullopt;
  }
  HostState state;
  state.online = online->boolean;
  const std::string& digits = timestamp->text;
  const auto [end, error] =
      std::from_chars(digits.data(), digits.data() + digits.size(), state.timestamp);
  // Milliseconds since 1970 are a whole number of them.
  if (error != std::errc() || end != digits.data() + digits.size()) return std::nullopt;
  return state;
}

}  // namespace mqtt
