// The position estimate on its own, with made-up callback times: 1024 frames
// a second and an output latency of 1/8 s, so that every figure is exact.
#include "playback/PlayPosition.h"

#include <gtest/gtest.h>

namespace {

constexpr double kRate = 1024;
constexpr double kLatency = 0.125;
constexpr double kFrame = 1 / kRate;  // seconds

}  // namespace

TEST(PlayPosition, CarriesTheNewestBlockForwardAndCountsDataOnly) {
  PlayPosition p(kRate, kLatency);
  p.Started(0);
  EXPECT_EQ(p.Frames(), 0u);
  p.Handed(128, 128, 0.25);
  p.Advance(0.25);
  EXPECT_EQ(p.Frames(), 0u) << "the block's first frame is only now reaching the output";
  p.Advance(0.25 + 64 * kFrame);
  EXPECT_EQ(p.Frames(), 64u);

  // A block of 32 data frames, then silence.
  p.Handed(128, 32, 0.375);
  p.Advance(0.375 + 16 * kFrame);
  EXPECT_EQ(p.Frames(), 144u);
  p.Advance(0.375 + 64 * kFrame);
  EXPECT_EQ(p.Frames(), 160u) << "silence after the data counts as no frames";
  p.Advance(5.0);
  EXPECT_EQ(p.Frames(), 160u);
  EXPECT_EQ(p.HandedData(), 160u);

  p.Advance(0.25);
  EXPECT_EQ(p.Frames(), 160u) << "the position moved backwards";
}

TEST(PlayPosition, MapsAnEarlierTimeBackThroughTheBlocksBefore) {
  PlayPosition p(kRate, kLatency);
  p.Started(0);
  p.Handed(128, 100, 0.25);  // 100 data frames, then silence
  p.Handed(128, 128, 0.375);
  // The newest block is not heard yet: the time falls into the one before.
  p.Advance(0.25 + 64 * kFrame);
  EXPECT_EQ(p.Frames(), 64u);
  p.Advance(0.25 + 120 * kFrame);
  EXPECT_EQ(p.Frames(), 100u) << "the silence at the end of the first block";
  p.Advance(0.375 + 10 * kFrame);
  EXPECT_EQ(p.Frames(), 110u);

  // A time before every block still remembered tells nothing new.
  PlayPosition q(kRate, kLatency);
  q.Started(0);
  for (int i = 0; i < 100; ++i) q.Handed(128, 128, 0.25 + i * 0.125);
  q.Advance(0.25 + 64 * kFrame);
  EXPECT_EQ(q.Frames(), 0u);
  q.Advance(0.25 + 99 * 0.125 + 64 * kFrame);
  EXPECT_EQ(q.Frames(), 99u * 128 + 64);
}

TEST(PlayPosition, DistrustsTheBlocksOfTheFirstTwoLatenciesAfterAStart) {
  PlayPosition p(kRate, kLatency);
  p.Started(1.0);
  p.Handed(128, 128, 1.125);  // a guess made while the stream fills its buffer
  p.Advance(1.125 + 64 * kFrame);
  EXPECT_EQ(p.Frames(), 0u);
  p.Handed(128, 128, 1.25);
  p.Advance(1.25 + 32 * kFrame);
  EXPECT_EQ(p.Frames(), 160u);
}

TEST(PlayPosition, AStopHandsTheUnheardFramesAgainAndARebaseStartsAtZero) {
  PlayPosition p(kRate, kLatency);
  p.Started(0);
  p.Handed(128, 128, 0.25);
  p.Handed(128, 128, 0.375);
  p.Advance(0.25 + 64 * kFrame);
  EXPECT_EQ(p.HandedData(), 256u);

  // Stopped: 192 frames handed over were never heard.
  EXPECT_EQ(p.Stopped(), 64u);
  EXPECT_EQ(p.HandedData(), 64u);
  p.Advance(1.0);
  EXPECT_EQ(p.Frames(), 64u) << "blocks from before the stop moved the position";

  // Started again: the data goes on from frame 64.
  p.Started(2.0);
  p.Handed(128, 128, 2.25);
  p.Advance(2.25 + 64 * kFrame);
  EXPECT_EQ(p.Frames(), 128u);
  EXPECT_EQ(p.HandedData(), 192u);

  // Rebased (the buffer was given back): what was handed over counts as
  // heard, and the position counts from 0 again.
  p.Rebase();
  EXPECT_EQ(p.Frames(), 0u);
  EXPECT_EQ(p.Heard(), 192u);
  p.Advance(3.0);
  EXPECT_EQ(p.Frames(), 0u);
  p.Started(4.0);
  p.Handed(128, 128, 4.25);
  p.Advance(4.25 + 10 * kFrame);
  EXPECT_EQ(p.Frames(), 10u);
}
