#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <memory>

#include "pointdb/DataType.h"
#include "support/CoreWorld.h"

namespace {

// A holding-register scan whose last poll succeeded, with the given words.
struct DecodeFixture : ::testing::Test {
  CoreWorld w;
  CPelmoranDoc* doc = nullptr;

  void Make(int dataType, std::vector<uint16_t> words, float low = 0.0f, float high = 100.0f) {
    doc = w.Scan("E", 3, 1, static_cast<int>(std::max<size_t>(words.size(), 2)), dataType);
    std::copy(words.begin(), words.end(), doc->m_scan.m_data);
    doc->m_scan.m_nStatus = 0;
    for (auto& tag : doc->m_tags) {
      tag->m_fLowLimit = low;
      tag->m_fHighLimit = high;
    }
  }
  float Decode(int i = 0) { return doc->DecodeTag(doc->GetTag(i), i); }
  std::string Value(int i = 0) {
    std::string value = "untouched", type, low, high;
    doc->FormatTag(i, value, type, low, high);
    return value;
  }
  std::vector<std::string> Row(int i = 0) {
    std::string value = "untouched", type = "x", low = "x", high = "x";
    doc->FormatTag(i, value, type, low, high);
    return {value, type, low, high};
  }
};

TEST_F(DecodeFixture, UnsignedAndInteger) {
  Make(0, {65535, 0});
  EXPECT_EQ(Decode(), 65535.0f);
  EXPECT_EQ(Row(), (std::vector<std::string>{"65535", "UNSIGNED", "", ""}));
  doc->GetTag(0)->m_nDataType = 1;
  EXPECT_EQ(Decode(), -1.0f);
  EXPECT_EQ(Row(), (std::vector<std::string>{"-1", "INTEGER", "", ""}));
  doc->m_scan.m_data[0] = 0x8000;
  EXPECT_EQ(Value(), "-32768");
}

TEST_F(DecodeFixture, Scaled4095EndPointsAndFormula) {
  Make(2, {0, 2048, 4095, 5000});
  EXPECT_EQ(Decode(0), 0.0f);
  EXPECT_NEAR(Decode(1), 50.0122, 1e-4);
  EXPECT_EQ(Decode(1), static_cast<float>(100.0L * (2048 / 4095.0L)));
  EXPECT_EQ(Decode(2), 100.0f);
  EXPECT_EQ(Decode(3), 100.0f);
  EXPECT_EQ(Row(1), (std::vector<std::string>{"50.01", "Scaled 0-4095", "0.00", "100.00"}));
}

TEST_F(DecodeFixture, Scaled9999EndPointsAndFormula) {
  Make(3, {0, 9999, 10000, 5000}, -50.0f, 50.0f);
  EXPECT_EQ(Decode(0), -50.0f);
  EXPECT_EQ(Decode(1), 50.0f);
  EXPECT_EQ(Decode(2), 50.0f);
  EXPECT_NEAR(Decode(3), 0.005, 1e-5);
  EXPECT_EQ(Row(3), (std::vector<std::string>{"0.01", "Scaled 0-9999", "-50.00", "50.00"}));
  EXPECT_EQ(Value(1), "50.00");
}

TEST_F(DecodeFixture, FloatsInBothWordOrders) {
  Make(4, {0x0000, 0x3F80, 0x3F80, 0x0000});
  EXPECT_EQ(Decode(0), 1.0f);
  EXPECT_EQ(Row(0), (std::vector<std::string>{"1.00", "IEEE Floating-Pt", "", ""}));
  EXPECT_EQ(std::bit_cast<uint32_t>(Decode(1)), 0x00003F80u)
      << "the low-first reading of swapped words";
  doc->GetTag(0)->m_nDataType = 5;
  doc->GetTag(1)->m_nDataType = 5;
  EXPECT_EQ(std::bit_cast<uint32_t>(Decode(0)), 0x00003F80u) << "a tiny denormal";
  EXPECT_EQ(Decode(1), 1.0f);
  EXPECT_EQ(Row(1), (std::vector<std::string>{"1.00", "IEEE Floating-Pt", "", ""}));
}

TEST_F(DecodeFixture, FloatDisplayFormat) {
  const struct {
    float value;
    const char* text;
  } cases[] = {{12.5f, "12.50"}, {1234.5678f, "1234.57"}, {-3.0f, "-3.00"}, {0.0f, "0.00"}};
  Make(4, {0, 0});
  for (const auto& c : cases) {
    uint32_t bits = std::bit_cast<uint32_t>(c.value);
    doc->m_scan.m_data[0] = static_cast<uint16_t>(bits);
    doc->m_scan.m_data[1] = static_cast<uint16_t>(bits >> 16);
    EXPECT_EQ(Value(), c.text);
  }
}

TEST_F(DecodeFixture, LongIntegersInBothWordOrders) {
  Make(6, {0xFFFF, 0xFFFF, 0x0001, 0x0000});
  EXPECT_EQ(Decode(0), -1.0f);
  EXPECT_EQ(Decode(1), 1.0f);
  EXPECT_EQ(Row(0), (std::vector<std::string>{"-1", "32-Bit Integer", "", ""}));
  doc->GetTag(1)->m_nDataType = 7;
  EXPECT_EQ(Decode(1), 65536.0f);
  EXPECT_EQ(Value(1), "65536");
}

TEST_F(DecodeFixture, LongIntegerShownExactlyPublishedRounded) {
  Make(6, {0x0001, 0x0100});  // 16777217
  EXPECT_EQ(Value(), "16777217");
  EXPECT_EQ(Decode(), 16777216.0f);
}

TEST_F(DecodeFixture, UnknownDataTypeDecodesToZeroAndLeavesTheValueText) {
  Make(0, {1234, 0});
  doc->GetTag(0)->m_nDataType = 99;
  EXPECT_EQ(Decode(), 0.0f);
  EXPECT_EQ(Row(), (std::vector<std::string>{"untouched", "", "", ""}));
}

TEST_F(DecodeFixture, AFailingScanShowsItsStatusInEveryRow) {
  Make(2, {100, 200});
  doc->m_scan.m_nStatus = 263;
  EXPECT_EQ(Row(0), (std::vector<std::string>{"POLL TIMEOUT", "", "", ""}));
  doc->m_scan.m_nStatus = 2;
  EXPECT_EQ(Value(1), "Slave Exception #2");
}

TEST_F(DecodeFixture, CoilsAndInputsShowZeroOrOne) {
  doc = w.Scan("E", 1, 1, 3, 2);
  doc->m_scan.m_nStatus = 0;
  doc->m_scan.m_data[1] = 0xFF00;
  EXPECT_EQ(Row(0), (std::vector<std::string>{"0", "", "", ""}));
  EXPECT_EQ(Row(1), (std::vector<std::string>{"1", "", "", ""}));
}

TEST_F(DecodeFixture, TagsBeyondTheRecordReadAsZero) {
  doc = w.Scan("E", 3, 1, 4100, 0);
  doc->m_scan.m_nStatus = 0;
  ASSERT_EQ(doc->GetTagCount(), 4100);
  EXPECT_EQ(Decode(4050), 0.0f);
  EXPECT_EQ(Value(4099), "0");
}

// Client writes, sent on a serial endpoint (which sends at once).
struct WriteFixture : ::testing::Test {
  CoreWorld w;
  CPelmoranDoc* doc = nullptr;

  void SetUp() override { w.SerialEndpoint("E", 1); }
  void Make(int pointType, int dataType, int address = 1, float low = 0.0f, float high = 100.0f) {
    doc = w.Scan("E", pointType, address, 8, dataType);
    for (auto& tag : doc->m_tags) {
      tag->m_fLowLimit = low;
      tag->m_fHighLimit = high;
    }
    w.modbus.Clear();
  }
  template <typename Set>
  FakeModbus::Call Write(int i, Set set) {
    VARIANT v;
    VariantInit(&v);
    set(v);
    size_t before = w.modbus.Started().size();
    w.app.OfferClientWrite(doc->GetTag(i)->m_hTag, &v);
    VariantClear(&v);
    auto started = w.modbus.Started();
    if (started.size() == before) return FakeModbus::Call{};
    FakeModbus::Respond(started.back().handle);  // finished, so the next write goes out at once
    return started.back();
  }
  FakeModbus::Call WriteReal(int i, double x) {
    return Write(i, [x](VARIANT& v) {
      v.vt = VT_R8;
      v.dblVal = x;
    });
  }
  FakeModbus::Call WriteText(int i, const char* text) {
    return Write(i, [text](VARIANT& v) {
      v.vt = VT_BSTR;
      v.bstrVal = SysAllocString(text);
    });
  }
};

TEST_F(WriteFixture, CoilWritesAreFunction5WithAllBitsForTrue) {
  Make(1, 0);
  auto call = Write(5, [](VARIANT& v) {
    v.vt = VT_BOOL;
    v.boolVal = VARIANT_TRUE;
  });
  EXPECT_EQ(call.fn, "WriteMODBUS");
  EXPECT_EQ(call.header.function, 5);
  EXPECT_EQ(call.header.address, 6);
  EXPECT_EQ(call.header.length, 1);
  EXPECT_EQ(call.data, std::vector<uint16_t>{65535});
  EXPECT_EQ(WriteText(0, "False").data, std::vector<uint16_t>{0});
  EXPECT_EQ(WriteReal(0, 3.0).data, std::vector<uint16_t>{65535});
  EXPECT_EQ(WriteText(0, "maybe").fn, "") << "a value that is not a boolean writes nothing";
}

TEST_F(WriteFixture, UnsignedAndIntegerWriteOneRegister) {
  Make(3, 0);
  EXPECT_EQ(WriteReal(0, 65535).data, std::vector<uint16_t>{65535});
  EXPECT_EQ(WriteReal(0, 4464).header.function, 6);
  EXPECT_EQ(WriteReal(0, 70000).fn, "") << "beyond 16 bits";
  EXPECT_EQ(WriteReal(0, -1).fn, "") << "negative to unsigned fails";
  doc->GetTag(1)->m_nDataType = 1;
  EXPECT_EQ(WriteText(1, "12").data, std::vector<uint16_t>{12});
  EXPECT_EQ(WriteReal(1, -2).data, std::vector<uint16_t>{0xFFFE});
  EXPECT_EQ(WriteReal(1, 2.5).data, std::vector<uint16_t>{2}) << "half to even";
  EXPECT_EQ(WriteText(1, "twelve").fn, "");
  EXPECT_EQ(WriteReal(1, 3e9).fn, "") << "beyond a 16-bit integer";
}

TEST_F(WriteFixture, ScaledWritesClampAndTruncate) {
  Make(3, 2);
  EXPECT_EQ(WriteReal(0, 50.0).data, std::vector<uint16_t>{2047});
  EXPECT_EQ(WriteReal(0, 150.0).data, std::vector<uint16_t>{4095});
  EXPECT_EQ(WriteReal(0, -5.0).data, std::vector<uint16_t>{0});
  EXPECT_EQ(WriteReal(0, 0.0).data, std::vector<uint16_t>{0});
  EXPECT_EQ(WriteReal(0, 100.0).data, std::vector<uint16_t>{4095});
  doc->GetTag(0)->m_nDataType = 3;
  EXPECT_EQ(WriteReal(0, 50.0).data, std::vector<uint16_t>{4999});
  EXPECT_EQ(WriteReal(0, 100.0).data, std::vector<uint16_t>{9999});
  EXPECT_EQ(WriteReal(0, 1e6).data, std::vector<uint16_t>{9999});
}

TEST_F(WriteFixture, ScaledWriteWithEqualLimitsWritesZero) {
  Make(3, 2, 1, 20.0f, 20.0f);
  EXPECT_EQ(WriteReal(0, 20.0).data, std::vector<uint16_t>{0});
  EXPECT_EQ(WriteReal(0, 21.0).data, std::vector<uint16_t>{4095});
  EXPECT_EQ(WriteReal(0, std::nan("")).fn, "") << "no register value stands for NaN";
}

TEST_F(WriteFixture, LimitsThatAreNotNumbersWriteTheBottomOfTheScale) {
  Make(3, 3, 1, std::nanf(""), 100.0f);
  EXPECT_EQ(WriteReal(0, 50.0).data, std::vector<uint16_t>{0});
  EXPECT_EQ(WriteReal(0, 150.0).data, std::vector<uint16_t>{9999});
}

TEST_F(WriteFixture, ThirtyTwoBitWritesAreFunction16InTheTagsWordOrder) {
  Make(3, 4, 100);
  auto call = WriteReal(3, 1.5);
  EXPECT_EQ(call.header.function, 16);
  EXPECT_EQ(call.header.address, 106);
  EXPECT_EQ(call.header.length, 2);
  EXPECT_EQ(call.data, (std::vector<uint16_t>{0x0000, 0x3FC0}));
  doc->GetTag(3)->m_nDataType = 5;
  EXPECT_EQ(WriteReal(3, 1.5).data, (std::vector<uint16_t>{0x3FC0, 0x0000}));
  doc->GetTag(2)->m_nDataType = 6;
  EXPECT_EQ(WriteReal(2, -2).data, (std::vector<uint16_t>{0xFFFE, 0xFFFF}));
  doc->GetTag(2)->m_nDataType = 7;
  auto swapped = WriteReal(2, 65536);
  EXPECT_EQ(swapped.data, (std::vector<uint16_t>{0x0001, 0x0000}));
  EXPECT_EQ(swapped.header.address, 104);
  EXPECT_EQ(WriteReal(2, 3e9).fn, "");
  doc->GetTag(2)->m_nDataType = 4;
  EXPECT_EQ(WriteReal(2, 1e39).fn, "") << "beyond single precision";
}

TEST_F(WriteFixture, InputsAndUnknownHandlesWriteNothingButReportDone) {
  Make(4, 0);
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_I4;
  v.lVal = 5;
  w.tagServer.writeCallback = nullptr;
  EXPECT_TRUE(doc->HandleClientWrite(doc->GetTag(2)->m_hTag, &v)) << "its own tag, read-only";
  EXPECT_FALSE(doc->HandleClientWrite(12345, &v));
  EXPECT_FALSE(doc->HandleClientWrite(-1, &v));
  EXPECT_EQ(w.modbus.Started().size(), 0u);
}

TEST_F(WriteFixture, AWriteThatWouldWrapPastRegister65535IsNotSent) {
  Make(3, 0, 65530);
  EXPECT_EQ(doc->GetTagName(7), "E.NODE1.465537");
  EXPECT_EQ(WriteReal(5, 1).header.address, 65535);
  EXPECT_EQ(WriteReal(6, 1).fn, "");
  EXPECT_EQ(WriteReal(7, 1).fn, "");
  doc->GetTag(2)->m_nDataType = 4;
  EXPECT_EQ(WriteReal(2, 1).header.address, 65534);
  doc->GetTag(3)->m_nDataType = 4;
  EXPECT_EQ(WriteReal(3, 1).fn, "") << "its second word would land on register 0";
}

TEST_F(WriteFixture, ANotConnectedEndpointWritesNothing) {
  Make(3, 0);
  w.frame.m_endpoints[0]->Close();
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_I4;
  v.lVal = 5;
  EXPECT_FALSE(doc->WriteRegister(0, &v, doc->GetTag(0)));
  EXPECT_EQ(w.modbus.Started().size(), 0u);
}

// What a client reads after a good answer: the type each tag is published
// with and its value, exactly.
TEST(TypedPublication, EachTypeIsPublishedWithItsOwnTypeExactly) {
  struct Case {
    const char* what;
    DataType type;
    TagFormat format;
    std::vector<uint16_t> words;
    VARTYPE published;  // VT_EMPTY: the classic Float entry point
    std::string text;
    uint32_t status = OPC_STATUS_GOOD;
  };
  const Case cases[] = {
      {"UNSIGNED stays Float", DataType::Unsigned, {}, {65535}, VT_EMPTY, "65535"},
      {"LONG INTEGER above 2^24",
       DataType::LongLowWordFirst,
       {},
       {0x0001, 0x0100},
       VT_I4,
       "16777217"},
      {"Unsigned 64 at its top",
       DataType::UInt64ABCD,
       {},
       {0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF},
       VT_UI8,
       "18446744073709551615"},
      {"Integer 64 (CDAB) above 2^53",
       DataType::Int64CDAB,
       {},
       {0x0001, 0, 0, 0x0020},
       VT_I8,
       "9007199254740993"},
      {"BCD 32 (CDAB)", DataType::Bcd32CDAB, {}, {0x5678, 0x1234}, VT_UI4, "12345678"},
      {"BCD with a digit above 9",
       DataType::Bcd16,
       {},
       {0x12A4},
       VT_EMPTY,
       "",
       OPC_STATUS_BAD_DATA_ENCODING_INVALID},
      {"bit 15", DataType::Bit, {.bit = 15}, {0x8000}, VT_BOOL, "-1"},
      {"a string stops at NUL and hides bytes of no character",
       DataType::StringAB,
       {.stringRegisters = 3},
       {0x4142, 0xC300, 0x4344},
       VT_BSTR,
       "AB?"},
      {"a scaled UNSIGNED is a Double",
       DataType::Unsigned,
       {.scaled = true, .rawLow = 0, .rawHigh = 4000, .engLow = 4, .engHigh = 20},
       {3000},
       VT_R8,
       "16"},
      {"equal raw limits give the engineering low",
       DataType::Int16BA,
       {.scaled = true, .rawLow = 5, .rawHigh = 5, .engLow = -3, .engHigh = 20},
       {0x0100},
       VT_R8,
       "-3"},
  };
  for (const Case& c : cases) {
    CoreWorld w;
    w.app.m_defaultFormat = c.format;
    CPelmoranDoc* doc =
        w.Scan("E", 3, 1, static_cast<int>(c.words.size()), static_cast<int>(c.type));
    ASSERT_EQ(doc->GetTagCount(), 1) << c.what;
    auto created = w.tagServer.CallsOf("CreateOPCTag");
    ASSERT_EQ(created.size(), 1u) << c.what;
    EXPECT_EQ(created[0].type, c.published) << c.what;
    EXPECT_EQ(created[0].value.vt, VT_EMPTY) << c.what << ": no value before the first answer";
    auto answer = std::make_unique<CModbusMsg>();
    answer->Copy(doc->m_scan);
    answer->m_nStatus = 0;
    std::copy(c.words.begin(), c.words.end(), answer->m_data);
    doc->OnScanResponse(answer.release());
    const FakeTagServer::Tag& tag = w.tagServer.tags.at(doc->GetTag(0)->m_hTag);
    EXPECT_EQ(tag.status, c.status) << c.what;
    EXPECT_EQ(tag.value.text, c.text) << c.what;
  }
}

// A tag whose values change type is published anew; one that keeps its type
// keeps its node.
TEST(TypedPublication, ChangingATagsTypeRepublishesItOnlyWhenItsValuesChangeType) {
  CoreWorld w;
  CPelmoranDoc* doc = w.Scan("E", 3, 1, 2, 0);
  const int32_t first = doc->GetTag(0)->m_hTag;
  doc->SetTagFormat(0, static_cast<int32_t>(DataType::Integer), 0, 1, {});
  EXPECT_EQ(doc->GetTag(0)->m_hTag, first);
  EXPECT_EQ(w.tagServer.Count("RemoveOPCTag"), 0);
  doc->SetTagFormat(0, static_cast<int32_t>(DataType::Bit), 0, 1, {.bit = 3});
  EXPECT_NE(doc->GetTag(0)->m_hTag, first);
  EXPECT_TRUE(w.tagServer.tags.at(first).removed);
  const auto& tag = w.tagServer.tags.at(doc->GetTag(0)->m_hTag);
  EXPECT_EQ(tag.name, "E.NODE1.40001");
  EXPECT_EQ(tag.type, VT_BOOL);
  EXPECT_EQ(tag.status, OPC_STATUS_BAD_WAITING_FOR_INITIAL_DATA);
  EXPECT_EQ(doc->GetTag(0)->m_format.bit, 3);
}

TEST_F(WriteFixture, AddedTypesWriteTheirRegistersOrRefuse) {
  Make(3, static_cast<int>(DataType::Int64ABCD), 10);
  auto wide = WriteText(1, "-9007199254740993");
  EXPECT_EQ(wide.header.function, 16);
  EXPECT_EQ(wide.header.address, 14) << "tag 1 of four registers";
  EXPECT_EQ(wide.data, (std::vector<uint16_t>{0xFFDF, 0xFFFF, 0xFFFF, 0xFFFF}));
  EXPECT_EQ(WriteText(1, "9223372036854775808").fn, "") << "beyond a 64-bit integer";

  struct Case {
    const char* what;
    DataType type;
    TagFormat format;
    const char* value;
    std::vector<uint16_t> words;  // empty: nothing is written
  };
  const Case cases[] = {
      {"BCD 16", DataType::Bcd16, {}, "9876", {0x9876}},
      {"BCD 16 above 9999", DataType::Bcd16, {}, "10000", {}},
      {"16-bit swapped", DataType::UInt16BA, {}, "258", {0x0201}},
      {"16-bit swapped beyond 65535", DataType::UInt16BA, {}, "65536", {}},
      {"a string, padded", DataType::StringBA, {.stringRegisters = 2}, "abc", {0x6261, 0x0063}},
      {"a string too long", DataType::StringAB, {.stringRegisters = 2}, "abcde", {}},
      {"scaled, rounded to nearest",
       DataType::Unsigned,
       {.scaled = true, .rawLow = 0, .rawHigh = 4000, .engLow = 4, .engHigh = 20},
       "12.003",
       {2001}},
      {"scaled, held to the engineering range",
       DataType::Unsigned,
       {.scaled = true, .rawLow = 0, .rawHigh = 4000, .engLow = 4, .engHigh = 20},
       "-7",
       {0}},
      {"scaled into a signed type, falling",
       DataType::Integer,
       {.scaled = true, .rawLow = 100, .rawHigh = -100, .engLow = 0, .engHigh = 1},
       "0.75",
       {static_cast<uint16_t>(-50)}},
      {"scaled with equal engineering limits",
       DataType::Integer,
       {.scaled = true, .rawLow = 7, .rawHigh = 9, .engLow = 1, .engHigh = 1},
       "1",
       {7}},
      {"scaled, not a number", DataType::Unsigned, {.scaled = true}, "NaN", {}},
  };
  for (const Case& c : cases) {
    doc->SetTagFormat(0, static_cast<int32_t>(c.type), 0, 100, c.format);
    auto call = WriteText(0, c.value);
    EXPECT_EQ(call.data, c.words) << c.what;
    if (!c.words.empty()) {
      EXPECT_EQ(call.header.address, 10) << c.what;
    }
  }
}

// A bit is written by mask write (22); a device that does not know it gets the
// bit inside the register as last read (06), from then on.
TEST_F(WriteFixture, ABitIsWrittenByMaskWriteElseIntoTheRegisterAsLastRead) {
  Make(3, 0);
  doc->SetTagFormat(2, static_cast<int32_t>(DataType::Bit), 0, 100, {.bit = 4});
  auto set = WriteText(2, "true");
  EXPECT_EQ(set.header.function, 22);
  EXPECT_EQ(set.header.address, 3);
  EXPECT_EQ(set.data, (std::vector<uint16_t>{0xFFEF, 0x0010}));
  EXPECT_EQ(WriteReal(2, 0).data, (std::vector<uint16_t>{0xFFEF, 0x0000}));

  doc->m_scan.m_nStatus = 0;
  doc->m_scan.m_data[2] = 0xA001;
  w.modbus.responseStatus = 1;  // illegal function
  EXPECT_EQ(WriteText(2, "true").header.function, 22);
  auto retried = w.modbus.Started().back();
  EXPECT_EQ(retried.header.function, 6);
  EXPECT_EQ(retried.data, std::vector<uint16_t>{0xA011});
  FakeModbus::Respond(retried.handle);
  w.modbus.responseStatus = 0;
  auto later = WriteReal(2, 0);
  EXPECT_EQ(later.header.function, 6);
  EXPECT_EQ(later.data, std::vector<uint16_t>{0xA001});
  doc->m_scan.m_nStatus = 263;
  EXPECT_EQ(WriteText(2, "true").fn, "") << "no register read to write the bit into";
}

}  // namespace
