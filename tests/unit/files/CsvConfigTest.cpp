#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "FilesFixture.h"
#include "runtime/ConfigFile.h"
#include "runtime/CsvConfig.h"
#include "runtime/CsvTable.h"

namespace files_test {
namespace {

const char* const kFiles[] = {CsvConfig::kEndpointsFile, CsvConfig::kScansFile,
                              CsvConfig::kTagsFile};

// Every field the configuration and scan files keep, in full precision.
std::string Describe(Runtime& app) {
  std::ostringstream out;
  out.precision(17);
  for (const auto& e : app.m_endpoints.m_endpoints) {
    unsigned char serial[sizeof e->m_serial];
    std::memcpy(serial, &e->m_serial, sizeof serial);
    out << e->m_strName << '|' << e->m_nProtocol << '|' << e->m_nTimeout << '|' << e->m_nPort << '|'
        << e->m_bTcp << '|';
    for (unsigned b : e->m_ipAddress) out << b << '.';
    for (unsigned b : serial) out << b << ' ';
    out << '|' << e->m_strHost << '|' << e->m_nPauseMs << '|' << e->m_nRetries << '|'
        << e->m_nRs485Mode << '|' << e->m_nRs485BeforeMs << '|' << e->m_nRs485AfterMs << '|'
        << e->m_nSharePort << '|' << e->m_strShareBind << '|' << e->m_nShareClients << '|'
        << e->m_nShareQueued;
    out << '\n';
  }
  for (int d = 0; d < app.GetDocumentCount(); ++d) {
    const CPelmoranDoc& doc = *app.m_docTemplate.GetDocument(d);
    const CModbusMsg& s = doc.m_scan;
    out << doc.m_strPathName << '|' << doc.m_strEndpoint << '|' << s.m_nPort << '|'
        << int{s.m_nSlaveNode} << '|' << int{s.m_nPointType} << '|' << s.m_nPointAddress << '|'
        << s.m_nScanLength << '|' << s.m_nPollFrequency << '|' << s.m_strDelimiter << '\n';
    for (int i = 0; i < doc.GetTagCount(); ++i) {
      const CModbusTag& t = *doc.GetTag(i);
      const TagFormat& f = t.m_format;
      out << ' ' << doc.GetTagName(i) << '|' << t.m_nPointType << '|' << t.m_nDataType << '|'
          << t.m_nFileDataType << '|' << t.m_fLowLimit << '|' << t.m_fHighLimit << '|' << f.bit
          << '|' << f.stringRegisters << '|' << f.scaled << '|' << f.rawLow << '|' << f.rawHigh
          << '|' << f.engLow << '|' << f.engHigh << '\n';
    }
  }
  return out.str();
}

class CsvConfigTest : public FilesTest {
 protected:
  // Both kinds of endpoint with odd serial bytes, every point type, classic,
  // added and bit-point data types, strings, bits, scales and text that
  // needs quoting.
  void Build() {
    CModbusConnection* serial = AddEndpoint("SERIAL3");
    serial->m_bTcp = false;
    serial->m_nPort = 3;
    serial->m_nProtocol = 3;
    serial->m_nTimeout = 750;
    serial->m_serial = {9600, 2, 2, 7, 1, 0xA1B2C3D4, 7, 2, 1, 0x5A, 3, {0, 0x77}};
    CModbusConnection* tcp = AddEndpoint("Plant \"A\", line 2");
    tcp->m_nPort = 1502;
    tcp->m_nProtocol = 0;
    tcp->m_ipAddress = {10, 1, 2, 3};
    serial->m_nRs485Mode = 2;
    serial->m_nRs485BeforeMs = 1;
    serial->m_nRs485AfterMs = 2;
    serial->m_nSharePort = 5020;
    serial->m_strShareBind = "0.0.0.0";
    serial->m_nShareQueued = 6;
    CModbusConnection* converter = AddEndpoint("CONVERTER");
    converter->m_nProtocol = 10;  // RTU over UDP
    converter->m_strHost = "gw.plant";
    converter->m_ipAddress = {255, 255, 255, 255};
    converter->m_nPauseMs = 15;
    converter->m_nRetries = 2;

    CPelmoranDoc* registers = NewScan(tcp->m_strName, 3, 40, 0, ",\"");
    registers->m_scan.m_nSlaveNode = 17;
    registers->m_scan.m_nPointAddress = 40001;
    registers->m_scan.m_nPollFrequency = 250;
    TagFormat scale;
    scale.scaled = true;
    scale.rawLow = 0.1;
    scale.rawHigh = 4095;
    scale.engLow = -1.0 / 3.0;
    scale.engHigh = 1e300;
    registers->SetTagFormat(0, 26, -1.5e-7f, 3.4e38f, {});
    registers->SetTagFormat(1, 33, 0, 1, {.bit = 13});
    registers->SetTagFormat(2, 35, 0, 0, {.stringRegisters = 3});
    registers->SetTagFormat(3, 34, 0, 0, {.stringRegisters = 2});
    registers->SetTagFormat(5, 12, 0.1f, 2.0f / 3.0f, scale);
    registers->SetTagFormat(6, 3, -40.0f, 125.5f, {});

    CPelmoranDoc* coils = NewScan("SERIAL3", 1, 8, 0);
    coils->GetTag(2)->m_nFileDataType = 5;  // a file's 32-bit type on a bit point
    NewScan("SERIAL3", 4, 6, 1, "_")->m_scan.m_nPollFrequency = 5000;
    ASSERT_TRUE(SaveConfig(ConfigPath()));
  }

  std::string ConfigPath() const { return PathOf("pelmoran.tst"); }

  std::string Directory(const std::string& name) const {
    std::filesystem::create_directory(PathOf(name));
    return PathOf(name);
  }

  std::string Export(const std::string& name) {
    std::string error;
    EXPECT_TRUE(CsvConfig(m_app).Export(Directory(name), error)) << error;
    return PathOf(name);
  }

  bool Import(const std::string& directory, std::string& error) {
    return CsvConfig(m_app).Import(directory, ConfigPath(), error);
  }
};

TEST_F(CsvConfigTest, ExportImportExportChangesNothing) {
  Build();
  const std::string before = Describe(m_app);
  const std::string first = Export("first");
  std::string error;
  ASSERT_TRUE(Import(first, error)) << error;
  EXPECT_EQ(Describe(m_app), before);
  const std::string second = Export("second");
  for (const char* file : kFiles) {
    EXPECT_EQ(ReadFile(second + "/" + file), ReadFile(first + "/" + file)) << file;
  }
  // The files written are what the next start restores.
  Runtime restarted;
  RestoreConfig(ConfigPath(), restarted);
  EXPECT_EQ(Describe(restarted), before);
  restarted.m_endpoints.RemoveAllEndpoints();
  restarted.CloseAllDocuments();
  EXPECT_TRUE(m_recorder.messages.empty());
}

TEST_F(CsvConfigTest, ImportConnectsEndpointsOnlyWhenAsked) {
  Build();
  const std::string dir = Export("out");
  for (bool connect : {false, true}) {
    m_recorder.connects.clear();
    std::string error;
    ASSERT_TRUE(CsvConfig(m_app, connect).Import(dir, ConfigPath(), error)) << error;
    EXPECT_EQ(m_recorder.connects.size(), connect ? 2u : 0u);
  }
}

TEST_F(CsvConfigTest, AScanWithoutAFileIsNotExported) {
  NewScan("SERIAL3", 3, 4, 0);
  std::string error;
  EXPECT_FALSE(CsvConfig(m_app).Export(Directory("out"), error));
  EXPECT_EQ(error, "the scan Pelmor1 has no file yet: save the configuration first");
}

// One field of one row changed (row 0: a copy of row 2, or of the last tag,
// added at the end).
struct BadRow {
  const char* file;
  size_t row;
  size_t column;
  const char* value;
  const char* error;
};

const BadRow kBadRows[] = {
    {"endpoints.csv", 1, 1, "proto", "endpoints.csv row 1: column 2 is not \"protocol\""},
    {"endpoints.csv", 2, 1, "13",
     "endpoints.csv row 2: protocol \"13\" is not a whole number from 0 to 12"},
    {"endpoints.csv", 2, 1, "4",
     "endpoints.csv row 2: protocol \"4\" is a network protocol, but tcp is 0"},
    {"endpoints.csv", 4, 21, "101",
     "endpoints.csv row 4: retries \"101\" is not a whole number from 0 to 100"},
    {"endpoints.csv", 2, 22, "3",
     "endpoints.csv row 2: rs485_mode \"3\" is not a whole number from 0 to 2"},
    {"endpoints.csv", 3, 5, "10.1.2",
     "endpoints.csv row 3: ip_address \"10.1.2\" is not an "
     "address a.b.c.d"},
    {"endpoints.csv", 3, 5, "10.1.2.256",
     "endpoints.csv row 3: ip_address \"10.1.2.256\" is not an address a.b.c.d of numbers 0 to "
     "255"},
    {"endpoints.csv", 2, 7, "-1",
     "endpoints.csv row 2: parity \"-1\" is not a whole number from 0 to 255"},
    {"endpoints.csv", 0, 2, "9",
     "endpoints.csv row 5: the endpoint name \"SERIAL3\" is on row 2 already"},
    {"endpoints.csv", 2, 0, "", "endpoints.csv row 2: the endpoint has no name"},
    {"scans.csv", 3, 1, "NOWHERE",
     "scans.csv row 3: the endpoint \"NOWHERE\" is not in endpoints.csv"},
    {"scans.csv", 2, 4, "5", "scans.csv row 2: point_type \"5\" is not a whole number from 1 to 4"},
    {"scans.csv", 2, 6, "2001",
     "scans.csv row 2: scan_length \"2001\" is not a whole number from 0 to 2000"},
    {"scans.csv", 0, 3, "1",
     "scans.csv row 5: the file \"%D/Pelmor1.scn\" is the scan of row 2 "
     "already"},
    {"tags.csv", 2, 4, "36", "tags.csv row 2: data_type \"36\" is not a whole number from 0 to 35"},
    {"tags.csv", 2, 5, "Float 64",
     "tags.csv row 2: data_type_text \"Float 64\" is not the text of data type 26, \"Float 64 "
     "(ABCD)\""},
    {"tags.csv", 4, 10, "AB",
     "tags.csv row 4: byte_order \"AB\" is not the byte order of data type 35, \"BA\""},
    {"tags.csv", 3, 8, "16", "tags.csv row 3: bit \"16\" is not a whole number from 0 to 15"},
    {"tags.csv", 4, 9, "124",
     "tags.csv row 4: string_registers \"124\" is not a whole number from 1 to 123"},
    {"tags.csv", 7, 14, "nan", "tags.csv row 7: eng_low \"nan\" is not a finite number"},
    {"tags.csv", 2, 6, "1,5", "tags.csv row 2: low_limit \"1,5\" is not a number"},
    {"tags.csv", 3, 1, "2", "tags.csv row 3: tag_index \"2\" is not the scan's next tag, 1"},
    {"tags.csv", 2, 0, "other.scn",
     "tags.csv row 2: scan_file \"other.scn\" is no scan of "
     "scans.csv"},
    {"tags.csv", 0, 1, "6", "tags.csv row 56: the tag does not fit in the scan length 6"},
};

std::string Replace(std::string text, const std::string& from, const std::string& to) {
  for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
    text.replace(at, from.size(), to);
  return text;
}

// A file written before the network and RS-485 columns still imports.
TEST_F(CsvConfigTest, EndpointsWithoutTheLaterColumnsImportWithTheirDefaults) {
  Build();
  const std::string dir = Export("out");
  std::vector<CsvTable::Row> rows;
  std::string error;
  ASSERT_TRUE(CsvTable::Parse(ReadFile(dir + "/endpoints.csv"), rows, error));
  for (auto& row : rows) row.resize(19);
  WriteFile(dir + "/endpoints.csv", CsvTable::Format(rows));
  ASSERT_TRUE(Import(dir, error)) << error;
  ASSERT_EQ(m_app.m_endpoints.m_endpoints.size(), 3u);
  for (const auto& e : m_app.m_endpoints.m_endpoints) EXPECT_FALSE(e->HasExtendedSettings());
  EXPECT_EQ(m_app.m_endpoints.m_endpoints[2]->m_nProtocol, 10);
  // Exported again, they are the same 19 columns.
  const std::string again = Export("again");
  EXPECT_EQ(ReadFile(again + "/endpoints.csv"), ReadFile(dir + "/endpoints.csv"));
}

TEST_F(CsvConfigTest, ABadRowIsRefusedWithItsNumberAndNothingChanges) {
  Build();
  const std::string before = Describe(m_app);
  const std::string config = ReadFile(ConfigPath());
  const std::string good = Export("good");
  for (const BadRow& bad : kBadRows) {
    SCOPED_TRACE(bad.error);
    const std::string dir = Directory("bad");
    for (const char* file : kFiles) WriteFile(dir + "/" + file, ReadFile(good + "/" + file));
    std::vector<CsvTable::Row> rows;
    std::string error;
    ASSERT_TRUE(CsvTable::Parse(ReadFile(good + "/" + bad.file), rows, error));
    if (bad.row == 0) rows.push_back(std::string(bad.file) == "tags.csv" ? rows.back() : rows[1]);
    rows[bad.row == 0 ? rows.size() - 1 : bad.row - 1][bad.column] = bad.value;
    WriteFile(dir + "/" + bad.file, CsvTable::Format(rows));
    EXPECT_FALSE(Import(dir, error));
    EXPECT_EQ(error, Replace(bad.error, "%D", m_dir));
    EXPECT_EQ(Describe(m_app), before);
    EXPECT_EQ(ReadFile(ConfigPath()), config);
  }
}

TEST_F(CsvConfigTest, AMissingOrMalformedFileIsRefused) {
  Build();
  const std::string dir = Export("out");
  const std::string before = Describe(m_app);
  std::string error;
  WriteFile(dir + "/tags.csv", ReadFile(dir + "/tags.csv") + "\"open");
  EXPECT_FALSE(Import(dir, error));
  EXPECT_EQ(error, "tags.csv row 56: a quoted field is not closed");
  std::filesystem::remove(dir + "/scans.csv");
  EXPECT_FALSE(Import(dir, error));
  EXPECT_EQ(error.rfind("scans.csv: ", 0), 0u) << error;
  EXPECT_EQ(Describe(m_app), before);
}

struct CsvCase {
  const char* text;
  std::vector<CsvTable::Row> rows;
  const char* error;  // empty: parsed
};

TEST(CsvTableTest, ReadsWhatItWritesAndRefusesWhatIsNotCsv) {
  const CsvCase cases[] = {
      {"a,b\r\nc,d\r\n", {{"a", "b"}, {"c", "d"}}, ""},
      {"a,b\nc", {{"a", "b"}, {"c"}}, ""},
      {"\"x,\"\"y\"\"\r\nz\",\r\n", {{"x,\"y\"\r\nz", ""}}, ""},
      {",\n\n", {{"", ""}, {""}}, ""},
      {"", {}, ""},
      {"a\n\"b", {}, "row 2: a quoted field is not closed"},
      {"ab\"c\"", {}, "row 1: a quote inside a field that is not quoted from its start"},
      {"\"ab\"c", {}, "row 1: text after the closing quote of a field"},
      {"\"ab\"\"", {}, "row 1: a quoted field is not closed"},
  };
  for (const CsvCase& c : cases) {
    SCOPED_TRACE(c.text);
    std::vector<CsvTable::Row> rows;
    std::string error;
    EXPECT_EQ(CsvTable::Parse(c.text, rows, error), std::string(c.error).empty());
    EXPECT_EQ(error, c.error);
    if (!std::string(c.error).empty()) continue;
    EXPECT_EQ(rows, c.rows);
    std::vector<CsvTable::Row> again;
    ASSERT_TRUE(CsvTable::Parse(CsvTable::Format(rows), again, error));
    EXPECT_EQ(again, rows);
  }
}

}  // namespace
}  // namespace files_test
