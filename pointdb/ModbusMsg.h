// The scan record, and as a heap copy every Modbus request (poll or write).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "pointdb/ScanStatus.h"

class IRequestSink;

class CModbusMsg {
 public:
  static constexpr int kDataWords = 4000;
  // Only this many words travel in a copy or a response.
  static constexpr int kTravelWords = 2000;
  CModbusMsg();
  virtual ~CModbusMsg() = default;

  // Field by field, the first 2000 data words only; always true.
  bool Copy(const CModbusMsg& source);
  // Same key, port, slave node, point type, point address and scan length.
  bool IsSameRequest(const CModbusMsg& other) const;
  std::string MakeTagName(int offset, const std::string& prefix) const;
  std::string GetStatusText() const;
  ScanStatus Status() const { return static_cast<ScanStatus>(m_nStatus); }
  void SetStatus(ScanStatus status) { m_nStatus = ToNumber(status); }

  int32_t m_nKey;
  int32_t m_nStatus;
  int32_t m_nPort;
  uint8_t m_nSlaveNode;
  uint8_t m_nPointType;
  uint16_t m_nPointAddress;
  uint16_t m_nScanLength;
  uint16_t m_data[kDataWords];
  int32_t m_nTagCount;
  int32_t m_nPollFrequency;
  std::string m_strDelimiter;
  // A write request: the tokens of the client writes it answers (more than
  // one when newer writes took the place of a waiting one). Not copied:
  // each request answers only its own.
  std::vector<uint64_t> m_clientWrites;
  // When the library settled the request (its answer arrived, or it timed
  // out), as FILETIME ticks; 0 when the program settled it itself. Not
  // copied: it belongs to one exchange.
  int64_t m_answeredAt = 0;
  // The scan that takes the request back when its endpoint is done with it,
  // so that finishing needs no search; expired once that scan is closed. Not
  // copied: a request belongs to the scan that sent it.
  std::weak_ptr<IRequestSink> m_pScan;
};
