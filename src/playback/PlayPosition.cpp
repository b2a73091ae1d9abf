#include "playback/PlayPosition.h"

#include <algorithm>

void PlayPosition::Handed(unsigned long frames, unsigned long data, double dacTime) {
  history_[next_] = {streamFrames_, dataFrames_, frames, data, dacTime};
  next_ = (next_ + 1) % history_.size();
  count_ = std::min(count_ + 1, history_.size());
  streamFrames_ += frames;
  dataFrames_ += data;
}

void PlayPosition::Advance(double now) {
  if (count_ == 0) return;
  const Block& latest = recent(0);
  if (latest.dacTime < startedAt_ + 2 * latency_) return;
  const double h = double(latest.streamStart) + (now - latest.dacTime) * rate_;
  std::uint64_t data = dataFrames_;
  if (h < double(latest.streamStart + latest.frames)) {
    const std::uint64_t hf = h <= 0 ? 0 : std::uint64_t(h);
    std::size_t k = 0;
    while (k < count_ && hf < recent(k).streamStart) ++k;
    if (k == count_) return;  // older than what is remembered: nothing new heard
    const Block& b = recent(k);
    data = b.dataStart + std::min<std::uint64_t>(hf - b.streamStart, b.data);
  }
  heard_ = std::max(heard_, data);
}

std::uint64_t PlayPosition::Stopped() {
  dataFrames_ = std::max(heard_, base_);
  count_ = 0;
  return dataFrames_;
}

void PlayPosition::Rebase() {
  heard_ = std::max(heard_, dataFrames_);
  base_ = heard_;
  Stopped();
}
