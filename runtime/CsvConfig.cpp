#include "runtime/CsvConfig.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <map>
#include <memory>
#include <stdexcept>
#include <vector>

#include "link/EndpointKind.h"
#include "pointdb/Archive.h"
#include "pointdb/DataTypeInfo.h"
#include "pointdb/DiskFile.h"
#include "pointdb/PelmoranDoc.h"
#include "pointdb/PointType.h"
#include "runtime/ConfigFile.h"
#include "runtime/CsvTable.h"
#include "runtime/MapFile.h"
#include "runtime/Runtime.h"

namespace {

using Row = CsvTable::Row;

// Scans are handed to the document as a scan file of this version would
// carry them, so that they are checked and published as a loaded file is.
const std::string kScanVersion = "4.00";
constexpr int64_t kMostRetries = 100;
constexpr int64_t kLastRs485Mode = 2;
constexpr int64_t kMostRs485DelayMs = 1000;

const Row kEndpointColumns = {"name",       "protocol",  "timeout",   "port",        "tcp",
                              "ip_address", "baud_rate", "parity",    "stop_bits",   "word_length",
                              "pad0",       "reserved1", "reserved2", "rts_control", "dtr_control",
                              "reserved3",  "reserved4", "pad1_0",    "pad1_1",
                              "host",       "pause_ms",  "retries",   "rs485_mode",
                              "rs485_before_ms", "rs485_after_ms", "share_port", "share_bind",
                              "share_clients", "share_queued"};
// Files written before the network and RS-485 columns end after pad1_1;
// files without a shared line end after rs485_after_ms.
constexpr size_t kFirstEndpointColumns = 19;
constexpr size_t kUnsharedEndpointColumns = 25;
constexpr int64_t kMostSharedLineLimit = 1000;
const Row kScanColumns = {"file",        "endpoint",       "port",
                          "slave_node",  "point_type",     "point_address",
                          "scan_length", "poll_frequency", "delimiter"};
const Row kTagColumns = {"scan_file", "tag_index",        "tag_name",   "point_type",
                         "data_type", "data_type_text",   "low_limit",  "high_limit",
                         "bit",       "string_registers", "byte_order", "scaled",
                         "raw_low",   "raw_high",         "eng_low",    "eng_high"};

enum EndpointColumn {
  eName,
  eProtocol,
  eTimeout,
  ePort,
  eTcp,
  eIp,
  eBaud,
  eParity,
  eStopBits,
  eWordLength,
  ePad0,
  eReserved1,
  eReserved2,
  eRts,
  eDtr,
  eReserved3,
  eReserved4,
  ePad1a,
  ePad1b,
  eHost,
  ePause,
  eRetries,
  eRs485Mode,
  eRs485Before,
  eRs485After,
  eSharePort,
  eShareBind,
  eShareClients,
  eShareQueued
};
enum ScanColumn {
  sFile,
  sEndpoint,
  sPort,
  sSlave,
  sPointType,
  sAddress,
  sLength,
  sPoll,
  sDelimiter
};
enum TagColumn {
  tScan,
  tIndex,
  tName,
  tPointType,
  tDataType,
  tDataTypeText,
  tLow,
  tHigh,
  tBit,
  tStringRegisters,
  tByteOrder,
  tScaled,
  tRawLow,
  tRawHigh,
  tEngLow,
  tEngHigh
};

// Refusal of an import: the file, the row and the reason, already joined.
class Refusal : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

template <typename T>
std::string Real(T value) {
  char text[64];
  auto [end, ec] = std::to_chars(text, text + sizeof text, value);
  return std::string(text, ec == std::errc() ? end : text);
}

std::string Text(int64_t value) { return std::to_string(value); }

std::string IpText(const std::array<uint8_t, 4>& ip) {
  return Text(ip[0]) + "." + Text(ip[1]) + "." + Text(ip[2]) + "." + Text(ip[3]);
}

// Strings are the only types whose bytes within a register are the
// operator's to see here; the others say their order in their name.
std::string ByteOrderText(int32_t dataType) {
  if (dataType == static_cast<int32_t>(DataType::StringAB)) return "AB";
  if (dataType == static_cast<int32_t>(DataType::StringBA)) return "BA";
  return "";
}

std::string DataTypeText(int32_t dataType) {
  const DataTypeInfo* info = FindDataTypeInfo(dataType);
  return info == nullptr ? std::string() : info->listName;
}

Row EndpointRow(const CModbusConnection& e) {
  const SerialSettings& s = e.m_serial;
  return {e.m_strName,       Text(e.m_nProtocol),   Text(e.m_nTimeout), Text(e.m_nPort),
          Text(e.m_bTcp),    IpText(e.m_ipAddress), Text(s.baudRate),   Text(s.parity),
          Text(s.stopBits),  Text(s.wordLength),    Text(s.pad0),       Text(s.reserved1),
          Text(s.reserved2), Text(s.rtsControl),    Text(s.dtrControl), Text(s.reserved3),
          Text(s.reserved4), Text(s.pad1[0]),       Text(s.pad1[1]),    e.m_strHost,
          Text(e.m_nPauseMs), Text(e.m_nRetries),   Text(e.m_nRs485Mode), Text(e.m_nRs485BeforeMs),
          Text(e.m_nRs485AfterMs), Text(e.m_nSharePort), e.m_strShareBind,
          Text(e.m_nShareClients), Text(e.m_nShareQueued)};
}

Row ScanRow(const CPelmoranDoc& doc) {
  const CModbusMsg& scan = doc.m_scan;
  return {doc.m_strPathName,        doc.m_strEndpoint,           Text(scan.m_nPort),
          Text(scan.m_nSlaveNode),  Text(scan.m_nPointType),     Text(scan.m_nPointAddress),
          Text(scan.m_nScanLength), Text(scan.m_nPollFrequency), scan.m_strDelimiter};
}

Row TagRow(const CPelmoranDoc& doc, int i) {
  const CModbusTag& tag = *doc.GetTag(i);
  const int32_t dataType = tag.FileDataType();
  const TagFormat& f = tag.m_format;
  return {doc.m_strPathName,
          Text(i),
          doc.GetTagName(i),
          Text(tag.m_nPointType),
          Text(dataType),
          DataTypeText(dataType),
          Real(tag.m_fLowLimit),
          Real(tag.m_fHighLimit),
          Text(f.bit),
          Text(f.stringRegisters),
          ByteOrderText(dataType),
          Text(f.scaled),
          Real(f.rawLow),
          Real(f.rawHigh),
          Real(f.engLow),
          Real(f.engHigh)};
}

bool WriteTable(const std::string& path, const std::vector<Row>& rows, std::string& error) {
  DiskFile file;
  if (file.Create(path) && file.Commit(CsvTable::Format(rows))) return true;
  error = path + " was not written: " + file.GetError();
  return false;
}

// One file's rows as read, with the refusals that name them.
class Table {
 public:
  // A header may end early, after the first `required` columns.
  Table(const std::string& directory, const char* name, const Row& columns, size_t required = 0)
      : m_name(name) {
    std::string bytes;
    std::string error;
    if (DiskFile::ReadAll(directory + "/" + name, bytes, error) != DiskFile::ReadResult::ok) {
      throw Refusal(m_name + ": " + error);
    }
    if (!CsvTable::Parse(bytes, m_rows, error)) throw Refusal(m_name + " " + error);
    CheckHeader(columns, required == 0 ? columns.size() : required);
  }

  // The data rows, by row number (the header is row 1); blank lines are
  // passed over.
  template <typename F>
  void ForEachRow(F&& read) const {
    for (size_t i = 1; i < m_rows.size(); ++i) {
      if (m_rows[i].size() == 1 && m_rows[i][0].empty()) continue;
      if (m_rows[i].size() != m_columns) {
        Refuse(i + 1, Text(static_cast<int64_t>(m_rows[i].size())) +
                          " fields where the header has " + Text(static_cast<int64_t>(m_columns)));
      }
      read(i + 1, m_rows[i]);
    }
  }

  [[noreturn]] void Refuse(size_t row, const std::string& reason) const {
    throw Refusal(m_name + " row " + Text(static_cast<int64_t>(row)) + ": " + reason);
  }

 private:
  void CheckHeader(const Row& columns, size_t required) {
    const Row none;
    const Row& header = m_rows.empty() ? none : m_rows[0];
    m_columns = std::clamp(header.size(), required, columns.size());
    for (size_t i = 0; i < m_columns; ++i) {
      if (i >= header.size() || header[i] != columns[i]) {
        Refuse(1, "column " + Text(static_cast<int64_t>(i + 1)) + " is not \"" + columns[i] + "\"");
      }
    }
    if (header.size() != m_columns) Refuse(1, "more columns than the file's kind has");
  }

  std::string m_name;
  std::vector<Row> m_rows;
  size_t m_columns = 0;
};

// Reads the typed fields of one row, refusing the first that does not fit.
class Fields {
 public:
  Fields(const Table& table, size_t number, const Row& row, const Row& columns)
      : m_table(table), m_number(number), m_row(row), m_columns(columns) {}

  int64_t Integer(size_t column, int64_t low, int64_t high) const {
    const std::string& text = m_row[column];
    int64_t value = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size() || value < low || value > high) {
      Refuse(column, "is not a whole number from " + Text(low) + " to " + Text(high));
    }
    return value;
  }

  template <typename T>
  T Real(size_t column, bool finite) const {
    const std::string& text = m_row[column];
    T value = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size() || text.empty()) {
      Refuse(column, "is not a number");
    }
    if (finite && !std::isfinite(value)) Refuse(column, "is not a finite number");
    return value;
  }

  const std::string& Field(size_t column) const { return m_row[column]; }
  // Whether the file has the column at all (an older file ends early).
  bool Has(size_t column) const { return column < m_row.size(); }

  [[noreturn]] void Refuse(size_t column, const std::string& reason) const {
    m_table.Refuse(m_number, m_columns[column] + " \"" + m_row[column] + "\" " + reason);
  }
  [[noreturn]] void RefuseRow(const std::string& reason) const { m_table.Refuse(m_number, reason); }

 private:
  const Table& m_table;
  size_t m_number;
  const Row& m_row;
  const Row& m_columns;
};

struct TagEntry {
  int32_t pointType;
  int32_t dataType;
  float low;
  float high;
  TagFormat format;
};

struct ScanEntry {
  std::string path;
  std::string endpoint;
  std::string delimiter;
  int32_t port;
  uint8_t slaveNode;
  uint8_t pointType;
  uint16_t pointAddress;
  uint16_t scanLength;
  int32_t pollFrequency;
  std::vector<TagEntry> tags;
};

// Everything the three files hold, checked, before any of it is used.
struct ImportedConfig {
  std::vector<std::unique_ptr<CModbusConnection>> endpoints;
  std::vector<ScanEntry> scans;
  std::map<std::string, size_t> scanByPath;
  std::vector<DeviceMap> maps;
};

std::array<uint8_t, 4> ReadIp(const Fields& f) {
  std::array<uint8_t, 4> ip{};
  const std::string& text = f.Field(eIp);
  size_t start = 0;
  for (size_t i = 0; i < ip.size(); ++i) {
    const size_t dot = i + 1 < ip.size() ? text.find('.', start) : text.size();
    if (dot == std::string::npos) f.Refuse(eIp, "is not an address a.b.c.d");
    int value = -1;
    auto [end, ec] = std::from_chars(text.data() + start, text.data() + dot, value);
    if (ec != std::errc() || end != text.data() + dot || value < 0 || value > 255) {
      f.Refuse(eIp, "is not an address a.b.c.d of numbers 0 to 255");
    }
    ip[i] = static_cast<uint8_t>(value);
    start = dot + 1;
  }
  return ip;
}

std::unique_ptr<CModbusConnection> ReadEndpoint(const Fields& f) {
  auto e = std::make_unique<CModbusConnection>();
  constexpr int64_t kInt32Max = INT32_MAX;
  e->m_strName = f.Field(eName);
  if (e->m_strName.empty()) f.RefuseRow("the endpoint has no name");
  e->m_nProtocol = static_cast<int>(f.Integer(eProtocol, 0, EndpointKind::kLastProtocol));
  e->m_nTimeout = static_cast<int>(f.Integer(eTimeout, 0, kInt32Max));
  e->m_nPort = static_cast<int>(f.Integer(ePort, 0, kInt32Max));
  e->m_bTcp = f.Integer(eTcp, 0, 1) == 1;
  if (!e->m_bTcp && e->m_nProtocol >= EndpointKind::kFramings) {
    f.Refuse(eProtocol, "is a network protocol, but tcp is 0");
  }
  e->m_ipAddress = ReadIp(f);
  SerialSettings& s = e->m_serial;
  s.baudRate = static_cast<uint32_t>(f.Integer(eBaud, 0, UINT32_MAX));
  s.parity = static_cast<uint8_t>(f.Integer(eParity, 0, UINT8_MAX));
  s.stopBits = static_cast<uint8_t>(f.Integer(eStopBits, 0, UINT8_MAX));
  s.wordLength = static_cast<uint8_t>(f.Integer(eWordLength, 0, UINT8_MAX));
  s.pad0 = static_cast<uint8_t>(f.Integer(ePad0, 0, UINT8_MAX));
  s.reserved1 = static_cast<uint32_t>(f.Integer(eReserved1, 0, UINT32_MAX));
  s.reserved2 = static_cast<uint32_t>(f.Integer(eReserved2, 0, UINT32_MAX));
  s.rtsControl = static_cast<uint32_t>(f.Integer(eRts, 0, UINT32_MAX));
  s.dtrControl = static_cast<uint32_t>(f.Integer(eDtr, 0, UINT32_MAX));
  s.reserved3 = static_cast<uint8_t>(f.Integer(eReserved3, 0, UINT8_MAX));
  s.reserved4 = static_cast<uint8_t>(f.Integer(eReserved4, 0, UINT8_MAX));
  s.pad1[0] = static_cast<uint8_t>(f.Integer(ePad1a, 0, UINT8_MAX));
  s.pad1[1] = static_cast<uint8_t>(f.Integer(ePad1b, 0, UINT8_MAX));
  if (!f.Has(eHost)) return e;
  e->m_strHost = f.Field(eHost);
  e->m_nPauseMs = static_cast<int>(f.Integer(ePause, 0, kInt32Max));
  e->m_nRetries = static_cast<int>(f.Integer(eRetries, 0, kMostRetries));
  e->m_nRs485Mode = static_cast<int>(f.Integer(eRs485Mode, 0, kLastRs485Mode));
  e->m_nRs485BeforeMs = static_cast<int>(f.Integer(eRs485Before, 0, kMostRs485DelayMs));
  e->m_nRs485AfterMs = static_cast<int>(f.Integer(eRs485After, 0, kMostRs485DelayMs));
  if (!f.Has(eSharePort)) return e;
  e->m_nSharePort = static_cast<int>(f.Integer(eSharePort, 0, UINT16_MAX));
  e->m_strShareBind = f.Field(eShareBind);
  e->m_nShareClients = static_cast<int>(f.Integer(eShareClients, 0, kMostSharedLineLimit));
  e->m_nShareQueued = static_cast<int>(f.Integer(eShareQueued, 0, kMostSharedLineLimit));
  return e;
}

ScanEntry ReadScan(const Fields& f) {
  ScanEntry s;
  s.path = f.Field(sFile);
  if (s.path.empty()) f.RefuseRow("the scan has no file name");
  s.endpoint = f.Field(sEndpoint);
  s.port = static_cast<int32_t>(f.Integer(sPort, INT32_MIN, INT32_MAX));
  s.slaveNode = static_cast<uint8_t>(f.Integer(sSlave, 0, UINT8_MAX));
  s.pointType = static_cast<uint8_t>(f.Integer(sPointType, 1, 4));
  s.pointAddress = static_cast<uint16_t>(f.Integer(sAddress, 0, UINT16_MAX));
  s.scanLength = static_cast<uint16_t>(f.Integer(sLength, 0, CModbusMsg::kTravelWords));
  s.pollFrequency = static_cast<int32_t>(f.Integer(sPoll, INT32_MIN, INT32_MAX));
  s.delimiter = f.Field(sDelimiter);
  return s;
}

TagFormat ReadFormat(const Fields& f) {
  TagFormat format;
  format.bit = static_cast<int32_t>(f.Integer(tBit, 0, 15));
  format.stringRegisters =
      static_cast<int32_t>(f.Integer(tStringRegisters, 1, TagFormat::kMaxStringRegisters));
  format.scaled = f.Integer(tScaled, 0, 1) == 1;
  format.rawLow = f.Real<double>(tRawLow, true);
  format.rawHigh = f.Real<double>(tRawHigh, true);
  format.engLow = f.Real<double>(tEngLow, true);
  format.engHigh = f.Real<double>(tEngHigh, true);
  return format;
}

TagEntry ReadTag(const Fields& f) {
  TagEntry tag;
  tag.pointType = static_cast<int32_t>(f.Integer(tPointType, 1, 4));
  tag.dataType = static_cast<int32_t>(f.Integer(tDataType, 0, kLastDataType));
  if (f.Field(tDataTypeText) != DataTypeText(tag.dataType)) {
    f.Refuse(tDataTypeText, "is not the text of data type " + Text(tag.dataType) + ", \"" +
                                DataTypeText(tag.dataType) + "\"");
  }
  if (f.Field(tByteOrder) != ByteOrderText(tag.dataType)) {
    f.Refuse(tByteOrder, "is not the byte order of data type " + Text(tag.dataType) + ", \"" +
                             ByteOrderText(tag.dataType) + "\"");
  }
  tag.low = f.Real<float>(tLow, false);
  tag.high = f.Real<float>(tHigh, false);
  tag.format = ReadFormat(f);
  return tag;
}

// A coil or input is one point a tag whatever its type, as the scan file
// reader makes it; registers otherwise take as many words as their type.
int WordsOf(const ScanEntry& scan, const TagEntry& tag) {
  if (IsBitPointType(static_cast<PointType>(scan.pointType))) return 1;
  return RegistersOf(tag.dataType, tag.format);
}

void ReadEndpoints(const std::string& directory, ImportedConfig& config) {
  const Table table(directory, CsvConfig::kEndpointsFile, kEndpointColumns, kFirstEndpointColumns);
  std::map<std::string, size_t> rows;
  table.ForEachRow([&](size_t number, const Row& row) {
    auto endpoint = ReadEndpoint(Fields(table, number, row, kEndpointColumns));
    if (auto [it, added] = rows.emplace(endpoint->m_strName, number); !added) {
      table.Refuse(number, "the endpoint name \"" + endpoint->m_strName + "\" is on row " +
                               Text(static_cast<int64_t>(it->second)) + " already");
    }
    config.endpoints.push_back(std::move(endpoint));
  });
}

void ReadScans(const std::string& directory, ImportedConfig& config) {
  const Table table(directory, CsvConfig::kScansFile, kScanColumns);
  std::map<std::string, size_t> rows;
  table.ForEachRow([&](size_t number, const Row& row) {
    ScanEntry scan = ReadScan(Fields(table, number, row, kScanColumns));
    bool known = false;
    for (const auto& e : config.endpoints) known = known || e->m_strName == scan.endpoint;
    if (!known) {
      table.Refuse(number,
                   "the endpoint \"" + scan.endpoint + "\" is not in " + CsvConfig::kEndpointsFile);
    }
    if (auto [it, added] = rows.emplace(scan.path, number); !added) {
      table.Refuse(number, "the file \"" + scan.path + "\" is the scan of row " +
                               Text(static_cast<int64_t>(it->second)) + " already");
    }
    config.scanByPath[scan.path] = config.scans.size();
    config.scans.push_back(std::move(scan));
  });
}

void ReadTags(const std::string& directory, ImportedConfig& config) {
  const Table table(directory, CsvConfig::kTagsFile, kTagColumns);
  table.ForEachRow([&](size_t number, const Row& row) {
    const Fields f(table, number, row, kTagColumns);
    auto it = config.scanByPath.find(f.Field(tScan));
    if (it == config.scanByPath.end())
      f.Refuse(tScan, "is no scan of " + std::string(CsvConfig::kScansFile));
    ScanEntry& scan = config.scans[it->second];
    const int64_t index = static_cast<int64_t>(scan.tags.size());
    if (f.Integer(tIndex, 0, INT32_MAX) != index) {
      f.Refuse(tIndex, "is not the scan's next tag, " + Text(index));
    }
    TagEntry tag = ReadTag(f);
    const int words = WordsOf(scan, tag);
    if (index * words + words > scan.scanLength) {
      f.RefuseRow("the tag does not fit in the scan length " + Text(scan.scanLength));
    }
    scan.tags.push_back(tag);
  });
}

// The maps are optional: an export of a configuration without them has no
// such files.
void ReadMaps(const std::string& directory, ImportedConfig& config) {
  auto known = [&config](const std::string& name) {
    return std::any_of(config.endpoints.begin(), config.endpoints.end(),
                       [&name](const auto& e) { return e->m_strName == name; });
  };
  std::string error;
  if (!MapFile::Load(directory + "/" + MapFile::kDevicesFile, directory + "/" + MapFile::kMapsFile,
                     config.maps, error, known))
    throw Refusal(error);
}

std::string ScanBytes(const ScanEntry& scan) {
  Archive ar;
  ar << kScanVersion << scan.endpoint << scan.delimiter << scan.port << scan.slaveNode
     << scan.pointType << scan.pointAddress << scan.scanLength << scan.pollFrequency
     << static_cast<int32_t>(scan.tags.size());
  for (const TagEntry& tag : scan.tags) {
    const TagFormat& f = tag.format;
    ar << tag.pointType << tag.dataType << tag.low << tag.high << f.bit << f.stringRegisters
       << static_cast<int32_t>(f.scaled ? 1 : 0) << f.rawLow << f.rawHigh << f.engLow << f.engHigh;
  }
  return ar.GetBuffer();
}

std::string FileNameOf(const std::string& path) { return path.substr(path.find_last_of('/') + 1); }

// A scan file named without a directory goes beside the configuration file.
std::string ScanPath(const std::string& path, const std::string& configPath) {
  if (path.front() == '/') return path;
  return configPath.substr(0, configPath.find_last_of('/') + 1) + path;
}

void OpenScan(Runtime& runtime, const ScanEntry& scan, const std::string& configPath) {
  CModbusMsg definition;
  definition.m_nPointType = scan.pointType;
  definition.m_nScanLength = scan.scanLength;
  definition.m_strDelimiter = scan.delimiter;
  runtime.CreateScan(definition, scan.endpoint);
  CPelmoranDoc* doc = runtime.m_docTemplate.GetDocument(runtime.GetDocumentCount() - 1);
  const std::string bytes = ScanBytes(scan);
  Archive ar(bytes);
  doc->Serialize(ar);
  doc->m_strPathName = ScanPath(scan.path, configPath);
  doc->m_strTitle = FileNameOf(doc->m_strPathName);
}

}  // namespace

CsvConfig::CsvConfig(Runtime& runtime, bool connect) : m_runtime(runtime), m_bConnect(connect) {}

bool CsvConfig::Export(const std::string& directory, std::string& error) const {
  // The later columns only when some endpoint uses them, so that the files
  // of a configuration without them stay what they always were.
  const auto& all = m_runtime.m_endpoints.m_endpoints;
  const bool extended =
      std::any_of(all.begin(), all.end(), [](const auto& e) { return e->HasExtendedSettings(); });
  const bool shared =
      std::any_of(all.begin(), all.end(), [](const auto& e) { return e->HasSharedLine(); });
  const size_t columns = shared     ? kEndpointColumns.size()
                         : extended ? kUnsharedEndpointColumns
                                    : kFirstEndpointColumns;
  std::vector<Row> endpoints{Row(kEndpointColumns.begin(), kEndpointColumns.begin() + columns)};
  for (const auto& endpoint : all) {
    Row row = EndpointRow(*endpoint);
    row.resize(columns);
    endpoints.push_back(std::move(row));
  }
  std::vector<Row> scans{kScanColumns};
  std::vector<Row> tags{kTagColumns};
  for (int d = 0; d < m_runtime.GetDocumentCount(); ++d) {
    const CPelmoranDoc& doc = *m_runtime.m_docTemplate.GetDocument(d);
    if (doc.m_strPathName.empty()) {
      error = "the scan " + doc.m_strTitle + " has no file yet: save the configuration first";
      return false;
    }
    scans.push_back(ScanRow(doc));
    for (int i = 0; i < doc.GetTagCount(); ++i) tags.push_back(TagRow(doc, i));
  }
  return WriteTable(directory + "/" + kEndpointsFile, endpoints, error) &&
         WriteTable(directory + "/" + kScansFile, scans, error) &&
         WriteTable(directory + "/" + kTagsFile, tags, error) &&
         MapFile::Write(directory + "/" + MapFile::kDevicesFile, directory + "/" + MapFile::kMapsFile,
                        m_runtime.m_deviceMaps.All(), error);
}

// Every scan handed to its document was checked as the scan file reader
// checks, so none is refused there once the running configuration is gone.
bool CsvConfig::Import(const std::string& directory, const std::string& configPath,
                       std::string& error) {
  ImportedConfig config;
  try {
    ReadEndpoints(directory, config);
    ReadScans(directory, config);
    ReadTags(directory, config);
    ReadMaps(directory, config);
  } catch (const Refusal& refusal) {
    error = refusal.what();
    return false;
  }
  m_runtime.m_endpoints.RemoveAllEndpoints();
  m_runtime.CloseAllDocuments();
  for (auto& endpoint : config.endpoints) {
    CModbusConnection* joined = m_runtime.m_endpoints.Adopt(std::move(endpoint));
    if (m_bConnect) m_runtime.m_endpoints.Connect(*joined);
  }
  for (const ScanEntry& scan : config.scans) OpenScan(m_runtime, scan, configPath);
  m_runtime.m_deviceMaps.ReplaceAll(std::move(config.maps));
  ConfigFile file(m_runtime);
  const bool saved = file.SaveTestConfig(configPath);
  m_saveMessages = file.Messages();
  if (saved) return true;
  error = "the configuration was imported but " + configPath + " was not saved";
  return false;
}
