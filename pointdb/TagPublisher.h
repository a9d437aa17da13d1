// Hands a tag's value to the tag server with the reason it is or is not
// fresh: an OPC UA status code and the time the device's answer arrived.
#pragma once

#include <cstdint>
#include <string>

class CModbusTag;

namespace tagpublisher {

// The current time as OPC UA stamps it: 100 ns ticks since 1601-01-01 UTC.
int64_t Now();
// Publishes the tag under name with the OPC UA type its data type gives its
// values (Float for the classic types whose values a Float holds exactly),
// and stores the handle in the tag.
void Create(CModbusTag& tag, const std::string& name, uint16_t quality, bool writable);
// The tag's current value (its last good one when the status is bad) with
// the status and source time. A tag-server library without the status entry
// point gets the classic quality word instead. Tags the server refused
// (handle -1) are skipped.
void Publish(const CModbusTag& tag, uint32_t status, int64_t sourceTime);

}  // namespace tagpublisher
