// Sparkplug B payloads: the births, data and deaths the gateway publishes,
// and the commands (NCMD, DCMD) it takes, decoded from any bytes.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "mqtt/MetricSample.h"
#include "platform/Variant.h"

namespace mqtt {

// The Sparkplug data type codes the gateway uses (see sparkplug_b.proto).
enum class SparkplugType : uint32_t {
  Unknown = 0,
  Int8 = 1,
  Int16 = 2,
  Int32 = 3,
  Int64 = 4,
  UInt8 = 5,
  UInt16 = 6,
  UInt32 = 7,
  UInt64 = 8,
  Float = 9,
  Double = 10,
  Boolean = 11,
  String = 12,
  DateTime = 13,
  Text = 14,
};

class SparkplugCodec {
 public:
  static constexpr const char* kBdSeqMetric = "bdSeq";
  static constexpr const char* kRebirthMetric = "Node Control/Rebirth";
  static constexpr const char* kQualityProperty = "Quality";
  static constexpr const char* kWriteStatusProperty = "Write Status";

  static std::string NodeBirth(uint64_t bdSeq, uint64_t timeMs);
  static std::string NodeDeath(uint64_t bdSeq, uint64_t timeMs);
  // DBIRTH, DDATA and NDATA alike: the metrics with their types, values,
  // qualities and, for answers to writes, their write status.
  static std::string Metrics(const std::vector<MetricSample>& samples, uint8_t seq,
                             uint64_t timeMs);
  static std::string DeviceDeath(uint8_t seq, uint64_t timeMs);
  // The writes an NCMD or DCMD asks for, a metric without a usable value
  // with monostate; nullopt when the bytes are no payload.
  static std::optional<std::vector<ReceivedWrite>> DecodeCommand(std::span<const uint8_t> bytes);

  static SparkplugType TypeOf(VARTYPE type);
};

}  // namespace mqtt
