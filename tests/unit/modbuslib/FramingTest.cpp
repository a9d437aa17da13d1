// Bytes on the wire: checks, the three framings and the PDUs they carry.
#include <gtest/gtest.h>

#include "modbuslib/AsciiFramer.h"
#include "modbuslib/Checksum.h"
#include "modbuslib/MbapFramer.h"
#include "modbuslib/PduCodec.h"
#include "modbuslib/RtuFramer.h"

using mbl::Exchange;
using mbl::FrameResult;
using Bytes = std::vector<uint8_t>;

namespace {
Bytes text(const std::string& s) { return Bytes(s.begin(), s.end()); }

Exchange exchange(uint8_t fn, uint16_t address, uint16_t count, bool wide = false) {
  Exchange ex;
  ex.slave = 1;
  ex.function = fn;
  ex.wireAddress = address;
  ex.count = count;
  ex.words = wide ? count * 2 : count;
  ex.wide = wide;
  return ex;
}
}  // namespace

TEST(Checksum, KnownFramesOfTheModbusDocuments) {
  // Read 10 holding registers from slave 1 at 0: CRC bytes CD C5 on the wire.
  EXPECT_EQ(mbl::crc16(Bytes{1, 3, 0, 0, 0, 10}), 0xCDC5);
  EXPECT_EQ(mbl::crc16(Bytes{}), 0xFFFF);
  EXPECT_EQ(mbl::lrc(Bytes{0x11, 0x03, 0x00, 0x6B, 0x00, 0x03}), 0x7E);
  EXPECT_EQ(mbl::lrc(Bytes{}), 0);
  EXPECT_EQ(mbl::lrc(Bytes{0xFF, 0x01}), 0);
}

// What the framers are asked to find: slave 1, function 3, two registers.
const mbl::Expectation kTwoRegisters{1, 3, 6};

Bytes joined(std::initializer_list<Bytes> parts) {
  Bytes all;
  for (const Bytes& p : parts) all.insert(all.end(), p.begin(), p.end());
  return all;
}

TEST(RtuFramer, FindsTheAnswerOnlyWhenItIsComplete) {
  mbl::RtuFramer framer;
  const Bytes frame = framer.encode(1, Bytes{3, 4, 0, 1, 0, 2});
  EXPECT_EQ(frame, (Bytes{1, 3, 4, 0, 1, 0, 2, 0x2A, 0x32}));
  for (size_t n = 0; n < frame.size(); ++n) {
    const FrameResult r = framer.parse(std::span(frame).first(n), kTwoRegisters);
    EXPECT_EQ(r.kind, FrameResult::Kind::Incomplete) << n;
    EXPECT_EQ(r.consumed, 0u) << n;
  }
  const FrameResult r = framer.parse(frame, kTwoRegisters);
  ASSERT_EQ(r.kind, FrameResult::Kind::Frame);
  EXPECT_EQ(r.address, 1);
  EXPECT_EQ(r.pdu, (Bytes{3, 4, 0, 1, 0, 2}));
  EXPECT_EQ(r.consumed, frame.size());
}

// Each case: the bytes on the line, and what the framer must make of them.
struct LineCase {
  const char* what;
  Bytes bytes;
  FrameResult::Kind kind;
  int status;
  size_t consumed;
  unsigned dropped;
};

void expectCases(mbl::Framer& framer, const std::vector<LineCase>& cases) {
  for (const LineCase& c : cases) {
    const FrameResult r = framer.parse(c.bytes, kTwoRegisters);
    EXPECT_EQ(r.kind, c.kind) << c.what;
    EXPECT_EQ(r.status, c.status) << c.what;
    EXPECT_EQ(r.consumed, c.consumed) << c.what;
    EXPECT_EQ(r.dropped, c.dropped) << c.what;
  }
}

TEST(RtuFramer, SkipsWhatIsNotTheAnswerAndRefusesADamagedOne) {
  mbl::RtuFramer framer;
  const Bytes good = framer.encode(1, Bytes{3, 4, 0, 1, 0, 2});
  Bytes damaged = good;
  damaged[4] ^= 0x40;
  const Bytes exception = framer.encode(1, Bytes{0x83, 2});
  const Bytes otherSlave = framer.encode(2, Bytes{3, 4, 0, 1, 0, 2});
  const Bytes otherCount = framer.encode(1, Bytes{3, 2, 0, 9});
  const Bytes noise{0x00, 0xFF, 0x01, 0x03};  // ends like the start of an answer
  using K = FrameResult::Kind;
  expectCases(
      framer,
      {
          {"noise, then the answer", joined({noise, good}), K::Frame, 0, 13, 1},
          {"noise, then half the answer", joined({noise, Bytes(good.begin(), good.begin() + 5)}),
           K::Incomplete, 0, 4, 1},
          {"an exception answer", exception, K::Frame, 0, 5, 0},
          {"another slave's frame, then the answer", joined({otherSlave, good}), K::Frame, 0, 18,
           1},
          {"a late answer of another length, then the answer", joined({otherCount, good}), K::Frame,
           0, 16, 1},
          {"a damaged answer", damaged, K::Error, MBS_INVALID_CHECKSUM, 9, 1},
          {"a damaged answer, then the good one", joined({damaged, good}), K::Frame, 0, 18, 1},
          {"only another slave's frame", otherSlave, K::Incomplete, 0, 9, 1},
          {"nothing yet", Bytes{}, K::Incomplete, 0, 0, 0},
      });
}

TEST(AsciiFramer, EncodesUpperHexWithLrcAndParsesWhatItFinds) {
  mbl::AsciiFramer framer;
  const Bytes frame = framer.encode(0x11, Bytes{0x06, 0x00, 0x6B, 0x00, 0x03});
  EXPECT_EQ(frame, text(":1106006B00037B\r\n"));
  const mbl::Expectation write{0x11, 6, 5};
  EXPECT_EQ(framer.parse(std::span(frame).first(frame.size() - 1), write).kind,
            FrameResult::Kind::Incomplete);
  // Noise before the start character is skipped; lower-case hex is read.
  const FrameResult r = framer.parse(text("\x01zz:1106006b00037b\r\n"), write);
  ASSERT_EQ(r.kind, FrameResult::Kind::Frame);
  EXPECT_EQ(r.address, 0x11);
  EXPECT_EQ(r.pdu, (Bytes{0x06, 0x00, 0x6B, 0x00, 0x03}));
}

TEST(AsciiFramer, RestartsOnEachColonAndDropsLinesThatAreNotTheAnswer) {
  mbl::AsciiFramer framer;
  const Bytes good = framer.encode(1, Bytes{3, 4, 0, 1, 0, 2});
  Bytes damaged = good;
  damaged[damaged.size() - 3] ^= 0x01;  // the LRC's last digit
  const Bytes otherSlave = framer.encode(2, Bytes{3, 4, 0, 1, 0, 2});
  const Bytes otherLength = framer.encode(1, Bytes{3, 2, 0, 9});
  Bytes noCr = good;
  noCr.erase(noCr.end() - 2);
  Bytes notHex = good;
  notHex[5] = 'G';
  Bytes oddLength = good;
  oddLength.erase(oddLength.begin() + 5);
  Bytes endless{':'};
  endless.resize(mbl::AsciiFramer::kMaxFrame + 1, '0');
  using K = FrameResult::Kind;
  expectCases(framer, {
                          {"a frame broken off by a new start", joined({text(":010304"), good}),
                           K::Frame, 0, 26, 1},
                          {"garbage and a half frame", text("zz\x7f:0103"), K::Incomplete, 0, 3, 1},
                          {"a damaged answer", damaged, K::Error, MBS_INVALID_CHECKSUM, 19, 0},
                          {"another slave's answer, then ours", joined({otherSlave, good}),
                           K::Frame, 0, 38, 1},
                          {"an answer of another length", otherLength, K::Incomplete, 0, 15, 1},
                          {"no CR before LF", noCr, K::Incomplete, 0, 18, 1},
                          {"not hex", notHex, K::Incomplete, 0, 19, 1},
                          {"odd length", oddLength, K::Incomplete, 0, 18, 1},
                          {"too short", text(":\r\n"), K::Incomplete, 0, 3, 1},
                          {"a start without an end, longer than any frame", endless, K::Incomplete,
                           0, endless.size(), 1},
                          {"no start at all", text("no start at all"), K::Incomplete, 0, 15, 1},
                      });
}

TEST(MbapFramer, TransactionsAdvanceAndEarlierOnesAreSkipped) {
  mbl::MbapFramer framer;
  const Bytes first = framer.encode(7, Bytes{3, 0, 0, 0, 1});
  EXPECT_EQ(first, (Bytes{0, 1, 0, 0, 0, 6, 7, 3, 0, 0, 0, 1}));
  const Bytes second = framer.encode(7, Bytes{3, 0, 0, 0, 1});
  EXPECT_EQ(second[1], 2);
  const Bytes answer{0, 2, 0, 0, 0, 5, 7, 3, 2, 0x12, 0x34};
  const Bytes late{0, 1, 0, 0, 0, 6, 7, 6, 0, 1, 0, 9};
  const mbl::Expectation any{};
  const FrameResult r = framer.parse(joined({late, answer}), any);
  ASSERT_EQ(r.kind, FrameResult::Kind::Frame);
  EXPECT_EQ(r.address, 7);
  EXPECT_EQ(r.pdu, (Bytes{3, 2, 0x12, 0x34}));
  EXPECT_EQ(r.consumed, late.size() + answer.size());
  EXPECT_EQ(r.dropped, 1u);
  using K = FrameResult::Kind;
  expectCases(
      framer,
      {
          {"half the answer", Bytes(answer.begin(), answer.begin() + 10), K::Incomplete, 0, 0, 0},
          {"only a late answer", late, K::Incomplete, 0, 12, 1},
          {"protocol not 0", Bytes{0, 2, 0, 1, 0, 5, 7, 3, 2, 0, 0}, K::Error, MBS_INVALID_RESPONSE,
           11, 0},
          {"length 1", Bytes{0, 2, 0, 0, 0, 1, 7}, K::Error, MBS_INVALID_RESPONSE, 7, 0},
          {"length 256", Bytes{0, 2, 0, 0, 1, 0, 7}, K::Error, MBS_INVALID_RESPONSE, 7, 0},
      });
}

TEST(PduCodec, RequestsOfEveryFunction) {
  const uint16_t coils[10] = {1, 0, 0, 0, 0, 0, 0, 9, 1, 1};
  EXPECT_EQ(mbl::PduCodec::encode(exchange(1, 19, 37), nullptr), (Bytes{1, 0, 19, 0, 37}));
  EXPECT_EQ(mbl::PduCodec::encode(exchange(4, 8, 1), nullptr), (Bytes{4, 0, 8, 0, 1}));
  const uint16_t on = 2;
  const uint16_t off = 0;
  EXPECT_EQ(mbl::PduCodec::encode(exchange(5, 172, 1), &on), (Bytes{5, 0, 172, 0xFF, 0}));
  EXPECT_EQ(mbl::PduCodec::encode(exchange(5, 172, 1), &off), (Bytes{5, 0, 172, 0, 0}));
  EXPECT_EQ(mbl::PduCodec::encode(exchange(15, 19, 10), coils),
            (Bytes{15, 0, 19, 0, 10, 2, 0x81, 0x03}));
  const uint16_t regs[2] = {0x000A, 0x0102};
  EXPECT_EQ(mbl::PduCodec::encode(exchange(16, 1, 2), regs),
            (Bytes{16, 0, 1, 0, 2, 4, 0, 10, 1, 2}));
  EXPECT_EQ(mbl::PduCodec::encode(exchange(16, 7001, 1, true), regs),
            (Bytes{16, 0x1B, 0x59, 0, 1, 4, 0, 10, 1, 2}));
}

TEST(PduCodec, AnswersAreCheckedAgainstTheirRequest) {
  uint16_t words[16] = {};
  EXPECT_EQ(mbl::PduCodec::decode(exchange(1, 19, 10), Bytes{1, 2, 0xCD, 0x01}, words), 0);
  EXPECT_EQ(std::vector<uint16_t>(words, words + 10),
            (std::vector<uint16_t>{1, 0, 1, 1, 0, 0, 1, 1, 1, 0}));
  EXPECT_EQ(mbl::PduCodec::decode(exchange(3, 0, 2), Bytes{3, 4, 0x12, 0x34, 0xAB, 0xCD}, words),
            0);
  EXPECT_EQ(words[0], 0x1234);
  EXPECT_EQ(words[1], 0xABCD);
  EXPECT_EQ(mbl::PduCodec::decode(exchange(3, 0, 1, true), Bytes{3, 4, 1, 2, 3, 4}, words), 0);
  EXPECT_EQ(words[0], 0x0102);
  EXPECT_EQ(words[1], 0x0304);
  // Exceptions give their number; number 0 is no exception at all.
  EXPECT_EQ(mbl::PduCodec::decode(exchange(3, 0, 1), Bytes{0x83, 4}, words), 4);
  EXPECT_EQ(mbl::PduCodec::decode(exchange(3, 0, 1), Bytes{0x83, 255}, words), 255);
  EXPECT_EQ(mbl::PduCodec::decode(exchange(3, 0, 1), Bytes{0x83, 0}, words), 267);
  EXPECT_EQ(mbl::PduCodec::decode(exchange(3, 0, 1), Bytes{0x84, 2}, words), 267);
  EXPECT_EQ(mbl::PduCodec::decode(exchange(3, 0, 1), Bytes{4, 2, 0, 0}, words), 267);
  EXPECT_EQ(mbl::PduCodec::decode(exchange(3, 0, 2), Bytes{3, 2, 0, 0}, words), 267);
  EXPECT_EQ(mbl::PduCodec::decode(exchange(3, 0, 1), Bytes{3, 2, 0}, words), 267);
  EXPECT_EQ(mbl::PduCodec::decode(exchange(3, 0, 1), Bytes{}, words), 267);
  EXPECT_EQ(mbl::PduCodec::decode(exchange(16, 5, 2), Bytes{16, 0, 5, 0, 2}, words), 0);
  EXPECT_EQ(mbl::PduCodec::decode(exchange(16, 5, 2), Bytes{16, 0, 5, 0, 3}, words), 267);
}

TEST(PduCodec, WriteEchoesMustRepeatAddressAndValueOrQuantity) {
  struct Case {
    Exchange ex;
    uint16_t sent;
    Bytes echo;
    int status;
  };
  const Case cases[] = {
      {exchange(5, 5, 1), 1, Bytes{5, 0, 5, 0xFF, 0}, 0},
      {exchange(5, 5, 1), 1, Bytes{5, 0, 5, 0, 0}, 267},
      {exchange(5, 5, 1), 0, Bytes{5, 0, 5, 0, 0}, 0},
      {exchange(6, 5, 1), 3, Bytes{6, 0, 5, 0, 3}, 0},
      {exchange(6, 5, 1), 3, Bytes{6, 0, 5, 0, 4}, 267},
      {exchange(6, 5, 1), 3, Bytes{6, 0, 6, 0, 3}, 267},
      {exchange(16, 5, 2), 0, Bytes{16, 0, 5, 0, 2}, 0},
      {exchange(16, 5, 2), 0, Bytes{16, 0, 5, 0, 3}, 267},
      {exchange(15, 5, 10), 0, Bytes{15, 0, 4, 0, 10}, 267},
      {exchange(16, 7001, 1, true), 0, Bytes{16, 0x1B, 0x59, 0, 1}, 0},
  };
  for (const Case& c : cases) {
    uint16_t words[2] = {c.sent, 0};
    EXPECT_EQ(mbl::PduCodec::decode(c.ex, c.echo, words), c.status)
        << "function " << int(c.ex.function) << " echo word " << int(c.echo[4]);
  }
}
