// The playback's interleaving of a span, which gives the channels' memory back
// as it goes and may follow a thread that is still filling the channels: every
// frame must arrive, also around the slice and page edges, and none may be
// read before it is filled.
#include "playback/SoundPlayThread.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <thread>
#include <vector>

using SoundPlayThread::Interleave;
using SoundPlayThread::TASWaveformSamples;

namespace {

// Never zero, so a page given back before it was copied (it reads as zeros) shows.
std::int16_t sampleAt(std::size_t channel, std::size_t i) {
  return static_cast<std::int16_t>(1 + (i * 7 + channel * 13'001) % 30'000);
}

}  // namespace

TEST(Interleave, EveryFrameOfShortAndLongSpansArrivesInOrder) {
  // One slice and many, odd lengths included.
  for (std::size_t frames : {std::size_t(0), std::size_t(1), std::size_t(4099), std::size_t(3'000'001)}) {
    std::vector<TASWaveformSamples> channels(2);
    for (std::size_t c = 0; c < 2; ++c) {
      channels[c].resize(frames + 5);  // longer than asked: the tail stays out
      for (std::size_t i = 0; i < channels[c].size(); ++i) channels[c][i] = sampleAt(c, i);
    }
    std::vector<std::int16_t> out(2 * frames + 1, -1);
    ASSERT_TRUE(Interleave(channels, frames, out.data(), [] { return false; }));
    std::size_t wrong = 0;
    for (std::size_t i = 0; i < frames; ++i)
      for (std::size_t c = 0; c < 2; ++c) wrong += out[2 * i + c] != sampleAt(c, i);
    EXPECT_EQ(wrong, 0u) << frames << " frames";
    EXPECT_EQ(out.back(), -1) << "nothing written past the end";
  }
}

TEST(Interleave, ACancelledSpanReportsItAtOnce) {
  std::vector<TASWaveformSamples> channels(2, TASWaveformSamples(3'000'000, 1));
  std::vector<std::int16_t> out(6'000'000);
  EXPECT_FALSE(Interleave(channels, 3'000'000, out.data(), [] { return true; }));
}

TEST(Interleave, FollowsTheFillOfTheChannelsAndReportsEachSliceDone) {
  const std::size_t frames = 1'000'003;
  std::vector<TASWaveformSamples> channels(2, TASWaveformSamples(frames, 0));
  TFillMark filled(frames);
  // Fills in steps that match no slice edge; a frame read before its step
  // was published would still be 0.
  std::thread filler([&] {
    for (std::size_t begin = 0; begin < frames; begin += 77'777) {
      const std::size_t end = std::min(frames, begin + 77'777);
      for (std::size_t c = 0; c < 2; ++c)
        for (std::size_t i = begin; i < end; ++i) channels[c][i] = sampleAt(c, i);
      filled.Publish(end);
      std::this_thread::yield();
    }
  });
  std::vector<std::int16_t> out(2 * frames);
  std::vector<std::size_t> reports;
  const bool complete =
      Interleave(channels, frames, out.data(), [] { return false; }, &filled, [&](std::size_t done) { reports.push_back(done); });
  filler.join();
  EXPECT_TRUE(complete);
  std::size_t wrong = 0;
  for (std::size_t i = 0; i < frames; ++i)
    for (std::size_t c = 0; c < 2; ++c) wrong += out[2 * i + c] != sampleAt(c, i);
  EXPECT_EQ(wrong, 0u);
  ASSERT_FALSE(reports.empty());
  EXPECT_TRUE(std::is_sorted(reports.begin(), reports.end()));
  EXPECT_EQ(reports.back(), frames);
}

TEST(Interleave, StopsWhereTheFillGaveUp) {
  std::vector<TASWaveformSamples> channels(2, TASWaveformSamples(200'000, 1));
  TFillMark filled(200'000);
  filled.Publish(70'000);
  filled.GiveUp();
  std::vector<std::int16_t> out(400'000);
  std::size_t done = 0;
  EXPECT_FALSE(Interleave(channels, 200'000, out.data(), [] { return false; }, &filled, [&](std::size_t n) { done = n; }));
  EXPECT_LE(done, 70'000u) << "frames were interleaved that were never filled";
}
