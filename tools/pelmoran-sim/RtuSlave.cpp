#include "RtuSlave.h"

#include <stdexcept>

CRtuSlave::CRtuSlave(CSimTables& tables, CSerialLine& line, const LineSettings& settings, int slave)
    : m_tables(tables),
      m_line(line),
      m_pCtx(modbus_new_rtu(line.MasterDevice().c_str(), settings.nBaud, settings.cParity,
                            settings.nDataBits, settings.nStopBits)) {
  if (m_pCtx == nullptr) throw std::runtime_error("cannot create a Modbus RTU context");
  modbus_set_slave(m_pCtx, slave);
  // After a damaged frame the rest of the line is flushed, so that the next
  // request is read from its first byte.
  modbus_set_error_recovery(m_pCtx, MODBUS_ERROR_RECOVERY_PROTOCOL);
  // The line is already open and set up (it may be a pseudo-terminal that
  // libmodbus could not open itself), so libmodbus only frames on it.
  modbus_set_socket(m_pCtx, line.Fd());
}

CRtuSlave::~CRtuSlave() { modbus_free(m_pCtx); }

void CRtuSlave::CollectFds(std::vector<int>& fds) const { fds.push_back(m_line.Fd()); }

void CRtuSlave::OnReadable(int) {
  uint8_t query[MODBUS_RTU_MAX_ADU_LENGTH];
  const int length = modbus_receive(m_pCtx, query);
  // 0: a request for another slave; negative: a damaged frame, already dropped.
  if (length > 0) modbus_reply(m_pCtx, query, length, m_tables.Mapping());
}
