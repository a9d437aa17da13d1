// How a register map's tag turns its registers into the value it publishes,
// and a client's value back into registers: by its own data type and format,
// with the ranges every write path checks. A coil or input is a Boolean.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "platform/Variant.h"
#include "pointdb/RegisterMap.h"

class MapTagCodec {
 public:
  explicit MapTagCodec(const MapTag& tag);

  // Registers (or bits) the tag takes from its offset.
  int Registers() const;
  // The VARIANT type its values are published as.
  VARTYPE PublishedType() const;
  // A client may write it: read-write, in a table a master writes.
  bool Writable() const;
  // Whether a client's value needs the register as last read (a Bit of a
  // register is written with the register's other bits as they were).
  bool NeedsCurrent() const;
  // The engineering range of a scaled tag, for its EURange; false when the
  // tag is not scaled.
  bool EngineeringRange(double& low, double& high) const;

  // The value from the tag's registers as they arrived; false, with value
  // empty, when they hold no value of the type (or are too few).
  bool Decode(std::span<const uint16_t> words, VARIANT& value) const;
  // The registers (one word per coil) that carry value: an OPC UA status
  // code, Good or why the value cannot be written.
  uint32_t Encode(const VARIANT& value, uint16_t current, std::vector<uint16_t>& words) const;

 private:
  bool IsBitTable() const;

  PointType m_table;
  int32_t m_dataType;
  TagFormat m_format;
  MapAccess m_access;
};
