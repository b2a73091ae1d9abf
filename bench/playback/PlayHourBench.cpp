// Play on a one-hour 44.1 kHz stereo selection in the editor frame, heard on
// the monitor of a private sound server:
//   first_sound_s     the click on Play until the first sample is heard;
//                     goal ≤ 0.5 s.
//   peak_ratio        the process's peak resident memory above the loaded
//                     document while Play works, divided by the span's
//                     interleaved size (4 bytes a frame); goal ≤ 1.1.
//   after_ratio       what stays resident above the document once the
//                     playback has been stopped and has ended, in the same
//                     unit; goal: about 0.
// Anchors, same run: span_MB (the interleaved span), document_MB (what the
// loaded recording holds), and convert_s, one pass over the span reading the
// document's doubles and writing 16-bit samples (what Play cannot do without).
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

#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <numbers>
#include <string>

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

void BM_PlayOneHourSelection(benchmark::State& state) {
  QTemporaryDir dir;
  const std::string file = (dir.path() + QStringLiteral("/hour.wav")).toStdString();
  writeHour(file);
  const long long empty = statusBytes("VmRSS:");
  auto frame = std::make_unique<TFrameTembrix>();
  frame->resize(1280, 800);
  LayOutFrame(*frame);
  frame->show();
  frame->arReportPath = QString::fromStdString(file);
  frame->InputWaveFile();
  std::remove(file.c_str());
  if (frame->arWAVENOP != kFrames) {
    state.SkipWithError("the recording did not load");
    return;
  }
  QTest::mouseClick(frame->SpeedButtonSelect, Qt::LeftButton);
  T::TimeSelect(*frame).Lo = 0;
  T::TimeSelect(*frame).Hi = 3600;
  const double span = double(kFrames) * 4;

  // Anchor: one conversion pass over the span.
  {
    std::vector<std::int16_t> left(kFrames), right(kFrames);
    const auto start = Clock::now();
    for (std::int64_t i = 0; i < kFrames; ++i) {
      left[std::size_t(i)] = std::int16_t(Round(frame->arLeftCH[i]));
      right[std::size_t(i)] = std::int16_t(Round(frame->arRightCH[i]));
    }
    state.counters["convert_s"] = std::chrono::duration<double>(Clock::now() - start).count();
    benchmark::DoNotOptimize(left.data());
    benchmark::DoNotOptimize(right.data());
  }

  MonitorCapture capture;
  double firstSound = 0, peak = 0, after = 0;
  for (auto _ : state) {
    QTest::qWait(200);
    const long long document = statusBytes("VmRSS:");
    resetPeak();
    const std::size_t before = capture.frames();
    const auto click = Clock::now();
    QTest::mouseClick(frame->Button1, Qt::LeftButton);
    std::optional<std::size_t> first;
    if (!waitFor([&] { return (first = firstLoudFrom(capture.samples(), before)).has_value(); }, 30s)) {
      state.SkipWithError("nothing was heard");
      return;
    }
    firstSound = std::chrono::duration<double>(capture.frameTime(double(*first)) - click).count();
    QTest::qWait(1000);
    peak = double(statusBytes("VmHWM:") - document);
    QTest::mouseClick(frame->ButtonStop, Qt::LeftButton);
    waitFor([] { return !PlaybackUnderWay(); }, 10s);
    QTest::qWait(200);
    after = double(statusBytes("VmRSS:") - document);
    state.counters["document_MB"] = double(document - empty) / 1e6;
    state.SetIterationTime(firstSound);
  }
  state.counters["first_sound_s"] = firstSound;
  state.counters["span_MB"] = span / 1e6;
  state.counters["peak_ratio"] = peak / span;
  state.counters["after_ratio"] = after / span;
}
BENCHMARK(BM_PlayOneHourSelection)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace
