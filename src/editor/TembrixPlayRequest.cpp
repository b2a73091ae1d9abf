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

class TDocumentSpan : public SoundPlayThread::TSoundSource {
 public:
  TDocumentSpan(TTembrixDocument& Doc, const double* From0, const double* From1, std::size_t Frames)
      : reading_(Doc), from0_(From0), from1_(From1), frames_(Frames) {}

  std::size_t Frames() const override { return frames_; }

  bool Read(std::size_t from, std::size_t count, std::int16_t* out) override {
    if (reading_.Stopped()) {
      reading_.End();  // the document may go on at once
      return false;
    }
    for (std::size_t i = from; i < from + count; ++i, out += 2) {
      out[0] = toSample(from0_[i]);
      out[1] = toSample(from1_[i]);
    }
    if (from + count == frames_) reading_.End();  // the samples are free again
    return true;
  }

 private:
  TTembrixDocument::TReading reading_;
  const double* from0_;
  const double* from1_;
  std::size_t frames_;
};

}  // namespace

TPlaySpan PlaySpan(const TTembrixDocument& Doc, double Lo, double Hi) {
  const std::int64_t frames = Doc.arLeftCH && Doc.arRightCH ? Doc.arWAVENOP : 0;
  const std::int64_t s = std::clamp<std::int64_t>(Doc.timeToFrame(Lo), 0, frames);
  return {s, std::clamp<std::int64_t>(Doc.spanToFrames(Lo, Hi), 0, frames - s)};
}

TPlayRequest PlayRequest(TTembrixDocument& Doc, double Lo, double Hi, bool Left, bool Right) {
  const TPlaySpan span = PlaySpan(Doc, Lo, Hi);
  const double* const from0 = span.n > 0 ? (Left ? Doc.arLeftCH : Doc.arRightCH) + span.s : nullptr;
  const double* const from1 = span.n > 0 ? (Right ? Doc.arRightCH : Doc.arLeftCH) + span.s : nullptr;
  TPlayRequest request;
  request.Source = std::make_unique<TDocumentSpan>(Doc, from0, from1, static_cast<std::size_t>(span.n));
  request.SampleRate = Doc.arSampRate;
  request.PositionLo = Lo;
  return request;
}
