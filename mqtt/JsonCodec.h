// The JSON documents of the gateway's plain topics: one per tag, the answer
// to a write, and the write request itself, decoded from any bytes.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "mqtt/MetricSample.h"

namespace mqtt {

// A Sparkplug primary host's STATE: {"online": ..., "timestamp": ...}.
struct HostState {
  bool online = false;
  uint64_t timestamp = 0;
};

struct JsonWrite {
  ScalarValue value;
  // The request's id as the JSON text it was sent as; empty when none came.
  std::string idJson;
};

class JsonCodec {
 public:
  static constexpr const char* kOnline = "online";
  static constexpr const char* kOffline = "offline";

  // {"value": ..., "quality": ..., "status": ..., "timestamp": ...[, "historical": true]}
  static std::string TagDocument(const MetricSample& sample);
  // {"status": ..., "good": ..., "id": ...}
  static std::string WriteResult(uint32_t status, const std::string& idJson);
  // A bare JSON value, or an object with "value" and optionally "id". A
  // value that is null, an array or an object decodes as monostate; bytes
  // that are no JSON at all give nullopt.
  static std::optional<JsonWrite> DecodeWrite(std::string_view payload);
  // nullopt unless both members are there with their types.
  static std::optional<HostState> DecodeHostState(std::string_view payload);

  static std::string Quote(std::string_view text);
  static std::string Number(double value);
};

}  // namespace mqtt
