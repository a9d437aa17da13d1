#include <gtest/gtest.h>

#include <bit>
#include <cmath>

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

TEST_F(WriteFixture, UnsignedAndIntegerWriteTheLow16Bits) {
  Make(3, 0);
  EXPECT_EQ(WriteReal(0, 70000).data, std::vector<uint16_t>{4464});
  EXPECT_EQ(WriteReal(0, 70000).header.function, 6);
  EXPECT_EQ(WriteReal(0, -1).fn, "") << "negative to unsigned fails";
  doc->GetTag(1)->m_nDataType = 1;
  EXPECT_EQ(WriteText(1, "12").data, std::vector<uint16_t>{12});
  EXPECT_EQ(WriteReal(1, -2).data, std::vector<uint16_t>{0xFFFE});
  EXPECT_EQ(WriteReal(1, 2.5).data, std::vector<uint16_t>{2}) << "half to even";
  EXPECT_EQ(WriteText(1, "twelve").fn, "");
  EXPECT_EQ(WriteReal(1, 3e9).fn, "") << "beyond a 32-bit integer";
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

}  // namespace
