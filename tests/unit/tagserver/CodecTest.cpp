// The binary encoder and decoder: exact bytes of the compact forms, round
// trips, and the refusals that keep hostile lengths and nesting harmless.
#include <gtest/gtest.h>

#include <cmath>

#include "opcua/UaStatusCodes.h"
#include "tagserver/UaDecoder.h"
#include "tagserver/UaEncoder.h"

namespace tagserver {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes EncodeNodeId(const UaNodeId& id) {
  UaEncoder e;
  e.NodeId(id);
  return e.Buffer();
}

uint32_t DecodeFailure(const Bytes& b, const std::function<void(UaDecoder&)>& read) {
  UaDecoder d(b.data(), b.size());
  try {
    read(d);
  } catch (const UaDecodeError& e) {
    return e.Status();
  }
  return 0;
}

TEST(Codec, NodeIdTakesTheShortestForm) {
  EXPECT_EQ(EncodeNodeId(UaNodeId::Num(0, 85)), (Bytes{0x00, 85}));
  EXPECT_EQ(EncodeNodeId(UaNodeId::Num(1, 1000)), (Bytes{0x01, 0x01, 0xE8, 0x03}));
  EXPECT_EQ(EncodeNodeId(UaNodeId::Num(0, 70000)),
            (Bytes{0x02, 0x00, 0x00, 0x70, 0x11, 0x01, 0x00}));
  EXPECT_EQ(EncodeNodeId(UaNodeId::Num(300, 5)), (Bytes{0x02, 0x2C, 0x01, 0x05, 0x00, 0x00, 0x00}));
  EXPECT_EQ(EncodeNodeId(UaNodeId::Str(1, "T1")),
            (Bytes{0x03, 0x01, 0x00, 0x02, 0x00, 0x00, 0x00, 'T', '1'}));
}

TEST(Codec, NodeIdsRoundTripInEveryForm) {
  std::vector<UaNodeId> ids = {
      UaNodeId::Num(0, 0),
      UaNodeId::Num(0, 255),
      UaNodeId::Num(2, 65535),
      UaNodeId::Num(7, 4000000000u),
      UaNodeId::Str(1, "PLC1.NODE1.3.0100"),
      UaNodeId{3, UaNodeId::Kind::Guid, 0, std::string(16, '\x5A')},
      UaNodeId{4, UaNodeId::Kind::Opaque, 0, std::string("\x00\x01\x02", 3)}};
  for (const auto& id : ids) {
    Bytes b = EncodeNodeId(id);
    UaDecoder d(b.data(), b.size());
    EXPECT_EQ(d.NodeId(), id);
    EXPECT_EQ(d.Remaining(), 0u);
  }
}

TEST(Codec, ExpandedNodeIdCarriesUriAndServerIndex) {
  UaEncoder e;
  e.ExpandedNodeId({UaNodeId::Num(0, 85), "urn:x", 3});
  EXPECT_EQ(e.Buffer()[0], 0xC0);
  UaDecoder d(e.Buffer().data(), e.Size());
  UaExpandedNodeId x = d.ExpandedNodeId();
  EXPECT_EQ(x.id, UaNodeId::Num(0, 85));
  EXPECT_EQ(x.namespaceUri, "urn:x");
  EXPECT_EQ(x.serverIndex, 3u);
}

TEST(Codec, FloatDataValueMatchesTheGeneralEncoding) {
  UaDataValue dv;
  dv.hasValue = true;
  dv.value = UaVariant::Scalar(UaType::Float, 42.5f);
  dv.hasStatus = true;
  dv.status = UaStatus::BadNoCommunication;
  dv.sourceTimestamp = 132000000000000000;
  dv.serverTimestamp = 132000000000000001;
  UaEncoder general, fast;
  general.DataValue(dv);
  fast.FloatDataValue(true, 42.5f, UaStatus::BadNoCommunication, dv.sourceTimestamp,
                      dv.serverTimestamp);
  EXPECT_EQ(general.Buffer(), fast.Buffer());
  EXPECT_EQ(general.Buffer()[0], 0x0F);
  UaDecoder d(general.Buffer().data(), general.Size());
  UaDataValue back = d.DataValue();
  EXPECT_EQ(std::get<float>(back.value.values[0]), 42.5f);
  EXPECT_EQ(back.status, UaStatus::BadNoCommunication);
  EXPECT_EQ(back.sourceTimestamp, dv.sourceTimestamp);
  EXPECT_EQ(back.serverTimestamp, dv.serverTimestamp);
}

TEST(Codec, GoodStatusAndAbsentPartsLeaveTheirMaskBitsClear) {
  UaEncoder e;
  e.FloatDataValue(false, 0, UaStatus::Good, 0, 0);
  EXPECT_EQ(e.Buffer(), Bytes{0x00});
}

TEST(Codec, VariantArraysAndNestedValuesRoundTrip) {
  UaVariant strings = UaVariant::Array(UaType::String, {std::string("a"), std::string("bc")});
  UaVariant inner = UaVariant::Scalar(UaType::Double, 2.5);
  UaVariant nested = UaVariant::Scalar(UaType::Variant, std::make_shared<UaVariant>(inner));
  UaEncoder e;
  e.Variant(strings);
  e.Variant(nested);
  e.Variant(UaVariant::Scalar(UaType::Int16, int64_t{-2}));
  e.Variant(UaVariant::Scalar(UaType::UInt64, uint64_t{1} << 40));
  UaDecoder d(e.Buffer().data(), e.Size());
  UaVariant a = d.Variant();
  ASSERT_TRUE(a.isArray);
  EXPECT_EQ(std::get<std::string>(a.values[1]), "bc");
  UaVariant n = d.Variant();
  EXPECT_EQ(std::get<double>(std::get<std::shared_ptr<UaVariant>>(n.values[0])->values[0]), 2.5);
  EXPECT_EQ(std::get<int64_t>(d.Variant().values[0]), -2);
  EXPECT_EQ(std::get<uint64_t>(d.Variant().values[0]), uint64_t{1} << 40);
  EXPECT_EQ(d.Remaining(), 0u);
}

TEST(Codec, LocalizedTextAndQualifiedNameRoundTrip) {
  UaEncoder e;
  e.LocalizedText({"en", "Hello"});
  e.LocalizedText({"", ""});
  e.QualifiedName({1, "Name"});
  EXPECT_EQ(e.Buffer()[0], 0x03);
  UaDecoder d(e.Buffer().data(), e.Size());
  UaLocalizedText t = d.LocalizedText();
  EXPECT_EQ(t.locale, "en");
  EXPECT_EQ(t.text, "Hello");
  EXPECT_TRUE(d.LocalizedText().text.empty());
  EXPECT_EQ(d.QualifiedName(), (UaQualifiedName{1, "Name"}));
}

TEST(Codec, NullStringsAndArraysReadAsEmpty) {
  Bytes b = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
  UaDecoder d(b.data(), b.size());
  EXPECT_EQ(d.String(), "");
  EXPECT_TRUE(d.StringArray().empty());
}

TEST(Codec, TruncatedInputIsRefused) {
  EXPECT_EQ(DecodeFailure({0x01, 0x00}, [](UaDecoder& d) { d.UInt32(); }),
            UaStatus::BadDecodingError);
  EXPECT_EQ(DecodeFailure({0x05, 0x00, 0x00, 0x00, 'a'}, [](UaDecoder& d) { d.String(); }),
            UaStatus::BadDecodingError);
  EXPECT_EQ(DecodeFailure({0x03, 0x01}, [](UaDecoder& d) { d.NodeId(); }),
            UaStatus::BadDecodingError);
}

TEST(Codec, ArrayLengthsBeyondTheMessageAreRefusedBeforeAllocating) {
  Bytes huge = {0xFF, 0xFF, 0xFF, 0x7F, 0x00, 0x00, 0x00, 0x00};
  EXPECT_EQ(DecodeFailure(huge, [](UaDecoder& d) { d.StringArray(); }),
            UaStatus::BadEncodingLimitsExceeded);
  Bytes variant = {0x86, 0xFF, 0xFF, 0xFF, 0x7F};
  EXPECT_EQ(DecodeFailure(variant, [](UaDecoder& d) { d.Variant(); }),
            UaStatus::BadEncodingLimitsExceeded);
  // Exactly as many elements as bytes allow is fine.
  Bytes fits = {0x02, 0x00, 0x00, 0x00, 0x07, 0x00, 0x00, 0x00, 0x09, 0x00, 0x00, 0x00};
  UaDecoder d(fits.data(), fits.size());
  EXPECT_EQ(d.UInt32Array(), (std::vector<uint32_t>{7, 9}));
}

TEST(Codec, DeepNestingIsRefusedInsteadOfExhaustingTheStack) {
  Bytes variants(100000, 0x18);  // Variant in Variant in ...
  EXPECT_EQ(DecodeFailure(variants, [](UaDecoder& d) { d.Variant(); }), UaStatus::BadDecodingError);
  Bytes diagnostics(100000, 0x40);  // inner DiagnosticInfo in inner ...
  EXPECT_EQ(DecodeFailure(diagnostics, [](UaDecoder& d) { d.SkipDiagnosticInfo(); }),
            UaStatus::BadDecodingError);
}

TEST(Codec, MalformedTagsAreRefused) {
  EXPECT_EQ(DecodeFailure({0x06, 0x00}, [](UaDecoder& d) { d.NodeId(); }),
            UaStatus::BadDecodingError);
  EXPECT_EQ(DecodeFailure({0x80, 0x00}, [](UaDecoder& d) { d.NodeId(); }),
            UaStatus::BadDecodingError);
  EXPECT_EQ(DecodeFailure({0x1A}, [](UaDecoder& d) { d.Variant(); }), UaStatus::BadDecodingError);
  EXPECT_EQ(DecodeFailure({0x00, 0x00, 0x03}, [](UaDecoder& d) { d.ExtensionObject(); }),
            UaStatus::BadDecodingError);
}

TEST(Codec, DiagnosticInfoIsSkippedWholly) {
  UaEncoder e;
  e.Byte(0x7F);
  e.Int32(1);
  e.Int32(2);
  e.Int32(3);
  e.Int32(4);
  e.String("info");
  e.UInt32(0x80000000u);
  e.Byte(0x01);
  e.Int32(5);
  e.UInt32(0xABCD);
  UaDecoder d(e.Buffer().data(), e.Size());
  d.SkipDiagnosticInfo();
  EXPECT_EQ(d.UInt32(), 0xABCDu);
}

TEST(Codec, FloatsAndDoublesKeepTheirBits) {
  UaEncoder e;
  e.Float(-0.0f);
  e.Double(std::nan(""));
  e.Float(1.0f);
  EXPECT_EQ((Bytes{e.Buffer()[12], e.Buffer()[13], e.Buffer()[14], e.Buffer()[15]}),
            (Bytes{0x00, 0x00, 0x80, 0x3F}));
  UaDecoder d(e.Buffer().data(), e.Size());
  EXPECT_TRUE(std::signbit(d.Float()));
  EXPECT_TRUE(std::isnan(d.Double()));
}

}  // namespace
}  // namespace tagserver
