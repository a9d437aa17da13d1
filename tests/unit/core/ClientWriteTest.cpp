// A client write answers its client with how it ended: refused at once with a
// specific status, or completed when its response comes back.
#include <gtest/gtest.h>

#include "pointdb/ClientWrites.h"
#include "support/CoreWorld.h"
#include "support/Variants.h"

namespace {

struct ClientWriteFixture : ::testing::Test {
  CoreWorld w;
  CModbusConnection* tcp = nullptr;
  OPCWriteToken nextToken = 1;

  void SetUp() override { tcp = w.ConnectedTcpEndpoint("MODBUS1"); }
  // Offers the value to the runtime as the program's callback does; the token.
  OPCWriteToken Write(int32_t handle, VARIANT value) {
    OPCWriteToken token = nextToken++;
    w.app.OfferClientWrite(handle, &value, token);
    VariantClear(&value);
    return token;
  }
  std::vector<uint32_t> StatusesOf(OPCWriteToken token) const {
    std::vector<uint32_t> out;
    for (const auto& [t, status] : w.tagServer.completions)
      if (t == token) out.push_back(status);
    return out;
  }
};

TEST(ClientWriteStatus, EachModbusOutcomeHasItsOpcUaStatus) {
  const std::pair<int32_t, uint32_t> table[] = {
      {MBS_OK, OPC_STATUS_GOOD},
      {1, OPC_STATUS_BAD_DEVICE_FAILURE},
      {2, OPC_STATUS_BAD_DEVICE_FAILURE},
      {255, OPC_STATUS_BAD_DEVICE_FAILURE},
      {MBS_POLL_TIMEOUT, OPC_STATUS_BAD_TIMEOUT},
      {MBS_INVALID_CHECKSUM, OPC_STATUS_BAD_COMMUNICATION_ERROR},
      {MBS_INVALID_RESPONSE, OPC_STATUS_BAD_COMMUNICATION_ERROR},
      {MBS_WRITE_FAILURE, OPC_STATUS_BAD_COMMUNICATION_ERROR},
      {MBS_CHANNEL_NOT_CONNECTED, OPC_STATUS_BAD_NOT_CONNECTED},
      {MBS_SVR_NOT_CONNECTED, OPC_STATUS_BAD_NOT_CONNECTED},
      {MBS_INVALID_HANDLE, OPC_STATUS_BAD_NOT_CONNECTED},
      {MBS_INVALID_ADDRESS, OPC_STATUS_BAD_OUT_OF_RANGE},
      {ToNumber(ScanStatus::DeviceDemoted), OPC_STATUS_BAD_OUT_OF_SERVICE},
  };
  for (const auto& [modbus, opc] : table)
    EXPECT_EQ(clientwrites::StatusOf(modbus), opc) << "Modbus status " << modbus;
}

TEST_F(ClientWriteFixture, AWriteThatCannotGoOutIsAnsweredAtOnceWithWhy) {
  struct Case {
    const char* what;
    std::string endpoint;
    int pointType, address, dataType;
    VARIANT value;
    uint32_t expected;
  };
  VARIANT text;
  VariantInit(&text);
  text.vt = VT_BSTR;
  text.bstrVal = SysAllocString("not a number");
  Case cases[] = {
      {"text to a register", "MODBUS1", 3, 1, 0, text, OPC_STATUS_BAD_TYPE_MISMATCH},
      {"too large for a signed register", "MODBUS1", 3, 1, 1, Number(1e20),
       OPC_STATUS_BAD_OUT_OF_RANGE},
      {"an input register", "MODBUS1", 4, 1, 0, Number(1), OPC_STATUS_BAD_NOT_WRITABLE},
      {"two words from 65535", "MODBUS1", 3, 65535, 4, Number(1.5), OPC_STATUS_BAD_OUT_OF_RANGE},
      {"an endpoint that is not there", "NOPE", 3, 1, 0, Number(1), OPC_STATUS_BAD_NOT_CONNECTED},
  };
  for (Case& c : cases) {
    CPelmoranDoc* doc = w.Scan(c.endpoint, c.pointType, c.address, 2, c.dataType);
    OPCWriteToken token = Write(doc->GetTag(0)->m_hTag, c.value);
    EXPECT_EQ(StatusesOf(token), std::vector<uint32_t>{c.expected}) << c.what;
  }
  EXPECT_EQ(w.modbus.Count("WriteMODBUS"), 0);
  OPCWriteToken orphan = Write(9999, Number(1));
  EXPECT_EQ(StatusesOf(orphan), std::vector<uint32_t>{OPC_STATUS_BAD_NODE_ID_UNKNOWN});
}

TEST_F(ClientWriteFixture, AWriteThatWentOutIsAnsweredWithItsResponse) {
  const std::pair<int, uint32_t> outcomes[] = {
      {MBS_OK, OPC_STATUS_GOOD},
      {2, OPC_STATUS_BAD_DEVICE_FAILURE},
      {MBS_POLL_TIMEOUT, OPC_STATUS_BAD_TIMEOUT},
      {MBS_INVALID_RESPONSE, OPC_STATUS_BAD_COMMUNICATION_ERROR},
  };
  for (const auto& [status, expected] : outcomes) {
    tcp = w.ConnectedTcpEndpoint("EP" + std::to_string(status));
    CPelmoranDoc* doc = w.Scan(tcp->m_strName, 3, 1, 2);
    w.modbus.responseStatus = status;
    OPCWriteToken token = Write(doc->GetTag(1)->m_hTag, Number(7));
    EXPECT_TRUE(StatusesOf(token).empty()) << "not before the device answered";
    FakeModbus::Respond(tcp->m_hConnection);
    EXPECT_EQ(StatusesOf(token), std::vector<uint32_t>{expected}) << "Modbus status " << status;
  }
}

TEST_F(ClientWriteFixture, WritesToOneTagGoOutInOrderAndAReplacedOneSharesTheAnswer) {
  CPelmoranDoc* doc = w.Scan("MODBUS1", 3, 10, 2);
  int32_t handle = doc->GetTag(0)->m_hTag;
  OPCWriteToken first = Write(handle, Number(1));  // out at once
  OPCWriteToken second = Write(handle, Number(2));
  OPCWriteToken third = Write(handle, Number(3));  // takes the second's place
  FakeModbus::Respond(tcp->m_hConnection);
  w.modbus.responseStatus = 2;
  FakeModbus::Respond(tcp->m_hConnection);
  std::vector<uint16_t> sent;
  for (const FakeModbus::Call& c : w.modbus.Started()) sent.push_back(c.data.at(0));
  EXPECT_EQ(sent, (std::vector<uint16_t>{1, 3}));
  EXPECT_EQ(StatusesOf(first), std::vector<uint32_t>{OPC_STATUS_GOOD});
  EXPECT_EQ(StatusesOf(second), std::vector<uint32_t>{OPC_STATUS_BAD_DEVICE_FAILURE});
  EXPECT_EQ(StatusesOf(third), std::vector<uint32_t>{OPC_STATUS_BAD_DEVICE_FAILURE});
}

TEST_F(ClientWriteFixture, AWriteStillOutIsAnsweredWhenItsEndpointOrItsScanGoes) {
  CPelmoranDoc* doc = w.Scan("MODBUS1", 3, 1, 2);
  OPCWriteToken dropped = Write(doc->GetTag(0)->m_hTag, Number(5));
  tcp->Close();
  EXPECT_EQ(StatusesOf(dropped), std::vector<uint32_t>{OPC_STATUS_BAD_NOT_CONNECTED});

  tcp = w.ConnectedTcpEndpoint("MODBUS2");
  doc = w.Scan("MODBUS2", 3, 1, 2);
  OPCWriteToken orphaned = Write(doc->GetTag(0)->m_hTag, Number(6));
  w.app.m_docTemplate.CloseDocument(doc);
  FakeModbus::Respond(tcp->m_hConnection);
  EXPECT_EQ(StatusesOf(orphaned), std::vector<uint32_t>{OPC_STATUS_GOOD});
  EXPECT_EQ(w.modbus.memory[1], 6);
}

}  // namespace
