#include "pointdb/ScanCounters.h"

#include "modbuslib/modbuslib.h"

namespace {

constexpr int32_t kLastException = 255;

}  // namespace

void ScanCounters::Count(int32_t status, int64_t roundTripMs) {
  bool exception = status > MBS_OK && status <= kLastException;
  responses += status == MBS_OK || exception;
  exceptions += exception;
  timeouts += status == MBS_POLL_TIMEOUT;
  checksumErrors += status == MBS_INVALID_CHECKSUM;
  mismatches += status == MBS_INVALID_RESPONSE;
  if (roundTripMs >= 0) lastRoundTripMs = roundTripMs;
  if (status != MBS_OK) lastError = status;
}

void ScanCounters::Add(const ScanCounters& other) {
  responses += other.responses;
  timeouts += other.timeouts;
  checksumErrors += other.checksumErrors;
  mismatches += other.mismatches;
  exceptions += other.exceptions;
  if (lastRoundTripMs < 0) lastRoundTripMs = other.lastRoundTripMs;
  if (lastError == 0) lastError = other.lastError;
}
