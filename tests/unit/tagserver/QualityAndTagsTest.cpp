// Quality words to status codes, VARIANT conversions both ways, and the tag
// store shared by the program's thread and the server thread.
#include <gtest/gtest.h>

#include <cstring>
#include <variant>

#include "TestClient.h"
#include "opcua/UaStatusCodes.h"
#include "tagserver/QualityMap.h"
#include "tagserver/TagStore.h"

namespace tagserver {
namespace {

using test::FloatVariant;

TEST(QualityMap, DaQualitiesMapByTheirBits) {
  EXPECT_EQ(StatusFromQuality(192), UaStatus::Good);
  EXPECT_EQ(StatusFromQuality(0), UaStatus::Bad);
  EXPECT_EQ(StatusFromQuality(0xD8), UaStatus::GoodLocalOverride);
  EXPECT_EQ(StatusFromQuality(0x40), UaStatus::Uncertain);
  EXPECT_EQ(StatusFromQuality(0x44), UaStatus::UncertainLastUsableValue);
  EXPECT_EQ(StatusFromQuality(0x7F), UaStatus::Uncertain);
  EXPECT_EQ(StatusFromQuality(0x08), UaStatus::BadNotConnected);
  EXPECT_EQ(StatusFromQuality(0x18), UaStatus::BadNoCommunication);
  EXPECT_EQ(StatusFromQuality(0x1C), UaStatus::BadOutOfService);
  // Limit bits (the low two) do not change the answer.
  EXPECT_EQ(StatusFromQuality(0xC3), UaStatus::Good);
  EXPECT_EQ(StatusFromQuality(0x0B), UaStatus::BadNotConnected);
  // 0x80-0xBF is no OPC DA quality; it must not pass as good.
  EXPECT_EQ(StatusFromQuality(0x80), UaStatus::Bad);
  EXPECT_EQ(StatusFromQuality(0xA8), UaStatus::Bad);
}

TEST(QualityMap, VariantsBecomeFloats) {
  float f = 0;
  EXPECT_TRUE(FloatFromVariant(FloatVariant(2.5f), f));
  EXPECT_EQ(f, 2.5f);
  VARIANT v;
  VariantInit(&v);
  EXPECT_FALSE(FloatFromVariant(v, f));
  v.vt = VT_I2;
  v.iVal = -7;
  EXPECT_TRUE(FloatFromVariant(v, f));
  EXPECT_EQ(f, -7.0f);
  v.vt = VT_BOOL;
  v.boolVal = VARIANT_TRUE;
  EXPECT_TRUE(FloatFromVariant(v, f));
  EXPECT_EQ(f, 1.0f);
  v.vt = VT_BSTR;
  v.bstrVal = SysAllocString("3.25");
  EXPECT_TRUE(FloatFromVariant(v, f));
  EXPECT_EQ(f, 3.25f);
  VariantClear(&v);
  v.vt = VT_BSTR;
  v.bstrVal = SysAllocString("3.25x");
  EXPECT_FALSE(FloatFromVariant(v, f));
  VariantClear(&v);
}

TEST(QualityMap, ClientScalarsBecomeVariantsOfTheMatchingType) {
  struct Case {
    UaVariant in;
    VARTYPE vt;
  };
  std::vector<Case> cases = {
      {UaVariant::Scalar(UaType::Boolean, true), VT_BOOL},
      {UaVariant::Scalar(UaType::SByte, int64_t{-3}), VT_I1},
      {UaVariant::Scalar(UaType::Byte, uint64_t{200}), VT_UI1},
      {UaVariant::Scalar(UaType::Int16, int64_t{-300}), VT_I2},
      {UaVariant::Scalar(UaType::UInt16, uint64_t{60000}), VT_UI2},
      {UaVariant::Scalar(UaType::Int32, int64_t{-70000}), VT_I4},
      {UaVariant::Scalar(UaType::UInt32, uint64_t{4000000000u}), VT_UI4},
      {UaVariant::Scalar(UaType::Int64, int64_t{-1} << 40), VT_I8},
      {UaVariant::Scalar(UaType::UInt64, uint64_t{1} << 60), VT_UI8},
      {UaVariant::Scalar(UaType::Float, 1.5f), VT_R4},
      {UaVariant::Scalar(UaType::Double, 2.5), VT_R8},
  };
  for (const auto& c : cases) {
    VARIANT v;
    EXPECT_EQ(VariantFromUa(c.in, v), UaStatus::Good);
    EXPECT_EQ(v.vt, c.vt);
  }
  VARIANT v;
  VariantFromUa(UaVariant::Scalar(UaType::Boolean, true), v);
  EXPECT_EQ(v.boolVal, VARIANT_TRUE);
  VariantFromUa(UaVariant::Scalar(UaType::UInt32, uint64_t{4000000000u}), v);
  EXPECT_EQ(v.ulVal, 4000000000u);
  ASSERT_EQ(VariantFromUa(UaVariant::Scalar(UaType::String, std::string("12.5")), v),
            UaStatus::Good);
  EXPECT_EQ(v.vt, VT_BSTR);
  EXPECT_STREQ(v.bstrVal, "12.5");
  VariantClear(&v);
}

TEST(QualityMap, ArraysStructuresAndEmbeddedNulsAreRefused) {
  VARIANT v;
  EXPECT_EQ(VariantFromUa(UaVariant::Array(UaType::Float, {1.0f, 2.0f}), v),
            UaStatus::BadTypeMismatch);
  EXPECT_EQ(VariantFromUa(UaVariant::Scalar(UaType::DateTime, int64_t{5}), v),
            UaStatus::BadTypeMismatch);
  EXPECT_EQ(VariantFromUa(UaVariant::Scalar(UaType::LocalizedText, UaLocalizedText{}), v),
            UaStatus::BadTypeMismatch);
  EXPECT_EQ(VariantFromUa(UaVariant::Scalar(UaType::String, std::string("1\0"
                                                                        "2",
                                                                        3)),
                          v),
            UaStatus::BadTypeMismatch);
  EXPECT_EQ(VariantFromUa(UaVariant{}, v), UaStatus::BadTypeMismatch);
}

TEST(TagStore, TagsOfOneNameShareANodeAndTheFirstWritableHandleTakesWrites) {
  TagStore store;
  VARIANT empty;
  VariantInit(&empty);
  int32_t a = store.Create("T", empty, 0, false);
  int32_t b = store.Create("T", FloatVariant(5), 192, true);
  int32_t c = store.Create("T", FloatVariant(6), 192, true);
  EXPECT_NE(a, b);
  TagNode* node = store.Find("T");
  ASSERT_NE(node, nullptr);
  EXPECT_TRUE(store.IsWritable(node));
  EXPECT_EQ(store.WriteHandle(node), b);
  // The latest update from any handle is the node's value.
  store.Update(a, FloatVariant(9), 192);
  EXPECT_EQ(store.Sample(node).value, 9.0f);
  EXPECT_TRUE(store.Remove(b));
  EXPECT_EQ(store.WriteHandle(node), c);
  EXPECT_TRUE(store.Remove(c));
  EXPECT_FALSE(store.IsWritable(node));
  EXPECT_EQ(store.WriteHandle(node), -1);
  EXPECT_TRUE(store.Sample(node).present);
  EXPECT_TRUE(store.Remove(a));
  EXPECT_FALSE(store.Sample(node).present);
  EXPECT_TRUE(store.PresentNames().empty());
  EXPECT_FALSE(store.Remove(a));
  EXPECT_FALSE(store.Update(a, FloatVariant(1), 192));
}

// What a folder refuses, how its variables share a node, and that removing
// a folder takes everything under it and nothing beside it.
TEST(TagStore, FoldersHoldTheirVariablesAndGoWithEverythingUnderThem) {
  TagStore store;
  FolderTree& folders = store.Folders();
  const int32_t top = folders.Create(FolderTree::kTagFolder, "Diagnostics");
  const int32_t endpoint = folders.Create(top, "PLC.1");
  const int32_t slave = folders.Create(endpoint, "NODE4");
  const int32_t other = folders.Create(top, "LINE");
  struct Refused {
    int32_t parent;
    const char* name;
  };
  const Refused refused[] = {{top, "PLC.1"}, {top, ""}, {999, "X"}, {FolderTree::kTagFolder, ""}};
  for (const Refused& r : refused) EXPECT_EQ(folders.Create(r.parent, r.name), -1) << r.name;
  EXPECT_EQ(store.CreateInFolder(999, "Timeouts", FloatVariant(1), 192, false), -1);
  EXPECT_EQ(store.CreateInFolder(slave, "", FloatVariant(1), 192, false), -1);

  const int32_t a = store.CreateInFolder(slave, "Timeouts", FloatVariant(1), 192, false);
  const int32_t b = store.CreateInFolder(slave, "Timeouts", FloatVariant(2), 192, false);
  const int32_t beside = store.CreateInFolder(other, "Connected", FloatVariant(1), 192, false);
  const int32_t tag = store.Create("PLC.1.NODE4.40001", FloatVariant(3), 192, true);
  FolderTree::Folder found;
  ASSERT_TRUE(folders.Find("Diagnostics.PLC.1.NODE4", found));
  EXPECT_EQ(found.name, "NODE4");
  EXPECT_EQ(found.parent, "Diagnostics.PLC.1");
  ASSERT_EQ(found.variables.size(), 1u) << "one node for one name";
  EXPECT_EQ(found.variables.begin()->first, "Diagnostics.PLC.1.NODE4.Timeouts");
  std::string folder, name;
  ASSERT_TRUE(folders.FolderOf("Diagnostics.PLC.1.NODE4.Timeouts", folder, name));
  EXPECT_EQ(name, "Timeouts");
  EXPECT_FALSE(folders.FolderOf("PLC.1.NODE4.40001", folder, name));
  // The node stays in its folder until its last handle goes.
  EXPECT_TRUE(store.Remove(a));
  ASSERT_TRUE(folders.Find("Diagnostics.PLC.1.NODE4", found));
  EXPECT_EQ(found.variables.size(), 1u);

  EXPECT_TRUE(store.RemoveFolder(endpoint));
  EXPECT_FALSE(store.RemoveFolder(endpoint));
  EXPECT_FALSE(folders.Find("Diagnostics.PLC.1.NODE4", found));
  EXPECT_FALSE(folders.Find("Diagnostics.PLC.1", found));
  EXPECT_FALSE(store.Sample(store.Find("Diagnostics.PLC.1.NODE4.Timeouts")).present);
  EXPECT_FALSE(store.Update(b, FloatVariant(4), 192)) << "its handle went with the folder";
  EXPECT_NE(folders.Create(top, "PLC.1"), -1) << "the id is free again";
  EXPECT_TRUE(store.Update(beside, FloatVariant(0), 192));
  EXPECT_TRUE(store.Update(tag, FloatVariant(0), 192));
  ASSERT_TRUE(folders.Find("Diagnostics", found));
  EXPECT_EQ(found.folders, (std::vector<std::string>{"Diagnostics.LINE", "Diagnostics.PLC.1"}));
  EXPECT_EQ(folders.TopFolders(), std::vector<std::string>{"Diagnostics"});
}

TEST(TagStore, AnEmptyNewTagHasNoValueAndBadStatus) {
  TagStore store;
  VARIANT empty;
  VariantInit(&empty);
  int32_t h = store.Create("N", empty, 0, true);
  TagSample s = store.Sample(store.Find("N"));
  EXPECT_FALSE(s.hasValue);
  EXPECT_EQ(s.status, UaStatus::Bad);
  store.Update(h, FloatVariant(1.25f), 192);
  s = store.Sample(store.Find("N"));
  EXPECT_TRUE(s.hasValue);
  EXPECT_EQ(s.status, UaStatus::Good);
  EXPECT_NE(s.sourceTime, 0);
  EXPECT_EQ(store.Create("", empty, 0, false), -1);
}

// A tag created with a type keeps it from the start, and holds every value of
// the type exactly: the 64-bit integers beyond what a double holds.
TEST(TagStore, ATagCreatedWithATypeHoldsItsValuesExactly) {
  struct Case {
    VARTYPE created;
    UaType type;
    VARIANT value;
    std::variant<int64_t, uint64_t> read;
  };
  VARIANT i8;
  VariantInit(&i8);
  i8.vt = VT_I8;
  i8.llVal = -9007199254740993;
  VARIANT ui8 = i8;
  ui8.vt = VT_UI8;
  ui8.ullVal = 18446744073709551615u;
  VARIANT i4 = i8;
  i4.vt = VT_I4;
  i4.lVal = 16777217;
  const Case cases[] = {
      {VT_I8, UaType::Int64, i8, int64_t{-9007199254740993}},
      {VT_UI8, UaType::UInt64, ui8, uint64_t{18446744073709551615u}},
      {VT_I4, UaType::Int32, i4, int64_t{16777217}},
      {VT_I8, UaType::Int64, FloatVariant(-2.0f), int64_t{-2}},
  };
  for (const Case& c : cases) {
    TagStore store;
    VARIANT empty;
    VariantInit(&empty);
    int32_t h = store.Create("T", TagTypeOfVarType(c.created), empty, 0, true);
    EXPECT_EQ(store.Sample(store.Find("T")).type, c.type);
    EXPECT_FALSE(store.Sample(store.Find("T")).hasValue);
    store.Update(h, c.value, 192);
    UaVariant read = ValueOf(store.Sample(store.Find("T")));
    EXPECT_EQ(read.type, c.type);
    const bool exact = std::visit(
        [&read](auto expected) { return std::get<decltype(expected)>(read.values[0]) == expected; },
        c.read);
    EXPECT_TRUE(exact);
  }
}

TEST(TagStore, AGoodTagWithoutAValueWaitsForItsFirstValue) {
  TagStore store;
  VARIANT empty;
  VariantInit(&empty);
  int32_t h = store.Create("R", empty, 192, true);
  TagSample s = store.Sample(store.Find("R"));
  EXPECT_FALSE(s.hasValue);
  EXPECT_EQ(s.status, UaStatus::BadWaitingForInitialData);
  store.Update(h, FloatVariant(3.5f), 192);
  EXPECT_EQ(store.Sample(store.Find("R")).status, UaStatus::Good);
}

TEST(TagStore, AStatusUpdateKeepsItsCodeAndSourceTime) {
  TagStore store;
  VARIANT empty;
  VariantInit(&empty);
  int32_t h = store.Create("S", empty, 0, false);
  TagNode* node = store.Find("S");
  ASSERT_TRUE(store.UpdateStatus(h, empty, UaStatus::BadWaitingForInitialData, 0));
  TagSample s = store.Sample(node);
  EXPECT_EQ(s.status, UaStatus::BadWaitingForInitialData);
  EXPECT_NE(s.sourceTime, 0) << "0 stamps the moment of the call";
  ASSERT_TRUE(store.UpdateStatus(h, FloatVariant(4), UaStatus::BadTimeout, 1234567));
  s = store.Sample(node);
  EXPECT_EQ(s.status, UaStatus::BadTimeout);
  EXPECT_EQ(s.value, 4.0f);
  EXPECT_EQ(s.sourceTime, 1234567);
  EXPECT_GT(s.serverTime, s.sourceTime);
  // Good without a value would show a good nothing.
  ASSERT_TRUE(store.UpdateStatus(h, empty, UaStatus::Good, 0));
  EXPECT_EQ(store.Sample(node).status, UaStatus::BadWaitingForInitialData);
  EXPECT_TRUE(store.Remove(h));
  EXPECT_FALSE(store.UpdateStatus(h, empty, UaStatus::Good, 0));
}

TEST(TagStore, ChangesAreCoalescedAndTheServerIsWokenOncePerBatch) {
  TagStore store;
  int wakes = 0;
  store.SetChangeNotifier([&] { ++wakes; });
  int32_t a = store.Create("A", FloatVariant(1), 192, false);
  int32_t b = store.Create("B", FloatVariant(1), 192, false);
  store.Update(a, FloatVariant(2), 192);
  store.Update(a, FloatVariant(3), 192);
  store.Update(b, FloatVariant(4), 0);
  EXPECT_EQ(wakes, 1);
  std::vector<std::pair<TagNode*, TagSample>> changes;
  store.TakeChanges(changes);
  ASSERT_EQ(changes.size(), 2u);
  EXPECT_EQ(changes[0].second.value, 3.0f);
  EXPECT_EQ(changes[1].second.status, UaStatus::Bad);
  store.Update(b, FloatVariant(5), 192);
  EXPECT_EQ(wakes, 2);
}

}  // namespace
}  // namespace tagserver
