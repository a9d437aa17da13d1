// A second audience of the published tags besides the tag server (the MQTT
// bridge): told of every tag as the tag server is, at the same moments, and
// of how the client writes it started ended. Main thread only. The runtime
// hands it to the scans through their context; without one nothing changes.
#pragma once

#include <cstdint>
#include <string>

#include "platform/Variant.h"

class ITagObserver {
 public:
  // What a published tag is, beside its value.
  struct TagInfo {
    int32_t handle = -1;  // the tag server's handle, which client writes name
    std::string name;     // the full tag name, as OPC UA clients see it
    std::string endpoint;
    int slaveNode = 0;
    VARTYPE type = VT_EMPTY;  // the type its values are published as
    bool writable = false;
    // The name the operator gave the tag's device (a register map's); empty
    // for a scan's tag, whose device is NODE<slaveNode>.
    std::string device;
  };

  // Client write tokens with this bit were handed to the runtime by the
  // observer's side, and their end is told back to it rather than to the
  // tag server, whose tokens never carry it.
  static constexpr uint64_t kTokenBit = 1ull << 63;

  virtual ~ITagObserver() = default;

  virtual void OnTagCreated(const TagInfo& tag) = 0;
  // status: the OPC UA status code; sourceTime: 100 ns ticks since 1601.
  virtual void OnTagPublished(int32_t handle, const VARIANT& value, uint32_t status,
                              int64_t sourceTime) = 0;
  virtual void OnTagRemoved(int32_t handle) = 0;
  // How a write whose token carries kTokenBit ended: the status an OPC UA
  // client would have had.
  virtual void OnWriteCompleted(uint64_t token, uint32_t status) = 0;
};
