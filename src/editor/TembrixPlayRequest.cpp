#include "editor/TembrixPlayRequest.h"

#include <algorithm>
#include <cmath>
#include <system_error>
#include <thread>

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

void convert(const double* from, std::int16_t* to, std::int64_t begin, std::int64_t end) {
  for (std::int64_t i = begin; i < end; ++i) to[i] = toSample(from[i]);
}

}  // namespace

TPlayRequest PlayRequest(const TTembrixDocument& Doc, double Lo, double Hi, bool Left, bool Right) {
  const std::int64_t frames = Doc.arLeftCH && Doc.arRightCH ? Doc.arWAVENOP : 0;
  const std::int64_t s = std::clamp<std::int64_t>(Doc.timeToFrame(Lo), 0, frames);
  const std::int64_t n = std::clamp<std::int64_t>(Doc.spanToFrames(Lo, Hi), 0, frames - s);

  const double* const from0 = (Left ? Doc.arLeftCH : Doc.arRightCH) + s;
  const double* const from1 = (Right ? Doc.arRightCH : Doc.arLeftCH) + s;
  TPlayRequest request;
  request.Out0.resize(static_cast<std::size_t>(n));  // not cleared: every sample is written below
  request.Out1.resize(static_cast<std::size_t>(n));
  request.SampleRate = Doc.arSampRate;
  request.PositionLo = Lo;
  std::int16_t* const to0 = request.Out0.data();
  std::int16_t* const to1 = request.Out1.data();
  const std::int64_t first = std::min(n, FilledAtOnce);
  convert(from0, to0, 0, first);
  convert(from1, to1, 0, first);
  if (first == n) return request;

  // The rest goes slice by slice, both outputs alike, on a thread that the
  // fill mark outlives: whoever waits for it need not join anything.
  request.Fill = std::make_shared<TFillMark>(static_cast<std::size_t>(n));
  request.Fill->Publish(static_cast<std::size_t>(first));
  auto fillRest = [from0, from1, to0, to1, first, n, fill = request.Fill] {
    constexpr std::int64_t kSlice = std::int64_t(1) << 16;
    for (std::int64_t begin = first; begin < n; begin += kSlice) {
      const std::int64_t end = std::min(n, begin + kSlice);
      convert(from0, to0, begin, end);
      convert(from1, to1, begin, end);
      fill->Publish(static_cast<std::size_t>(end));
    }
  };
  try {
    std::thread(fillRest).detach();
  } catch (const std::system_error&) {
    fillRest();  // no thread to be had: the caller waits instead
  }
  return request;
}
