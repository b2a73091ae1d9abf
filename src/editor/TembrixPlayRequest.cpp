#include "editor/TembrixPlayRequest.h"

#include <algorithm>
#include <cmath>

namespace {

// Round(x) (nearest, ties to even) with its low 16 bits kept, without a
// library call for each of the many samples: below 2^51 in size, adding and
// taking away 1.5 × 2^52 rounds exactly as Round does; other values (and NaN)
// go to Round itself.
std::int16_t toSample(double x) {
  constexpr double kShift = 6755399441055744.0;  // 1.5 × 2^52
  if (std::abs(x) < 2251799813685248.0)  // 2^51
    return static_cast<std::int16_t>(static_cast<std::int64_t>((x + kShift) - kShift));
  return static_cast<std::int16_t>(Round(x));
}

}  // namespace

TPlayRequest PlayRequest(const TTembrixDocument& Doc, double Lo, double Hi, bool Left, bool Right) {
  const std::int64_t frames = Doc.arLeftCH && Doc.arRightCH ? Doc.arWAVENOP : 0;
  const std::int64_t s = std::clamp<std::int64_t>(Doc.timeToFrame(Lo), 0, frames);
  const std::int64_t n = std::clamp<std::int64_t>(Doc.spanToFrames(Lo, Hi), 0, frames - s);

  const double* const from0 = Left ? Doc.arLeftCH : Doc.arRightCH;
  const double* const from1 = Right ? Doc.arRightCH : Doc.arLeftCH;
  TPlayRequest request;
  request.Out0.resize(static_cast<std::size_t>(n));
  request.Out1.resize(static_cast<std::size_t>(n));
  std::int16_t* const to0 = request.Out0.data();
  std::int16_t* const to1 = request.Out1.data();
  for (std::int64_t i = 0; i < n; ++i) {
    to0[i] = toSample(from0[s + i]);
    to1[i] = toSample(from1[s + i]);
  }
  request.SampleRate = Doc.arSampRate;
  request.PositionLo = Lo;
  return request;
}
