// The simulator's point tables and the generators that make their values move.
#pragma once

#include <modbus/modbus.h>

#include <cstdint>

class SimTables {
 public:
  // Every table holds this many points, so that a scan of the program's
  // largest length (2000) can be served from address 1.
  static constexpr int kPoints = 2000;

  SimTables();
  ~SimTables();
  SimTables(const SimTables&) = delete;
  SimTables& operator=(const SimTables&) = delete;

  modbus_mapping_t* Mapping() const { return m_pMap; }
  // Advances every generator by one step.
  void Tick();
  uint64_t Ticks() const { return m_nTicks; }

 private:
  // One generated register block: holding and input registers each have one,
  // so that a client's write to a holding register never moves an input.
  struct Block {
    uint32_t nCounter32 = 65530;  // crosses into its high word within seconds
  };
  void Drive(uint16_t* regs, Block& block) const;
  void DriveBits();

  modbus_mapping_t* m_pMap;
  Block m_holding;
  Block m_input;
  uint64_t m_nTicks = 0;
};
