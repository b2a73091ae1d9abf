// Which of the data frames handed to the sound output have been heard, from
// the times the audio callbacks are given: plain arithmetic, no sound system.
//
// Each callback hands the output a block of frames, data first and then
// silence, and is told when the block's first frame reaches the output. The
// frames heard at a later time are the newest block's first frame carried
// forward by the elapsed time, mapped back through the recent blocks to the
// data frames among them. Positions count data frames only and never move
// backwards. Handed() is the callback's and wait-free: the blocks pass to the
// owner through a fixed single-producer, single-consumer ring (a block that
// finds it full is left out of the estimate). Started(), Stopped() and
// Rebase() are called while no callback runs.
#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>

class PlayPosition {
 public:
  // rate: frames a second; latency: the output latency in seconds.
  PlayPosition(double rate, double latency) : rate_(rate), latency_(latency) {}

  // The stream starts at time `now` (seconds). The output times the callbacks
  // get while it fills its buffer are guesses (the server starts later than
  // they assume), so only blocks due from two latencies after the start count.
  void Started(double now) { startedAt_ = now; }

  // A callback handed `frames` frames, the first `data` of them data, whose
  // first frame reaches the output at time `dacTime`.
  void Handed(unsigned long frames, unsigned long data, double dacTime);

  // Brings the frames heard up to time `now`.
  void Advance(double now);

  // The stream was stopped: what was handed over but not heard is to be
  // handed over again. Returns the data frame the feed goes on from.
  std::uint64_t Stopped();

  // The buffers were given back: all that was handed over counts as heard,
  // and Frames() counts from 0 again.
  void Rebase();

  // Data frames handed over since the start (the next buffer's first frame).
  std::uint64_t HandedData() const { return dataFrames_; }
  // Data frames heard since the start.
  std::uint64_t Heard() const { return heard_; }
  // Data frames heard since the last Rebase (the position reported).
  std::uint64_t Frames() const { return heard_ > base_ ? heard_ - base_ : 0; }

 private:
  struct Block {
    std::uint64_t streamStart;  // frames of any kind handed over before it
    std::uint64_t dataStart;    // data frames handed over before it
    unsigned long frames, data;
    double dacTime;
  };
  static constexpr std::size_t kRemembered = 64;  // blocks the estimate looks back through

  const double rate_, latency_;
  double startedAt_ = 0;
  std::array<Block, 1024> blocks_{};
  std::atomic<std::size_t> head_{0}, tail_{0};  // written by the callback and by the owner
  std::uint64_t streamFrames_ = 0;              // the callback's
  std::atomic<std::uint64_t> dataFrames_{0};
  std::uint64_t heard_ = 0, base_ = 0;
};
