#include "editor/TembrixViews.h"

#include "blockmove/BlockMove.h"
#include "dsp/IPPDynamic.h"
#include "dsp/SignalProcessingDynamic.h"

#include <algorithm>

using namespace Tembrix;
using IPPDynamic::IppBuffer;

namespace {

// Which columns of a span of WAVENOPCUT frames the spectrogram shows: n of
// them, k frames apart from the first on. A span of at most `most` frames is
// shown whole; a longer one as `most` columns, WAVENOPCUT div `most` apart
// (the last column starts within one step of the end).
struct TThinning {
  std::int32_t k = 1;
  std::int32_t n = 0;
};
TThinning thinning(std::int32_t WAVENOPCUT, std::int32_t most) {
  if (WAVENOPCUT <= most) return {1, WAVENOPCUT};
  return {WAVENOPCUT / most, most};
}

// Which frames of a span of WAVENOPCUT frames the waveform shows: n of them, k
// apart from the first on, and the span's last frame as the n-th when the
// steps do not land on it (`lastAdded`). A span longer than `most` frames gets
// the smallest step that still reaches its last frame within `most` points:
// ⌈(WAVENOPCUT − 1) / (most − 1)⌉.
struct TWaveThinning {
  std::int32_t k = 1;
  std::int32_t n = 0;
  bool lastAdded = false;
};
TWaveThinning waveThinning(std::int32_t WAVENOPCUT, std::int32_t most) {
  if (WAVENOPCUT <= most) return {1, WAVENOPCUT, false};
  const std::int32_t reach = WAVENOPCUT - 1;  // from the first frame to the last
  const std::int32_t k = (reach + most - 2) / (most - 1);
  const bool lastAdded = reach % k != 0;
  return {k, reach / k + 1 + (lastAdded ? 1 : 0), lastAdded};
}

}  // namespace

std::optional<TWaveformPoints> WaveformPoints(const TTembrixDocument& Doc, std::int32_t n1, std::int32_t n2) {
  if (!Doc.ClampRange(n1, n2)) return std::nullopt;

  const auto [k, n, lastAdded] = waveThinning(n2 - n1, Nx1);

  TWaveformPoints points;
  points.X.resize(static_cast<std::size_t>(n));
  points.Left.resize(static_cast<std::size_t>(n));
  points.Right.resize(static_cast<std::size_t>(n));
  const double* const time = Doc.arTimeLine;
  const double* const left = Doc.arLeftCH;
  const double* const right = Doc.arRightCH;
  // No pass over the frames between. Far apart in a long recording, each read
  // misses the caches; the reads a few steps ahead are started early, so that
  // they arrive while these are stored.
  constexpr std::int32_t ahead = 16;
  const std::int32_t stepped = lastAdded ? n - 1 : n;  // the points k apart
  for (std::int32_t i = 0; i < n; ++i) {
    const std::int64_t j = i < stepped ? n1 + static_cast<std::int64_t>(i) * k : n2 - 1;
    if (k > 1 && i + ahead < stepped) {
      const std::int64_t later = j + static_cast<std::int64_t>(ahead) * k;
      __builtin_prefetch(time + later);
      __builtin_prefetch(left + later);
      __builtin_prefetch(right + later);
    }
    points.X[i] = time[j];
    points.Left[i] = left[j];
    points.Right[i] = right[j];
  }
  return points;
}

std::optional<TSpectrogramColumns> SpectrogramColumns(const TTembrixDocument& Doc, std::int32_t n1, std::int32_t n2) {
  if (!Doc.ClampRange(n1, n2)) return std::nullopt;

  const auto [k, n] = thinning(n2 - n1, Nx2);

  const std::int32_t CUTTER = std::min<std::int32_t>(128, Doc.arWAVENOP);
  std::int32_t power = 1;
  while (power * 2 <= CUTTER) power *= 2;
  const std::int32_t FFTNOP = power / 2;
  const std::int32_t bins = FFTNOP / 2;

  TSpectrogramColumns columns;
  columns.Columns = n;
  columns.Bins = bins;
  // With fewer than two bins' worth of window (recordings of 1 to 3 frames) there
  // is no point to show; a 1-frame recording also has no frequency step.
  if (bins <= 0) return columns;

  pDoubleArray freqRaw = nullptr;
  SignalProcessingDynamic::Time2Freq(Doc.arTimeLine, freqRaw, FFTNOP);
  const IppBuffer<double> Freq(freqRaw);

  columns.Z.assign(Freq.get(), Freq.get() + bins);
  columns.X.reserve(static_cast<std::size_t>(n));
  columns.Left.reserve(static_cast<std::size_t>(n) * static_cast<std::size_t>(bins));
  columns.Right.reserve(static_cast<std::size_t>(n) * static_cast<std::size_t>(bins));
  const IppBuffer<double> tLeftCH(IPPDynamic::IIPP_MallocDouble(FFTNOP));
  const IppBuffer<double> tRightCH(IPPDynamic::IIPP_MallocDouble(FFTNOP));
  for (std::int32_t i = 0; i < n; ++i) {
    const std::int32_t s = n1 + i * k;
    // A window running past the last frame reads only the frames that exist and
    // is zero-filled after them: each column shows exactly the sound from its
    // own start on, never samples of an earlier time.
    const std::int32_t present = std::min(FFTNOP, Doc.arWAVENOP - s);
    BlockMove::Move(Doc.arLeftCH + s, tLeftCH.get(), static_cast<std::intptr_t>(present) * sizeof(double));
    BlockMove::Move(Doc.arRightCH + s, tRightCH.get(), static_cast<std::intptr_t>(present) * sizeof(double));
    for (std::int32_t j = present; j < FFTNOP; ++j) tLeftCH[j] = tRightCH[j] = 0.0;

    pDoubleArray left = nullptr;
    pDoubleArray right = nullptr;
    SignalProcessingDynamic::PowerSpectrAlloc(tLeftCH.get(), left, FFTNOP);
    const IppBuffer<double> PSPLt(left);
    SignalProcessingDynamic::PowerSpectrAlloc(tRightCH.get(), right, FFTNOP);
    const IppBuffer<double> PSPRt(right);

    columns.X.push_back(Doc.arTimeLine[s]);
    columns.Left.insert(columns.Left.end(), PSPLt.get(), PSPLt.get() + bins);
    columns.Right.insert(columns.Right.end(), PSPRt.get(), PSPRt.get() + bins);
  }
  return columns;
}
