// Modbus RTU slave on a serial line; libmodbus frames and answers requests.
#pragma once

#include <modbus/modbus.h>

#include <vector>

#include "SerialLine.h"
#include "SimTables.h"
#include "SimTransport.h"

class CRtuSlave : public CSimTransport {
 public:
  CRtuSlave(CSimTables& tables, CSerialLine& line, const LineSettings& settings, int slave);
  ~CRtuSlave() override;
  CRtuSlave(const CRtuSlave&) = delete;
  CRtuSlave& operator=(const CRtuSlave&) = delete;

  void CollectFds(std::vector<int>& fds) const override;
  void OnReadable(int fd) override;

 private:
  void NewContext();

  CSimTables& m_tables;
  CSerialLine& m_line;
  LineSettings m_settings;
  int m_nSlave;
  modbus_t* m_pCtx = nullptr;
};
