#include "RtuSlave.h"

#include <cerrno>
#include <stdexcept>

RtuSlave::RtuSlave(SimTables& tables, SerialLine& line, const LineSettings& settings, int slave)
    : m_tables(tables), m_line(line), m_settings(settings), m_nSlave(slave) {
  NewContext();
}

void RtuSlave::NewContext() {
  if (m_pCtx != nullptr) modbus_free(m_pCtx);
  m_pCtx = modbus_new_rtu(m_line.MasterDevice().c_str(), m_settings.nBaud, m_settings.cParity,
                          m_settings.nDataBits, m_settings.nStopBits);
  if (m_pCtx == nullptr) throw std::runtime_error("cannot create a Modbus RTU context");
  modbus_set_slave(m_pCtx, m_nSlave);
  // After a damaged frame the rest of the line is flushed, so that the next
  // request is read from its first byte.
  modbus_set_error_recovery(m_pCtx, MODBUS_ERROR_RECOVERY_PROTOCOL);
  // The line is already open and set up (it may be a pseudo-terminal that
  // libmodbus could not open itself), so libmodbus only frames on it.
  modbus_set_socket(m_pCtx, m_line.Fd());
}

RtuSlave::~RtuSlave() { modbus_free(m_pCtx); }

void RtuSlave::CollectFds(std::vector<int>& fds) const { fds.push_back(m_line.Fd()); }

void RtuSlave::OnReadable(int) {
  uint8_t query[MODBUS_RTU_MAX_ADU_LENGTH];
  const int length = modbus_receive(m_pCtx, query);
  if (length > 0) {
    modbus_reply(m_pCtx, query, length, m_tables.Mapping());
  } else if (length < 0 && (errno == ECONNRESET || errno == EIO || errno == EBADF)) {
    // A line that is gone stays readable: the loop would spin on it.
    throw std::runtime_error("the line " + m_line.MasterDevice() + " was lost");
  } else if (length == 0) {
    // A request for another slave: libmodbus then takes the next frame for
    // that slave's answer and ignores it. On a line where no other slave
    // answers that would swallow the master's next request to us, so the
    // context starts afresh instead.
    NewContext();
  }
}
