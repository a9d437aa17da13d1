#include "pointdb/ModbusMsg.h"

#include <algorithm>
#include <cstdio>

#include "pointdb/PointType.h"

CModbusMsg::CModbusMsg()
    : m_nKey(0),
      m_nStatus(ToNumber(ScanStatus::Uninitialized)),
      m_nPort(1),
      m_nSlaveNode(1),
      m_nPointType(static_cast<uint8_t>(PointType::HoldingRegister)),
      m_nPointAddress(1),
      m_nScanLength(16),
      m_data{},
      m_nTagCount(16),
      m_nPollFrequency(1000),
      m_strDelimiter(".") {}

bool CModbusMsg::Copy(const CModbusMsg& source) {
  m_nKey = source.m_nKey;
  m_nStatus = source.m_nStatus;
  m_nPort = source.m_nPort;
  m_nPollFrequency = source.m_nPollFrequency;
  m_nSlaveNode = source.m_nSlaveNode;
  m_nPointType = source.m_nPointType;
  m_nPointAddress = source.m_nPointAddress;
  m_nScanLength = source.m_nScanLength;
  m_nTagCount = source.m_nTagCount;
  std::copy_n(source.m_data, kTravelWords, m_data);
  m_strDelimiter = source.m_strDelimiter;
  return true;
}

bool CModbusMsg::IsSameRequest(const CModbusMsg& other) const {
  return m_nKey == other.m_nKey && m_nPort == other.m_nPort && m_nSlaveNode == other.m_nSlaveNode &&
         m_nPointType == other.m_nPointType && m_nPointAddress == other.m_nPointAddress &&
         m_nScanLength == other.m_nScanLength;
}

namespace {

// The digit that leads a register's number in Modbus's own numbering.
const char* PointTypeDigit(uint8_t pointType) {
  switch (static_cast<PointType>(pointType)) {
    case PointType::Coil: return "0";
    case PointType::InputStatus: return "1";
    case PointType::HoldingRegister: return "4";
    case PointType::InputRegister: return "3";
  }
  return "";
}

}  // namespace

std::string CModbusMsg::MakeTagName(int offset, const std::string& prefix) const {
  char node[16];
  std::snprintf(node, sizeof node, "NODE%d", static_cast<int>(m_nSlaveNode));
  // Register numbers are padded to four digits with zeros; five digits or
  // more are written in full.
  char number[16];
  std::snprintf(number, sizeof number, "%4d", static_cast<int>(m_nPointAddress) + offset);
  for (int i = 0; i < 3 && number[i] != '\0'; ++i)
    if (number[i] == ' ') number[i] = '0';
  return prefix + m_strDelimiter + node + m_strDelimiter + PointTypeDigit(m_nPointType) + number;
}

std::string CModbusMsg::GetStatusText() const { return ScanStatusText(m_nStatus); }
