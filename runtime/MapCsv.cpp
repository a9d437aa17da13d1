#include "runtime/MapCsv.h"

#include <strings.h>

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <optional>
#include <stdexcept>

#include "pointdb/DataTypeInfo.h"
#include "pointdb/MapAddress.h"
#include "pointdb/MapCheck.h"
#include "runtime/CsvTable.h"

namespace {

using Row = CsvTable::Row;

enum Column {
  cEndpoint,
  cSlave,
  cName,
  cAddress,
  cType,
  cBit,
  cStringLength,
  cRawLow,
  cRawHigh,
  cEngLow,
  cEngHigh,
  cUnits,
  cDescription,
  cAccess,
  cPollMs,
  cColumns
};
constexpr const char* kColumnNames[cColumns] = {
    "endpoint", "slave",         "name",        "address",  "type",
    "bit",      "string_length", "raw_low",     "raw_high", "eng_low",
    "eng_high", "units",         "description", "access",   "poll_ms"};
constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
constexpr int64_t kLastSlave = 255;

class Refusal : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

std::string Text(int64_t value) { return std::to_string(value); }

template <typename T>
std::string Real(T value) {
  char text[64];
  auto [end, ec] = std::to_chars(text, text + sizeof text, value);
  return std::string(text, ec == std::errc() ? end : text);
}

// Well-formed UTF-8 only: no overlong form, no surrogate, nothing past U+10FFFF.
bool IsUtf8(std::string_view text) {
  constexpr uint32_t kLeast[] = {0, 0, 0x80, 0x800, 0x10000};
  size_t i = 0;
  while (i < text.size()) {
    const auto c = static_cast<unsigned char>(text[i]);
    const size_t length = c < 0x80   ? 1
                          : c < 0xC0 ? 0
                          : c < 0xE0 ? 2
                          : c < 0xF0 ? 3
                          : c < 0xF8 ? 4
                                     : 0;
    if (length == 0 || i + length > text.size()) return false;
    uint32_t point = length == 1 ? c : c & (0x7F >> length);
    for (size_t k = 1; k < length; ++k) {
      const auto next = static_cast<unsigned char>(text[i + k]);
      if ((next & 0xC0) != 0x80) return false;
      point = point << 6 | (next & 0x3F);
    }
    if (point < kLeast[length] || point > 0x10FFFF || (point >= 0xD800 && point <= 0xDFFF))
      return false;
    i += length;
  }
  return true;
}

bool SameText(const std::string& a, const char* b) { return strcasecmp(a.c_str(), b) == 0; }

// The column each of the header's fields is, by name.
class Header {
 public:
  Header(const Row& header, bool withDevice, const std::string& file) {
    m_index.fill(-1);
    for (size_t i = 0; i < header.size(); ++i) {
      std::string name = header[i];
      name.erase(0, name.find_first_not_of(' '));
      name.erase(name.find_last_not_of(' ') + 1);
      const auto* it = std::find_if(std::begin(kColumnNames), std::end(kColumnNames),
                                    [&](const char* c) { return SameText(name, c); });
      const int column = static_cast<int>(it - std::begin(kColumnNames));
      if (it == std::end(kColumnNames) || (!withDevice && column <= cSlave))
        throw Refusal(file + " row 1: \"" + header[i] + "\" is no column of a register map");
      if (m_index[column] >= 0)
        throw Refusal(file + " row 1: the column \"" + name + "\" is given twice");
      m_index[column] = static_cast<int>(i);
    }
    for (int column : {cEndpoint, cSlave, cName, cAddress}) {
      if (m_index[column] < 0 && (withDevice || column > cSlave))
        throw Refusal(file + " row 1: the column \"" + std::string(kColumnNames[column]) +
                      "\" is missing");
    }
    m_fields = header.size();
  }
  int Index(Column column) const { return m_index[column]; }
  size_t Fields() const { return m_fields; }

 private:
  std::array<int, cColumns> m_index{};
  size_t m_fields = 0;
};

// The fields of one row, refusing the first that does not fit.
class Fields {
 public:
  Fields(const Header& header, const Row& row, const std::string& where)
      : m_header(header), m_row(row), m_where(where) {}

  std::string Field(Column column) const {
    const int i = m_header.Index(column);
    return i < 0 ? std::string() : m_row[static_cast<size_t>(i)];
  }
  bool Empty(Column column) const {
    return Field(column).find_first_not_of(' ') == std::string::npos;
  }

  int64_t Integer(Column column, int64_t low, int64_t high) const {
    const std::string text = Field(column);
    int64_t value = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size() || value < low || value > high)
      Refuse(column, "is not a whole number from " + Text(low) + " to " + Text(high));
    return value;
  }
  double Number(Column column) const {
    const std::string text = Field(column);
    double value = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size() || text.empty())
      Refuse(column, "is not a number");
    if (!std::isfinite(value)) Refuse(column, "is not a finite number");
    return value;
  }
  [[noreturn]] void Refuse(Column column, const std::string& reason) const {
    throw Refusal(m_where + kColumnNames[column] + " \"" + Field(column) + "\" " + reason);
  }
  [[noreturn]] void RefuseRow(const std::string& reason) const { throw Refusal(m_where + reason); }

 private:
  const Header& m_header;
  const Row& m_row;
  std::string m_where;
};

std::optional<DataType> TypeNamed(const std::string& text) {
  int32_t number = -1;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), number);
  if (ec == std::errc() && end == text.data() + text.size())
    return IsKnownDataType(number) ? std::optional(static_cast<DataType>(number)) : std::nullopt;
  for (int32_t i = 0; i <= kLastDataType; ++i)
    if (SameText(text, FindDataTypeInfo(i)->listName)) return static_cast<DataType>(i);
  return std::nullopt;
}

DataType ReadType(const Fields& f, PointType table) {
  if (f.Empty(cType)) return IsBitPointType(table) ? DataType::Bit : DataType::Unsigned;
  auto type = TypeNamed(f.Field(cType));
  if (!type)
    f.Refuse(cType, "is no data type: a number 0 to 35 or a name such as \"Float 32 (BADC)\"");
  return *type;
}

MapAccess ReadAccess(const Fields& f) {
  const std::string text = f.Field(cAccess);
  if (f.Empty(cAccess) || SameText(text, "read") || SameText(text, "R")) return MapAccess::Read;
  if (SameText(text, "read-write") || SameText(text, "RW")) return MapAccess::ReadWrite;
  f.Refuse(cAccess, "is not read (R) or read-write (RW)");
}

// A field that does not apply to the tag must be empty, so that nothing the
// sheet says is passed over in silence.
void ReadFormat(const Fields& f, MapTag& tag) {
  const bool registerBit = tag.type == DataType::Bit && !IsBitPointType(tag.table);
  const bool string = tag.type == DataType::StringAB || tag.type == DataType::StringBA;
  if (registerBit) {
    tag.format.bit = static_cast<int32_t>(f.Integer(cBit, 0, 15));
  } else if (!f.Empty(cBit)) {
    f.Refuse(cBit, "is given, but only a Bit tag of a register has a bit");
  }
  if (string) {
    tag.format.stringRegisters =
        static_cast<int32_t>(f.Integer(cStringLength, 1, TagFormat::kMaxStringRegisters));
  } else if (!f.Empty(cStringLength)) {
    f.Refuse(cStringLength, "is given, but only a string has a length");
  }
  const int given = !f.Empty(cRawLow) + !f.Empty(cRawHigh) + !f.Empty(cEngLow) + !f.Empty(cEngHigh);
  if (given == 0) return;
  if (given != 4) f.RefuseRow("a scale needs all of raw_low, raw_high, eng_low and eng_high");
  tag.format.scaled = true;
  tag.format.rawLow = f.Number(cRawLow);
  tag.format.rawHigh = f.Number(cRawHigh);
  tag.format.engLow = f.Number(cEngLow);
  tag.format.engHigh = f.Number(cEngHigh);
}

int32_t ReadPollMs(const Fields& f) {
  if (f.Empty(cPollMs)) return 0;
  std::string text = f.Field(cPollMs);
  int64_t scale = 1;
  if (text.size() > 2 && SameText(text.substr(text.size() - 2), "ms")) {
    text.resize(text.size() - 2);
  } else if (text.size() > 1 && (text.back() == 's' || text.back() == 'S')) {
    text.pop_back();
    scale = 1000;
  }
  while (!text.empty() && text.back() == ' ') text.pop_back();
  int64_t value = -1;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size() || value < 0 ||
      value * scale > kMostPollMs)
    f.Refuse(cPollMs,
             "is not a period from 0 (the device's) to 86400000 ms, such as 100, 250ms or 10s");
  return static_cast<int32_t>(value * scale);
}

MapTag ReadTag(const Fields& f, MapBase base) {
  MapTag tag;
  tag.name = f.Field(cName);
  for (Column c : {cName, cUnits, cDescription})
    if (!IsUtf8(f.Field(c))) f.Refuse(c, "is not UTF-8 text");
  MapAddress address;
  std::string reason;
  if (!ParseMapAddress(f.Field(cAddress), base, address, reason)) f.Refuse(cAddress, reason);
  tag.table = address.table;
  tag.offset = address.offset;
  tag.address = f.Field(cAddress);
  tag.address.erase(0, tag.address.find_first_not_of(" \t"));
  tag.address.erase(tag.address.find_last_not_of(" \t") + 1);
  tag.type = ReadType(f, tag.table);
  ReadFormat(f, tag);
  tag.units = f.Field(cUnits);
  tag.description = f.Field(cDescription);
  tag.access = ReadAccess(f);
  tag.pollClassMs = ReadPollMs(f);
  return tag;
}

// The rows of a table and where each tag came from, for the map checks.
struct ReadMap {
  DeviceMap* map;
  std::vector<MapTag> tags;
  std::vector<size_t> rows;
};

std::vector<Row> ParseRows(std::string_view text, const std::string& file) {
  if (text.substr(0, kByteOrderMark.size()) == kByteOrderMark)
    text.remove_prefix(kByteOrderMark.size());
  std::vector<Row> rows;
  std::string error;
  if (!CsvTable::Parse(text, rows, error)) throw Refusal(file + " " + error);
  if (rows.empty()) throw Refusal(file + " row 1: there is no header");
  return rows;
}

void CheckWhole(const std::string& file, ReadMap& read) {
  DeviceMap candidate = *read.map;
  candidate.tags = read.tags;
  MapFault fault;
  if (CheckDeviceMap(candidate, fault)) return;
  if (fault.tag < 0) throw Refusal(file + ": " + fault.reason);
  std::string reason = fault.reason;
  if (fault.other >= 0)
    reason += " on row " + Text(static_cast<int64_t>(read.rows[static_cast<size_t>(fault.other)]));
  throw Refusal(file + " row " +
                Text(static_cast<int64_t>(read.rows[static_cast<size_t>(fault.tag)])) + ": " +
                reason);
}

// Rows are counted as the CSV table counts them: the header is row 1.
template <typename F>
void ForEachRow(const std::vector<Row>& rows, const Header& header, const std::string& file,
                F&& take) {
  for (size_t i = 1; i < rows.size(); ++i) {
    const Row& row = rows[i];
    if (row.size() == 1 && row[0].empty()) continue;
    const std::string where = file + " row " + Text(static_cast<int64_t>(i + 1)) + ": ";
    if (row.size() != header.Fields())
      throw Refusal(where + Text(static_cast<int64_t>(row.size())) +
                    " fields where the header has " + Text(static_cast<int64_t>(header.Fields())));
    take(Fields(header, row, where), i + 1);
  }
}

std::string AddressText(const MapTag& tag, MapBase base) {
  MapAddress parsed;
  std::string ignored;
  if (ParseMapAddress(tag.address, base, parsed, ignored) && parsed.table == tag.table &&
      parsed.offset == tag.offset)
    return tag.address;
  return FormatMapAddress({tag.table, tag.offset, AddressNotation::Prefixed}, base);
}

Row TagRow(const MapTag& tag, MapBase base) {
  const TagFormat& f = tag.format;
  const bool registerBit = tag.type == DataType::Bit && !IsBitPointType(tag.table);
  const bool string = tag.type == DataType::StringAB || tag.type == DataType::StringBA;
  auto scale = [&](double value) { return f.scaled ? Real(value) : std::string(); };
  return {tag.name,
          AddressText(tag, base),
          FindDataTypeInfo(static_cast<int32_t>(tag.type))->listName,
          registerBit ? Text(f.bit) : "",
          string ? Text(f.stringRegisters) : "",
          scale(f.rawLow),
          scale(f.rawHigh),
          scale(f.engLow),
          scale(f.engHigh),
          tag.units,
          tag.description,
          tag.access == MapAccess::ReadWrite ? "read-write" : "read",
          tag.pollClassMs > 0 ? Text(tag.pollClassMs) : ""};
}

Row HeaderRow(bool withDevice) {
  return Row(std::begin(kColumnNames) + (withDevice ? 0 : cName), std::end(kColumnNames));
}

}  // namespace

bool MapCsv::Read(std::string_view text, const std::string& fileName, DeviceMap& map,
                  std::string& error) {
  try {
    const std::vector<Row> rows = ParseRows(text, fileName);
    const Header header(rows[0], false, fileName);
    ReadMap read{&map, {}, {}};
    ForEachRow(rows, header, fileName, [&](const Fields& f, size_t number) {
      read.tags.push_back(ReadTag(f, map.base));
      read.rows.push_back(number);
    });
    CheckWhole(fileName, read);
    map.tags = std::move(read.tags);
    return true;
  } catch (const Refusal& refusal) {
    error = refusal.what();
    return false;
  }
}

std::string MapCsv::Write(const DeviceMap& map) {
  std::vector<Row> rows{HeaderRow(false)};
  for (const MapTag& tag : map.tags) rows.push_back(TagRow(tag, map.base));
  return CsvTable::Format(rows);
}

bool MapCsv::ReadAll(std::string_view text, const std::string& fileName,
                     std::vector<DeviceMap>& maps, std::string& error) {
  try {
    const std::vector<Row> rows = ParseRows(text, fileName);
    const Header header(rows[0], true, fileName);
    std::vector<ReadMap> reads;
    for (DeviceMap& map : maps) reads.push_back({&map, {}, {}});
    ForEachRow(rows, header, fileName, [&](const Fields& f, size_t number) {
      const std::string endpoint = f.Field(cEndpoint);
      const int64_t slave = f.Integer(cSlave, 1, kLastSlave);
      auto it = std::find_if(reads.begin(), reads.end(), [&](const ReadMap& r) {
        return r.map->endpoint == endpoint && r.map->slave == slave;
      });
      if (it == reads.end())
        f.RefuseRow("the device " + endpoint + " slave " + Text(slave) + " has no settings row");
      it->tags.push_back(ReadTag(f, it->map->base));
      it->rows.push_back(number);
    });
    for (ReadMap& read : reads) CheckWhole(fileName, read);
    for (ReadMap& read : reads) read.map->tags = std::move(read.tags);
    return true;
  } catch (const Refusal& refusal) {
    error = refusal.what();
    return false;
  }
}

std::string MapCsv::WriteAll(const std::vector<DeviceMap>& maps) {
  std::vector<Row> rows{HeaderRow(true)};
  for (const DeviceMap& map : maps) {
    for (const MapTag& tag : map.tags) {
      Row row{map.endpoint, Text(map.slave)};
      const Row fields = TagRow(tag, map.base);
      row.insert(row.end(), fields.begin(), fields.end());
      rows.push_back(std::move(row));
    }
  }
  return CsvTable::Format(rows);
}
