#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "pointdb/MapAddress.h"

namespace {

constexpr auto HR = PointType::HoldingRegister;
constexpr auto IR = PointType::InputRegister;
constexpr auto CO = PointType::Coil;
constexpr auto DI = PointType::InputStatus;
constexpr auto One = MapBase::OneBased;
constexpr auto Zero = MapBase::ZeroBased;

struct AddressCase {
  const char* text;
  MapBase base;
  PointType table;
  int offset;           // -1: refused
  const char* written;  // what it is written back as; null: the text itself
};

TEST(MapAddress, EveryNotationReadsAndIsWrittenBackAsItCame) {
  const std::vector<AddressCase> cases = {
      {"40001", One, HR, 0, nullptr},
      {"49999", Zero, HR, 9998, nullptr},
      {"30001", One, IR, 0, nullptr},
      {"10001", One, DI, 0, nullptr},
      {"00001", One, CO, 0, nullptr},
      {"400001", One, HR, 0, nullptr},
      {"465536", One, HR, 65535, nullptr},
      {"340001", Zero, IR, 40000, nullptr},
      {"HR0", Zero, HR, 0, nullptr},
      {"IR12", Zero, IR, 12, nullptr},
      {"CO5", Zero, CO, 5, nullptr},
      {"DI7", Zero, DI, 7, nullptr},
      {"HR1", One, HR, 0, nullptr},
      {"HR65536", One, HR, 65535, nullptr},
      {"hr65535", Zero, HR, 65535, "HR65535"},
      {"0x9C40", One, HR, 40000, nullptr},
      {"0x9c40", Zero, HR, 40000, "0x9C40"},
      {"HR0x10", One, HR, 16, nullptr},
      {"IR0xFFFF", Zero, IR, 65535, nullptr},
      {"123", One, HR, 122, nullptr},
      {"0", Zero, HR, 0, nullptr},
      {" 30002 ", One, IR, 1, "30002"},
      // Refused.
      {"", One, HR, -1, nullptr},
      {"40000", One, HR, -1, nullptr},
      {"465537", One, HR, -1, nullptr},
      {"20001", One, HR, -1, nullptr},
      {"4000001", One, HR, -1, nullptr},
      {"HR0", One, HR, -1, nullptr},
      {"HR65536", Zero, HR, -1, nullptr},
      {"0x10000", One, HR, -1, nullptr},
      {"XR5", One, HR, -1, nullptr},
      {"HR", One, HR, -1, nullptr},
      {"HR0x", One, HR, -1, nullptr},
      {"HR-1", One, HR, -1, nullptr},
      {"0", One, HR, -1, nullptr},
      {"40001.5", One, HR, -1, nullptr},
  };
  for (const AddressCase& c : cases) {
    MapAddress address;
    std::string error;
    const bool read = ParseMapAddress(c.text, c.base, address, error);
    ASSERT_EQ(read, c.offset >= 0) << '"' << c.text << "\" " << error;
    if (!read) {
      EXPECT_FALSE(error.empty()) << c.text;
      continue;
    }
    EXPECT_EQ(address.table, c.table) << c.text;
    EXPECT_EQ(address.offset, c.offset) << c.text;
    EXPECT_EQ(FormatMapAddress(address, c.base), c.written ? c.written : c.text) << c.text;
  }
}

// A notation that cannot say an address falls back to the table prefix.
TEST(MapAddress, ANotationTooNarrowFallsBackToThePrefix) {
  EXPECT_EQ(FormatMapAddress({HR, 9999, AddressNotation::Modicon5}, One), "HR10000");
  EXPECT_EQ(FormatMapAddress({IR, 5, AddressNotation::Decimal}, Zero), "IR5");
  EXPECT_EQ(FormatMapAddress({CO, 16, AddressNotation::Hex}, Zero), "CO0x10");
}

}  // namespace
