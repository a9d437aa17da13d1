// How a scan's exchanges with its device ended, counted by the program as it
// handles each finished request (polls and the scan's writes alike): the
// per-slave part of the diagnostics, which the library, counting per
// connection, cannot tell apart.
#pragma once

#include <cstdint>

class ScanCounters {
 public:
  // One finished request with its Modbus status; roundTripMs from sending
  // to handling the answer (queueing included), or -1 when not measured.
  void Count(int32_t status, int64_t roundTripMs);
  // Sums another scan's counts into these (for a slave or an endpoint);
  // the last round trip and error are those of the first scan summed that
  // has one.
  void Add(const ScanCounters& other);

  uint32_t responses = 0;       // answers: good ones and exception answers
  uint32_t timeouts = 0;        // 263
  uint32_t checksumErrors = 0;  // 265
  uint32_t mismatches = 0;      // 267: an answer that does not fit the request
  uint32_t linkLosses = 0;      // 269: the link closed under the exchange
  uint32_t exceptions = 0;      // exception answers 1-255
  int64_t lastRoundTripMs = -1;
  int32_t lastError = 0;  // the last status other than 0
};
