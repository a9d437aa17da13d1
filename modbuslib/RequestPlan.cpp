#include "modbuslib/RequestPlan.h"

#include <algorithm>

namespace mbl {

bool RequestPlan::isWrite(uint8_t function) {
  return function == 5 || function == 6 || function == 15 || function == 16 ||
         function == kMaskWrite;
}

bool RequestPlan::isWideRange(uint16_t address, uint16_t& rangeEnd) {
  if (address >= 5001 && address <= 5999) {
    rangeEnd = 5999;
    return true;
  }
  if (address >= 7001 && address <= 7999) {
    rangeEnd = 7999;
    return true;
  }
  return false;
}

int RequestPlan::checkLength(const RequestHeader& header, bool wide) {
  const int length = header.length;
  if (length == 0 || length > MBS_RESPONSE_CAPACITY) return MBS_INVALID_LENGTH;
  switch (header.function) {
    case 5:
    case 6:
      // A single-register write cannot fill a four-byte register.
      if (length != 1 || wide) return MBS_INVALID_LENGTH;
      break;
    case 15:
      if (length > kMaxWriteCoils) return MBS_INVALID_LENGTH;
      break;
    case 16:
      if (length > kMaxWriteRegisters) return MBS_INVALID_LENGTH;
      break;
    case kMaskWrite:
      // The AND and OR masks of one 16-bit register.
      if (length != 2 || wide) return MBS_INVALID_LENGTH;
      break;
    default: break;
  }
  if (wide && length % 2 != 0) return MBS_INVALID_LENGTH;
  return MBS_OK;
}

int RequestPlan::checkNode(const RequestHeader& header, bool serialLine) {
  if (!serialLine) return MBS_OK;
  if (header.slaveNode > 247) return MBS_INVALID_NODE;
  if (header.slaveNode == 0 && !isWrite(header.function)) return MBS_INVALID_NODE;
  return MBS_OK;
}

int RequestPlan::build(const RequestHeader& header, Dialect dialect, bool serialLine,
                       RequestPlan& plan) {
  const uint8_t fn = header.function;
  if (fn < 1 || (fn > 6 && fn != 15 && fn != 16 && fn != kMaskWrite)) return MBS_INVALID_COMMAND;
  const bool registers = fn == 3 || fn == 4 || fn == 6 || fn == 16 || fn == kMaskWrite;
  uint16_t rangeEnd = 0;
  const bool wide =
      dialect == Dialect::Daniels && registers && isWideRange(header.address, rangeEnd);
  if (int status = checkLength(header, wide)) return status;

  uint32_t wireAddress = header.address;
  if (dialect == Dialect::Standard) {
    // Point addresses are 1-based references; the wire counts from 0.
    if (header.address == 0) return MBS_INVALID_ADDRESS;
    wireAddress = header.address - 1u;
  }
  const uint32_t span = wide ? header.length / 2u : header.length;
  const uint32_t limit = wide ? rangeEnd + 1u : 65536u;
  if (wireAddress + span > limit) return MBS_INVALID_ADDRESS;
  if (int status = checkNode(header, serialLine)) return status;

  plan.exchanges_.clear();
  plan.broadcast_ = serialLine && header.slaveNode == 0;
  plan.split(header, static_cast<uint16_t>(wireAddress), wide);
  return MBS_OK;
}

void RequestPlan::split(const RequestHeader& header, uint16_t wireAddress, bool wide) {
  const uint8_t fn = header.function;
  int perExchange = header.length;  // writes are never split
  if (fn == 1 || fn == 2) perExchange = kMaxBits;
  if (fn == 3 || fn == 4) perExchange = wide ? kMaxWideRegisters * 2 : kMaxRegisters;
  const int wordsPerRegister = wide ? 2 : 1;
  for (int first = 0; first < header.length; first += perExchange) {
    Exchange ex;
    ex.slave = header.slaveNode;
    ex.function = fn;
    ex.firstWord = static_cast<uint16_t>(first);
    ex.words = static_cast<uint16_t>(std::min(perExchange, header.length - first));
    ex.count = static_cast<uint16_t>(fn == kMaskWrite ? 1 : ex.words / wordsPerRegister);
    ex.wireAddress = static_cast<uint16_t>(wireAddress + first / wordsPerRegister);
    ex.wide = wide;
    exchanges_.push_back(ex);
  }
}

}  // namespace mbl
