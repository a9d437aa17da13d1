#include <gtest/gtest.h>

#include "support/CoreWorld.h"

namespace {

std::vector<std::string> CreatedNames(const FakeTagServer& server) {
  std::vector<std::string> names;
  for (const auto& call : server.CallsOf("CreateOPCTag")) names.push_back(call.name);
  return names;
}

TEST(TagNaming, RegisterNumbersArePaddedToFourDigitsOrWrittenInFull) {
  CModbusMsg scan;
  EXPECT_EQ(scan.MakeTagName(0, "MODBUS1"), "MODBUS1.NODE1.40001");
  EXPECT_EQ(scan.MakeTagName(9, "MODBUS1"), "MODBUS1.NODE1.40010");
  scan.m_nPointAddress = 9999;
  EXPECT_EQ(scan.MakeTagName(1, "MODBUS1"), "MODBUS1.NODE1.410000");
  scan.m_nPointAddress = 12345;
  EXPECT_EQ(scan.MakeTagName(0, "MODBUS1"), "MODBUS1.NODE1.412345");
  scan.m_nPointType = 1;
  scan.m_nSlaveNode = 17;
  scan.m_nPointAddress = 120;
  scan.m_strDelimiter = "_";
  EXPECT_EQ(scan.MakeTagName(0, "MODBUS1"), "MODBUS1_NODE17_00120");
  scan.m_strDelimiter = "";
  scan.m_nPointType = 3;
  scan.m_nSlaveNode = 1;
  scan.m_nPointAddress = 1;
  EXPECT_EQ(scan.MakeTagName(0, "MODBUS1"), "MODBUS1NODE140001");
}

TEST(TagNaming, NodeAndPointTypeDigits) {
  CModbusMsg scan;
  scan.m_nSlaveNode = 0;
  EXPECT_EQ(scan.MakeTagName(0, "E"), "E.NODE0.40001");
  scan.m_nSlaveNode = 255;
  EXPECT_EQ(scan.MakeTagName(0, "E"), "E.NODE255.40001");
  const char* digit[] = {"", "0", "1", "4", "3", ""};
  for (int type = 1; type <= 5; ++type) {
    scan.m_nPointType = static_cast<uint8_t>(type);
    EXPECT_EQ(scan.MakeTagName(4, "E"), std::string("E.NODE255.") + digit[type] + "0005") << type;
  }
}

TEST(ScanDocument, SixteenBitTypesGetOneTagPerRegister) {
  CoreWorld w;
  CPelmoranDoc* doc = w.Scan("MODBUS1", 3, 1, 16, 0);
  ASSERT_EQ(doc->GetTagCount(), 16);
  EXPECT_EQ(doc->m_scan.m_nTagCount, 16);
  auto names = CreatedNames(w.tagServer);
  ASSERT_EQ(names.size(), 16u);
  EXPECT_EQ(names[0], "MODBUS1.NODE1.40001");
  EXPECT_EQ(names[15], "MODBUS1.NODE1.40016");
  for (int i = 0; i < 16; ++i) EXPECT_EQ(doc->GetTagName(i), names[i]);
  for (const auto& call : w.tagServer.CallsOf("CreateOPCTag")) {
    EXPECT_EQ(call.quality, 0) << "a new scan has no value yet";
    EXPECT_EQ(call.flag, 1) << "holding registers are writable";
    EXPECT_EQ(call.value.vt, VT_EMPTY);
  }
  EXPECT_EQ(doc->m_scan.m_nStatus, 270);
  EXPECT_EQ(doc->m_nNumbrPolls, 0);
}

TEST(ScanDocument, ThirtyTwoBitTypesTakeTwoRegistersATag) {
  CoreWorld w;
  CPelmoranDoc* doc = w.Scan("MODBUS1", 3, 1, 16, 6);
  ASSERT_EQ(doc->GetTagCount(), 8);
  EXPECT_EQ(doc->GetTagName(0), "MODBUS1.NODE1.40001");
  EXPECT_EQ(doc->GetTagName(1), "MODBUS1.NODE1.40003");
  EXPECT_EQ(doc->GetTagName(7), "MODBUS1.NODE1.40015");
  EXPECT_EQ(CreatedNames(w.tagServer)[7], "MODBUS1.NODE1.40015");
  EXPECT_EQ(w.Scan("MODBUS1", 3, 1, 15, 4)->GetTagCount(), 7);
  EXPECT_EQ(w.Scan("MODBUS1", 3, 1, 1, 7)->GetTagCount(), 0);
}

TEST(ScanDocument, BitScansKeepOneUnsignedTagPerPointWhateverTheDefault) {
  CoreWorld w;
  w.SerialEndpoint("E", 1);
  CPelmoranDoc* coils = w.Scan("E", 1, 1, 4, 6);
  ASSERT_EQ(coils->GetTagCount(), 4);
  EXPECT_EQ(coils->GetTagName(3), "E.NODE1.00004");
  EXPECT_EQ(coils->GetTag(3)->m_nDataType, 0);
  EXPECT_EQ(w.Scan("E", 2, 1, 4, 4)->GetTagCount(), 4);
  VARIANT on;
  VariantInit(&on);
  on.vt = VT_BOOL;
  on.boolVal = VARIANT_TRUE;
  w.modbus.Clear();
  coils->HandleClientWrite(coils->GetTag(3)->m_hTag, &on);
  ASSERT_EQ(w.modbus.Started().size(), 1u);
  EXPECT_EQ(w.modbus.Started()[0].header.address, 4) << "the coil the tag is named after";
}

TEST(ScanDocument, TagsTakeTheDefaultRegisterConfiguration) {
  CoreWorld w;
  w.app.m_fDefaultLowLimit = -5.0f;
  w.app.m_fDefaultHighLimit = 5.0f;
  CPelmoranDoc* doc = w.Scan("E", 4, 300, 2, 3);
  for (int i = 0; i < 2; ++i) {
    CModbusTag* tag = doc->GetTag(i);
    ASSERT_NE(tag, nullptr);
    EXPECT_EQ(tag->m_nPointType, 4);
    EXPECT_EQ(tag->m_nDataType, 3);
    EXPECT_EQ(tag->m_fLowLimit, -5.0f);
    EXPECT_EQ(tag->m_fHighLimit, 5.0f);
  }
  EXPECT_EQ(doc->GetTag(2), nullptr);
  EXPECT_EQ(doc->GetTag(-1), nullptr);
  for (const auto& call : w.tagServer.CallsOf("CreateOPCTag"))
    EXPECT_EQ(call.flag, 0) << "inputs are read-only";
}

TEST(ScanDocument, WritableOnlyForCoilsAndHoldingRegisters) {
  CoreWorld w;
  for (int type = 1; type <= 4; ++type) w.Scan("E", type, 1, 1);
  auto calls = w.tagServer.CallsOf("CreateOPCTag");
  ASSERT_EQ(calls.size(), 4u);
  EXPECT_EQ(calls[0].flag, 1);
  EXPECT_EQ(calls[1].flag, 0);
  EXPECT_EQ(calls[2].flag, 1);
  EXPECT_EQ(calls[3].flag, 0);
}

TEST(ScanDocument, KeysStartAtTwoAndAreNeverReused) {
  CoreWorld w;
  CPelmoranDoc* first = w.Scan("E", 3, 1, 1);
  CPelmoranDoc* second = w.Scan("E", 3, 1, 1);
  EXPECT_EQ(first->m_nKey, 2);
  EXPECT_EQ(first->m_scan.m_nKey, 2);
  EXPECT_EQ(second->m_nKey, 3);
  w.app.CloseAllDocuments();
  EXPECT_EQ(w.Scan("E", 3, 1, 1)->m_nKey, 4);
}

TEST(ScanDocument, IdenticalScansAreTwoDocumentsWithTheSameNames) {
  CoreWorld w;
  CPelmoranDoc* a = w.Scan("E", 3, 1, 2);
  CPelmoranDoc* b = w.Scan("E", 3, 1, 2);
  EXPECT_NE(a->m_nKey, b->m_nKey);
  EXPECT_EQ(a->GetTagName(1), b->GetTagName(1));
  EXPECT_EQ(w.tagServer.LiveTagCount(), 4);
}

TEST(ScanDocument, DestructionRemovesOnlyPublishedTags) {
  CoreWorld w;
  CPelmoranDoc* doc = w.Scan("E", 3, 1, 3);
  doc->GetTag(1)->m_hTag = -1;
  w.tagServer.Clear();
  w.app.CloseAllDocuments();
  auto removed = w.tagServer.CallsOf("RemoveOPCTag");
  ASSERT_EQ(removed.size(), 2u);
  EXPECT_EQ(removed[0].handle, 1);
  EXPECT_EQ(removed[1].handle, 3);
}

TEST(ScanDocument, ATagTheServerRefusedIsNeverUpdatedOrRemoved) {
  CoreWorld w;
  w.tagServer.failCreate = true;
  CPelmoranDoc* doc = w.Scan("E", 3, 1, 2);
  EXPECT_EQ(doc->GetTag(0)->m_hTag, -1);
  doc->Poll();
  w.app.CloseAllDocuments();
  EXPECT_EQ(w.tagServer.Count("UpdateOPCTag"), 0);
  EXPECT_EQ(w.tagServer.Count("UpdateOPCTagStatus"), 0);
  EXPECT_EQ(w.tagServer.Count("RemoveOPCTag"), 0);
}

TEST(ScanDocument, FileNewWithoutADefinitionUsesTheFreshRecord) {
  CoreWorld w;
  CPelmoranDoc* doc = w.app.OnFileNew();
  ASSERT_NE(doc, nullptr);
  EXPECT_EQ(doc->m_strEndpoint, "");
  EXPECT_EQ(doc->m_scan.m_nScanLength, 16);
  EXPECT_EQ(doc->m_scan.m_nPollFrequency, 1000);
  EXPECT_EQ(doc->GetTagName(0), ".NODE1.40001");
}

TEST(DocumentTemplate, TitlesOrderViewsAndLookups) {
  CoreWorld w;
  CPelmoranDoc* a = w.Scan("E", 3, 1, 1);
  CPelmoranDoc* b = w.Scan("E", 3, 1, 1);
  CPelmoranDoc* c = w.Scan("E", 3, 1, 1);
  EXPECT_EQ(a->m_strTitle, "Pelmor1");
  EXPECT_EQ(c->m_strTitle, "Pelmor3");
  EXPECT_EQ(w.app.GetDocumentCount(), 3);
  EXPECT_EQ(w.app.FindDocumentByKey(3), b);
  EXPECT_EQ(w.app.FindDocumentByKey(9), nullptr);
  ASSERT_NE(w.ViewOf(a), nullptr);
  EXPECT_EQ(a->m_pView, w.ViewOf(a));
  EXPECT_EQ(w.views.events, (std::vector<std::string>{"create 2", "update 2", "create 3",
                                                      "update 3", "create 4", "update 4"}));
  w.app.m_docTemplate.CloseDocument(b);
  EXPECT_EQ(w.app.m_docTemplate.GetDocument(1), c) << "creation order kept";
  EXPECT_EQ(w.views.events.back(), "destroy 3");
  w.app.CloseAllDocuments();
  EXPECT_EQ(w.app.GetDocumentCount(), 0);
  EXPECT_EQ(w.views.events.back(), "destroy 4");
}

TEST(DocumentTemplate, AFileThatCannotBeReadOpensNothing) {
  CoreWorld w;
  CPelmoranDoc* doc = w.app.m_docTemplate.OpenDocumentFile("/nonexistent/dir/scan.scn");
  EXPECT_EQ(doc, nullptr);
  EXPECT_EQ(w.app.GetDocumentCount(), 0);
  EXPECT_EQ(w.views.events, (std::vector<std::string>{"create 2", "destroy 2"}));
  EXPECT_EQ(w.tagServer.LiveTagCount(), 0) << "the constructor's tags went with it";
}

TEST(DocumentTemplate, WithoutAViewFactoryDocumentsHaveNoView) {
  FakeTagServer server;
  Runtime app;
  CPelmoranDoc* doc = app.OnFileNew();
  ASSERT_NE(doc, nullptr);
  EXPECT_EQ(doc->m_pView, nullptr);
  EXPECT_EQ(doc->Poll(), 0) << "no frame: not connected, and no view to tell";
  EXPECT_EQ(doc->m_scan.m_nStatus, 266);
}

}  // namespace

// In the Daniels/ENRON 32-bit ranges one register holds a whole two-word
// value: the tag's name, its value and its writes all name that register.
TEST(TagNaming, DanielsWideRegistersAreOneTagEach) {
  struct Case {
    const char* what;
    int protocol;  // of the serial endpoint; -1 for Modbus/TCP
    int pointType;
    int address;
    std::vector<std::string> names;
    int secondTagWrite;  // point address the second tag's write goes to
  };
  const Case cases[] = {
      {"Daniels RTU, 7001", 3, 3, 7001, {"E.NODE1.47001", "E.NODE1.47002"}, 7002},
      {"Daniels ASCII, 5001", 2, 3, 5001, {"E.NODE1.45001", "E.NODE1.45002"}, 5002},
      {"Daniels input registers", 3, 4, 7001, {"E.NODE1.37001", "E.NODE1.37002"}, -1},
      {"Daniels outside the ranges", 3, 3, 3001, {"E.NODE1.43001", "E.NODE1.43003"}, 3003},
      {"standard RTU, 7001", 1, 3, 7001, {"E.NODE1.47001", "E.NODE1.47003"}, 7003},
      {"Modbus/TCP, 7001", -1, 3, 7001, {"E.NODE1.47001", "E.NODE1.47003"}, 7003},
  };
  for (const Case& c : cases) {
    CoreWorld w;
    CModbusConnection* endpoint =
        c.protocol < 0 ? w.ConnectedTcpEndpoint("E") : w.SerialEndpoint("E", 1);
    if (c.protocol >= 0) endpoint->m_nProtocol = c.protocol;
    w.modbus.Clear();
    CPelmoranDoc* doc = w.Scan("E", c.pointType, c.address, 4, 6);
    EXPECT_EQ(CreatedNames(w.tagServer), c.names) << c.what;
    EXPECT_EQ(doc->GetTagName(1), c.names[1]) << c.what;
    if (c.secondTagWrite < 0) continue;
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_I4;
    v.lVal = 0x12345678;
    ASSERT_TRUE(doc->WriteRegister(1, &v, doc->GetTag(1))) << c.what;
    ASSERT_EQ(w.modbus.Started().size(), 1u) << c.what;
    const RequestHeader sent = w.modbus.Started()[0].header;
    EXPECT_EQ(sent.function, 16) << c.what;
    EXPECT_EQ(sent.address, c.secondTagWrite) << c.what;
    EXPECT_EQ(sent.length, 2) << c.what;
  }
}
