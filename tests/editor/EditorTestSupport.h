// Shared by the editor's tests and benchmarks: a look inside the frame and a
// recording whose every frame can be told apart. (FrameFixture.h gives the
// fixture, WaveBuilder.h the files, FrameLayout.h the open flow's layout.)
#pragma once

#include "editor/Tembrix.h"
#include "WaveBuilder.h"

#include <QCheckBox>
#include <QComboBox>
#include <QPushButton>
#include <QScrollBar>
#include <QString>
#include <QToolButton>

#include <cstdint>
#include <string>
#include <vector>

struct TembrixTestAccess {
  static std::int32_t& dn(TFrameTembrix& f) { return f.dn; }
  static std::uint32_t& arSampRate(TFrameTembrix& f) { return f.arSampRate; }
  static std::uint16_t& arBitsPerSample(TFrameTembrix& f) { return f.arBitsPerSample; }
  static TDateTime& RecDT(TFrameTembrix& f) { return f.RecDT; }
  static TTimeSelect& TimeSelect(TFrameTembrix& f) { return f.TimeSelect; }
  static void RepaintDiagramms(TFrameTembrix& f, std::int32_t n1, std::int32_t n2) { f.RepaintDiagramms(n1, n2); }
  static void TimeSelectRedraw(TFrameTembrix& f) { f.TimeSelectRedraw(); }
  // Whether the playback the frame started last has not freed itself yet.
  static bool Playing(TFrameTembrix& f) { return !f.SoundPlayThread.isNull(); }
};

using wavtest::writeWav;

// 16-bit stereo whose left sample is the frame index modulo 30000 and whose
// right sample is its negative: every frame recognisable after cuts and decimation.
inline std::int64_t leftOf(std::int64_t frame) { return frame % 30000; }
inline std::int64_t rightOf(std::int64_t frame) { return -(frame % 30000); }
inline void writeCountingWav(const std::string& path, std::uint32_t rate, std::int64_t frames) {
  writeWav(path, rate, 16, 2, frames, [](std::int64_t f, int c) { return c == 0 ? leftOf(f) : rightOf(f); });
}

// The distinct X values of a series' points, in order of appearance.
inline std::vector<double> distinctX(const TChartSeries& s) {
  std::vector<double> xs;
  for (double x : s.XValues.Values())
    if (xs.empty() || xs.back() != x) xs.push_back(x);
  return xs;
}
