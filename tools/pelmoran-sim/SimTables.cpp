#include "SimTables.h"

#include <bit>
#include <cmath>
#include <new>
#include <numbers>

namespace {

// Register offsets (wire addresses; the point address is one more).
constexpr int kCounter = 0;
constexpr int kRamp1000 = 1;
constexpr int kRamp4095 = 2;
constexpr int kRamp9999 = 3;
constexpr int kTriangle = 4;
constexpr int kFloatLowFirst = 10;
constexpr int kFloatHighFirst = 12;
constexpr int kLongLowFirst = 14;
constexpr int kLongHighFirst = 16;
constexpr int kWalkingBits = 8;
constexpr int kMirroredCoils = 8;

uint16_t Step(uint16_t value, uint16_t step, uint16_t top) {
  const int next = value + step;
  return next > top ? 0 : static_cast<uint16_t>(next);
}

void PutLowFirst(uint16_t* regs, uint32_t bits) {
  regs[0] = static_cast<uint16_t>(bits & 0xFFFF);
  regs[1] = static_cast<uint16_t>(bits >> 16);
}

void PutHighFirst(uint16_t* regs, uint32_t bits) {
  regs[0] = static_cast<uint16_t>(bits >> 16);
  regs[1] = static_cast<uint16_t>(bits & 0xFFFF);
}

uint32_t GetLowFirst(const uint16_t* regs) { return regs[0] | (uint32_t{regs[1]} << 16); }
uint32_t GetHighFirst(const uint16_t* regs) { return (uint32_t{regs[0]} << 16) | regs[1]; }

}  // namespace

SimTables::SimTables() : m_pMap(modbus_mapping_new(kPoints, kPoints, kPoints, kPoints)) {
  if (m_pMap == nullptr) throw std::bad_alloc();
  PutLowFirst(m_pMap->tab_registers + kLongLowFirst, m_holding.nCounter32);
  PutHighFirst(m_pMap->tab_registers + kLongHighFirst, m_holding.nCounter32);
  PutLowFirst(m_pMap->tab_input_registers + kLongLowFirst, m_input.nCounter32);
  PutHighFirst(m_pMap->tab_input_registers + kLongHighFirst, m_input.nCounter32);
}

SimTables::~SimTables() { modbus_mapping_free(m_pMap); }

void SimTables::Tick() {
  ++m_nTicks;
  Drive(m_pMap->tab_registers, m_holding);
  Drive(m_pMap->tab_input_registers, m_input);
  DriveBits();
}

// Counters and ramps step from whatever the register holds, so a value that a
// client wrote is where they continue; the triangle and the sine are
// functions of time and overwrite a write at the next step.
void SimTables::Drive(uint16_t* regs, Block& block) const {
  regs[kCounter] = static_cast<uint16_t>(regs[kCounter] + 1);
  regs[kRamp1000] = Step(regs[kRamp1000], 10, 1000);
  regs[kRamp4095] = Step(regs[kRamp4095], 45, 4095);
  regs[kRamp9999] = Step(regs[kRamp9999], 111, 9999);
  const int phase = static_cast<int>((m_nTicks * 10) % 400);
  regs[kTriangle] = static_cast<uint16_t>(static_cast<int16_t>(std::abs(phase - 200) - 100));

  const double angle = 2.0 * std::numbers::pi * static_cast<double>(m_nTicks % 60) / 60.0;
  const uint32_t sine = std::bit_cast<uint32_t>(static_cast<float>(100.0 * std::sin(angle)));
  PutLowFirst(regs + kFloatLowFirst, sine);
  PutHighFirst(regs + kFloatHighFirst, sine);

  // A write to either word order of the 32-bit counter sets it.
  if (GetLowFirst(regs + kLongLowFirst) != block.nCounter32) {
    block.nCounter32 = GetLowFirst(regs + kLongLowFirst);
  } else if (GetHighFirst(regs + kLongHighFirst) != block.nCounter32) {
    block.nCounter32 = GetHighFirst(regs + kLongHighFirst);
  }
  ++block.nCounter32;
  PutLowFirst(regs + kLongLowFirst, block.nCounter32);
  PutHighFirst(regs + kLongHighFirst, block.nCounter32);
}

void SimTables::DriveBits() {
  const auto lit = static_cast<int>(m_nTicks % kWalkingBits);
  for (int i = 0; i < kWalkingBits; ++i) {
    m_pMap->tab_bits[i] = i == lit ? 1 : 0;
  }
  const uint16_t counter = m_pMap->tab_registers[kCounter];
  for (int i = 0; i < 8; ++i) {
    m_pMap->tab_input_bits[i] = (counter >> i) & 1;
  }
  for (int i = 0; i < kMirroredCoils; ++i) {
    m_pMap->tab_input_bits[8 + i] = m_pMap->tab_bits[8 + i];
  }
}
