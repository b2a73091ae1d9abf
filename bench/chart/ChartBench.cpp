// Painting cost of the charts at a full-HD width, beside an anchor measured in
// the same run: filling an image of the same size once.
#include "ToneSweep.h"

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QImage>
#include <QPainter>

#include <cstdlib>
#include <memory>

namespace {

constexpr int kWidth = 1920, kHeight = 270;

const ToneSweep::TRecording& recording() {
  static const ToneSweep::TRecording r = ToneSweep::Make(2.0);
  return r;
}

const std::vector<ToneSweep::TPoint>& spectrum() {
  static const std::vector<ToneSweep::TPoint> p = ToneSweep::SpectrogramPoints(recording());
  return p;
}

void paintInto(QImage& Image, const TChart& Chart) {
  QPainter painter(&Image);
  Chart.paintChart(painter);
}

void BM_Anchor_FillImage(benchmark::State& state) {
  QImage image(kWidth, kHeight, QImage::Format_ARGB32_Premultiplied);
  for (auto _ : state) {
    image.fill(Qt::white);
    benchmark::DoNotOptimize(image.bits());
  }
}

// The panel, title, grid and axes alone: what every chart pays before its series.
void BM_Paint_EmptyChart(benchmark::State& state) {
  TChart chart;
  chart.resize(kWidth, kHeight);
  chart.SetTitle(QStringLiteral("Левый канал."));
  chart.AddSeries<TFastLineSeries>()->AddXY(0, -20000);
  chart.Series(0)->ParentChart().BottomAxis->SetAutomatic(true);
  static_cast<TFastLineSeries*>(chart.Series(0))->AddXY(2, 20000);
  chart.Refresh();
  static_cast<TFastLineSeries*>(chart.Series(0))->Clear();
  QImage image(kWidth, kHeight, QImage::Format_ARGB32_Premultiplied);
  for (auto _ : state) paintInto(image, chart);
}

void BM_Paint_Line10000(benchmark::State& state) {
  TChart chart;
  chart.resize(kWidth, kHeight);
  ToneSweep::FillWaveform(*chart.AddSeries<TFastLineSeries>(), recording());
  chart.Refresh();
  QImage image(kWidth, kHeight, QImage::Format_ARGB32_Premultiplied);
  for (auto _ : state) paintInto(image, chart);
  state.counters["goal_ms"] = 2;
}

void BM_Paint_Spectrogram300x32(benchmark::State& state) {
  TChart chart;
  chart.resize(kWidth, kHeight);
  auto* series = chart.AddSeries<TIsoSurfaceSeries>();
  series->BandPen.Visible = false;
  ToneSweep::FillSpectrogram(*series, spectrum(), 300);
  chart.Refresh();
  QImage image(kWidth, kHeight, QImage::Format_ARGB32_Premultiplied);
  paintInto(image, chart);  // the grid is arranged on the first paint after new points
  for (auto _ : state) paintInto(image, chart);
  state.counters["goal_ms"] = 4;
}

// One full redraw as the editor does it: new points into all four series,
// Refresh, and every chart painted.
void BM_FourCharts_FullRedraw(benchmark::State& state) {
  std::unique_ptr<TChart> charts[4];
  for (auto& c : charts) {
    c = std::make_unique<TChart>();
    c->resize(kWidth, kHeight);
    c->LeftAxis->SetLabelsSize(30);
  }
  auto* wave1 = charts[0]->AddSeries<TFastLineSeries>();
  auto* wave2 = charts[1]->AddSeries<TFastLineSeries>();
  auto* spec1 = charts[2]->AddSeries<TIsoSurfaceSeries>();
  auto* spec2 = charts[3]->AddSeries<TIsoSurfaceSeries>();
  spec1->BandPen.Visible = spec2->BandPen.Visible = false;
  std::vector<QImage> images(4, QImage(kWidth, kHeight, QImage::Format_ARGB32_Premultiplied));
  for (auto _ : state) {
    ToneSweep::FillWaveform(*wave1, recording());
    ToneSweep::FillWaveform(*wave2, recording());
    ToneSweep::FillSpectrogram(*spec1, spectrum(), 300);
    ToneSweep::FillSpectrogram(*spec2, spectrum(), 300);
    for (int i = 0; i < 4; ++i) {
      charts[i]->Refresh();
      paintInto(images[static_cast<std::size_t>(i)], *charts[i]);
    }
  }
  state.counters["goal_ms"] = 16;
}

}  // namespace

BENCHMARK(BM_Anchor_FillImage)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime();
BENCHMARK(BM_Paint_EmptyChart)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime();
BENCHMARK(BM_Paint_Line10000)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime();
BENCHMARK(BM_Paint_Spectrogram300x32)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime();
BENCHMARK(BM_FourCharts_FullRedraw)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime();

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  QApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
