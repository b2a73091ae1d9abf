// Play on a one-hour 44.1 kHz stereo selection in the editor frame, heard on
// the monitor of a private sound server. Medians of several Plays:
//   first_sound_ms    the click on Play until the first sample is heard;
//                     goal ≤ 300 ms. Anchor: slice_ms, converting one slice
//                     of the span (what the first sound cannot do without).
//   stop_ms           the click on Stop, 0.45 s after Play (so the poll at
//                     0.5 s sees it), until Play is enabled again; goal
//                     ≤ 150 ms (the next poll plus 50 ms).
//   close_ms          closing the window 0.2 s after Play, while the span
//                     is still converted: how long the GUI thread is held;
//                     goal ≤ 50 ms above close_idle_ms, the same window
//                     closed with nothing playing (the anchor).
//   peak_ratio        the peak resident memory above the loaded document
//                     while Play works, over the span's interleaved size
//                     (4 bytes a frame); goal ≤ 1.1.
//   after_ratio       what stays resident above the document once the
//                     playback has ended, in the same unit; goal: about 0.
// Without PULSE_SERVER set, the program starts its own server with the test
// fixture script and stops it at the end (SoundServerMain.cpp). Needs about
// 5 GB of free memory.
#include "EditorTestSupport.h"
#include "MonitorCapture.h"
#include "playback/SoundPlayThread.h"
#include "PlaybackThreads.h"
#include "ProcessStatus.h"
#include "shell/FrameLayout.h"
#include "WaitFor.h"

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <numbers>
#include <string>
#include <vector>

using T = TembrixTestAccess;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

constexpr std::uint32_t kRate = 44100;
constexpr std::int64_t kFrames = 3600LL * kRate;

// Sets the peak resident size back to the current one.
void resetPeak() { std::ofstream("/proc/self/clear_refs") << "5"; }

// A 16-bit stereo WAV of tones, loud from its first frame, written in pieces.
void writeHour(const std::string& path) {
  std::ofstream out(path, std::ios::binary);
  out << wavtest::pcmHeader(2, kRate, 16, std::uint32_t(kFrames * 4));
  std::vector<std::int16_t> piece;
  for (std::int64_t f = 0; f < kFrames;) {
    piece.clear();
    for (int i = 0; i < 65536 && f < kFrames; ++i, ++f) {
      piece.push_back(std::int16_t(std::lround(8000 * std::sin(2 * std::numbers::pi * 440 * double(f) / kRate + 0.5))));
      piece.push_back(std::int16_t(std::lround(8000 * std::sin(2 * std::numbers::pi * 1000 * double(f) / kRate + 0.5))));
    }
    out.write(reinterpret_cast<const char*>(piece.data()), std::streamsize(piece.size() * 2));
  }
}

std::optional<std::size_t> firstLoudFrom(const std::vector<std::int16_t>& s, std::size_t from) {
  for (std::size_t i = 2 * from; i < s.size(); ++i)
    if (std::abs(int(s[i])) > 100) return i / 2;
  return std::nullopt;
}

double msSince(Clock::time_point t) { return std::chrono::duration<double, std::milli>(Clock::now() - t).count(); }

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0 : v[v.size() / 2];
}

// A shown frame holding the hour, its whole span selected.
std::unique_ptr<TFrameTembrix> hourFrame(const std::string& file) {
  auto frame = std::make_unique<TFrameTembrix>();
  frame->resize(1280, 800);
  LayOutFrame(*frame);
  frame->show();
  frame->arReportPath = QString::fromStdString(file);
  frame->InputWaveFile();
  if (frame->arWAVENOP != kFrames) return nullptr;
  QTest::mouseClick(frame->SpeedButtonSelect, Qt::LeftButton);
  T::TimeSelect(*frame).Lo = 0;
  T::TimeSelect(*frame).Hi = 3600;
  return frame;
}

void BM_PlayOneHourSelection(benchmark::State& state) {
  QTemporaryDir dir;
  const std::string file = (dir.path() + QStringLiteral("/hour.wav")).toStdString();
  writeHour(file);
  const long long empty = statusBytes("VmRSS:");
  auto frame = hourFrame(file);
  if (!frame) {
    state.SkipWithError("the recording did not load");
    return;
  }
  const double span = double(kFrames) * 4;

  // Anchor: converting one slice, as the first sound needs.
  {
    std::vector<std::int16_t> slice(2 * SoundPlayThread::SliceFrames);
    const auto start = Clock::now();
    for (std::size_t i = 0; i < SoundPlayThread::SliceFrames; ++i) {
      slice[2 * i] = std::int16_t(Round(frame->arLeftCH[i]));
      slice[2 * i + 1] = std::int16_t(Round(frame->arRightCH[i]));
    }
    state.counters["slice_ms"] = msSince(start);
    benchmark::DoNotOptimize(slice.data());
  }

  MonitorCapture capture;
  std::vector<double> firstSound, stop;
  for (auto _ : state) {
    QTest::qWait(300);
    const std::size_t before = capture.frames();
    const auto click = Clock::now();
    QTest::mouseClick(frame->Button1, Qt::LeftButton);
    std::optional<std::size_t> first;
    QTest::qWait(450 - int(msSince(click)));
    const auto stopClick = Clock::now();
    QTest::mouseClick(frame->ButtonStop, Qt::LeftButton);
    waitFor([&] { return frame->Button1->isEnabled(); }, 10s);
    stop.push_back(msSince(stopClick));
    waitFor([] { return !PlaybackUnderWay(); }, 10s);
    if (!waitFor([&] { return (first = firstLoudFrom(capture.samples(), before)).has_value(); }, 10s)) {
      state.SkipWithError("nothing was heard");
      return;
    }
    firstSound.push_back(std::chrono::duration<double, std::milli>(capture.frameTime(double(*first)) - click).count());
    state.SetIterationTime(firstSound.back() / 1000);
  }
  state.counters["first_sound_ms"] = median(firstSound);
  state.counters["stop_ms"] = median(stop);

  // Memory: playing until the whole span has been converted, then stopped.
  QTest::qWait(300);
  const long long document = statusBytes("VmRSS:");
  resetPeak();
  QTest::mouseClick(frame->Button1, Qt::LeftButton);
  QTest::qWait(6000);
  const long long peak = statusBytes("VmHWM:");
  QTest::mouseClick(frame->ButtonStop, Qt::LeftButton);
  waitFor([] { return !PlaybackUnderWay(); }, 10s);
  QTest::qWait(300);
  state.counters["document_MB"] = double(document - empty) / 1e6;
  state.counters["span_MB"] = span / 1e6;
  state.counters["peak_ratio"] = double(peak - document) / span;
  state.counters["after_ratio"] = double(statusBytes("VmRSS:") - document) / span;

  // Closing the window during the conversion, and the same window closed idle.
  std::vector<double> close;
  for (int i = 0; i < 3 && frame; ++i) {
    QTest::mouseClick(frame->Button1, Qt::LeftButton);
    QTest::qWait(200);
    const auto closed = Clock::now();
    frame.reset();
    close.push_back(msSince(closed));
    waitFor([] { return !PlaybackUnderWay(); }, 10s);
    frame = hourFrame(file);
  }
  if (frame) {
    QTest::qWait(300);
    const auto closed = Clock::now();
    frame.reset();
    state.counters["close_idle_ms"] = msSince(closed);
  }
  std::remove(file.c_str());
  state.counters["close_ms"] = median(close);
}
BENCHMARK(BM_PlayOneHourSelection)->UseManualTime()->Iterations(5)->Unit(benchmark::kMillisecond);

}  // namespace
