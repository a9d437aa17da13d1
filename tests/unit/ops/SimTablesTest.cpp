#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <numbers>

#include "SimTables.h"

namespace {

uint32_t LowFirst(const uint16_t* r) { return r[0] | (uint32_t{r[1]} << 16); }
uint32_t HighFirst(const uint16_t* r) { return (uint32_t{r[0]} << 16) | r[1]; }

TEST(SimTables, ValuesMoveEveryTick) {
  SimTables tables;
  const uint16_t* hr = tables.Mapping()->tab_registers;
  const uint16_t* ir = tables.Mapping()->tab_input_registers;
  tables.Tick();
  const uint16_t counter = hr[0], ramp = hr[1];
  const uint32_t long32 = LowFirst(hr + 14);
  tables.Tick();
  EXPECT_EQ(hr[0], counter + 1);
  EXPECT_EQ(hr[1], ramp + 10);
  EXPECT_EQ(LowFirst(hr + 14), long32 + 1);
  EXPECT_EQ(ir[0], hr[0]);  // the input block moves the same way
  // The 32-bit counter crosses into its high word within seconds.
  for (int i = 0; i < 10; ++i) tables.Tick();
  EXPECT_GT(hr[15], 0);
}

TEST(SimTables, BothWordOrdersCarryTheSameValue) {
  SimTables tables;
  const uint16_t* hr = tables.Mapping()->tab_registers;
  for (int i = 0; i < 7; ++i) tables.Tick();
  EXPECT_EQ(LowFirst(hr + 14), HighFirst(hr + 16));
  const float low = std::bit_cast<float>(LowFirst(hr + 10));
  const float high = std::bit_cast<float>(HighFirst(hr + 12));
  EXPECT_EQ(low, high);
  EXPECT_NEAR(low, 100.0 * std::sin(2.0 * std::numbers::pi * 7 / 60.0), 1e-3);
  EXPECT_NE(low, 0.0f);
}

TEST(SimTables, RampsStayInTheirScaledRangesAndTriangleIsSigned) {
  SimTables tables;
  const uint16_t* hr = tables.Mapping()->tab_registers;
  bool sawNegative = false;
  for (int i = 0; i < 400; ++i) {
    tables.Tick();
    EXPECT_LE(hr[1], 1000);
    EXPECT_LE(hr[2], 4095);
    EXPECT_LE(hr[3], 9999);
    const auto tri = static_cast<int16_t>(hr[4]);
    EXPECT_GE(tri, -100);
    EXPECT_LE(tri, 100);
    sawNegative = sawNegative || tri < 0;
  }
  EXPECT_TRUE(sawNegative);
}

TEST(SimTables, WrittenCountersContinueFromTheWrittenValue) {
  SimTables tables;
  uint16_t* hr = tables.Mapping()->tab_registers;
  tables.Tick();
  hr[0] = 500;
  tables.Tick();
  EXPECT_EQ(hr[0], 501);
  // A write of the high-word-first pair sets the 32-bit counter.
  hr[16] = 0x0001;
  hr[17] = 0x0000;
  tables.Tick();
  EXPECT_EQ(HighFirst(hr + 16), 65537u);
  EXPECT_EQ(LowFirst(hr + 14), 65537u);
  // And so does a write of the low-word-first pair.
  hr[14] = 10;
  hr[15] = 0;
  tables.Tick();
  EXPECT_EQ(LowFirst(hr + 14), 11u);
  // Memory above the generated block keeps what was written.
  hr[20] = 1234;
  tables.Tick();
  EXPECT_EQ(hr[20], 1234);
  // The input block is not touched by writes to holding registers.
  EXPECT_NE(tables.Mapping()->tab_input_registers[0], 502);
}

TEST(SimTables, CoilsWalkAndInputsFollow) {
  SimTables tables;
  auto* map = tables.Mapping();
  map->tab_bits[9] = 1;  // a client's write to a memory coil
  tables.Tick();
  int lit = 0;
  for (int i = 0; i < 8; ++i) lit += map->tab_bits[i];
  EXPECT_EQ(lit, 1);
  EXPECT_EQ(map->tab_input_bits[8 + 1], 1);  // mirrored onto an input
  for (int i = 0; i < 8; ++i) {
    EXPECT_EQ(map->tab_input_bits[i], (map->tab_registers[0] >> i) & 1);
  }
}

}  // namespace
