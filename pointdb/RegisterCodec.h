// Turns a tag's registers into its published value and list text, and a
// client's value back into registers, for every data type but the six whose
// values the classic single-precision rules decode (0-5 unscaled).
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "platform/Variant.h"
#include "pointdb/DataTypeInfo.h"
#include "pointdb/TagFormat.h"

class RegisterCodec {
 public:
  RegisterCodec(const DataTypeInfo& info, const TagFormat& format);

  // Whether the codec, rather than the classic rules, decodes the type.
  static bool Handles(int32_t dataType, const TagFormat& format);

  int Registers() const;
  // The value from the tag's registers as they arrived (Registers() of
  // them); false, with value empty, when they hold no value of the type (a
  // BCD digit above 9).
  bool Decode(std::span<const uint16_t> words, VARIANT& value) const;
  // The list view's text: integers in full, floats with two decimals.
  std::string Text(std::span<const uint16_t> words) const;
  // The same text of a value already decoded (a tag's last published one).
  static std::string TextOf(const VARIANT& value);
  // The registers that carry value; current is the register a Bit tag
  // changes. An OPC UA status code: Good, BadTypeMismatch for a value that is
  // no number or text of the type, BadOutOfRange for one the type cannot hold.
  uint32_t Encode(const VARIANT& value, uint16_t current, std::vector<uint16_t>& words) const;

 private:
  uint64_t Assemble(std::span<const uint16_t> words) const;
  std::vector<uint16_t> Split(uint64_t bits) const;
  std::string AsciiText(std::span<const uint16_t> words) const;
  uint32_t EncodeString(const VARIANT& value, std::vector<uint16_t>& words) const;
  uint32_t EncodeScaled(const VARIANT& value, std::vector<uint16_t>& words) const;
  uint32_t EncodeNumber(const VARIANT& value, std::vector<uint16_t>& words) const;
  uint64_t BitsOfNumber(long double raw) const;

  const DataTypeInfo& m_info;
  TagFormat m_format;
};
