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

TEST(RtuFramer, FindsTheAnswerOnlyWhenItIsComplete) {
  mbl::RtuFramer framer;
  const Bytes frame = framer.encode(1, Bytes{3, 4, 0, 1, 0, 2});
  EXPECT_EQ(frame, (Bytes{1, 3, 4, 0, 1, 0, 2, 0x2A, 0x32}));
  for (size_t n = 0; n < frame.size(); ++n) {
    EXPECT_EQ(framer.parse(std::span(frame).first(n)).kind, FrameResult::Kind::Incomplete) << n;
  }
  const FrameResult r = framer.parse(frame);
  ASSERT_EQ(r.kind, FrameResult::Kind::Frame);
  EXPECT_EQ(r.address, 1);
  EXPECT_EQ(r.pdu, (Bytes{3, 4, 0, 1, 0, 2}));
}

TEST(RtuFramer, DamageExceptionsAndUnknownFunctions) {
  mbl::RtuFramer framer;
  Bytes frame = framer.encode(1, Bytes{3, 2, 0, 9});
  frame[3] ^= 0x40;
  EXPECT_EQ(framer.parse(frame).status, MBS_INVALID_CHECKSUM);
  const Bytes exception = framer.encode(9, Bytes{0x83, 2});
  ASSERT_EQ(exception.size(), 5u);
  EXPECT_EQ(framer.parse(exception).pdu, (Bytes{0x83, 2}));
  const Bytes write = framer.encode(1, Bytes{16, 0, 1, 0, 2});
  EXPECT_EQ(framer.parse(std::span(write).first(7)).kind, FrameResult::Kind::Incomplete);
  EXPECT_EQ(framer.parse(write).kind, FrameResult::Kind::Frame);
  const FrameResult unknown = framer.parse(Bytes{1, 43, 0, 0});
  EXPECT_EQ(unknown.kind, FrameResult::Kind::Error);
  EXPECT_EQ(unknown.status, MBS_INVALID_RESPONSE);
}

TEST(AsciiFramer, EncodesUpperHexWithLrcAndParsesWhatItFinds) {
  mbl::AsciiFramer framer;
  const Bytes frame = framer.encode(0x11, Bytes{0x03, 0x00, 0x6B, 0x00, 0x03});
  EXPECT_EQ(frame, text(":1103006B00037E\r\n"));
  EXPECT_EQ(framer.parse(std::span(frame).first(frame.size() - 1)).kind,
            FrameResult::Kind::Incomplete);
  // Noise before the start character is skipped; lower-case hex is read.
  const FrameResult r = framer.parse(text("\x01zz:1103006b00037e\r\n"));
  ASSERT_EQ(r.kind, FrameResult::Kind::Frame);
  EXPECT_EQ(r.address, 0x11);
  EXPECT_EQ(r.pdu, (Bytes{0x03, 0x00, 0x6B, 0x00, 0x03}));
}

TEST(AsciiFramer, MalformedFramesAreRefused) {
  mbl::AsciiFramer framer;
  EXPECT_EQ(framer.parse(text(":1103006B00037F\r\n")).status, MBS_INVALID_CHECKSUM);
  EXPECT_EQ(framer.parse(text(":1103006B00037E\n")).status, MBS_INVALID_RESPONSE);
  EXPECT_EQ(framer.parse(text(":1103006B0003G7E\r\n")).status, MBS_INVALID_RESPONSE);
  EXPECT_EQ(framer.parse(text(":1103006B00037\r\n")).status, MBS_INVALID_RESPONSE);
  EXPECT_EQ(framer.parse(text(":11EE\r\n")).status, MBS_INVALID_RESPONSE);
  EXPECT_EQ(framer.parse(text(":\r\n")).status, MBS_INVALID_RESPONSE);
  // A start without an end is given up once it is longer than any frame.
  Bytes endless{':'};
  endless.resize(mbl::AsciiFramer::kMaxFrame, '0');
  EXPECT_EQ(framer.parse(endless).kind, FrameResult::Kind::Incomplete);
  endless.push_back('0');
  EXPECT_EQ(framer.parse(endless).status, MBS_INVALID_RESPONSE);
  EXPECT_EQ(framer.parse(text("no start at all")).kind, FrameResult::Kind::Incomplete);
}

TEST(MbapFramer, TransactionsAdvanceAndOnlyTheCurrentOneIsAccepted) {
  mbl::MbapFramer framer;
  const Bytes first = framer.encode(7, Bytes{3, 0, 0, 0, 1});
  EXPECT_EQ(first, (Bytes{0, 1, 0, 0, 0, 6, 7, 3, 0, 0, 0, 1}));
  const Bytes second = framer.encode(7, Bytes{3, 0, 0, 0, 1});
  EXPECT_EQ(second[1], 2);
  const Bytes answer{0, 2, 0, 0, 0, 5, 7, 3, 2, 0x12, 0x34};
  EXPECT_EQ(framer.parse(std::span(answer).first(10)).kind, FrameResult::Kind::Incomplete);
  const FrameResult r = framer.parse(answer);
  ASSERT_EQ(r.kind, FrameResult::Kind::Frame);
  EXPECT_EQ(r.address, 7);
  EXPECT_EQ(r.pdu, (Bytes{3, 2, 0x12, 0x34}));
  EXPECT_EQ(framer.parse(Bytes{0, 1, 0, 0, 0, 5, 7, 3, 2, 0, 0}).status, MBS_INVALID_RESPONSE);
  EXPECT_EQ(framer.parse(Bytes{0, 2, 0, 1, 0, 5, 7, 3, 2, 0, 0}).status, MBS_INVALID_RESPONSE);
  EXPECT_EQ(framer.parse(Bytes{0, 2, 0, 0, 0, 1, 7}).status, MBS_INVALID_RESPONSE);
  EXPECT_EQ(framer.parse(Bytes{0, 2, 0, 0, 1, 0, 7}).status, MBS_INVALID_RESPONSE);
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
  EXPECT_EQ(mbl::PduCodec::decode(exchange(6, 5, 1), Bytes{6, 0, 6, 0, 3}, words), 267);
  EXPECT_EQ(mbl::PduCodec::decode(exchange(5, 5, 1), Bytes{5, 0, 5, 0xFF, 0}, words), 0);
}
