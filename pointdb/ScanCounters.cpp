#include "pointdb/ScanCounters.h"

#include "pointdb/ScanStatus.h"

void ScanCounters::Count(int32_t number, int64_t roundTripMs) {
  const auto status = static_cast<ScanStatus>(number);
  bool exception = IsSlaveException(number);
  responses += status == ScanStatus::Ok || exception;
  exceptions += exception;
  timeouts += status == ScanStatus::PollTimeout;
  checksumErrors += status == ScanStatus::InvalidChecksum;
  mismatches += status == ScanStatus::InvalidResponse;
  linkLosses += status == ScanStatus::SvrNotConnected;
  if (roundTripMs >= 0) lastRoundTripMs = roundTripMs;
  if (status != ScanStatus::Ok) lastError = number;
}

void ScanCounters::Add(const ScanCounters& other) {
  responses += other.responses;
  timeouts += other.timeouts;
  checksumErrors += other.checksumErrors;
  mismatches += other.mismatches;
  linkLosses += other.linkLosses;
  exceptions += other.exceptions;
  if (lastRoundTripMs < 0) lastRoundTripMs = other.lastRoundTripMs;
  if (lastError == 0) lastError = other.lastError;
}
