#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "AsciiFramer.h"
#include "AsciiSlave.h"

namespace {

using Frames = std::vector<std::vector<uint8_t>>;

Frames FeedText(AsciiFramer& framer, const std::string& text) {
  Frames frames;
  framer.Feed(reinterpret_cast<const uint8_t*>(text.data()), text.size(), frames);
  return frames;
}

TEST(AsciiFramer, EncodesWithLrcAndDecodesItsOwnFrames) {
  // Read 2 holding registers from address 0 of slave 1: LRC of 01 03 00 00 00 02 is FA.
  EXPECT_EQ(AsciiFramer::Encode({1, 3, 0, 0, 0, 2}), ":010300000002FA\r\n");
  AsciiFramer framer;
  const std::vector<uint8_t> reply = {1, 3, 4, 0x12, 0xAB, 0xFF, 0x00};
  const Frames frames = FeedText(framer, AsciiFramer::Encode(reply));
  ASSERT_EQ(frames.size(), 1u);
  EXPECT_EQ(frames[0], reply);
  // Lower-case digits are accepted too.
  EXPECT_EQ(FeedText(framer, ":010300000002fa\r\n").size(), 1u);
}

TEST(AsciiFramer, FramesSplitAcrossReadsAndBackToBack) {
  AsciiFramer framer;
  EXPECT_TRUE(FeedText(framer, "noise:0103000000").empty());
  const Frames frames = FeedText(framer, "02FA\r\n:010300000002FA\r\n");
  EXPECT_EQ(frames.size(), 2u);
  EXPECT_EQ(framer.DroppedFrames(), 0u);
}

TEST(AsciiFramer, DamagedFramesAreDroppedAndCounted) {
  AsciiFramer framer;
  EXPECT_TRUE(FeedText(framer, ":010300000002FB\r\n").empty());  // wrong LRC
  EXPECT_TRUE(FeedText(framer, ":010300000002F\r\n").empty());   // odd digit count
  EXPECT_TRUE(FeedText(framer, ":0103000G0002FA\r\n").empty());  // not hexadecimal
  EXPECT_TRUE(FeedText(framer, ":01FF\r\n").empty());            // too short for a request
  EXPECT_TRUE(FeedText(framer, ":010300000002FA\rX").empty());   // CR without LF
  EXPECT_EQ(framer.DroppedFrames(), 5u);
  // A colon in the middle starts over; the cut frame is lost, the new one kept.
  EXPECT_EQ(FeedText(framer, ":0103:010300000002FA\r\n").size(), 1u);
  EXPECT_EQ(framer.DroppedFrames(), 6u);
}

TEST(AsciiFramer, OverlongFrameIsDroppedWithoutGrowing) {
  AsciiFramer framer;
  const std::string longText = ":" + std::string(AsciiFramer::kMaxChars + 10, '0') + "\r\n";
  EXPECT_TRUE(FeedText(framer, longText).empty());
  EXPECT_EQ(framer.DroppedFrames(), 1u);
  EXPECT_EQ(FeedText(framer, ":010300000002FA\r\n").size(), 1u);
}

TEST(AsciiSlave, ServesOnlyRequestsOfTheRightLength) {
  using V = AsciiSlave::Verdict;
  EXPECT_EQ(AsciiSlave::Judge({1, 3, 0, 0, 0, 2}), V::kServe);
  EXPECT_EQ(AsciiSlave::Judge({1, 3, 0, 0, 0}), V::kDrop);
  EXPECT_EQ(AsciiSlave::Judge({1, 6, 0, 0, 0, 2, 9}), V::kDrop);
  // Write 2 registers: byte count 4 and exactly 4 data bytes.
  EXPECT_EQ(AsciiSlave::Judge({1, 16, 0, 0, 0, 2, 4, 0, 1, 0, 2}), V::kServe);
  EXPECT_EQ(AsciiSlave::Judge({1, 16, 0, 0, 0, 2, 4, 0, 1, 0}), V::kDrop);
  EXPECT_EQ(AsciiSlave::Judge({1, 15, 0, 0, 0, 8}), V::kDrop);
  EXPECT_EQ(AsciiSlave::Judge({1, 0x17, 0, 0}), V::kIllegalFunction);
  EXPECT_EQ(AsciiSlave::Judge({1}), V::kDrop);
}

}  // namespace
