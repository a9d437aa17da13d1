// What every scan document is given by the runtime that owns it: the link to
// its endpoints, the observer of its tags, the index of the tags' handles, the
// document keys, the definition that the next new scan
// copies, and the default register configuration (which a scan file that is
// opened sets in turn).
#pragma once

#include <cstdint>
#include <string>

#include "pointdb/ModbusMsg.h"
#include "pointdb/TagFormat.h"
#include "pointdb/TagOwners.h"

class IScanLink;
class ITagObserver;

struct ScanContext {
  // Null: no endpoint is reachable and every poll is refused.
  IScanLink* m_pLink = nullptr;
  // Told of every tag the tag server is told of; null: nobody else is.
  ITagObserver* m_pTagObserver = nullptr;
  // Which open scan publishes each tag handle.
  TagOwners m_tagOwners;
  int32_t m_nDocKeyCounter = 1;
  CModbusMsg m_pendingScan;
  std::string m_strPendingEndpoint;
  int m_nDefaultDataType = 0;
  float m_fDefaultLowLimit = 0.0f;
  float m_fDefaultHighLimit = 100.0f;
  TagFormat m_defaultFormat;
  std::string m_strDefaultDelimiter = ".";
};
