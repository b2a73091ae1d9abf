// Shared by the editor's tests and benchmarks: crafted WAV files, a look inside
// the frame, and the open flow's layout.
#pragma once

#include "AlignLayout.h"
#include "Tembrix.h"

#include <QCheckBox>
#include <QComboBox>
#include <QPushButton>
#include <QScrollBar>
#include <QString>
#include <QToolButton>

#include <cstdint>
#include <fstream>
#include <functional>
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
};

// A PCM WAV file: `frames` frames of `channels` samples of `bits` bits at `rate`.
// sample(frame, channel) gives the integer value written (as it lies in the file:
// 0…255 for 8-bit, signed for wider samples).
inline void writeWav(const std::string& path, std::uint32_t rate, std::uint16_t bits, std::uint16_t channels,
                     std::int64_t frames, const std::function<std::int64_t(std::int64_t, int)>& sample) {
  const std::uint16_t bytesPerSample = bits / 8;
  const std::uint16_t blockAlign = bytesPerSample * channels;
  const std::uint64_t dataBytes = static_cast<std::uint64_t>(frames) * blockAlign;
  std::vector<std::uint8_t> out;
  out.reserve(44 + dataBytes);
  auto put = [&out](std::uint64_t v, int n) {
    for (int i = 0; i < n; ++i) out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
  };
  auto tag = [&out](const char* t) { out.insert(out.end(), t, t + 4); };
  tag("RIFF");
  put(36 + dataBytes, 4);
  tag("WAVE");
  tag("fmt ");
  put(16, 4);
  put(1, 2);
  put(channels, 2);
  put(rate, 4);
  put(static_cast<std::uint64_t>(rate) * blockAlign, 4);
  put(blockAlign, 2);
  put(bits, 2);
  tag("data");
  put(dataBytes, 4);
  for (std::int64_t f = 0; f < frames; ++f)
    for (int c = 0; c < channels; ++c) put(static_cast<std::uint64_t>(sample(f, c)), bytesPerSample);
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(out.data()),
                                               static_cast<std::streamsize>(out.size()));
}

// 16-bit stereo whose left sample is the frame index modulo 30000 and whose
// right sample is its negative: every frame recognisable after cuts and decimation.
inline std::int64_t leftOf(std::int64_t frame) { return frame % 30000; }
inline std::int64_t rightOf(std::int64_t frame) { return -(frame % 30000); }
inline void writeCountingWav(const std::string& path, std::uint32_t rate, std::int64_t frames) {
  writeWav(path, rate, 16, 2, frames, [](std::int64_t f, int c) { return c == 0 ? leftOf(f) : rightOf(f); });
}

// The open flow's layout: four charts of a quarter of the diagram panel's height
// above the control panel.
inline void layOutLikeOpenFlow(TFrameTembrix& f) {
  using namespace AlignLayout;
  Realign(&f);  // the frame's own size, also while it is hidden
  SetAlign(f.ScrollBox1, alClient);
  SetAlign(f.PanelDirect, alBottom);
  SetAlign(f.PanelDiagramms, alTop);
  SetHeight(f.PanelDiagramms, f.ScrollBox1->height() - f.PanelDirect->height());
  for (TChart* c : {f.Chart1, f.Chart2, f.Chart3, f.Chart4}) SetAlign(c, alTop);
  for (TChart* c : {f.Chart1, f.Chart2, f.Chart3, f.Chart4}) SetHeight(c, f.PanelDiagramms->height() / 4);
  SetAlign(f.PanelDirect, alTop);
}

// The distinct X values of a series' points, in order of appearance.
inline std::vector<double> distinctX(const TChartSeries& s) {
  std::vector<double> xs;
  for (double x : s.XValues.Values())
    if (xs.empty() || xs.back() != x) xs.push_back(x);
  return xs;
}
