#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "FilesFixture.h"
#include "pointdb/Archive.h"
#include "pointdb/DiskFile.h"
#include "pointdb/ScanFile.h"
#include "runtime/ConfigFile.h"

namespace files_test {
namespace {

std::string Hex(const std::string& bytes) {
  std::string out;
  char byte[4];
  for (unsigned char c : bytes) {
    std::snprintf(byte, sizeof byte, "%02X ", c);
    out += byte;
  }
  if (!out.empty()) out.pop_back();
  return out;
}

std::string Bytes(const std::string& hex) {
  std::string out;
  for (size_t i = 0; i + 1 < hex.size(); i += 3) {
    out.push_back(static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
  }
  return out;
}

const char kNewEndpointRecord[] =
    "07 4D 4F 44 42 55 53 31 "  // MODBUS1
    "00 00 00 00 01 00 00 00 D0 07 00 00 F6 01 00 00 01 00 00 00 "
    "7F 00 00 01 "
    "00 4B 00 00 00 00 08 00 00 00 00 00 00 00 00 00 03 00 00 00 01 00 00 00 00 00 00 00";

class ConfigFileTest : public FilesTest {
 protected:
  std::string Save(const std::string& name = "test.tst") {
    EXPECT_TRUE(SaveConfig(PathOf(name)));
    return ReadFile(PathOf(name));
  }

  // A configuration whose endpoints and scans cover every protocol, point
  // type and data type.
  void BuildFullConfiguration() {
    CModbusConnection* serial = AddEndpoint("SERIAL3");
    serial->m_bTcp = 0;
    serial->m_nPort = 3;
    serial->m_nProtocol = 3;
    serial->m_nTimeout = 750;
    serial->m_serial.baudRate = 9600;
    serial->m_serial.parity = 2;
    serial->m_serial.stopBits = 2;
    serial->m_serial.wordLength = 7;
    serial->m_serial.reserved1 = 0xA1B2C3D4;
    serial->m_serial.reserved3 = 0x5A;
    serial->m_serial.pad1[1] = 0x77;
    CModbusConnection* tcp = AddEndpoint("REMOTE");
    tcp->m_nPort = 1502;
    tcp->m_nProtocol = 0;
    tcp->m_nTimeout = 3000;
    tcp->m_ipAddress = {10, 1, 2, 3};

    for (uint8_t pointType = 1; pointType <= 4; ++pointType) {
      for (int dataType : {0, 5}) {
        CPelmoranDoc* doc = NewScan(pointType % 2 ? "SERIAL3" : "REMOTE", pointType, 12, dataType,
                                    pointType == 2 ? "_" : ".");
        doc->m_scan.m_nSlaveNode = static_cast<uint8_t>(pointType * 10);
        doc->m_scan.m_nPointAddress = static_cast<uint16_t>(pointType * 1000);
        doc->m_scan.m_nPollFrequency = 100 * pointType;
      }
    }
    // Every data type on one scan: 16-bit types first, 32-bit ones after.
    CPelmoranDoc* mixed = NewScan("REMOTE", 3, 16, 0);
    mixed->m_tags.resize(8);
    mixed->m_scan.m_nTagCount = 8;
    for (int i = 0; i < 8; ++i) mixed->GetTag(i)->m_nDataType = i;
    mixed->GetTag(2)->m_fLowLimit = -40.0f;
    mixed->GetTag(2)->m_fHighLimit = 125.5f;
  }
};

TEST_F(ConfigFileTest, AnEmptySystemIsTenBytes) {
  EXPECT_EQ(Hex(Save()), "03 00 00 00 00 00 00 00 00 00");
  EXPECT_TRUE(m_recorder.messages.empty());
}

TEST_F(ConfigFileTest, ANewEndpointIsStoredByteForByte) {
  AddEndpoint("MODBUS1");
  EXPECT_EQ(Hex(Save()), "03 00 01 00 00 00 " + std::string(kNewEndpointRecord) + " 00 00 00 00");
}

// Network lines, host names, pauses, retries and RS-485 settings come back;
// they follow the scan list, so the file up to there is a format-3 file that
// an older reader takes as it always did.
TEST_F(ConfigFileTest, SettingsBeyondTheRecordFollowTheScanListAndComeBack) {
  struct Row {
    const char* name;
    int32_t tcp, protocol;
    const char* host;
    int pause, retries, rs485, before, after;
    int sharePort;
    const char* shareBind;
    int clients, queued;
  };
  const Row rows[] = {
      {"CONVERTER", 1, 5, "gw-7.plant.example", 20, 0, 0, 0, 0, 0, "", 0, 0},
      {"UDPRTU", 1, 10, "", 0, 3, 0, 0, 0, 1502, "", 0, 0},
      {"RS485", 0, 1, "", 5, 0, 2, 3, 4, 5020, "0.0.0.0", 2, 8},
      {"PLAIN", 1, 1, "", 0, 0, 0, 0, 0, 0, "", 0, 0},
  };
  size_t formatThreeBytes = 2 + 4 + 4;
  for (const Row& r : rows) {
    CModbusConnection* e = AddEndpoint(r.name);
    e->m_bTcp = r.tcp != 0;
    e->m_nProtocol = r.protocol;
    e->m_strHost = r.host;
    e->m_nPauseMs = r.pause;
    e->m_nRetries = r.retries;
    e->m_nRs485Mode = r.rs485;
    e->m_nRs485BeforeMs = r.before;
    e->m_nRs485AfterMs = r.after;
    e->m_nSharePort = r.sharePort;
    e->m_strShareBind = r.shareBind;
    e->m_nShareClients = r.clients;
    e->m_nShareQueued = r.queued;
    formatThreeBytes += 1 + std::strlen(r.name) + 52;
  }
  const std::string bytes = Save();
  ASSERT_GT(bytes.size(), formatThreeBytes);
  EXPECT_EQ(Hex(bytes.substr(formatThreeBytes - 4, 8)), "00 00 00 00 01 00 04 00")
      << "no scans, then the extension marker and the endpoint count";

  RestoreConfig(PathOf("test.tst"));
  ASSERT_EQ(m_frame.m_endpoints.size(), std::size(rows));
  for (size_t i = 0; i < std::size(rows); ++i) {
    const Row& r = rows[i];
    const CModbusConnection& e = *m_frame.m_endpoints[i];
    SCOPED_TRACE(r.name);
    EXPECT_EQ(e.m_nProtocol, r.protocol);
    EXPECT_EQ(e.m_strHost, r.host);
    EXPECT_EQ(e.m_nPauseMs, r.pause);
    EXPECT_EQ(e.m_nRetries, r.retries);
    EXPECT_EQ(e.m_nRs485Mode, r.rs485);
    EXPECT_EQ(e.m_nRs485BeforeMs, r.before);
    EXPECT_EQ(e.m_nRs485AfterMs, r.after);
    EXPECT_EQ(e.m_nSharePort, r.sharePort);
    EXPECT_EQ(e.m_strShareBind, r.shareBind);
    EXPECT_EQ(e.m_nShareClients, r.clients);
    EXPECT_EQ(e.m_nShareQueued, r.queued);
  }
  // Saved again without them, the file is a plain format-3 file once more.
  for (const auto& e : m_frame.m_endpoints) {
    e->m_strHost.clear();
    e->m_nPauseMs = e->m_nRetries = e->m_nRs485Mode = 0;
    e->m_nRs485BeforeMs = e->m_nRs485AfterMs = 0;
    e->m_nSharePort = e->m_nShareClients = e->m_nShareQueued = 0;
    e->m_strShareBind.clear();
  }
  EXPECT_EQ(Save().size(), formatThreeBytes);
}

TEST_F(ConfigFileTest, TheConnectedFlagSaysWhetherTheEndpointWasConnected) {
  AddEndpoint("MODBUS1")->m_hConnection = 9;
  AddEndpoint("MODBUS2");
  const std::string bytes = Save();
  const size_t record = 1 + 7 + 52;
  EXPECT_EQ(Hex(bytes.substr(6 + 8, 4)), "01 00 00 00");
  EXPECT_EQ(Hex(bytes.substr(6 + record + 8, 4)), "00 00 00 00");
}

TEST_F(ConfigFileTest, ALongNameTakesTheWordPrefix) {
  AddEndpoint(std::string(300, 'N'));
  const std::string bytes = Save();
  EXPECT_EQ(Hex(bytes.substr(6, 3)), "FF 2C 01");
  EXPECT_EQ(bytes.size(), 6u + 3 + 300 + 52 + 4);
}

TEST_F(ConfigFileTest, AFullConfigurationComesBackAsItWasSaved) {
  BuildFullConfiguration();
  struct ScanShape {
    std::string endpoint, delimiter, firstName, lastName;
    int pointType, address, slave, length, frequency, tags;
    std::vector<int> dataTypes;
    std::vector<float> limits;
  };
  std::vector<ScanShape> before;
  for (int d = 0; d < m_template.GetDocumentCount(); ++d) {
    const CPelmoranDoc* doc = m_template.GetDocument(d);
    ScanShape s{doc->m_strEndpoint,
                doc->m_scan.m_strDelimiter,
                doc->GetTagName(0),
                doc->GetTagName(doc->GetTagCount() - 1),
                doc->m_scan.m_nPointType,
                doc->m_scan.m_nPointAddress,
                doc->m_scan.m_nSlaveNode,
                doc->m_scan.m_nScanLength,
                doc->m_scan.m_nPollFrequency,
                doc->GetTagCount(),
                {},
                {}};
    for (int i = 0; i < doc->GetTagCount(); ++i) {
      s.dataTypes.push_back(doc->GetTag(i)->m_nDataType);
      s.limits.push_back(doc->GetTag(i)->m_fLowLimit);
      s.limits.push_back(doc->GetTag(i)->m_fHighLimit);
    }
    before.push_back(s);
  }
  const SerialSettings serial = m_frame.m_endpoints[0]->m_serial;
  Save("full.tst");
  EXPECT_TRUE(m_recorder.messages.empty());
  const int lastDataType = before.back().dataTypes.back();

  m_recorder.calls.clear();
  m_recorder.connects.clear();
  m_recorder.created.clear();
  m_app.m_nDefaultDataType = 0;
  RestoreConfig(PathOf("full.tst"));
  EXPECT_TRUE(m_recorder.messages.empty());

  ASSERT_EQ(m_frame.m_endpoints.size(), 2u);
  const CModbusConnection& s = *m_frame.m_endpoints[0];
  EXPECT_EQ(s.m_strName, "SERIAL3");
  EXPECT_EQ(s.m_bTcp, 0);
  EXPECT_EQ(s.m_nPort, 3);
  EXPECT_EQ(s.m_nProtocol, 3);
  EXPECT_EQ(s.m_nTimeout, 750);
  EXPECT_EQ(std::memcmp(&s.m_serial, &serial, sizeof serial), 0);
  const CModbusConnection& t = *m_frame.m_endpoints[1];
  EXPECT_EQ(t.m_strName, "REMOTE");
  EXPECT_EQ(t.m_bTcp, 1);
  EXPECT_EQ(t.m_nPort, 1502);
  EXPECT_EQ(t.m_nProtocol, 0);
  EXPECT_EQ(t.m_nTimeout, 3000);
  EXPECT_EQ(t.m_ipAddress, (std::array<uint8_t, 4>{10, 1, 2, 3}));

  // Endpoints are connected as they are read, before any scan opens.
  ASSERT_EQ(m_recorder.connects.size(), 2u);
  EXPECT_EQ(m_recorder.connects[0].kind, "DanielsRTU");
  EXPECT_EQ(m_recorder.connects[0].port, 3u);
  EXPECT_EQ(m_recorder.connects[0].timeout, 750);
  EXPECT_EQ(std::memcmp(&m_recorder.connects[0].serial, &serial, sizeof serial), 0);
  EXPECT_EQ(m_recorder.connects[1].kind, "TCP");
  EXPECT_EQ(m_recorder.connects[1].port, 1502u);
  const uint8_t* address = reinterpret_cast<const uint8_t*>(&m_recorder.connects[1].address);
  EXPECT_EQ(address[0], 10);
  EXPECT_EQ(address[3], 3);
  std::vector<std::string> libraryCalls;
  for (const auto& call : m_recorder.calls) {
    if (call.rfind("Connect", 0) == 0 || call.rfind("CreateOPCTag", 0) == 0) {
      libraryCalls.push_back(call.substr(0, call.find(' ')));
    }
  }
  ASSERT_GT(libraryCalls.size(), 2u);
  EXPECT_EQ(libraryCalls[0], "ConnectDanielsRTU");
  EXPECT_EQ(libraryCalls[1], "ConnectTCP2");
  EXPECT_EQ(libraryCalls[2], "CreateOPCTag");

  ASSERT_EQ(m_template.GetDocumentCount(), static_cast<int>(before.size()));
  for (size_t d = 0; d < before.size(); ++d) {
    const CPelmoranDoc* doc = m_template.GetDocument(static_cast<int>(d));
    const ScanShape& s0 = before[d];
    EXPECT_EQ(doc->m_strEndpoint, s0.endpoint) << d;
    EXPECT_EQ(doc->m_scan.m_strDelimiter, s0.delimiter) << d;
    EXPECT_EQ(doc->m_scan.m_nPointType, s0.pointType) << d;
    EXPECT_EQ(doc->m_scan.m_nPointAddress, s0.address) << d;
    EXPECT_EQ(doc->m_scan.m_nSlaveNode, s0.slave) << d;
    EXPECT_EQ(doc->m_scan.m_nScanLength, s0.length) << d;
    EXPECT_EQ(doc->m_scan.m_nPollFrequency, s0.frequency) << d;
    EXPECT_EQ(m_factory.ViewOf(doc)->m_frequencies, std::vector<int>{s0.frequency}) << d;
    ASSERT_EQ(doc->GetTagCount(), s0.tags) << d;
    EXPECT_EQ(doc->GetTagName(0), s0.firstName) << d;
    EXPECT_EQ(doc->GetTagName(doc->GetTagCount() - 1), s0.lastName) << d;
    for (int i = 0; i < doc->GetTagCount(); ++i) {
      EXPECT_EQ(doc->GetTag(i)->m_nDataType, s0.dataTypes[i]) << d << "/" << i;
      EXPECT_EQ(doc->GetTag(i)->m_fLowLimit, s0.limits[2 * i]) << d << "/" << i;
      EXPECT_EQ(doc->GetTag(i)->m_fHighLimit, s0.limits[2 * i + 1]) << d << "/" << i;
    }
  }
  EXPECT_EQ(m_app.m_nDefaultDataType, lastDataType);
  // Every loaded tag is published good; coils and holding registers writable.
  int tags = 0;
  int writable = 0;
  for (int d = 0; d < m_template.GetDocumentCount(); ++d) {
    const CPelmoranDoc* doc = m_template.GetDocument(d);
    tags += doc->GetTagCount();
    if (doc->m_scan.m_nPointType % 2 == 1) writable += doc->GetTagCount();
  }
  int good = 0;
  int goodWritable = 0;
  for (const auto& tag : m_recorder.created) {
    good += tag.quality == 192;
    goodWritable += tag.quality == 192 && tag.writable == 1;
  }
  EXPECT_EQ(good, tags);
  EXPECT_EQ(goodWritable, writable);
}

TEST_F(ConfigFileTest, EndpointsThatCannotConnectAreKeptNotConnected) {
  CModbusConnection* serial = AddEndpoint("NOPORT");
  serial->m_bTcp = 0;
  serial->m_nPort = 31;
  AddEndpoint("BADPROTOCOL")->m_nProtocol = 4;
  CModbusConnection* unparsed = AddEndpoint("NOADDRESS");
  unparsed->m_bTcp = 1;
  unparsed->m_ipAddress = {255, 255, 255, 255};
  m_frame.m_endpoints[1]->m_bTcp = 0;
  NewScan("NOPORT", 3, 4, 0);
  Save();

  m_recorder.connectsSucceed = false;
  m_recorder.connects.clear();
  RestoreConfig(PathOf("test.tst"));
  ASSERT_EQ(m_frame.m_endpoints.size(), 3u);
  for (const auto& endpoint : m_frame.m_endpoints) EXPECT_FALSE(endpoint->IsConnected());
  EXPECT_EQ(m_frame.m_endpoints[1]->m_nProtocol, 4);
  // Only the serial endpoint reaches the library: protocol 4 and the address
  // that did not parse connect nothing.
  ASSERT_EQ(m_recorder.connects.size(), 1u);
  EXPECT_EQ(m_recorder.connects[0].kind, "RTU");
  EXPECT_EQ(m_recorder.connects[0].port, 31u);
  ASSERT_EQ(m_template.GetDocumentCount(), 1);
  EXPECT_TRUE(m_recorder.messages.empty());
}

TEST_F(ConfigFileTest, NewScansAreSavedBesideTheConfigurationOnceAndForAll) {
  NewScan("A", 3, 4, 0);
  NewScan("B", 1, 4, 0);
  int prompts = 0;
  SetSaveAsHandler([&prompts](const std::string& proposed) {
    ++prompts;
    return proposed;
  });
  const std::string first = Save();
  EXPECT_EQ(prompts, 2);
  const std::string scanA = m_template.GetDocument(0)->m_strPathName;
  EXPECT_EQ(scanA, PathOf(m_template.GetDocument(0)->m_strTitle));
  EXPECT_EQ(scanA.substr(scanA.size() - 4), ".scn");
  EXPECT_NE(scanA, m_template.GetDocument(1)->m_strPathName);

  // The names are in the configuration file, after the scan count.
  Archive ar(first);
  uint16_t marker;
  int32_t endpoints, scans;
  std::string name0, name1;
  ar >> marker >> endpoints >> scans >> name0 >> name1;
  EXPECT_EQ(scans, 2);
  EXPECT_EQ(name0, scanA);
  EXPECT_EQ(name1, m_template.GetDocument(1)->m_strPathName);
  EXPECT_EQ(ar.GetRemaining(), 0u);

  m_template.GetDocument(0)->GetTag(0)->m_nDataType = 2;
  const std::string second = Save();
  EXPECT_EQ(prompts, 2);
  EXPECT_EQ(second, first);
  CPelmoranDoc* reread = OpenScanFile(scanA);
  ASSERT_NE(reread, nullptr);
  EXPECT_EQ(reread->GetTag(0)->m_nDataType, 2);
}

TEST_F(ConfigFileTest, ScanFilesAreNamedByFullPathsFromARelativeConfigurationPath) {
  NewScan("A", 3, 4, 0);
  const auto previous = std::filesystem::current_path();
  std::filesystem::current_path(m_dir);
  const bool saved = SaveConfig("relative.tst");
  std::filesystem::current_path(previous);
  ASSERT_TRUE(saved);

  const std::string path = m_template.GetDocument(0)->m_strPathName;
  ASSERT_FALSE(path.empty());
  EXPECT_EQ(path.front(), '/');
  EXPECT_TRUE(std::filesystem::equivalent(path, PathOf(m_template.GetDocument(0)->m_strTitle)));
  // Restored from another current directory, the scan is still found.
  RestoreConfig(PathOf("relative.tst"));
  EXPECT_EQ(m_template.GetDocumentCount(), 1);
  EXPECT_TRUE(m_recorder.messages.empty());
}

TEST_F(ConfigFileTest, WithoutADialogANewScanNeverTakesAnExistingFile) {
  CPelmoranDoc* doc = NewScan("A", 3, 4, 0);
  const std::string taken = PathOf(doc->m_strTitle + ".scn");
  WriteFile(taken, "belongs to another configuration");
  Save();
  EXPECT_EQ(ReadFile(taken), "belongs to another configuration");
  EXPECT_EQ(doc->m_strPathName, PathOf(doc->m_strTitle));
  EXPECT_NE(doc->m_strPathName, taken);
}

TEST_F(ConfigFileTest, ACancelledSaveAsStoresAnEmptyNameThatOpensNothing) {
  NewScan("A", 3, 4, 0);
  NewScan("B", 3, 4, 0);
  SetSaveAsHandler([this](const std::string& proposed) {
    return m_template.GetDocumentCount() > 0 &&
                   proposed.find(m_template.GetDocument(0)->m_strTitle) != std::string::npos
               ? std::string()
               : proposed;
  });
  const std::string bytes = Save();
  EXPECT_TRUE(m_template.GetDocument(0)->m_strPathName.empty());
  EXPECT_EQ(bytes.substr(10, 1), std::string(1, '\0'));

  RestoreConfig(PathOf("test.tst"));
  ASSERT_EQ(m_template.GetDocumentCount(), 1);
  EXPECT_EQ(m_template.GetDocument(0)->m_strEndpoint, "B");
  EXPECT_TRUE(m_recorder.messages.empty());
}

TEST_F(ConfigFileTest, AMarkerOtherThanThreeLeavesAnEmptySystemSilently) {
  AddEndpoint("RUNNING")->m_hConnection = 4;
  NewScan("RUNNING", 3, 4, 0);
  WriteFile(PathOf("old.tst"), std::string("\x02\x00\x00\x00\x00\x00\x00\x00\x00\x00", 10));
  m_recorder.calls.clear();
  RestoreConfig(PathOf("old.tst"));
  EXPECT_TRUE(m_frame.m_endpoints.empty());
  EXPECT_EQ(m_template.GetDocumentCount(), 0);
  EXPECT_TRUE(m_recorder.messages.empty());
  EXPECT_EQ(m_recorder.calls.front(), "CloseConnection 4");
  EXPECT_EQ(m_recorder.removed.size(), 4u);
}

TEST_F(ConfigFileTest, AMissingFileLeavesTheRunningConfigurationAlone) {
  AddEndpoint("RUNNING");
  NewScan("RUNNING", 3, 4, 0);

  RestoreConfig(PathOf("pelmoran.tst"));
  EXPECT_TRUE(m_recorder.messages.empty());

  RestoreConfig(PathOf("other.tst"));
  ASSERT_EQ(m_recorder.messages.size(), 1u);
  EXPECT_EQ(m_recorder.messages[0], "File Open Error - " + PathOf("other.tst"));

  // The name is compared exactly, case and all.
  m_recorder.messages.clear();
  RestoreConfig(PathOf("Pelmoran.tst"));
  RestoreConfig("tst");
  EXPECT_EQ(m_recorder.messages,
            (std::vector<std::string>{"File Open Error - " + PathOf("Pelmoran.tst"),
                                      "File Open Error - tst"}));

  EXPECT_EQ(m_frame.m_endpoints.size(), 1u);
  EXPECT_EQ(m_template.GetDocumentCount(), 1);
}

TEST_F(ConfigFileTest, ADamagedFileIsRefusedAndTheRunningConfigurationStays) {
  AddEndpoint("RUNNING")->m_hConnection = 4;
  const CPelmoranDoc* running = NewScan("RUNNING", 3, 4, 0);
  // Two new endpoints named MODBUS1 and one empty scan name, as documented.
  const std::string record = Bytes(kNewEndpointRecord);
  const std::string whole = Bytes("03 00 02 00 00 00") + record + record + Bytes("01 00 00 00 00");
  const size_t scanCount = 6 + 2 * record.size();

  // Cut in the marker, the first and the second record, the scan count and
  // the name; a negative count; a count beyond the file.
  for (const std::string& bytes :
       {whole.substr(0, 1), whole.substr(0, 40), whole.substr(0, scanCount - 1),
        whole.substr(0, scanCount + 2), whole.substr(0, whole.size() - 1),
        Bytes("03 00 FF FF FF FF") + whole.substr(6),
        whole.substr(0, scanCount) + Bytes("02 00 00 00 00")}) {
    WriteFile(PathOf("cut.tst"), bytes);
    m_recorder.calls.clear();
    m_recorder.messages.clear();
    RestoreConfig(PathOf("cut.tst"));
    ASSERT_EQ(m_recorder.messages.size(), 1u) << Hex(bytes);
    EXPECT_NE(m_recorder.messages[0].find(PathOf("cut.tst")), std::string::npos);
    EXPECT_NE(m_recorder.messages[0].find("running configuration stays"), std::string::npos);
    EXPECT_EQ(m_recorder.calls, std::vector<std::string>{}) << "nothing closed or connected";
    ASSERT_EQ(m_frame.m_endpoints.size(), 1u) << Hex(bytes);
    EXPECT_TRUE(m_frame.m_endpoints[0]->IsConnected());
    ASSERT_EQ(m_template.GetDocumentCount(), 1) << Hex(bytes);
    EXPECT_EQ(m_template.GetDocument(0), running);
  }
  WriteFile(PathOf("cut.tst"), whole);
  RestoreConfig(PathOf("cut.tst"));
  EXPECT_EQ(m_frame.m_endpoints.size(), 2u);
  EXPECT_EQ(m_template.GetDocumentCount(), 0);
}

TEST_F(ConfigFileTest, AScanFileNotUnderstoodIsNeverSavedOver) {
  // Node 7, address 40100, 8 registers, of a version this program does not know.
  const std::string original = Bytes(
      "04 33 2E 30 31 05 50 4C 41 4E 54 01 2E F6 01 00 00 07 03 A4 9C "
      "08 00 E8 03 00 00 00 00 00 00");
  WriteFile(PathOf("plant.scn"), original);
  CPelmoranDoc* doc = OpenScanFile(PathOf("plant.scn"));
  ASSERT_NE(doc, nullptr);
  Save();
  Save();
  EXPECT_EQ(ReadFile(PathOf("plant.scn")), original);
  EXPECT_EQ(doc->m_strPathName, PathOf("plant-2.scn"));
  EXPECT_EQ(m_recorder.messages.size(), 1u) << "told once";
}

TEST_F(ConfigFileTest, AFileTooLargeToBeAConfigurationIsNamedAndNotRead) {
  AddEndpoint("RUNNING");
  for (const std::string name : {"pelmoran.tst", "big.tst"}) {
    const std::string path = PathOf(name);
    WriteFile(path, std::string("\x03\x00", 2));
    std::filesystem::resize_file(path, DiskFile::kMaxReadBytes + 1);
    m_recorder.messages.clear();
    RestoreConfig(path);
    ASSERT_EQ(m_recorder.messages.size(), 1u) << name;
    EXPECT_NE(m_recorder.messages[0].find(path), std::string::npos);
    EXPECT_NE(m_recorder.messages[0].find("too large"), std::string::npos);
    EXPECT_EQ(m_frame.m_endpoints.size(), 1u);
  }
  // A directory cannot be opened as a file: the same as a missing one.
  std::filesystem::create_directory(PathOf("dir/"));
  std::filesystem::create_directory(PathOf("dir/pelmoran.tst"));
  m_recorder.messages.clear();
  RestoreConfig(PathOf("dir/pelmoran.tst"));
  RestoreConfig(PathOf("dir"));
  EXPECT_EQ(m_recorder.messages, std::vector<std::string>{"File Open Error - " + PathOf("dir")});
}

TEST_F(ConfigFileTest, ImpossibleCountsAreDamageNotAllocations) {
  for (const std::string& bytes :
       {std::string("\x03\x00\xFF\xFF\xFF\x7F", 6), std::string("\x03\x00\xFF\xFF\xFF\xFF", 6),
        std::string("\x03\x00\x00\x00\x00\x00\x00\x00\x00\x10", 10),
        std::string("\x03\x00\x00\x00\x00\x00\x02\x00\x00\x00\x00", 11)}) {
    WriteFile(PathOf("count.tst"), bytes);
    m_recorder.messages.clear();
    RestoreConfig(PathOf("count.tst"));
    ASSERT_EQ(m_recorder.messages.size(), 1u) << Hex(bytes);
    EXPECT_NE(m_recorder.messages[0].find(PathOf("count.tst")), std::string::npos)
        << m_recorder.messages[0];
    EXPECT_TRUE(m_frame.m_endpoints.empty());
    EXPECT_EQ(m_template.GetDocumentCount(), 0);
  }
}

TEST_F(ConfigFileTest, OneBadScanFileDoesNotStopTheOthers) {
  AddEndpoint("E");
  NewScan("E", 3, 4, 0);
  NewScan("E", 4, 6, 0);
  NewScan("E", 1, 2, 0);
  Save();
  std::remove(m_template.GetDocument(0)->m_strPathName.c_str());
  std::string damaged = ReadFile(m_template.GetDocument(1)->m_strPathName);
  damaged[5 + 2 + 2 + 4 + 1] = 9;  // the point type, after version, endpoint, delimiter, port
  WriteFile(m_template.GetDocument(1)->m_strPathName, damaged);

  RestoreConfig(PathOf("test.tst"));
  ASSERT_EQ(m_template.GetDocumentCount(), 1);
  EXPECT_EQ(m_template.GetDocument(0)->m_scan.m_nPointType, 1);
  ASSERT_EQ(m_recorder.messages.size(), 2u);
  EXPECT_NE(m_recorder.messages[1].find("point type 9"), std::string::npos)
      << m_recorder.messages[1];
  EXPECT_EQ(m_frame.m_endpoints.size(), 1u);
}

TEST_F(ConfigFileTest, AFileThatCannotBeCreatedSavesNothing) {
  AddEndpoint("E");
  NewScan("E", 3, 4, 0);
  WriteFile(PathOf("plain"), "x");
  EXPECT_FALSE(SaveConfig(PathOf("plain/test.tst")));
  EXPECT_EQ(m_recorder.messages, std::vector<std::string>{"File Creation Error"});
  // Nothing was written: not even the scan got a file.
  EXPECT_TRUE(m_template.GetDocument(0)->m_strPathName.empty());
  EXPECT_EQ(DirectoryEntries(), std::vector<std::string>{"plain"});

  m_recorder.messages.clear();
  EXPECT_FALSE(SaveConfig(m_dir));
  EXPECT_EQ(m_recorder.messages, std::vector<std::string>{"File Creation Error"});
}

// The disk fills up while the new file is written: the file size limit makes
// every write beyond it fail, as a full disk does, even for root.
class FileSizeLimit {
 public:
  explicit FileSizeLimit(rlim_t bytes) {
    getrlimit(RLIMIT_FSIZE, &m_saved);
    m_oldHandler = signal(SIGXFSZ, SIG_IGN);
    rlimit limit = m_saved;
    limit.rlim_cur = bytes;
    setrlimit(RLIMIT_FSIZE, &limit);
  }
  ~FileSizeLimit() {
    setrlimit(RLIMIT_FSIZE, &m_saved);
    signal(SIGXFSZ, m_oldHandler);
  }

 private:
  rlimit m_saved;
  sighandler_t m_oldHandler;
};

TEST_F(ConfigFileTest, ASaveThatFailsHalfWayLeavesTheOldFilesWhole) {
  AddEndpoint("E");
  CPelmoranDoc* doc = NewScan("E", 3, 40, 0);
  const std::string oldConfig = Save();
  const std::string scanPath = doc->m_strPathName;
  const std::string oldScan = ReadFile(scanPath);
  ASSERT_GT(oldScan.size(), 400u);
  const auto entries = DirectoryEntries();

  for (int i = 0; i < 20; ++i) AddEndpoint("ANOTHER ENDPOINT " + std::to_string(i));
  doc->GetTag(0)->m_nDataType = 3;
  {
    FileSizeLimit limit(200);
    EXPECT_FALSE(SaveConfig(PathOf("test.tst")));
  }
  ASSERT_EQ(m_recorder.messages.size(), 2u);
  EXPECT_NE(m_recorder.messages[0].find(scanPath), std::string::npos) << m_recorder.messages[0];
  EXPECT_EQ(m_recorder.messages[1], "File Creation Error");
  EXPECT_EQ(ReadFile(PathOf("test.tst")), oldConfig);
  EXPECT_EQ(ReadFile(scanPath), oldScan);
  EXPECT_EQ(DirectoryEntries(), entries);
}

// A crash after the journal of a save was put in place: the next restore
// finishes the save, and removes the new files that no save will use, but
// no file of another pattern or of a process still running.
TEST_F(ConfigFileTest, ARestoreFinishesAnInterruptedSaveAndRemovesItsLeftovers) {
  AddEndpoint("E");
  Save();
  AddEndpoint("F");
  const std::string saved = Save("other.tst");
  const std::string pid = std::to_string(getpid());
  const std::string staged = PathOf("test.tst.tmp-" + pid + "-9");
  WriteFile(staged, saved);
  // The second pair is no new file of its name: a damaged journal renames nothing else.
  WriteFile(PathOf("test.tst.commit"), staged + '\0' + PathOf("test.tst") + '\0' +
                                           PathOf("notes.tmp-x-1") + '\0' + PathOf("victim") +
                                           '\0');
  struct Leftover {
    std::string name;
    bool kept;
  };
  const Leftover leftovers[] = {
      {"scan.scn.tmp-" + pid + "-10", false},
      {"test.tst.commit.tmp-" + pid + "-11", false},
      {"running.scn.tmp-1-12", true},
      {"notes.tmp-", true},
      {"notes.tmp-x-1", true},
      {".tmp-" + pid + "-13", true},
  };
  for (const Leftover& l : leftovers) WriteFile(PathOf(l.name), "x");
  m_frame.RemoveAllEndpoints();
  RestoreConfig(PathOf("test.tst"));
  EXPECT_EQ(m_frame.m_endpoints.size(), 2u) << "the new configuration";
  EXPECT_EQ(ReadFile(PathOf("test.tst")), saved);
  EXPECT_FALSE(std::filesystem::exists(PathOf("test.tst.commit")));
  EXPECT_FALSE(std::filesystem::exists(PathOf("victim")));
  for (const Leftover& l : leftovers)
    EXPECT_EQ(std::filesystem::exists(PathOf(l.name)), l.kept) << l.name;
}

TEST_F(ConfigFileTest, ASavedFileKeepsItsPermissionsAndLinks) {
  Save("real.tst");
  ASSERT_EQ(chmod(PathOf("real.tst").c_str(), 0640), 0);
  ASSERT_EQ(symlink("real.tst", PathOf("link.tst").c_str()), 0);
  AddEndpoint("E");
  Save("link.tst");
  EXPECT_TRUE(std::filesystem::is_symlink(PathOf("link.tst")));
  EXPECT_EQ(ReadFile(PathOf("real.tst")).size(), 2u + 4 + 54 + 4);
  EXPECT_EQ(std::filesystem::status(PathOf("real.tst")).permissions(),
            std::filesystem::perms::owner_read | std::filesystem::perms::owner_write |
                std::filesystem::perms::group_read);
}

}  // namespace
}  // namespace files_test
