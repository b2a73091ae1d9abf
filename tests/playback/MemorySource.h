// A playback's samples held in memory: interleaved stereo frames.
#pragma once

#include "playback/SoundPlayThread.h"

#include <algorithm>
#include <cstdint>
#include <utility>
#include <vector>

class MemorySource : public SoundPlayThread::TSoundSource {
 public:
  explicit MemorySource(std::vector<std::int16_t> interleaved) : samples_(std::move(interleaved)) {}
  std::size_t Frames() const override { return samples_.size() / 2; }
  bool Read(std::size_t from, std::size_t count, std::int16_t* out) override {
    std::copy_n(samples_.begin() + std::ptrdiff_t(2 * from), 2 * count, out);
    return true;
  }

 private:
  std::vector<std::int16_t> samples_;
};
