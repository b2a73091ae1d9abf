#include "editor/TembrixPlayRequest.h"

#include <algorithm>
#include <cmath>
#include <exception>
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

}  // namespace

TPlayRequest PlayRequest(const TTembrixDocument& Doc, double Lo, double Hi, bool Left, bool Right) {
  const std::int64_t frames = Doc.arLeftCH && Doc.arRightCH ? Doc.arWAVENOP : 0;
  const std::int64_t s = std::clamp<std::int64_t>(Doc.timeToFrame(Lo), 0, frames);
  const std::int64_t n = std::clamp<std::int64_t>(Doc.spanToFrames(Lo, Hi), 0, frames - s);

  const double* const from0 = Left ? Doc.arLeftCH : Doc.arRightCH;
  const double* const from1 = Right ? Doc.arRightCH : Doc.arLeftCH;
  // The two outputs are filled side by side, one on another thread: a long span
  // is mostly the first touch of fresh memory and the reading of the document,
  // which two cores do in about half the time one needs.
  auto fill = [n, s](std::vector<std::int16_t>& out, const double* from) {
    out.resize(static_cast<std::size_t>(n));
    std::int16_t* const to = out.data();
    for (std::int64_t i = 0; i < n; ++i) to[i] = toSample(from[s + i]);
  };
  TPlayRequest request;
  constexpr std::int64_t kAloneBelow = 1 << 16;  // frames; shorter spans are not worth a thread
  if (n < kAloneBelow) {
    fill(request.Out0, from0);
    fill(request.Out1, from1);
  } else {
    // An error on the other thread (no memory) is raised here after the join.
    std::exception_ptr error;
    std::thread second([&] {
      try {
        fill(request.Out1, from1);
      } catch (...) {
        error = std::current_exception();
      }
    });
    try {
      fill(request.Out0, from0);
    } catch (...) {
      second.join();
      throw;
    }
    second.join();
    if (error) std::rethrow_exception(error);
  }
  request.SampleRate = Doc.arSampRate;
  request.PositionLo = Lo;
  return request;
}
