// What a playback of the selection needs from the document: the samples of the
// two outputs, their rate, and where the selection starts.
#pragma once

#include "editor/TembrixDocument.h"
#include "playback/SoundPlayThread.h"

#include <cstdint>
#include <memory>

struct TPlayRequest {
  // Output 0 (left) and 1 (right), of the same length.
  SoundPlayThread::TASWaveformSamples Out0;
  SoundPlayThread::TASWaveformSamples Out1;
  // Null when both outputs are filled. Otherwise a thread is still filling
  // them, in order, and this counts the frames done.
  std::shared_ptr<TFillMark> Fill;
  std::uint32_t SampleRate = 0;
  double PositionLo = 0;  // seconds; where the play-position line starts
};

// The frames of Lo … Hi (seconds), clipped to the loaded frames: rounding can
// reach one frame past the last, and nothing past it is read. Both outputs come
// from the chosen channels; one chosen channel is heard on both (with neither
// chosen, the right one plays left and the left one right). Values are rounded
// ties to even and keep their low 16 bits.
//
// A span of up to FilledAtOnce frames is filled on return. Of a longer one the
// rest is filled by a thread of its own while the start already plays (Fill):
// that thread reads the document's channels until Fill counts every frame, so
// they must not change or go before.
TPlayRequest PlayRequest(const TTembrixDocument& Doc, double Lo, double Hi, bool Left, bool Right);
inline constexpr std::int64_t FilledAtOnce = std::int64_t(1) << 18;
