#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <functional>

#include "support/CoreWorld.h"

namespace {

struct RegistryFixture : ::testing::Test {
  CoreWorld w;

  CModbusConnection* AddTcp(const std::string& name, const std::string& ip = "127.0.0.1",
                            int port = 502) {
    EndpointChoice choice = w.frame.ProposeEndpoint();
    choice.strName = name;
    choice.strIpAddress = ip;
    choice.nTcpPort = port;
    return w.frame.AddEndpoint(choice);
  }
};

TEST_F(RegistryFixture, NewProposesTheNextNameAndTheInitialValues) {
  EndpointChoice first = w.frame.ProposeEndpoint();
  EXPECT_EQ(first.strName, "MODBUS1");
  EXPECT_EQ(first.strIpAddress, "127.0.0.1");
  EXPECT_EQ(first.nTcpPort, 502);
  EXPECT_EQ(first.nCommPort, 0);
  EXPECT_EQ(first.serial.baudRate, 19200u);
  EXPECT_EQ(first.serial.wordLength, 8);
  EXPECT_EQ(first.serial.parity, 0);
  EXPECT_EQ(first.serial.stopBits, 0);
  EXPECT_EQ(first.serial.rtsControl, 3u);
  EXPECT_EQ(first.serial.dtrControl, 1u);
  AddTcp("MODBUS1");
  AddTcp("MODBUS2");
  EXPECT_EQ(w.frame.ProposeEndpoint().strName, "MODBUS3");
  AddTcp("MODBUS3");
  w.frame.RemoveEndpoint(1);
  EXPECT_EQ(w.frame.GetEndpointNames(), (std::vector<std::string>{"MODBUS1", "MODBUS3"}));
  EXPECT_EQ(w.frame.ProposeEndpoint().strName, "MODBUS3")
      << "counts, does not look for a free name";
}

TEST_F(RegistryFixture, ATcpEndpointConnectsOnlyWhenTheLibrarySaysSo) {
  CModbusConnection* e = AddTcp("PLC", "10.1.2.3", 70000);
  const FakeModbus::Call* connect = w.modbus.Last("ConnectTCP2");
  ASSERT_NE(connect, nullptr);
  EXPECT_EQ(connect->ipAddress, inet_addr("10.1.2.3"));
  EXPECT_EQ(connect->tcpPort, 4464u) << "the low 16 bits of the port";
  EXPECT_EQ(connect->tcp.protocol, 1);
  EXPECT_EQ(connect->tcp.timeoutMs, 2000u);
  EXPECT_EQ(e->m_hTcpConnection, 100);
  EXPECT_FALSE(e->IsConnected());
  EXPECT_FALSE(w.frame.IsEndpointConnected("PLC"));
  w.frame.OnConnectionEvent(MBS_EVENT_CONNECTED, 100);
  EXPECT_TRUE(w.frame.IsEndpointConnected("PLC"));
  EXPECT_EQ(e->m_hConnection, 100);
  const FakeModbus::Call* enable = w.modbus.Last("EnableModbusCallback");
  ASSERT_NE(enable, nullptr);
  EXPECT_EQ(enable->handle, 100);
  EXPECT_TRUE(enable->callbackSet);
}

TEST_F(RegistryFixture, AnUnparsableAddressIsKeptButNeverConnected) {
  CModbusConnection* e = AddTcp("BAD", "not an address");
  EXPECT_EQ(w.modbus.Count("ConnectTCP2"), 0);
  EXPECT_EQ(e->m_ipAddress, (std::array<uint8_t, 4>{255, 255, 255, 255}));
  EXPECT_EQ(w.frame.m_endpoints.size(), 1u);
  w.frame.ReconnectTcpEndpoints();
  EXPECT_EQ(w.modbus.Count("ConnectTCP2"), 0);
}

TEST_F(RegistryFixture, ASerialEndpointConnectsAtOnceWithRtu) {
  EndpointChoice choice = w.frame.ProposeEndpoint();
  choice.nCommPort = 3;
  choice.serial.parity = 2;
  CModbusConnection* e = w.frame.AddEndpoint(choice);
  const FakeModbus::Call* connect = w.modbus.Last("ConnectRTU");
  ASSERT_NE(connect, nullptr);
  EXPECT_EQ(connect->comPort, 3);
  EXPECT_EQ(connect->timeoutMs, 2000);
  EXPECT_EQ(connect->serial.parity, 2);
  EXPECT_TRUE(e->IsConnected());
  EXPECT_FALSE(e->m_bTcp);
  EXPECT_EQ(w.modbus.Last("EnableModbusCallback")->handle, e->m_hConnection);
  EXPECT_TRUE(w.frame.IsCommPortInUse(3));
  EXPECT_FALSE(w.frame.IsCommPortInUse(4));
  AddTcp("TCP", "127.0.0.1", 4);
  EXPECT_FALSE(w.frame.IsCommPortInUse(4)) << "a TCP port is not a COM port";
}

TEST_F(RegistryFixture, SerialProtocolsAndAFailedConnect) {
  const char* calls[] = {"ConnectASCII", "ConnectRTU", "ConnectDanielsASCII", "ConnectDanielsRTU"};
  for (int protocol = 0; protocol <= 3; ++protocol) {
    CModbusConnection e;
    e.m_bTcp = 0;
    e.m_nPort = protocol + 1;
    e.m_nProtocol = protocol;
    EXPECT_TRUE(e.ConnectSerial());
    EXPECT_EQ(w.modbus.calls[w.modbus.calls.size() - 2].fn, calls[protocol]);
  }
  w.modbus.Clear();
  CModbusConnection bad;
  bad.m_nProtocol = 4;
  EXPECT_FALSE(bad.ConnectSerial());
  EXPECT_TRUE(w.modbus.calls.empty());
  w.modbus.connectResult = -1;
  CModbusConnection refused;
  EXPECT_FALSE(refused.ConnectSerial());
  EXPECT_EQ(w.modbus.Count("EnableModbusCallback"), 0);
}

TEST_F(RegistryFixture, EventsMatchTheFirstTcpEndpointOnly) {
  EndpointChoice serialChoice = w.frame.ProposeEndpoint();
  serialChoice.nCommPort = 1;
  CModbusConnection* serial = w.frame.AddEndpoint(serialChoice);  // handle 100
  CModbusConnection* tcp = AddTcp("TCP");                         // pending handle 101
  w.frame.OnConnectionEvent(MBS_EVENT_CONNECTED, 100);
  w.frame.OnConnectionEvent(MBS_EVENT_TERMINATED, 100);
  EXPECT_TRUE(serial->IsConnected()) << "serial endpoints are never looked at";
  EXPECT_FALSE(tcp->IsConnected());
  w.frame.OnConnectionEvent(7, 101);
  EXPECT_FALSE(tcp->IsConnected());
  w.frame.OnConnectionEvent(MBS_EVENT_CONNECTED, 555);
  EXPECT_FALSE(tcp->IsConnected());
  w.frame.OnConnectionEvent(MBS_EVENT_CONNECTED, 101);
  EXPECT_TRUE(tcp->IsConnected());
}

TEST_F(RegistryFixture, TerminationDetachesReleasesTheQueueAndClosesNothing) {
  CModbusConnection* tcp = w.ConnectedTcpEndpoint("TCP");
  CPelmoranDoc* a = w.Scan("TCP", 3, 1, 2);
  CPelmoranDoc* b = w.Scan("TCP", 3, 50, 2);
  a->Poll();
  b->Poll();
  w.modbus.Clear();
  w.frame.OnConnectionEvent(MBS_EVENT_TERMINATED, tcp->m_hConnection);
  EXPECT_FALSE(tcp->IsConnected());
  EXPECT_EQ(tcp->m_hTcpConnection, 100) << "the pending handle is kept";
  EXPECT_TRUE(tcp->m_queue.empty());
  EXPECT_EQ(a->m_scan.m_nStatus, 266);
  EXPECT_EQ(b->m_scan.m_nStatus, 266);
  EXPECT_EQ(w.ViewOf(a)->scanCompletes, 1);
  EXPECT_EQ(w.ViewOf(b)->scanCompletes, 1);
  EXPECT_EQ(w.modbus.Count("CloseConnection"), 0);
  const FakeModbus::Call* disable = w.modbus.Last("EnableModbusCallback");
  ASSERT_NE(disable, nullptr);
  EXPECT_EQ(disable->handle, 100);
  EXPECT_FALSE(disable->callbackSet);
}

TEST_F(RegistryFixture, TerminationOfAPendingHandleDetaches) {
  CModbusConnection* tcp = AddTcp("TCP");
  w.frame.OnConnectionEvent(MBS_EVENT_TERMINATED, tcp->m_hTcpConnection);
  EXPECT_FALSE(tcp->IsConnected());
  EXPECT_EQ(w.modbus.Count("CloseConnection"), 0);
}

TEST_F(RegistryFixture, TheTimerReconnectsOnlyTcpEndpointsWithoutAConnection) {
  CModbusConnection* up = w.ConnectedTcpEndpoint("UP");  // 100
  CModbusConnection* pending = AddTcp("PENDING");        // 101
  EndpointChoice serialChoice = w.frame.ProposeEndpoint();
  serialChoice.nCommPort = 2;
  w.modbus.connectResult = -1;
  w.frame.AddEndpoint(serialChoice);
  w.modbus.connectResult.reset();
  w.modbus.Clear();
  w.frame.ReconnectTcpEndpoints();
  EXPECT_EQ(w.modbus.Names(), (std::vector<std::string>{"CloseConnection", "ConnectTCP2"}));
  EXPECT_EQ(w.modbus.calls[0].handle, 101) << "the replaced pending handle is closed";
  EXPECT_EQ(pending->m_hTcpConnection, 102);
  EXPECT_EQ(up->m_hConnection, 100);
  w.frame.OnConnectionEvent(MBS_EVENT_CONNECTED, 101);
  EXPECT_FALSE(pending->IsConnected()) << "the replaced handle no longer counts";
}

TEST_F(RegistryFixture, RoutingReachesTheEndpointOfTheHandle) {
  CModbusConnection* a = w.ConnectedTcpEndpoint("A");
  CModbusConnection* b = w.ConnectedTcpEndpoint("B");
  CPelmoranDoc* docA = w.Scan("A", 3, 1, 1);
  CPelmoranDoc* docB = w.Scan("B", 3, 1, 1);
  docA->Poll();
  docB->Poll();
  FakeModbus::Respond(b->m_hConnection);
  EXPECT_EQ(docB->m_scan.m_nStatus, 0);
  EXPECT_EQ(docA->m_scan.m_nStatus, 270);
  for (int handle : {12345, -1}) {
    ModbusAnswer stray;
    stray.handle = handle;
    stray.status = 0;
    w.frame.RouteModbusCallback(stray);
  }
  EXPECT_EQ(a->m_queue.size(), 1u);
  FakeModbus::Respond(a->m_hConnection);
  EXPECT_EQ(docA->m_scan.m_nStatus, 0) << "listening without a post routes at once";
}

TEST_F(RegistryFixture, ADispatcherCanTakeTheCallbackElsewhere) {
  std::vector<int> posted;
  SetModbusCallbackDispatcher([&](ModbusAnswer answer) { posted.push_back(answer.handle); });
  OnModbusCallback(7, 0, 0);
  SetModbusCallbackDispatcher(nullptr);
  EXPECT_EQ(posted, std::vector<int>{7});
}

TEST_F(RegistryFixture, AnAnswerIsReadAsTheLibraryCallsBackAndRoutedWhereItIsPosted) {
  std::vector<std::function<void()>> posted;
  w.frame.ListenForAnswers([&](std::function<void()> call) { posted.push_back(std::move(call)); });
  CModbusConnection* tcp = w.ConnectedTcpEndpoint("A");
  CPelmoranDoc* doc = w.Scan("A", 3, 1, 1);
  w.modbus.memory[1] = 7;
  w.modbus.answeredAt = 1234;
  doc->Poll();
  FakeModbus::Respond(tcp->m_hConnection);
  EXPECT_EQ(w.modbus.Count("MODBUSResponse"), 1) << "read as the library called back";
  EXPECT_EQ(tcp->m_queue.size(), 1u) << "routed only where it is posted";
  w.modbus.memory[1] = 8;  // what a later read would find
  w.modbus.answeredAt = 0;
  ASSERT_EQ(posted.size(), 1u);
  posted[0]();
  EXPECT_EQ(w.modbus.Count("MODBUSResponse"), 1);
  EXPECT_EQ(doc->m_scan.m_data[0], 7);
  EXPECT_EQ(doc->m_lastGoodTime, 1234);

  doc->Poll();
  FakeModbus::Respond(tcp->m_hConnection);
  w.frame.StopListening();
  ASSERT_EQ(posted.size(), 2u);
  posted[1]();
  EXPECT_EQ(tcp->m_queue.size(), 1u) << "an answer on its way when listening stopped is dropped";
  FakeModbus::Respond(tcp->m_hConnection);
  EXPECT_EQ(w.modbus.Count("MODBUSResponse"), 2) << "and none is read after";
}

TEST_F(RegistryFixture, SendAndCloseByName) {
  CModbusConnection* tcp = w.ConnectedTcpEndpoint("TCP");
  EndpointChoice serialChoice = w.frame.ProposeEndpoint();
  serialChoice.strName = "COM";
  serialChoice.nCommPort = 1;
  CModbusConnection* serial = w.frame.AddEndpoint(serialChoice);
  CModbusMsg request;
  EXPECT_EQ(w.frame.SendToEndpoint("tcp", &request), 0) << "names compare case-sensitively";
  EXPECT_EQ(w.frame.FindEndpoint("TCP"), tcp);
  EXPECT_EQ(w.frame.FindEndpoint("nobody"), nullptr);
  w.frame.CloseEndpoint("COM");
  EXPECT_TRUE(serial->IsConnected());
  w.frame.CloseEndpoint("TCP");
  EXPECT_FALSE(tcp->IsConnected());
  w.frame.CloseEndpoint("nobody");
}

TEST_F(RegistryFixture, RemovingAConnectedEndpointClosesItAndItsScansGet266) {
  EndpointChoice choice = w.frame.ProposeEndpoint();
  choice.nCommPort = 1;
  CModbusConnection* serial = w.frame.AddEndpoint(choice);
  int handle = serial->m_hConnection;
  CPelmoranDoc* doc = w.Scan("MODBUS1", 3, 1, 2);
  doc->Poll();
  w.frame.RemoveEndpoint(5);
  EXPECT_EQ(w.frame.m_endpoints.size(), 1u) << "a position outside the list removes nothing";
  w.frame.RemoveEndpoint(0);
  EXPECT_TRUE(w.frame.m_endpoints.empty());
  ASSERT_NE(w.modbus.Last("CloseConnection"), nullptr);
  EXPECT_EQ(w.modbus.Last("CloseConnection")->handle, handle);
  EXPECT_EQ(doc->m_scan.m_nStatus, 266) << "its outstanding poll was released";
  EXPECT_EQ(doc->Poll(), 0);
  EXPECT_EQ(doc->m_scan.m_nStatus, 266);
}

TEST_F(RegistryFixture, RemovingAPendingEndpointClosesItsHandle) {
  AddTcp("PENDING");
  w.frame.RemoveAllEndpoints();
  EXPECT_EQ(w.modbus.Names().back(), "CloseConnection");
  EXPECT_EQ(w.modbus.Last("CloseConnection")->handle, 100);
  EXPECT_TRUE(w.frame.m_endpoints.empty());
}

// Edited while it runs: the old connection closes, its polls are released,
// and the new settings connect in the same place of the list.
TEST_F(RegistryFixture, AnEndpointEditedInPlaceReconnectsWithItsNewSettings) {
  AddTcp("FIRST");
  CModbusConnection* old = AddTcp("PLC", "10.1.2.3", 502);
  AddTcp("LAST");
  w.frame.OnConnectionEvent(MBS_EVENT_CONNECTED, old->m_hTcpConnection);
  const int handle = old->m_hConnection;
  CPelmoranDoc* doc = w.Scan("PLC", 3, 1, 2);
  EXPECT_EQ(doc->Poll(), 1);
  EndpointChoice choice = ChoiceOf(*old);
  EXPECT_EQ(choice.strIpAddress, "10.1.2.3");
  EXPECT_EQ(choice.nTimeoutMs, 2000);
  choice.strIpAddress = "10.1.2.4";
  choice.nTcpPort = 1502;
  choice.nTimeoutMs = 750;
  CModbusConnection* made = w.frame.ReplaceEndpoint(1, choice);
  ASSERT_NE(made, nullptr);
  EXPECT_EQ(w.frame.GetEndpointNames(), (std::vector<std::string>{"FIRST", "PLC", "LAST"}));
  EXPECT_EQ(w.frame.m_endpoints[1].get(), made);
  EXPECT_EQ(w.modbus.Last("CloseConnection")->handle, handle);
  EXPECT_EQ(doc->m_scan.m_nStatus, 266) << "the poll out on the old connection was released";
  const FakeModbus::Call* connect = w.modbus.Last("ConnectTCP2");
  EXPECT_EQ(connect->ipAddress, inet_addr("10.1.2.4"));
  EXPECT_EQ(connect->tcpPort, 1502u);
  EXPECT_EQ(connect->tcp.timeoutMs, 750u);
  EXPECT_EQ(w.frame.ReplaceEndpoint(3, choice), nullptr);
  EXPECT_EQ(w.frame.m_endpoints.size(), 3u);
}

// A scan edited while it runs keeps its title and file; its tags are those
// of the new definition.
TEST_F(RegistryFixture, AScanRedefinedKeepsItsTitleAndFileWithTheNewTags) {
  CPelmoranDoc* doc = w.Scan("PLC", 3, 1, 2);
  doc->m_strTitle = "boiler.scn";
  doc->m_strPathName = "/plant/boiler.scn";
  CModbusMsg definition;
  definition.Copy(doc->m_scan);
  definition.m_nPointAddress = 101;
  definition.m_nScanLength = 4;
  definition.m_nSlaveNode = 7;
  CPelmoranDoc* made = w.app.RedefineScan(*doc, definition, "PLC2");
  EXPECT_EQ(w.app.GetDocumentCount(), 1);
  EXPECT_EQ(w.app.m_docTemplate.GetDocument(0), made);
  EXPECT_EQ(made->m_strTitle, "boiler.scn");
  EXPECT_EQ(made->m_strPathName, "/plant/boiler.scn");
  EXPECT_EQ(made->m_strEndpoint, "PLC2");
  EXPECT_EQ(made->GetTagCount(), 4);
  EXPECT_EQ(made->GetTagName(0), w.Scan("PLC2", 3, 101, 1, 0, 7)->GetTagName(0));
}

TEST_F(RegistryFixture, TheRuntimesDocumentsReachTheRuntimesRegistry) {
  EXPECT_EQ(w.app.m_pLink, &w.frame);
  CPelmoranDoc* doc = w.Scan("NOWHERE", 3, 1, 2);
  EXPECT_EQ(&doc->m_context, &w.app);
}

// Every network kind reaches the library through its own entry point, with
// a host name where one was given; a serial framing over a network is a line
// that the library keeps trying itself, up only once it reports the host.
struct NetworkCase {
  const char* address;
  int protocol;
  int pauseMs, retries;
  const char* connect;
  const char* host;
  int transport, framing;
  bool daniels;
};

class NetworkKindTest : public RegistryFixture,
                        public ::testing::WithParamInterface<NetworkCase> {};

TEST_P(NetworkKindTest, TheKindPicksTheConnectionAndItsSettingsFollow) {
  const NetworkCase& c = GetParam();
  EndpointChoice choice = w.frame.ProposeEndpoint();
  choice.strName = "NET";
  choice.strIpAddress = c.address;
  choice.nTcpPort = 4001;
  choice.nProtocol = c.protocol;
  choice.nPauseMs = c.pauseMs;
  choice.nRetries = c.retries;
  CModbusConnection* e = w.frame.AddEndpoint(choice);
  const FakeModbus::Call* call = w.modbus.Last(c.connect);
  ASSERT_NE(call, nullptr);
  EXPECT_EQ(w.modbus.Count("ConnectTCP2"), std::string(c.connect) == "ConnectTCP2" ? 1 : 0);
  EXPECT_EQ(call->host, c.host);
  EXPECT_EQ(call->tcpPort, 4001u);
  EXPECT_EQ(w.frame.HasDanielsRegisters("NET"), c.daniels);
  const FakeModbus::Call* pause = w.modbus.Last("SetRequestPause");
  EXPECT_EQ(pause ? pause->values[0] : 0u, static_cast<uint32_t>(c.pauseMs));
  const FakeModbus::Call* retries = w.modbus.Last("SetRequestRetries");
  EXPECT_EQ(retries ? retries->values[0] : 0u, static_cast<uint32_t>(c.retries));
  if (std::string(c.connect) != "ConnectNetLine") return;
  EXPECT_EQ(call->transport, c.transport);
  EXPECT_EQ(call->framing, c.framing);
  EXPECT_TRUE(e->IsConnected());
  EXPECT_FALSE(w.frame.IsEndpointConnected("NET")) << "not before the host is reached";
  w.frame.OnConnectionEvent(MBS_EVENT_CONNECTED, e->m_hConnection);
  EXPECT_TRUE(w.frame.IsEndpointConnected("NET"));
  w.frame.OnConnectionEvent(MBS_EVENT_TERMINATED, e->m_hConnection);
  EXPECT_FALSE(w.frame.IsEndpointConnected("NET"));
  w.frame.CloseEndpoint("NET");
  w.frame.ReconnectTcpEndpoints();
  w.frame.ReconnectDueEndpoints();
  EXPECT_EQ(w.modbus.Count("ConnectNetLine"), 1) << "the library tries again itself";
  EXPECT_EQ(w.modbus.Count("CloseConnection"), 0);
  w.frame.OnConnectionEvent(MBS_EVENT_CONNECTED, e->m_hConnection);
  EXPECT_TRUE(w.frame.IsEndpointConnected("NET"));
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, NetworkKindTest,
    ::testing::Values(
        NetworkCase{"10.1.2.3", 1, 0, 0, "ConnectTCP2", "", 0, 0, false},
        NetworkCase{"plc-7.plant", 1, 25, 0, "ConnectTCPHost", "plc-7.plant", 0, 0, false},
        NetworkCase{"10.1.2.3", 5, 0, 0, "ConnectNetLine", "10.1.2.3", MBS_NET_TCP, MBS_FRAMING_RTU,
                    false},
        NetworkCase{"gw", 6, 0, 0, "ConnectNetLine", "gw", MBS_NET_TCP, MBS_FRAMING_DANIELS_ASCII,
                    true},
        NetworkCase{"gw", 8, 0, 2, "ConnectNetLine", "gw", MBS_NET_UDP, MBS_FRAMING_MBAP, false},
        NetworkCase{"gw", 10, 40, 3, "ConnectNetLine", "gw", MBS_NET_UDP, MBS_FRAMING_RTU, false}));

// A serial endpoint's line settings reach the library when it opens, and only
// those set: the driver's RS-485 mode, the port other masters share.
TEST_F(RegistryFixture, ASerialEndpointsLineSettingsReachTheLibraryWhenItOpens) {
  struct Case {
    const char* call;
    int rs485Mode, rs485Before, rs485After;
    int sharePort, shareClients, shareQueued;
    std::vector<uint32_t> values;  // what the call is given; none: not called
  };
  const Case cases[] = {
      {"SetRs485Mode", MBS_RS485_RTS_AFTER_SEND, 2, 3, 0, 0, 0, {2, 2, 3}},
      {"SetRs485Mode", 0, 2, 3, 0, 0, 0, {}},
      {"ShareLine", 0, 0, 0, 0, 3, 3, {}},
      {"ShareLine", 0, 0, 0, 5020, 0, 0, {5020, 0, 0}},
      {"ShareLine", 0, 0, 0, 1502, 2, 8, {1502, 2, 8}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.call) + " " + std::to_string(c.values.size()));
    EndpointChoice choice = w.frame.ProposeEndpoint();
    choice.nCommPort = 4;
    choice.nRs485Mode = c.rs485Mode;
    choice.nRs485BeforeMs = c.rs485Before;
    choice.nRs485AfterMs = c.rs485After;
    choice.nSharePort = c.sharePort;
    choice.nShareClients = c.shareClients;
    choice.nShareQueued = c.shareQueued;
    const int before = w.modbus.Count(c.call);
    CModbusConnection* e = w.frame.AddEndpoint(choice);
    ASSERT_EQ(w.modbus.Count(c.call), before + (c.values.empty() ? 0 : 1));
    if (c.values.empty()) continue;
    const FakeModbus::Call* call = w.modbus.Last(c.call);
    EXPECT_EQ(call->handle, e->m_hConnection);
    EXPECT_EQ(call->values, c.values);
  }
}

}  // namespace
