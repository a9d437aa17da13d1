// One finished request as the library's response callback left it: read on
// the library's thread, whole, so that it travels to the main thread without
// the main thread calling back into the library.
#pragma once

#include <cstdint>
#include <vector>

#include "modbuslib/modbuslib.h"

struct ModbusAnswer {
  int handle = -1;
  // What MODBUSResponse returned: 0 good, else a status code.
  int status = MBS_INVALID_HANDLE;
  RequestHeader header{};
  // The header's length in words, at most the response capacity.
  std::vector<uint16_t> words;
  // When the library settled the request (MODBUSResponseTime); 0 when it
  // told no time.
  int64_t settledAt = 0;
};
