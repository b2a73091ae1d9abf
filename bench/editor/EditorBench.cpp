// What the user of the editor waits for, on a one-hour 22050 Hz stereo recording
// shown at 1920 × 1080 (offscreen, real painting):
//  - one full redraw of the four charts (anchor: 16 ms, one frame at 60 Hz), also
//    for a one-second recording: the cost must not grow with the length;
//  - one zoom and one scroll step, redraw included (anchor: 16 ms);
//  - cutting one second at the start (anchor: memmove of the same bytes);
//  - resident memory of the loaded recording (limit: 3 × buffer length × 8 bytes
//    + 20 MiB; the file's bytes must not stay).
#include "EditorTestSupport.h"
#include "ProcessStatus.h"
#include "shell/FrameLayout.h"

#include "platform/Application.h"
#include "wav/WaveFile.h"

#include <benchmark/benchmark.h>

#include <QScrollBar>
#include <QTemporaryDir>
#include <QToolButton>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>

using T = TembrixTestAccess;

namespace {

constexpr std::uint32_t kRate = 22050;
constexpr std::int64_t kHour = 3600LL * kRate;

// A frame at 1920 × 1080, laid out as the open flow does, shown, with `seconds`
// of a recording. The signal is laid out relative to the recording's length (a
// slow swell under a tone), so a whole view of any length looks alike and the
// painting costs the same.
std::unique_ptr<TFrameTembrix> openRecording(const QTemporaryDir& dir, std::int64_t seconds, long long* rssGrowth) {
  const std::string file = (dir.path() + QStringLiteral("/rec%1.wav").arg(seconds)).toStdString();
  const double total = static_cast<double>(seconds * kRate);
  writeWav(file, kRate, 16, 2, seconds * kRate, [total](std::int64_t n, int c) {
    const double swell = 12000 * std::sin(2 * M_PI * 40 * (n / total));
    const double tone = 3000 * std::sin(2 * M_PI * (c ? 5000 : 2000) * n / double(kRate));
    return std::llround(swell + tone);
  });
  auto frame = std::make_unique<TFrameTembrix>();
  frame->resize(1920, 1080);
  LayOutFrame(*frame);
  frame->show();
  QApplication::processEvents();
  const long long before = statusBytes("VmRSS:");
  frame->arReportPath = QString::fromStdString(file);
  frame->InputWaveFile();
  QApplication::processEvents();
  if (rssGrowth) *rssGrowth = statusBytes("VmRSS:") - before;
  std::remove(file.c_str());
  return frame;
}

QTemporaryDir* tempDir;
std::unique_ptr<TFrameTembrix> hourFrame;
std::unique_ptr<TFrameTembrix> secondFrame;
long long hourRssGrowth = 0;

void BM_LoadedHourMemory(benchmark::State& state) {
  for (auto _ : state) {
  }
  const double limit = 3.0 * WaveFile::BufferLength(static_cast<std::uint64_t>(kHour)) * 8 + 20.0 * 1048576;
  state.counters["rss_growth_MiB"] = hourRssGrowth / 1048576.0;
  state.counters["limit_MiB"] = limit / 1048576.0;
  state.counters["within_limit"] = hourRssGrowth <= limit ? 1 : 0;
}
BENCHMARK(BM_LoadedHourMemory)->Iterations(1);

void repaintWhole(benchmark::State& state, TFrameTembrix& frame) {
  for (auto _ : state) T::RepaintDiagramms(frame, 0, frame.arWAVENOP);
  state.counters["anchor_ms"] = 16;
}
void BM_RepaintWhole_1h(benchmark::State& state) { repaintWhole(state, *hourFrame); }
void BM_RepaintWhole_1s(benchmark::State& state) { repaintWhole(state, *secondFrame); }
BENCHMARK(BM_RepaintWhole_1h)->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly(true);
BENCHMARK(BM_RepaintWhole_1s)->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly(true);

void BM_Zoom_1h(benchmark::State& state) {
  TFrameTembrix& f = *hourFrame;
  f.SpeedButtonSelect->setChecked(true);
  for (auto _ : state) {
    T::TimeSelect(f).Lo = 1000.0;
    T::TimeSelect(f).Hi = 1600.0;
    f.ButtonMoreClick(f.ButtonMore);
  }
  state.counters["anchor_ms"] = 16;
}
BENCHMARK(BM_Zoom_1h)->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly(true);

void BM_ScrollStep_1h(benchmark::State& state) {
  TFrameTembrix& f = *hourFrame;
  int position = 10;
  for (auto _ : state) {
    position = position == 10 ? 11 : 10;
    f.ScrollBar1->setValue(position);
    f.ScrollBar1Scroll(f.ScrollBar1, 0, position);
  }
  state.counters["anchor_ms"] = 16;
}
BENCHMARK(BM_ScrollStep_1h)->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly(true);

// The anchor: moving the same bytes with memmove, in the same buffers.
void BM_CutAnchorMemmove_1h(benchmark::State& state) {
  TFrameTembrix& f = *hourFrame;
  for (auto _ : state) {
    const std::size_t bytes = static_cast<std::size_t>(f.arWAVENOP - kRate) * sizeof(double);
    std::memmove(f.arLeftCH, f.arLeftCH + kRate, bytes);
    std::memmove(f.arRightCH, f.arRightCH + kRate, bytes);
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_CutAnchorMemmove_1h)->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly(true);

void BM_CutOneSecondAtStart_1h(benchmark::State& state) {
  TFrameTembrix& f = *hourFrame;
  f.SpeedButtonSelect->setChecked(true);
  for (auto _ : state) {
    T::TimeSelect(f).Lo = 0.0;
    T::TimeSelect(f).Hi = 1.0;
    f.ButtonSelectCutClick(f.ButtonSelectCut);
  }
  state.counters["frames_left"] = f.arWAVENOP;
}
BENCHMARK(BM_CutOneSecondAtStart_1h)->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly(true);

}  // namespace

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  TApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  QTemporaryDir dir;
  tempDir = &dir;
  hourFrame = openRecording(dir, 3600, &hourRssGrowth);
  secondFrame = openRecording(dir, 1, nullptr);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  secondFrame.reset();
  hourFrame.reset();
  return 0;
}
