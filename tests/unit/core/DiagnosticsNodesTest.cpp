// The diagnostics variables as the tag server gets them: their names, types
// and values after polls, updates only on change, removal with their scan.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>

#include "runtime/DiagnosticsNodes.h"
#include "support/CoreWorld.h"

namespace {

struct DiagnosticsFixture : ::testing::Test {
  CoreWorld w;
  CModbusConnection* tcp = w.ConnectedTcpEndpoint("MODBUS1");
  DiagnosticsNodes nodes{w.app};

  const FakeTagServer::Tag& Node(const std::string& name) {
    const FakeTagServer::Tag* tag = w.tagServer.TagNamed("Diagnostics." + name);
    if (!tag) throw std::runtime_error("no variable " + name);
    return *tag;
  }
  void Cycle(CPelmoranDoc* doc) {
    doc->Poll();
    FakeModbus::Respond(tcp->m_hConnection);
  }
};

TEST_F(DiagnosticsFixture, EachVariableHasItsTypeAndFollowsThePolls) {
  CPelmoranDoc* doc = w.Scan("MODBUS1", 3, 1, 2, 0, 4);
  std::string scan = "MODBUS1.Scan" + std::to_string(doc->m_nKey) + ".";
  nodes.Refresh(1000);
  for (int i = 0; i < 4; ++i) Cycle(doc);
  nodes.Refresh(3000);
  struct Expect {
    std::string name;
    VARTYPE vt;
    double number;
  };
  const Expect expected[] = {
      {"MODBUS1.Connected", VT_BOOL, -1},
      {"MODBUS1.NODE4.Demoted", VT_BOOL, 0},
      {scan + "Status", VT_UI4, 0},
      {scan + "Polls", VT_UI4, 4},
      {scan + "ActualPollPeriodMs", VT_R8, 500},
  };
  for (const Expect& e : expected) {
    SCOPED_TRACE(e.name);
    EXPECT_EQ(Node(e.name).value.vt, e.vt);
    EXPECT_EQ(Node(e.name).value.number, e.number);
    EXPECT_EQ(Node(e.name).writable, 0);
  }
  EXPECT_EQ(Node(scan + "StatusText").value.text, "OK");
  EXPECT_EQ(Node("MODBUS1.DemotedSlaves").value.text, "");
  const FakeTagServer::Value& lastGood = Node(scan + "LastGoodTime").value;
  EXPECT_EQ(lastGood.vt, VT_DATE);
  // A DATE's double keeps the time to a few microseconds.
  EXPECT_NEAR(static_cast<double>(FileTimeFromVariantTime(lastGood.number)),
              static_cast<double>(doc->m_lastGoodTime), 100.0);
}

// Each variable sits in the folder of what it describes: the endpoint, a
// slave node on it, a scan; the folders hang from one "Diagnostics" folder
// and go when what they describe goes.
TEST_F(DiagnosticsFixture, VariablesSitInAFolderPerEndpointSlaveAndScan) {
  CPelmoranDoc* doc = w.Scan("MODBUS1", 3, 1, 1, 0, 4);
  std::string scan = "Diagnostics.MODBUS1.Scan" + std::to_string(doc->m_nKey);
  nodes.Refresh(1000);
  struct Expect {
    std::string variable;
    std::string folder;
    std::string parent;
  };
  const Expect expected[] = {
      {"MODBUS1.Connected", "Diagnostics.MODBUS1", "Diagnostics"},
      {"MODBUS1.NODE4.Timeouts", "Diagnostics.MODBUS1.NODE4", "Diagnostics.MODBUS1"},
      {"MODBUS1.Scan" + std::to_string(doc->m_nKey) + ".Polls", scan, "Diagnostics.MODBUS1"},
  };
  for (const Expect& e : expected) {
    SCOPED_TRACE(e.variable);
    const FakeTagServer::Folder* folder = w.tagServer.FolderNamed(e.folder);
    ASSERT_NE(folder, nullptr);
    EXPECT_EQ(w.tagServer.folders.at(Node(e.variable).folder).id, e.folder);
    EXPECT_EQ(w.tagServer.folders.at(folder->parent).id, e.parent);
  }
  EXPECT_EQ(w.tagServer.FolderNamed("Diagnostics")->parent, OPC_TAG_FOLDER);
  EXPECT_EQ(w.tagServer.Count("CreateOPCTag"), 1) << "only the scan's own tag";
  // Before a good answer the last good time is the null DateTime.
  EXPECT_EQ(FileTimeFromVariantTime(Node(scan.substr(12) + ".LastGoodTime").value.number), 0);

  w.app.CloseAllDocuments();
  nodes.Refresh(2000);
  EXPECT_EQ(w.tagServer.FolderNamed(scan), nullptr);
  EXPECT_EQ(w.tagServer.FolderNamed("Diagnostics.MODBUS1.NODE4"), nullptr);
  EXPECT_NE(w.tagServer.FolderNamed("Diagnostics.MODBUS1"), nullptr);
  // The variables went first, each by itself, then the emptied folders.
  std::vector<std::string> order = w.tagServer.Names();
  auto firstFolder = std::find(order.begin(), order.end(), "RemoveOPCFolder");
  EXPECT_EQ(std::count(firstFolder, order.end(), "RemoveOPCFolder"), 2);
  EXPECT_EQ(std::count(firstFolder, order.end(), "RemoveOPCTag"), 0);
  EXPECT_GT(std::count(order.begin(), firstFolder, "RemoveOPCTag"), 10);
}

TEST_F(DiagnosticsFixture, OnlyChangesAreUpdatedAndAClosedScanTakesItsVariables) {
  CPelmoranDoc* doc = w.Scan("MODBUS1", 3, 1, 1);
  std::string polls = "MODBUS1.Scan" + std::to_string(doc->m_nKey) + ".Polls";
  nodes.Refresh(1000);
  w.tagServer.Clear();
  nodes.Refresh(2000);
  EXPECT_EQ(w.tagServer.Count("UpdateOPCTag"), 0);
  w.modbus.responseStatus = 2;
  Cycle(doc);
  nodes.Refresh(3000);
  EXPECT_EQ(Node(polls).value.number, 1);
  EXPECT_EQ(Node("MODBUS1.Scan" + std::to_string(doc->m_nKey) + ".StatusText").value.text,
            "Slave Exception #2");
  // Only what changed: the counts and texts, never the endpoint's state.
  std::set<std::string> updated;
  for (const auto& call : w.tagServer.CallsOf("UpdateOPCTag"))
    updated.insert(w.tagServer.tags.at(call.handle).name);
  EXPECT_TRUE(updated.count("Diagnostics." + polls));
  EXPECT_TRUE(updated.count("Diagnostics.MODBUS1.NODE1.Exceptions"));
  EXPECT_FALSE(updated.count("Diagnostics.MODBUS1.Connected"));
  EXPECT_FALSE(updated.count("Diagnostics.MODBUS1.NODE1.Timeouts"));
  w.app.CloseAllDocuments();
  nodes.Refresh(4000);
  EXPECT_EQ(w.tagServer.TagNamed("Diagnostics." + polls), nullptr);
  EXPECT_NE(w.tagServer.TagNamed("Diagnostics.MODBUS1.Connected"), nullptr);
}

TEST_F(DiagnosticsFixture, ExchangesAreCountedPerSlaveAndPerEndpoint) {
  CPelmoranDoc* one = w.Scan("MODBUS1", 3, 1, 1, 0, 1);
  CPelmoranDoc* two = w.Scan("MODBUS1", 3, 1, 1, 0, 2);
  // Each scan polled once per status, in this order.
  const int32_t statuses[] = {
      0, 2, MBS_INVALID_CHECKSUM, MBS_SVR_NOT_CONNECTED, MBS_INVALID_RESPONSE, 0};
  for (int32_t status : statuses) {
    w.modbus.responseStatus = status;
    Cycle(one);
  }
  w.modbus.responseStatus = MBS_POLL_TIMEOUT;
  Cycle(two);
  // The endpoint's exchanges as its library connection counted them.
  w.modbus.counters = {.requests = 40,
                       .answers = 36,
                       .timeouts = 1,
                       .checksumErrors = 1,
                       .invalidResponses = 1,
                       .discarded = 2,
                       .linkLosses = 3};
  nodes.Refresh(1000);
  struct Expect {
    std::string name;
    double number;
  };
  const Expect expected[] = {
      {"MODBUS1.NODE1.Requests", 6},   {"MODBUS1.NODE1.Responses", 3},
      {"MODBUS1.NODE1.Exceptions", 1}, {"MODBUS1.NODE1.ChecksumErrors", 1},
      {"MODBUS1.NODE1.Mismatches", 1}, {"MODBUS1.NODE1.Timeouts", 0},
      {"MODBUS1.NODE2.Requests", 1},   {"MODBUS1.NODE2.Timeouts", 1},
      {"MODBUS1.NODE2.Responses", 0},  {"MODBUS1.Requests", 40},
      {"MODBUS1.Responses", 36},       {"MODBUS1.LateAnswersDiscarded", 2},
      {"MODBUS1.Mismatches", 1},       {"MODBUS1.Exceptions", 1},
      {"MODBUS1.NODE1.LinkLosses", 1}, {"MODBUS1.LinkLosses", 3},
  };
  for (const Expect& e : expected) {
    SCOPED_TRACE(e.name);
    EXPECT_EQ(Node(e.name).value.vt, VT_UI4);
    EXPECT_EQ(Node(e.name).value.number, e.number);
  }
  EXPECT_EQ(Node("MODBUS1.NODE1.LastError").value.text, "INVALID SLAVE RESPONSE");
  EXPECT_EQ(Node("MODBUS1.NODE2.LastError").value.text, "POLL TIMEOUT");
  EXPECT_EQ(Node("MODBUS1.NODE1.LastRoundTripMs").value.vt, VT_R8);
  EXPECT_GE(Node("MODBUS1.NODE1.LastRoundTripMs").value.number, 0);
}

}  // namespace
