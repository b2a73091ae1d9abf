// The playback's interleaving of a span, which gives the channels' memory back
// as it goes and splits a long span between two threads: every frame must
// arrive, also around the split and the page edges.
#include "playback/SoundPlayThread.h"

#include <gtest/gtest.h>

#include <cstdint>
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
  // Below and above the length split between two threads, odd lengths included.
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
