#include "pointdb/MapAddress.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <charconv>
#include <cstdio>

namespace {

struct TableName {
  PointType table;
  char digit;  // Modicon
  const char* prefix;
};

constexpr std::array<TableName, 4> kTables = {{{PointType::Coil, '0', "CO"},
                                               {PointType::InputStatus, '1', "DI"},
                                               {PointType::InputRegister, '3', "IR"},
                                               {PointType::HoldingRegister, '4', "HR"}}};
constexpr int32_t kTableSize = 65536;
constexpr int32_t kLastModicon5Reference = 9999;
constexpr size_t kMostDecimalDigits = 4;
constexpr size_t kMostHexDigits = 4;

const TableName* ByDigit(char digit) {
  auto it = std::find_if(kTables.begin(), kTables.end(),
                         [digit](const TableName& t) { return t.digit == digit; });
  return it != kTables.end() ? &*it : nullptr;
}

const TableName& ByTable(PointType table) {
  return *std::find_if(kTables.begin(), kTables.end(),
                       [table](const TableName& t) { return t.table == table; });
}

bool AllOf(std::string_view text, int (*is)(int)) {
  return !text.empty() && std::all_of(text.begin(), text.end(), [is](char c) {
    return is(static_cast<unsigned char>(c)) != 0;
  });
}

int32_t NumberOf(std::string_view digits, int radix) {
  int32_t value = 0;
  std::from_chars(digits.data(), digits.data() + digits.size(), value, radix);
  return value;
}

bool IsHexStart(std::string_view text) {
  return text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
}

std::string_view Trimmed(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

bool Fail(std::string& error, std::string reason) {
  error = std::move(reason);
  return false;
}

bool ParseModicon(std::string_view text, MapAddress& address, std::string& error) {
  const TableName* table = ByDigit(text[0]);
  if (table == nullptr)
    return Fail(error, "is no Modicon reference: its first digit is not 0, 1, 3 or 4");
  const int32_t reference = NumberOf(text.substr(1), 10);
  if (reference == 0) return Fail(error, "is reference 0: Modicon references count from 1");
  if (reference > kTableSize) return Fail(error, "is past the last reference, 65536");
  address = {table->table, static_cast<uint16_t>(reference - 1),
             text.size() == 5 ? AddressNotation::Modicon5 : AddressNotation::Modicon6};
  return true;
}

bool ParseHex(std::string_view digits, PointType table, AddressNotation notation,
              MapAddress& address, std::string& error) {
  if (!AllOf(digits, isxdigit) || digits.size() > kMostHexDigits)
    return Fail(error, "is no hexadecimal offset 0x0 to 0xFFFF");
  address = {table, static_cast<uint16_t>(NumberOf(digits, 16)), notation};
  return true;
}

bool ParseCounted(std::string_view digits, PointType table, AddressNotation notation, MapBase base,
                  MapAddress& address, std::string& error) {
  const int32_t first = base == MapBase::OneBased ? 1 : 0;
  const int32_t value = digits.size() > 5 ? kTableSize + 1 : NumberOf(digits, 10);
  if (value < first) return Fail(error, "is before the first register, 1 in a one-based map");
  if (value - first >= kTableSize)
    return Fail(error, base == MapBase::OneBased
                           ? "is past the last register, 65536 in a one-based map"
                           : "is past the last register, 65535");
  address = {table, static_cast<uint16_t>(value - first), notation};
  return true;
}

bool ParsePrefixed(std::string_view text, MapBase base, MapAddress& address, std::string& error) {
  std::string prefix{text.substr(0, 2)};
  for (char& c : prefix) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  auto it = std::find_if(kTables.begin(), kTables.end(),
                         [&](const TableName& t) { return prefix == t.prefix; });
  if (it == kTables.end())
    return Fail(error, "is not an address (40001, 400001, HR0, 0x9C40, HR0x10)");
  const std::string_view rest = text.substr(2);
  if (IsHexStart(rest))
    return ParseHex(rest.substr(2), it->table, AddressNotation::PrefixedHex, address, error);
  if (!AllOf(rest, isdigit))
    return Fail(error, "has no decimal or 0x number after " + std::string(it->prefix));
  return ParseCounted(rest, it->table, AddressNotation::Prefixed, base, address, error);
}

std::string Padded(int32_t value, int width) {
  char text[16];
  std::snprintf(text, sizeof text, "%0*d", width, value);
  return text;
}

std::string Hex(int32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%X", value);
  return text;
}

}  // namespace

bool ParseMapAddress(std::string_view text, MapBase base, MapAddress& address, std::string& error) {
  text = Trimmed(text);
  if (text.empty()) return Fail(error, "is empty");
  if (IsHexStart(text))
    return ParseHex(text.substr(2), PointType::HoldingRegister, AddressNotation::Hex, address,
                    error);
  if (!AllOf(text, isdigit)) return ParsePrefixed(text, base, address, error);
  if (text.size() == 5 || text.size() == 6) return ParseModicon(text, address, error);
  if (text.size() > 6) return Fail(error, "has more digits than a Modicon reference, 6");
  return ParseCounted(text, PointType::HoldingRegister, AddressNotation::Decimal, base, address,
                      error);
}

std::string FormatMapAddress(const MapAddress& address, MapBase base) {
  const TableName& table = ByTable(address.table);
  const int32_t reference = address.offset + 1;
  const int32_t counted = address.offset + (base == MapBase::OneBased ? 1 : 0);
  switch (address.notation) {
    case AddressNotation::Modicon5:
      if (reference <= kLastModicon5Reference) return table.digit + Padded(reference, 4);
      break;
    case AddressNotation::Modicon6: return table.digit + Padded(reference, 5);
    case AddressNotation::Decimal:
      if (address.table == PointType::HoldingRegister &&
          std::to_string(counted).size() <= kMostDecimalDigits)
        return std::to_string(counted);
      break;
    case AddressNotation::Hex:
      if (address.table == PointType::HoldingRegister) return Hex(address.offset);
      return table.prefix + Hex(address.offset);
    case AddressNotation::PrefixedHex: return table.prefix + Hex(address.offset);
    case AddressNotation::Prefixed: break;
  }
  return table.prefix + std::to_string(counted);
}
