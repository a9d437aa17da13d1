// What the MQTT bridge hands the tags to: the MQTT publisher's own members,
// behind an interface so that the runtime does not link the library and
// tests can put a recording fake behind it. Main thread only.
#pragma once

#include <cstdint>
#include <string>

#include "platform/Variant.h"

class IMetricPublisher {
 public:
  virtual ~IMetricPublisher() = default;

  virtual void AddMetric(int32_t handle, const std::string& endpoint, const std::string& device,
                         const std::string& name, VARTYPE type, bool writable) = 0;
  virtual void RemoveMetric(int32_t handle) = 0;
  virtual void Update(int32_t handle, const VARIANT& value, uint32_t status,
                      int64_t sourceTime) = 0;
  virtual void SetDeviceOnline(const std::string& device, bool online) = 0;
  virtual void CompleteCommand(uint64_t commandId, uint32_t status) = 0;
};
