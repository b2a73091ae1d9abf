#include "playback/PlayPosition.h"

#include <algorithm>

void PlayPosition::Handed(unsigned long frames, unsigned long data, double dacTime) {
  const std::size_t head = head_.load(std::memory_order_relaxed);
  if (head - tail_.load(std::memory_order_acquire) < blocks_.size()) {
    blocks_[head % blocks_.size()] = {streamFrames_, dataFrames_, frames, data, dacTime};
    head_.store(head + 1, std::memory_order_release);
  }
  streamFrames_ += frames;
  dataFrames_ += data;
}

void PlayPosition::Advance(double now) {
  const std::size_t head = head_.load(std::memory_order_acquire);
  std::size_t tail = std::max(tail_.load(std::memory_order_relaxed), head - std::min(head, kRemembered));
  if (tail == head) return;
  const Block& latest = blocks_[(head - 1) % blocks_.size()];
  if (latest.dacTime < startedAt_ + 2 * latency_) return;
  // The stream frame heard now; the blocks wholly before it are done with.
  const double h = double(latest.streamStart) + (now - latest.dacTime) * rate_;
  for (;; ++tail) {
    const Block& b = blocks_[tail % blocks_.size()];
    if (h < double(b.streamStart)) break;  // older than what is remembered: nothing new heard
    const std::uint64_t into = std::uint64_t(std::min(h - double(b.streamStart), double(b.frames)));
    heard_ = std::max(heard_, b.dataStart + std::min<std::uint64_t>(into, b.data));
    if (tail + 1 == head || into < b.frames) break;
  }
  tail_.store(tail, std::memory_order_release);
}

std::uint64_t PlayPosition::Stopped() {
  dataFrames_ = std::max(heard_, base_);
  tail_.store(head_.load());
  return dataFrames_;
}

void PlayPosition::Rebase() {
  heard_ = std::max<std::uint64_t>(heard_, dataFrames_);
  base_ = heard_;
  Stopped();
}
