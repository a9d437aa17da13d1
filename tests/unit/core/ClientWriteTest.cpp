// A client write answers its client with how it ended: refused at once with a
// specific status, or completed when its response comes back.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <string>

#include "pointdb/ClientWrites.h"
#include "pointdb/DataType.h"
#include "pointdb/ScanFile.h"
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

// Every data type against its range, at and beyond both ends: a value the
// type cannot hold is answered BadOutOfRange and nothing is sent.
TEST_F(ClientWriteFixture, AValueBeyondItsTypesRangeIsRefusedAndNotSent) {
  constexpr uint32_t kGood = OPC_STATUS_GOOD, kRange = OPC_STATUS_BAD_OUT_OF_RANGE;
  const TagFormat linear{.scaled = true, .rawLow = 0, .rawHigh = 4000, .engLow = 4, .engHigh = 20};
  struct Case {
    DataType type;
    const char* value;
    uint32_t expected;
    TagFormat format = {};
  };
  // clang-format off
  const Case cases[] = {
      {DataType::Unsigned, "-1", kRange}, {DataType::Unsigned, "0", kGood},
      {DataType::Unsigned, "65535", kGood}, {DataType::Unsigned, "65536", kRange},
      {DataType::Unsigned, "70000", kRange}, {DataType::Unsigned, "65535.5", kRange},
      {DataType::Integer, "-32769", kRange}, {DataType::Integer, "-32768", kGood},
      {DataType::Integer, "32767", kGood}, {DataType::Integer, "40000", kRange},
      {DataType::Integer, "NaN", kRange}, {DataType::Scaled4095, "1e30", kGood},
      {DataType::Scaled9999, "NaN", kRange}, {DataType::FloatLowWordFirst, "3.4e38", kGood},
      {DataType::FloatHighWordFirst, "1e39", kRange}, {DataType::FloatLowWordFirst, "NaN", kGood},
      {DataType::LongLowWordFirst, "-2147483649", kRange},
      {DataType::LongHighWordFirst, "2147483647", kGood},
      {DataType::LongLowWordFirst, "2147483648", kRange}, {DataType::UInt32CDAB, "-1", kRange},
      {DataType::UInt32ABCD, "4294967295", kGood}, {DataType::UInt32DCBA, "4294967296", kRange},
      {DataType::Int32BADC, "-2147483648", kGood}, {DataType::Float32DCBA, "-1e39", kRange},
      {DataType::UInt16BA, "65536", kRange}, {DataType::Int16BA, "-32769", kRange},
      {DataType::Int64ABCD, "-9223372036854775808", kGood},
      {DataType::Int64DCBA, "9223372036854775808", kRange},
      {DataType::UInt64ABCD, "18446744073709551615", kGood},
      {DataType::UInt64CDAB, "18446744073709551616", kRange}, {DataType::UInt64BADC, "-1", kRange},
      {DataType::Float64ABCD, "1e308", kGood}, {DataType::Float64DCBA, "NaN", kGood},
      {DataType::Bcd16, "-1", kRange}, {DataType::Bcd16, "9999", kGood},
      {DataType::Bcd16, "10000", kRange}, {DataType::Bcd32ABCD, "99999999", kGood},
      {DataType::Bcd32CDAB, "100000000", kRange}, {DataType::Bit, "true", kGood},
      {DataType::Bit, "maybe", OPC_STATUS_BAD_TYPE_MISMATCH}, {DataType::StringAB, "ab", kGood},
      {DataType::StringBA, "abc", kRange}, {DataType::Unsigned, "1e9", kGood, linear},
      {DataType::Integer, "NaN", kRange, linear},
  };
  // clang-format on
  CPelmoranDoc* doc = w.Scan("MODBUS1", 3, 1, 8);
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(static_cast<int>(c.type)) + " " + c.value);
    doc->SetTagFormat(0, static_cast<int32_t>(c.type), 0, 100, c.format);
    const size_t sent = w.modbus.Started().size();
    // Not a Number arrives as a Double: its text is no number to the conversion.
    const bool nan = std::string(c.value) == "NaN";
    OPCWriteToken token = Write(doc->GetTag(0)->m_hTag, nan ? Number(std::nan("")) : Text(c.value));
    EXPECT_EQ(w.modbus.Started().size(), sent + (c.expected == kGood ? 1 : 0));
    if (c.expected == kGood) FakeModbus::Respond(tcp->m_hConnection);
    EXPECT_EQ(StatusesOf(token), std::vector<uint32_t>{c.expected});
  }
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

TEST_F(ClientWriteFixture, AWriteGoesToTheScanThatPublishesItsHandleNow) {
  CPelmoranDoc* doc = w.Scan("MODBUS1", 3, 1, 2);
  const int32_t before = doc->GetTag(0)->m_hTag;
  doc->SetTagFormat(0, static_cast<int32_t>(DataType::LongLowWordFirst), 0, 0, {});
  const std::filesystem::path file =
      std::filesystem::temp_directory_path() / ("owners-" + std::to_string(getpid()) + ".scn");
  std::string message;
  ASSERT_TRUE(SaveScanFile(*doc, file.string(), message)) << message;
  CPelmoranDoc* loaded = w.app.m_docTemplate.OpenDocumentFile(file.string());
  std::filesystem::remove(file);
  ASSERT_NE(loaded, nullptr);
  CPelmoranDoc* closed = w.Scan("MODBUS1", 3, 50, 2);
  const int32_t gone = closed->GetTag(1)->m_hTag;
  w.app.m_docTemplate.CloseDocument(closed);
  struct Case {
    const char* what;
    int32_t handle;
    uint32_t expected;
  };
  const Case cases[] = {
      {"a tag published anew", doc->GetTag(0)->m_hTag, OPC_STATUS_GOOD},
      {"the handle it had before", before, OPC_STATUS_BAD_NODE_ID_UNKNOWN},
      {"a tag loaded from a scan file", loaded->GetTag(1)->m_hTag, OPC_STATUS_GOOD},
      {"a tag of a closed scan", gone, OPC_STATUS_BAD_NODE_ID_UNKNOWN},
  };
  for (const Case& c : cases) {
    OPCWriteToken token = Write(c.handle, Number(5));
    if (!tcp->m_queue.empty()) FakeModbus::Respond(tcp->m_hConnection);
    EXPECT_EQ(StatusesOf(token), std::vector<uint32_t>{c.expected}) << c.what;
  }
  EXPECT_EQ(w.modbus.Count("WriteMODBUS"), 2);
}

}  // namespace
