// What a read of holding registers (function 3) costs on a real serial line,
// from the character counts of its frames: a pseudo-terminal has no baud
// delay, so the benchmarks print this beside what they measure.
#pragma once

namespace bench {

class WireTime {
 public:
  // bitsPerCharacter: start, data, parity and stop bits (8N1 = 10, 8E1 = 11).
  WireTime(unsigned baudRate, unsigned bitsPerCharacter);

  double characterMs() const;
  // The RTU silence before each request: 3.5 characters, fixed at 1.75 ms
  // above 19200 baud.
  double silentIntervalMs() const;
  // Silence, request and answer of an RTU read of n registers.
  double rtuReadMs(int registers) const;
  // Request and answer of an ASCII read of n registers (ASCII keeps no silence).
  double asciiReadMs(int registers) const;

  static int rtuRequestBytes() { return kRtuRequestBytes; }
  static int rtuAnswerBytes(int registers) { return kRtuAnswerOverhead + 2 * registers; }
  static int asciiRequestChars() { return kAsciiRequestChars; }
  static int asciiAnswerChars(int registers) { return kAsciiAnswerOverhead + 4 * registers; }
  static double pollsPerSecond(double msPerPoll) { return 1000.0 / msPerPoll; }

 private:
  // Node, function, address, quantity, CRC.
  static constexpr int kRtuRequestBytes = 8;
  // Node, function, byte count, CRC.
  static constexpr int kRtuAnswerOverhead = 5;
  // ':', six bytes and the LRC as hex digits, CR LF.
  static constexpr int kAsciiRequestChars = 1 + 2 * 7 + 2;
  // ':', node, function, byte count and LRC as hex digits, CR LF.
  static constexpr int kAsciiAnswerOverhead = 1 + 2 * 4 + 2;

  unsigned baudRate_;
  unsigned bitsPerCharacter_;
};

}  // namespace bench
