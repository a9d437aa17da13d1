// What the program hands its tags to: the MQTT publisher's members, behind
// an interface so that the layer that feeds it does not link the library and
// tests can put a recording fake behind it.
#pragma once

#include <cstdint>
#include <string>

#include "platform/Variant.h"

namespace mqtt {

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

}  // namespace mqtt
