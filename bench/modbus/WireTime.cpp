#include "WireTime.h"

namespace bench {

namespace {
constexpr unsigned kFixedSilenceAbove = 19200;
constexpr double kFixedSilenceMs = 1.75;
constexpr double kSilentCharacters = 3.5;
}  // namespace

WireTime::WireTime(unsigned baudRate, unsigned bitsPerCharacter)
    : baudRate_(baudRate), bitsPerCharacter_(bitsPerCharacter) {}

double WireTime::characterMs() const { return 1000.0 * bitsPerCharacter_ / baudRate_; }

double WireTime::silentIntervalMs() const {
  return baudRate_ > kFixedSilenceAbove ? kFixedSilenceMs : kSilentCharacters * characterMs();
}

double WireTime::rtuReadMs(int registers) const {
  return silentIntervalMs() + (rtuRequestBytes() + rtuAnswerBytes(registers)) * characterMs();
}

double WireTime::asciiReadMs(int registers) const {
  return (asciiRequestChars() + asciiAnswerChars(registers)) * characterMs();
}

}  // namespace bench
