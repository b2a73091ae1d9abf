// What the editor's two views show of a document: the points the waveform
// series and the spectrogram series receive for the frames n1 … n2. Plain
// arithmetic on the document; the frame only hands the points to its charts.
#pragma once

#include "editor/TembrixDocument.h"

#include <cstdint>
#include <optional>
#include <vector>

namespace Tembrix {
// Most points one waveform series receives in one redraw.
constexpr std::int32_t Nx1 = 10000;
// Most columns one spectrogram receives in one redraw.
constexpr std::int32_t Nx2 = 300;
}  // namespace Tembrix

// The waveform of frames n1 … n2 − 1: X is the frame's time, Left and Right its
// two sample values, in the order the series receive them. A range of more
// than Nx1 frames is thinned to at most Nx1 points, one frame per step of
// k = ⌈(n2 − n1 − 1) / (Nx1 − 1)⌉ from n1 on, and ends with frame n2 − 1 even
// when the steps do not land on it, so that the chart spans the whole range.
struct TWaveformPoints {
  std::vector<double> X;
  std::vector<double> Left;
  std::vector<double> Right;
};

// At most Nx2 columns over n1 … n2, each the power spectrum of a window of W
// frames from the column's start on (zero-filled past the last frame), with
// Bins = W div 2 points per column. W comes from the length of the whole
// recording: the largest power of two not above min(128, arWAVENOP), halved.
// Bins is 0 (and there are no points) for recordings of fewer than 4 frames.
// The series receive the point (X[c], Left[c × Bins + j], Z[j]) as
// AddXYZ(x, y, z), column c by column and within a column by rising bin j.
struct TSpectrogramColumns {
  std::int32_t Columns = 0;
  std::int32_t Bins = 0;
  std::vector<double> X;  // per column: the time of its first frame
  std::vector<double> Z;  // per bin: its frequency in Hz
  std::vector<double> Left;  // power, Columns × Bins
  std::vector<double> Right;
};

// Both clamp n1 and n2 to the document first and give nothing for an empty range.
std::optional<TWaveformPoints> WaveformPoints(const TTembrixDocument& Doc, std::int32_t n1, std::int32_t n2);
// Needs the signal-processing library loaded.
std::optional<TSpectrogramColumns> SpectrogramColumns(const TTembrixDocument& Doc, std::int32_t n1, std::int32_t n2);
