#include <limits>
#include <string>
#include <vector>

#include "FilesFixture.h"
#include "pointdb/Archive.h"
#include "pointdb/DataType.h"
#include "pointdb/ScanFile.h"

namespace files_test {
namespace {

struct TagBytes {
  int32_t pointType;
  int32_t dataType;
  float low;
  float high;
};

// A scan file written item by item, as another version of the program or a
// damaged disk would leave it.
struct ScanBytes {
  std::string version = "3.00";
  std::string endpoint = "PLANT";
  std::string delimiter = "_";
  int32_t port = 502;
  uint8_t slaveNode = 17;
  uint8_t pointType = 3;
  uint16_t address = 100;
  uint16_t length = 8;
  int32_t frequency = 750;
  std::vector<TagBytes> tags;
  // "4.00" only: each tag's format (bit, string registers, scaled flag as
  // written, the scale), the first applying to every tag it does not reach.
  struct Format {
    int32_t bit = 0;
    int32_t stringRegisters = 1;
    int32_t scaled = 0;
    double scale[4] = {0, 100, 0, 100};
  };
  std::vector<Format> formats{Format{}};

  std::string Build() const {
    Archive ar;
    ar << version;
    if (version == "3.00" || version == "4.00") ar << endpoint;
    if (version != "1.00") ar << delimiter;
    ar << port << slaveNode << pointType << address << length << frequency;
    ar << static_cast<int32_t>(tags.size());
    for (size_t i = 0; i < tags.size(); ++i) {
      const TagBytes& t = tags[i];
      ar << t.pointType << t.dataType << t.low << t.high;
      if (version != "4.00") continue;
      const Format& f = formats[i < formats.size() ? i : 0];
      ar << f.bit << f.stringRegisters << f.scaled;
      for (double limit : f.scale) ar << limit;
    }
    return ar.GetBuffer();
  }
};

std::vector<TagBytes> Tags(int count, int dataType, uint8_t pointType = 3) {
  return std::vector<TagBytes>(count, TagBytes{pointType, dataType, -5.0f, 250.0f});
}

class ScanFileTest : public FilesTest {
 protected:
  // Opens bytes as the framework opens a stored scan.
  CPelmoranDoc* Open(const std::string& bytes, const std::string& name = "scan.scn") {
    const std::string path = PathOf(name);
    WriteFile(path, bytes);
    m_recorder.calls.clear();
    m_recorder.created.clear();
    return OpenScanFile(path);
  }

  // The tags published and not removed again: those of the loaded file.
  std::vector<PublishedTag> LiveTags() const {
    std::vector<PublishedTag> live;
    for (const auto& tag : m_recorder.created) {
      if (std::find(m_recorder.removed.begin(), m_recorder.removed.end(), tag.handle) ==
          m_recorder.removed.end()) {
        live.push_back(tag);
      }
    }
    return live;
  }

  std::vector<std::string> CreatedNames() const {
    std::vector<std::string> names;
    for (const auto& tag : LiveTags()) names.push_back(tag.name);
    return names;
  }
};

TEST_F(ScanFileTest, StoresVersionThreeItemByItem) {
  CPelmoranDoc* doc = NewScan("MODBUS1", 3, 4, 0, "/");
  doc->m_scan.m_nPort = 1502;
  doc->m_scan.m_nSlaveNode = 9;
  doc->m_scan.m_nPointAddress = 0x1234;
  doc->m_scan.m_nPollFrequency = 2500;
  doc->GetTag(1)->m_nDataType = 2;
  doc->GetTag(1)->m_fLowLimit = -1.0f;
  doc->GetTag(1)->m_fHighLimit = 1.0f;

  Archive ar;
  doc->Serialize(ar);
  const std::string expected = std::string(
                                   "\x04"
                                   "3.00"
                                   "\x07"
                                   "MODBUS1"
                                   "\x01"
                                   "/"
                                   "\xDE\x05\x00\x00"  // port 1502
                                   "\x09\x03"          // slave 9, holding registers
                                   "\x34\x12\x04\x00"  // address, length 4
                                   "\xC4\x09\x00\x00"  // 2500 ms
                                   "\x04\x00\x00\x00",
                                   33) +
                               std::string(
                                   "\x03\x00\x00\x00\x00\x00\x00\x00"
                                   "\x00\x00\x00\x00\x00\x00\xC8\x42"  // 0, 0.0, 100.0
                                   "\x03\x00\x00\x00\x02\x00\x00\x00"
                                   "\x00\x00\x80\xBF\x00\x00\x80\x3F",  // 2, -1.0, 1.0
                                   32);
  EXPECT_EQ(ar.GetBuffer().substr(0, 33 + 32), expected);
  EXPECT_EQ(ar.GetBuffer().size(), 33u + 4 * 16);
}

TEST_F(ScanFileTest, LoadingReplacesDefinitionAndTagsAndPublishesThemGood) {
  ScanBytes file;
  file.tags = Tags(4, 5);  // 32-bit tags, two registers each
  file.tags[3].dataType = 7;
  CPelmoranDoc* doc = Open(file.Build());
  ASSERT_NE(doc, nullptr);

  EXPECT_EQ(doc->m_strEndpoint, "PLANT");
  EXPECT_EQ(doc->m_scan.m_strDelimiter, "_");
  EXPECT_EQ(doc->m_scan.m_nPort, 502);
  EXPECT_EQ(doc->m_scan.m_nSlaveNode, 17);
  EXPECT_EQ(doc->m_scan.m_nPointType, 3);
  EXPECT_EQ(doc->m_scan.m_nPointAddress, 100);
  EXPECT_EQ(doc->m_scan.m_nScanLength, 8);
  EXPECT_EQ(doc->m_scan.m_nPollFrequency, 750);
  EXPECT_EQ(doc->m_scan.m_nTagCount, 4);
  ASSERT_EQ(doc->GetTagCount(), 4);
  EXPECT_EQ(doc->GetTag(0)->m_nDataType, 5);
  EXPECT_EQ(doc->GetTag(0)->m_fLowLimit, -5.0f);
  EXPECT_EQ(doc->GetTag(0)->m_fHighLimit, 250.0f);

  // Offsets 2i for the 32-bit types, quality good before any poll, writable
  // because holding registers are.
  EXPECT_EQ(CreatedNames(), (std::vector<std::string>{"PLANT_NODE17_40100", "PLANT_NODE17_40102",
                                                      "PLANT_NODE17_40104", "PLANT_NODE17_40106"}));
  for (const auto& tag : LiveTags()) {
    EXPECT_EQ(tag.quality, 192);
    EXPECT_EQ(tag.writable, 1);
  }
  EXPECT_EQ(doc->GetTag(2)->m_hTag, LiveTags()[2].handle);
  EXPECT_EQ(doc->m_strPathName, PathOf("scan.scn"));

  // The next Data New starts from the last tag's data type.
  EXPECT_EQ(m_app.m_nDefaultDataType, 7);
  EXPECT_EQ(m_factory.ViewOf(doc)->m_frequencies, std::vector<int>{750});
}

TEST_F(ScanFileTest, ConstructorTagsAreRemovedBeforeTheLoadedOnesArePublished) {
  m_app.m_pendingScan.m_nScanLength = 2;
  m_app.m_nDefaultDataType = 0;
  ScanBytes file;
  file.pointType = 4;
  file.tags = Tags(1, 1, 4);
  ASSERT_NE(Open(file.Build()), nullptr);

  // The constructor's two tags, then their removal, then the one loaded.
  ASSERT_EQ(m_recorder.calls.size(), 5u);
  EXPECT_EQ(m_recorder.calls[0].rfind("CreateOPCTag", 0), 0u);
  EXPECT_EQ(m_recorder.calls[1].rfind("CreateOPCTag", 0), 0u);
  EXPECT_EQ(m_recorder.calls[2], "RemoveOPCTag " + std::to_string(m_recorder.created[0].handle));
  EXPECT_EQ(m_recorder.calls[3], "RemoveOPCTag " + std::to_string(m_recorder.created[1].handle));
  ASSERT_EQ(m_recorder.created.size(), 3u);
  EXPECT_EQ(m_recorder.calls[4], "CreateOPCTag PLANT_NODE17_30100");
  EXPECT_EQ(m_recorder.created[2].writable, 0);
}

TEST_F(ScanFileTest, OlderVersionsTakeThePendingEndpointAndTheirDelimiter) {
  m_app.m_strPendingEndpoint = "PENDING";
  ScanBytes one;
  one.version = "1.00";
  one.pointType = 1;
  one.tags = Tags(2, 0, 1);
  CPelmoranDoc* doc = Open(one.Build(), "one.scn");
  ASSERT_NE(doc, nullptr);
  EXPECT_EQ(doc->m_strEndpoint, "PENDING");
  EXPECT_EQ(doc->m_scan.m_strDelimiter, ".");
  EXPECT_EQ(CreatedNames(),
            (std::vector<std::string>{"PENDING.NODE17.00100", "PENDING.NODE17.00101"}));

  ScanBytes two = one;
  two.version = "2.00";
  two.delimiter = "-";
  doc = Open(two.Build(), "two.scn");
  ASSERT_NE(doc, nullptr);
  EXPECT_EQ(doc->m_strEndpoint, "PENDING");
  EXPECT_EQ(doc->m_scan.m_strDelimiter, "-");
  EXPECT_EQ(CreatedNames(),
            (std::vector<std::string>{"PENDING-NODE17-00100", "PENDING-NODE17-00101"}));
  EXPECT_TRUE(m_recorder.messages.empty());
}

TEST_F(ScanFileTest, AnUnknownVersionKeepsTheScanAsConstructedAndNotTheFile) {
  m_app.m_strPendingEndpoint = "PENDING";
  m_app.m_pendingScan.m_nScanLength = 3;
  for (const std::string version : {"3.01", "3.0", "3.00 ", ""}) {
    ScanBytes file;
    file.version = version;
    file.tags = Tags(1, 0);
    m_recorder.messages.clear();
    CPelmoranDoc* doc = Open(file.Build(), "plant.scn");
    ASSERT_NE(doc, nullptr) << version;
    EXPECT_EQ(doc->m_strEndpoint, "PENDING");
    EXPECT_EQ(doc->GetTagCount(), 3) << version;
    EXPECT_EQ(doc->m_scan.m_nPointAddress, 1) << version;
    EXPECT_TRUE(m_recorder.removed.empty()) << version;
    for (const auto& tag : m_recorder.created) EXPECT_EQ(tag.quality, 0) << version;
    EXPECT_TRUE(m_factory.ViewOf(doc)->m_frequencies.empty()) << version;
    // Without a path a save asks for a new file instead of writing this one.
    EXPECT_EQ(doc->m_strPathName, "") << version;
    ASSERT_EQ(m_recorder.messages.size(), 1u) << version;
    EXPECT_NE(m_recorder.messages[0].find(PathOf("plant.scn")), std::string::npos);
  }
  EXPECT_NE(m_recorder.messages[0].find("a version that is not understood"), std::string::npos);
}

TEST_F(ScanFileTest, BitScansReadThirtyTwoBitTagsAsUnsignedAndWriteThemBackAsRead) {
  for (uint8_t pointType : {1, 2}) {
    for (int32_t dataType = 4; dataType <= 7; ++dataType) {
      SCOPED_TRACE(std::to_string(pointType) + "/" + std::to_string(dataType));
      m_frame.RemoveAllEndpoints();  // idle again for the client write
      CModbusConnection* endpoint = AddEndpoint("PLANT");
      endpoint->m_bTcp = 0;
      endpoint->m_hConnection = 3;
      ScanBytes file;
      file.pointType = pointType;
      file.address = 1;
      file.tags = Tags(4, dataType, pointType);
      const std::string bytes = file.Build();
      CPelmoranDoc* doc = Open(bytes);
      ASSERT_NE(doc, nullptr);
      const std::string digit = pointType == 1 ? "0" : "1";
      EXPECT_EQ(CreatedNames(),
                (std::vector<std::string>{
                    "PLANT_NODE17_" + digit + "0001", "PLANT_NODE17_" + digit + "0002",
                    "PLANT_NODE17_" + digit + "0003", "PLANT_NODE17_" + digit + "0004"}));
      auto response = std::make_unique<CModbusMsg>();
      response->Copy(doc->m_scan);
      response->m_nStatus = 0;
      response->m_data[1] = response->m_data[2] = response->m_data[3] = 1;
      doc->OnScanResponse(response.release());
      EXPECT_EQ(doc->GetTag(1)->m_value.fltVal, 1.0f) << "point 2's own bit, not 65537";
      VARIANT on;
      VariantInit(&on);
      on.vt = VT_BOOL;
      on.boolVal = VARIANT_TRUE;
      doc->HandleClientWrite(doc->GetTag(1)->m_hTag, &on);
      if (pointType == 1) {
        ASSERT_EQ(m_recorder.writes.size(), 1u);
        EXPECT_EQ(m_recorder.writes[0].address, 2) << "the coil tag 1 is named after";
      }
      m_recorder.writes.clear();

      ASSERT_TRUE(SaveScan(*doc, PathOf("back.scn")));
      EXPECT_EQ(ReadFile(PathOf("back.scn")), bytes);
      // A type chosen since is the one saved.
      doc->GetTag(3)->m_nDataType = 2;
      ASSERT_TRUE(SaveScan(*doc, PathOf("back.scn")));
      EXPECT_EQ(ReadFile(PathOf("back.scn"))[bytes.size() - 12], 2);
    }
  }
  EXPECT_TRUE(m_recorder.messages.empty());
}

TEST_F(ScanFileTest, ScansThatCannotBeDecodedSafelyAreRefused) {
  struct Case {
    const char* what;
    ScanBytes file;
    std::string reason;
  };
  std::vector<Case> cases;
  auto add = [&cases](const char* what, auto change, std::string reason) {
    ScanBytes file;
    file.tags = Tags(8, 0);
    change(file);
    cases.push_back({what, file, std::move(reason)});
  };
  add(
      "point type 0", [](ScanBytes& f) { f.pointType = 0; }, "point type 0");
  add(
      "point type 5", [](ScanBytes& f) { f.pointType = 5; }, "point type 5");
  add(
      "scan length 2001", [](ScanBytes& f) { f.length = 2001; }, "scan length 2001");
  add(
      "data type 8", [](ScanBytes& f) { f.tags[3].dataType = 8; }, "data type 8");
  add(
      "data type -1", [](ScanBytes& f) { f.tags[0].dataType = -1; }, "data type -1");
  add(
      "one tag too many", [](ScanBytes& f) { f.tags = Tags(9, 0); }, "scan length 8");
  add(
      "32-bit tags of an odd length",
      [](ScanBytes& f) {
        f.length = 7;
        f.tags = Tags(4, 4);
      },
      "scan length 7");
  add(
      "a 32-bit tag among 16-bit ones at the end", [](ScanBytes& f) { f.tags[4].dataType = 6; },
      "scan length 8");

  for (const auto& c : cases) {
    m_recorder.messages.clear();
    const int before = m_template.GetDocumentCount();
    EXPECT_EQ(Open(c.file.Build(), "bad.scn"), nullptr) << c.what;
    EXPECT_EQ(m_template.GetDocumentCount(), before) << c.what;
    ASSERT_EQ(m_recorder.messages.size(), 1u) << c.what;
    EXPECT_NE(m_recorder.messages[0].find(PathOf("bad.scn")), std::string::npos) << c.what;
    EXPECT_NE(m_recorder.messages[0].find(c.reason), std::string::npos)
        << c.what << ": " << m_recorder.messages[0];
  }
}

TEST_F(ScanFileTest, TheLargestScansThatFitAreAccepted) {
  ScanBytes file;
  file.length = 2000;
  file.tags = Tags(2000, 3);
  ASSERT_NE(Open(file.Build()), nullptr);
  EXPECT_EQ(m_recorder.created.back().name, "PLANT_NODE17_42099");

  file.tags = Tags(1000, 6);
  CPelmoranDoc* doc = Open(file.Build());
  ASSERT_NE(doc, nullptr);
  EXPECT_EQ(doc->GetTagCount(), 1000);
  EXPECT_EQ(m_recorder.created.back().name, "PLANT_NODE17_42098");

  file.length = 0;
  file.tags.clear();
  doc = Open(file.Build());
  ASSERT_NE(doc, nullptr);
  EXPECT_EQ(doc->GetTagCount(), 0);
  EXPECT_TRUE(m_recorder.messages.empty());
}

TEST_F(ScanFileTest, AFileThatEndsEarlyIsNotOpened) {
  ScanBytes file;
  file.tags = Tags(8, 0);
  const std::string whole = file.Build();
  // Cut inside the version, the endpoint, the definition and the last tag.
  for (size_t size : {size_t{0}, size_t{3}, size_t{8}, size_t{20}, whole.size() - 1}) {
    m_recorder.messages.clear();
    EXPECT_EQ(Open(whole.substr(0, size), "short.scn"), nullptr) << size;
    ASSERT_EQ(m_recorder.messages.size(), 1u) << size;
    EXPECT_NE(m_recorder.messages[0].find(PathOf("short.scn")), std::string::npos);
  }
  EXPECT_EQ(m_template.GetDocumentCount(), 0);
  // The document that was refused took its constructor's tags with it.
  EXPECT_TRUE(LiveTags().empty());
}

TEST_F(ScanFileTest, AHugeTagCountIsDamageNotAnAllocation) {
  for (int32_t count : {INT32_MAX, -1, 9}) {
    ScanBytes file;
    file.tags = Tags(8, 0);
    std::string bytes = file.Build();
    const size_t countAt = bytes.size() - 8 * 16 - 4;
    Archive ar;
    ar << count;
    bytes.replace(countAt, 4, ar.GetBuffer());
    m_recorder.messages.clear();
    EXPECT_EQ(Open(bytes), nullptr) << count;
    ASSERT_EQ(m_recorder.messages.size(), 1u);
    EXPECT_NE(m_recorder.messages[0].find("count"), std::string::npos) << m_recorder.messages[0];
  }
}

TEST_F(ScanFileTest, AMissingFileIsReportedAndNotOpened) {
  EXPECT_EQ(OpenScanFile(PathOf("absent.scn")), nullptr);
  ASSERT_EQ(m_recorder.messages.size(), 1u);
  EXPECT_NE(m_recorder.messages[0].find(PathOf("absent.scn")), std::string::npos);
  EXPECT_EQ(m_template.GetDocumentCount(), 0);

  m_recorder.messages.clear();
  EXPECT_EQ(OpenScanFile(m_dir), nullptr);
  EXPECT_EQ(m_recorder.messages.size(), 1u);
}

// Only a scan that needs it is written as "4.00", so that a scan of the eight
// classic types stays readable by every older reader.
TEST_F(ScanFileTest, AScanWithAnAddedTypeOrAScaleIsWrittenAsVersionFour) {
  CPelmoranDoc* doc = NewScan("M", 3, 2, 0, "/");
  const size_t header = 27;  // items 1 to 10 with the endpoint name "M"
  Archive classic;
  doc->Serialize(classic);
  EXPECT_EQ(classic.GetBuffer().substr(0, 5), std::string("\x04"
                                                          "3.00"));

  doc->GetTag(1)->m_nDataType = static_cast<int32_t>(DataType::Bit);
  doc->GetTag(1)->m_format.bit = 13;
  Archive added;
  doc->Serialize(added);
  const std::string& bytes = added.GetBuffer();
  // Items 1 to 10 as in "3.00", then 60 bytes a tag.
  EXPECT_EQ(bytes.substr(0, 5), std::string("\x04"
                                            "4.00"));
  EXPECT_EQ(bytes.substr(5, header - 5), classic.GetBuffer().substr(5, header - 5));
  ASSERT_EQ(classic.GetBuffer().size(), header + 2 * 16);
  ASSERT_EQ(bytes.size(), header + 2 * 60);
  const std::string second = bytes.substr(header + 60, 60);
  EXPECT_EQ(second.substr(0, 16), std::string("\x03\0\0\0\x21\0\0\0"
                                              "\0\0\0\0\0\0\xC8\x42",
                                              16));
  EXPECT_EQ(second.substr(16, 12), std::string("\x0D\0\0\0\x01\0\0\0\0\0\0\0", 12));
  // The scale: 0, 100, 0, 100 as little-endian doubles.
  const std::string hundred("\0\0\0\0\0\0\x59\x40", 8);
  const std::string zero(8, '\0');
  EXPECT_EQ(second.substr(28), zero + hundred + zero + hundred);

  doc->GetTag(1)->m_nDataType = 0;
  doc->GetTag(1)->m_format.scaled = true;
  Archive scaled;
  doc->Serialize(scaled);
  EXPECT_EQ(scaled.GetBuffer().substr(1, 4), "4.00");
  EXPECT_EQ(scaled.GetBuffer()[header + 60 + 24], '\x01');
}

TEST_F(ScanFileTest, VersionFourReadsBackEveryTypeAndFormat) {
  CPelmoranDoc* doc = NewScan("M", 3, 20, 0);
  doc->GetTag(0)->m_nDataType = static_cast<int32_t>(DataType::Float64DCBA);
  doc->GetTag(0)->m_format = {.scaled = true, .rawLow = -1.5, .rawHigh = 1e300, .engHigh = 4};
  doc->GetTag(1)->m_nDataType = static_cast<int32_t>(DataType::StringBA);
  doc->GetTag(1)->m_format.stringRegisters = 4;
  doc->GetTag(2)->m_nDataType = static_cast<int32_t>(DataType::Bit);
  doc->GetTag(2)->m_format.bit = 15;
  const std::string path = PathOf("four.scn");
  ASSERT_TRUE(SaveScan(*doc, path));

  CPelmoranDoc* back = OpenScanFile(path);
  ASSERT_NE(back, nullptr);
  ASSERT_EQ(back->GetTagCount(), 20);
  for (int i = 0; i < 20; ++i) {
    EXPECT_EQ(back->GetTag(i)->m_nDataType, doc->GetTag(i)->m_nDataType) << i;
    EXPECT_TRUE(back->GetTag(i)->m_format == doc->GetTag(i)->m_format) << i;
  }
  // Tag i starts at register i times its own width.
  EXPECT_EQ(back->GetTagName(0), "M.NODE1.40001");
  EXPECT_EQ(back->GetTagName(1), "M.NODE1.40005");
  EXPECT_EQ(back->GetTagName(2), "M.NODE1.40003");
}

TEST_F(ScanFileTest, VersionFourFormatsThatCannotBeDecodedAreRefused) {
  struct Case {
    const char* what;
    int32_t dataType;
    ScanBytes::Format format;
    std::string reason;
  };
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const Case cases[] = {
      {"bit 16", 33, {.bit = 16}, "bit number 16"},
      {"bit -1", 33, {.bit = -1}, "bit number -1"},
      {"a string of no registers", 34, {.stringRegisters = 0}, "string of 0 registers"},
      {"a string too long to write", 34, {.stringRegisters = 124}, "string of 124 registers"},
      {"scaled flag 2", 0, {.scaled = 2}, "scale flag 2"},
      {"a scale limit not a number", 0, {.scaled = 1, .scale = {0, nan, 0, 1}}, "finite"},
      {"data type 36", 36, {}, "data type 36, which is not one of 0 to 35"},
      {"a 64-bit tag past the scan", 18, {}, "scan length 8"},
      {"strings past the scan", 35, {.stringRegisters = 3}, "scan length 8"},
  };
  for (const Case& c : cases) {
    ScanBytes file;
    file.version = "4.00";
    file.tags = Tags(3, c.dataType);
    file.formats = {c.format};
    m_recorder.messages.clear();
    EXPECT_EQ(Open(file.Build()), nullptr) << c.what;
    ASSERT_EQ(m_recorder.messages.size(), 1u) << c.what;
    EXPECT_NE(m_recorder.messages[0].find(c.reason), std::string::npos)
        << c.what << ": " << m_recorder.messages[0];
  }
}

TEST_F(ScanFileTest, ANewerVersionIsNamedAsSuch) {
  ScanBytes file;
  file.version = "5.00";
  file.tags = Tags(1, 0);
  ASSERT_NE(Open(file.Build()), nullptr);
  ASSERT_EQ(m_recorder.messages.size(), 1u);
  EXPECT_NE(m_recorder.messages[0].find("newer version of pelmoran"), std::string::npos)
      << m_recorder.messages[0];
}

TEST_F(ScanFileTest, SavedScanReadsBackTheSame) {
  CPelmoranDoc* doc = NewScan("MODBUS1", 4, 10, 4, "#");
  doc->m_scan.m_nSlaveNode = 255;
  doc->m_scan.m_nPointAddress = 9999;
  doc->m_scan.m_nPollFrequency = 333;
  doc->GetTag(4)->m_nDataType = 7;
  doc->GetTag(4)->m_fLowLimit = 1e-3f;
  doc->GetTag(4)->m_fHighLimit = -3.25e7f;
  const std::string path = PathOf("round.scn");
  ASSERT_TRUE(SaveScan(*doc, path));

  CPelmoranDoc* back = OpenScanFile(path);
  ASSERT_NE(back, nullptr);
  EXPECT_EQ(back->m_strEndpoint, "MODBUS1");
  EXPECT_EQ(back->m_scan.m_strDelimiter, "#");
  EXPECT_EQ(back->m_scan.m_nSlaveNode, 255);
  EXPECT_EQ(back->m_scan.m_nPointType, 4);
  EXPECT_EQ(back->m_scan.m_nPointAddress, 9999);
  EXPECT_EQ(back->m_scan.m_nScanLength, 10);
  EXPECT_EQ(back->m_scan.m_nPollFrequency, 333);
  ASSERT_EQ(back->GetTagCount(), 5);
  for (int i = 0; i < 5; ++i) {
    EXPECT_EQ(back->GetTag(i)->m_nDataType, doc->GetTag(i)->m_nDataType);
    EXPECT_EQ(back->GetTag(i)->m_fLowLimit, doc->GetTag(i)->m_fLowLimit);
    EXPECT_EQ(back->GetTag(i)->m_fHighLimit, doc->GetTag(i)->m_fHighLimit);
    EXPECT_EQ(back->GetTagName(i), doc->GetTagName(i));
  }
  EXPECT_EQ(back->GetTagName(1), "MODBUS1#NODE255#310001");
}

}  // namespace
}  // namespace files_test
