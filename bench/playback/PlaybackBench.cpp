// What a user of Play waits for and sees, measured on the sink's monitor of a
// private sound server:
//   BM_PlayToFirstHeardSample  the Play request (globals set, thread started)
//                              until its first sample is heard; goal ≤ 100 ms
//                              median.
//   BM_LineVsHeardSound        how far the position line stands from the
//                              sound heard when it moves; goal ≤ 30 ms at the
//                              95th percentile.
// Anchor, same run: BM_WaveOutWriteToFirstHeardSample, the sound output's own
// latency from a write on an open device to the first heard sample.
// Without PULSE_SERVER set, the program starts its own server with the test
// fixture script and stops it at the end (SoundServerMain.cpp).
#include "chart/TChart.h"
#include "MemorySource.h"
#include "MonitorCapture.h"
#include "playback/SoundPlayThread.h"
#include "playback/WaveOut.h"
#include "WaitFor.h"

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QEvent>
#include <QLabel>
#include <QTest>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

double ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

double percentile(std::vector<double> v, double p) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0 : v[std::min(v.size() - 1, std::size_t(p * double(v.size() - 1) + 0.5))];
}

void report(benchmark::State& state, const std::vector<double>& values, const char* unit) {
  state.counters[std::string("median_") + unit] = percentile(values, 0.5);
  state.counters[std::string("p95_") + unit] = percentile(values, 0.95);
  state.counters[std::string("max_") + unit] = percentile(values, 1.0);
}

// The first frame at or after `from` that is not silent.
std::optional<std::size_t> firstLoudFrom(const MonitorCapture& capture, std::size_t from) {
  const auto s = capture.samples();
  for (std::size_t i = 2 * from; i < s.size(); ++i)
    if (std::abs(int(s[i])) > 100) return i / 2;
  return std::nullopt;
}

// A panel with the two charts and the line the playback moves.
struct Controls {
  std::unique_ptr<QWidget> panel = std::make_unique<QWidget>();
  TChart* chart1 = new TChart(panel.get());
  TChart* chart4 = new TChart(panel.get());
  QLabel* line = new QLabel(panel.get());
  QPushButton* button = new QPushButton(panel.get());
  Controls() {
    panel->resize(900, 400);
    chart1->setGeometry(1, 1, 880, 100);
    chart4->setGeometry(1, 250, 880, 100);
    line->setGeometry(0, 0, 1, 10);
    line->hide();
    auto* series = chart1->AddSeries<TFastLineSeries>();
    series->AddXY(0, 0);
    series->AddXY(10, 0);
    chart1->Refresh();
    panel->show();
  }
};

QPointer<TSoundPlayThread> startPlayback(Controls& c, const std::vector<std::int16_t>& sound) {
  using namespace SoundPlayThread;
  Sound1.Channels = std::make_unique<MemorySource>(sound);
  Sound1.SampleRate = kCaptureRate;
  SenderStaticTextPlayPosition = c.line;
  SenderChart1 = c.chart1;
  SenderChart4 = c.chart4;
  thSampleRate = kCaptureRate;
  thButton = c.button;
  thPositionLo = 0;
  PlaySoundStopper = false;
  auto* t = new TSoundPlayThread();
  t->SetFreeOnTerminate(true);
  QPointer<TSoundPlayThread> p = t;
  t->Start();
  return p;
}

void BM_PlayToFirstHeardSample(benchmark::State& state) {
  MonitorCapture capture;
  Controls controls;
  const auto sound = stereoTones(kCaptureRate / 5, 440, 1000);
  std::vector<double> latencies;
  for (auto _ : state) {
    const std::size_t before = capture.frames();
    const auto click = Clock::now();
    QPointer<TSoundPlayThread> t = startPlayback(controls, sound);
    std::optional<std::size_t> first;
    waitFor([&] { return (first = firstLoudFrom(capture, before)).has_value(); }, 3s);
    waitFor([&] { return !t; });
    if (!first) {
      state.SkipWithError("nothing was heard");
      return;
    }
    latencies.push_back(ms(capture.frameTime(double(*first)) - click));
    state.SetIterationTime(std::max(0.0, latencies.back()) / 1000.0);
    capture.waitUntilCaptured(Clock::now());
  }
  report(state, latencies, "ms");
}
BENCHMARK(BM_PlayToFirstHeardSample)->UseManualTime()->Iterations(15)->Unit(benchmark::kMillisecond);

void BM_WaveOutWriteToFirstHeardSample(benchmark::State& state) {
  using namespace WaveOut;
  MonitorCapture capture;
  auto sound = stereoTones(kCaptureRate / 5, 440, 1000);
  const WAVEFORMATEX fmt{WAVE_FORMAT_PCM, 2, DWORD(kCaptureRate), DWORD(kCaptureRate) * 4, 4, 16, 0};
  HWAVEOUT h = nullptr;
  if (waveOutOpen(&h, WAVE_MAPPER, &fmt, 0, 0, CALLBACK_NULL) != MMSYSERR_NOERROR) {
    state.SkipWithError(LastErrorText().c_str());
    return;
  }
  std::vector<double> latencies;
  for (auto _ : state) {
    const std::size_t before = capture.frames();
    WAVEHDR hdr{};
    hdr.lpData = reinterpret_cast<char*>(sound.data());
    hdr.dwBufferLength = DWORD(sound.size() * 2);
    waveOutPrepareHeader(h, &hdr, sizeof hdr);
    const auto write = Clock::now();
    waveOutWrite(h, &hdr, sizeof hdr);
    std::optional<std::size_t> first;
    const auto end = Clock::now() + 3s;
    while (!(first = firstLoudFrom(capture, before)) && Clock::now() < end) std::this_thread::sleep_for(1ms);
    while (waveOutUnprepareHeader(h, &hdr, sizeof hdr) == WAVERR_STILLPLAYING) std::this_thread::sleep_for(5ms);
    waveOutReset(h);
    if (!first) {
      state.SkipWithError("nothing was heard");
      break;
    }
    latencies.push_back(ms(capture.frameTime(double(*first)) - write));
    state.SetIterationTime(std::max(0.0, latencies.back()) / 1000.0);
    capture.waitUntilCaptured(Clock::now());
  }
  waveOutClose(h);
  report(state, latencies, "ms");
}
BENCHMARK(BM_WaveOutWriteToFirstHeardSample)->UseManualTime()->Iterations(15)->Unit(benchmark::kMillisecond);

// Records the time and the shown position each time the line moves.
class LineWatcher : public QObject {
 public:
  explicit LineWatcher(QWidget* line) : line_(line) { line->installEventFilter(this); }
  std::vector<std::pair<Clock::time_point, WaveOut::DWORD>> moves;

 protected:
  bool eventFilter(QObject* o, QEvent* e) override {
    if (o == line_ && e->type() == QEvent::Move) moves.emplace_back(Clock::now(), SoundPlayThread::pmmt.sample);
    return false;
  }

 private:
  QWidget* line_;
};

void BM_LineVsHeardSound(benchmark::State& state) {
  MonitorCapture capture;
  Controls controls;
  const auto sound = stereoTones(4 * kCaptureRate, 440, 1000);
  std::vector<double> errors;
  for (auto _ : state) {
    LineWatcher watcher(controls.line);
    const std::size_t before = capture.frames();
    const auto start = Clock::now();
    QPointer<TSoundPlayThread> t = startPlayback(controls, sound);
    waitFor([&] { return !t; });
    capture.waitUntilCaptured(Clock::now());
    const auto captured = capture.samples();
    const auto offset =
        findExact(std::vector<std::int16_t>(captured.begin() + 2 * std::ptrdiff_t(before), captured.end()), sound);
    if (!offset) {
      state.SkipWithError("the captured sound differs from the request");
      return;
    }
    for (const auto& [at, sample] : watcher.moves) {
      const double heard = capture.frameAt(at) - double(before + *offset);
      errors.push_back(std::abs(double(sample) - heard) * 1000.0 / kCaptureRate);
    }
    state.SetIterationTime(std::chrono::duration<double>(Clock::now() - start).count());
  }
  report(state, errors, "ms");
  state.counters["updates"] = double(errors.size());
}
BENCHMARK(BM_LineVsHeardSound)->UseManualTime()->Iterations(3)->Unit(benchmark::kMillisecond);

}  // namespace
