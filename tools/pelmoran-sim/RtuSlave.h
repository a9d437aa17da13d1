// Modbus RTU slave on a serial line; libmodbus frames and answers requests.
#pragma once

#include <modbus/modbus.h>

#include <vector>

#include "SerialLine.h"
#include "SimTables.h"
#include "SimTransport.h"

class RtuSlave : public SimTransport {
 public:
  RtuSlave(SimTables& tables, SerialLine& line, const LineSettings& settings, int slave);
  ~RtuSlave() override;
  RtuSlave(const RtuSlave&) = delete;
  RtuSlave& operator=(const RtuSlave&) = delete;

  void CollectFds(std::vector<int>& fds) const override;
  void OnReadable(int fd) override;

 private:
  void NewContext();

  SimTables& m_tables;
  SerialLine& m_line;
  LineSettings m_settings;
  int m_nSlave;
  modbus_t* m_pCtx = nullptr;
};
