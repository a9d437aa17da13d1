// Modbus ASCII slave on a serial line. libmodbus has no ASCII framing: frames
// are decoded here and each request is answered by libmodbus's RTU side
// through a socket pair, whose RTU reply is framed back as ASCII.
#pragma once

#include <modbus/modbus.h>

#include <vector>

#include "AsciiFramer.h"
#include "SerialLine.h"
#include "SimTables.h"
#include "SimTransport.h"

class AsciiSlave : public SimTransport {
 public:
  AsciiSlave(SimTables& tables, SerialLine& line, int slave);
  ~AsciiSlave() override;
  AsciiSlave(const AsciiSlave&) = delete;
  AsciiSlave& operator=(const AsciiSlave&) = delete;

  void CollectFds(std::vector<int>& fds) const override;
  void OnReadable(int fd) override;

  // What to do with a decoded frame (address + PDU): hand it to libmodbus only
  // when it is one of the functions the simulator serves and exactly as long
  // as that function says, since libmodbus reads the fields it expects.
  enum class Verdict { kServe, kIllegalFunction, kDrop };
  static Verdict Judge(const std::vector<uint8_t>& frame);

 private:
  void Answer(const std::vector<uint8_t>& frame);
  std::vector<uint8_t> TakeRtuReply();
  void Send(const std::vector<uint8_t>& frame);

  SimTables& m_tables;
  SerialLine& m_line;
  int m_nSlave;
  modbus_t* m_pCtx;
  int m_pair[2] = {-1, -1};
  AsciiFramer m_framer;
};
