// What a playback of the selection needs from the document: the samples of the
// two outputs, their rate, and where the selection starts.
#pragma once

#include "editor/TembrixDocument.h"

#include <cstdint>
#include <vector>

struct TPlayRequest {
  // Output 0 (left) and 1 (right), of the same length.
  std::vector<std::int16_t> Out0;
  std::vector<std::int16_t> Out1;
  std::uint32_t SampleRate = 0;
  double PositionLo = 0;  // seconds; where the play-position line starts
};

// The frames of Lo … Hi (seconds), clipped to the loaded frames: rounding can
// reach one frame past the last, and nothing past it is read. Both outputs come
// from the chosen channels; one chosen channel is heard on both (with neither
// chosen, the right one plays left and the left one right). Values are rounded
// ties to even and keep their low 16 bits.
TPlayRequest PlayRequest(const TTembrixDocument& Doc, double Lo, double Hi, bool Left, bool Right);
