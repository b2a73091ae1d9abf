// A real tone sweep turned into chart points exactly as the editor's views
// would: every k-th frame for the waveform, 300 columns of 64-sample power
// spectra for the spectrogram. Shared by the benchmark and the snapshot tool.
#pragma once

#include "chart/TChart.h"

#include <cmath>
#include <complex>
#include <numbers>
#include <vector>

namespace ToneSweep {

struct TRecording {
  double SampleRate = 22050;
  std::vector<double> Time, Samples;
};

// A linear sweep from 100 Hz to 9 kHz over Seconds, 16-bit scale, with short
// fades so that the ends are visible on the waveform.
inline TRecording Make(double Seconds = 2.0, double SampleRate = 22050) {
  TRecording r;
  r.SampleRate = SampleRate;
  const int n = static_cast<int>(Seconds * SampleRate);
  const double f0 = 100, f1 = 9000;
  for (int i = 0; i < n; ++i) {
    const double t = i / SampleRate;
    const double phase = 2 * std::numbers::pi * (f0 * t + (f1 - f0) * t * t / (2 * Seconds));
    const double fade = std::min({1.0, t / 0.1, (Seconds - t) / 0.1});
    r.Time.push_back((i + 1) / SampleRate);
    r.Samples.push_back(std::round(20000 * fade * std::sin(phase)));
  }
  return r;
}

// The waveform view: at most 10 000 points, every k-th frame.
inline void FillWaveform(TFastLineSeries& Series, const TRecording& R) {
  const int frames = static_cast<int>(R.Samples.size());
  const int k = frames > 10000 ? frames / 10000 : 1;
  const int n = frames > 10000 ? 10000 : frames;
  Series.Clear();
  for (int i = 0; i < n; ++i) Series.AddXY(R.Time[static_cast<std::size_t>(i * k)], R.Samples[static_cast<std::size_t>(i * k)]);
}

struct TPoint {
  double X, Y, Z;
};

// The spectrogram view's points: 300 columns, 32 bins of |X[j]|² / W³ each.
inline std::vector<TPoint> SpectrogramPoints(const TRecording& R) {
  constexpr int W = 64, columns = 300;
  const int frames = static_cast<int>(R.Samples.size());
  const int k = frames > columns ? frames / columns : 1;
  const int n = frames > columns ? columns : frames;
  std::vector<TPoint> points;
  for (int c = 0; c < n; ++c) {
    const int s = c * k;
    for (int j = 0; j < W / 2; ++j) {
      std::complex<double> sum = 0;
      for (int m = 0; m < W && s + m < frames; ++m)
        sum += R.Samples[static_cast<std::size_t>(s + m)] * std::polar(1.0, -2 * std::numbers::pi * j * m / W);
      points.push_back({R.Time[static_cast<std::size_t>(s)], std::norm(sum) / (double(W) * W * W), j * R.SampleRate / W});
    }
  }
  return points;
}

inline void FillSpectrogram(TIsoSurfaceSeries& Series, const std::vector<TPoint>& Points, int Columns) {
  Series.Clear();
  Series.NumXValues = Columns;
  Series.NumZValues = 32;
  Series.IrregularGrid = true;
  for (const TPoint& p : Points) Series.AddXYZ(p.X, p.Y, p.Z);
}

}  // namespace ToneSweep
