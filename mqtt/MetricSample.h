// One value of one published tag, as it leaves the metric table, waits in the
// spool and is encoded for the broker. It owns no VARIANT, so it can be copied
// freely between the publisher's threads.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <variant>

#include "platform/Variant.h"

namespace mqtt {

// The content of a VARIANT without its ownership rules: integers widened to
// 64 bits, floats to double; monostate is "no value".
using ScalarValue = std::variant<std::monostate, bool, int64_t, uint64_t, double, std::string>;

struct MetricSample {
  std::string endpoint;
  std::string device;
  std::string name;
  VARTYPE type = VT_EMPTY;
  ScalarValue value;
  uint32_t status = 0;
  uint64_t timeMs = 0;
  bool historical = false;
  // Set when the sample answers a write.
  std::optional<uint32_t> writeStatus;
};

// A write a command asked for: a metric's name and the value it carried.
struct ReceivedWrite {
  std::string name;
  ScalarValue value;
};

}  // namespace mqtt
