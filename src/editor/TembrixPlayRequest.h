// What a playback of the selection reads from the document: the frames of the
// span, converted to 16-bit samples of the two outputs as they are read.
#pragma once

#include "editor/TembrixDocument.h"
#include "playback/SoundPlayThread.h"

#include <cstdint>
#include <memory>

// The frames s … s + n − 1 of Lo … Hi (seconds), clipped to the loaded frames:
// rounding can reach one frame past the last, and nothing past it is read.
struct TPlaySpan {
  std::int64_t s = 0;
  std::int64_t n = 0;
};
TPlaySpan PlaySpan(const TTembrixDocument& Doc, double Lo, double Hi);

struct TPlayRequest {
  // Reads the span from the document's channels while the document lets it.
  std::unique_ptr<SoundPlayThread::TSoundSource> Source;
  std::uint32_t SampleRate = 0;
  double PositionLo = 0;  // seconds; where the play-position line starts
};

// Both outputs come from the chosen channels; one chosen channel is heard on
// both (with neither chosen, the right one plays left and the left one right).
// Values are rounded ties to even and keep their low 16 bits. The source is a
// reading of the document (TTembrixDocument::TReading) until it has read the
// last frame, has been told to stop, or is destroyed.
TPlayRequest PlayRequest(TTembrixDocument& Doc, double Lo, double Hi, bool Left, bool Right);
