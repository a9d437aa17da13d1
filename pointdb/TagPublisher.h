// Hands a tag's value to the tag server with the reason it is or is not
// fresh: an OPC UA status code and the time the device's answer arrived; and
// the same to the tag observer, if there is one, at the same moments.
#pragma once

#include <cstdint>
#include <string>

#include "pointdb/TagObserver.h"

class CModbusTag;

namespace tagpublisher {

// The scan a tag belongs to, as an observer learns it.
struct TagSource {
  std::string endpoint;
  int slaveNode = 0;
  bool writable = false;
  ITagObserver* observer = nullptr;
};

// The current time as OPC UA stamps it: 100 ns ticks since 1601-01-01 UTC.
int64_t Now();
// The type the tag's values are published as: Float for bit points and for
// the classic types whose values a Float holds exactly.
VARTYPE PublishedType(const CModbusTag& tag);
// Publishes the tag under name with its published type, and stores the
// handle in the tag.
void Create(CModbusTag& tag, const std::string& name, uint16_t quality, const TagSource& source);
// The tag's current value (its last good one when the status is bad) with
// the status and source time. A tag-server library without the status entry
// point gets the classic quality word instead. Tags the server refused
// (handle -1) are skipped.
void Publish(CModbusTag& tag, uint32_t status, int64_t sourceTime, ITagObserver* observer);
// Takes the tag off the tag server; its handle is -1 after.
void Remove(CModbusTag& tag, ITagObserver* observer);
// Tells the source's observer of a tag created (and published) earlier, as
// it stands now.
void Announce(const CModbusTag& tag, const std::string& name, const TagSource& source);

}  // namespace tagpublisher
