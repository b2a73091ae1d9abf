// The spectra of one spectrogram repaint: 300 columns of two channels, one
// 64-point PowerSpectrAlloc each, every result released as the view does.
// Anchor: the same 600 transforms through FFTW with a plan made once.
//
// Also: filling a fresh buffer of one channel of a 10-minute 44.1 kHz
// recording from the library's allocator, against the same through malloc.
#include "dsp/IPPDynamic.h"
#include "dsp/LoadExternal.h"
#include "dsp/SignalProcessingDynamic.h"

#include <benchmark/benchmark.h>
#include <fftw3.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

namespace {

constexpr int Columns = 600;
constexpr int Points = 64;

// One channel, aligned as the library's allocator aligns a recording.
struct Recording {
  Recording() : x(fftw_alloc_real(Columns * Points)) {
    for (int i = 0; i < Columns * Points; ++i) x[i] = std::sin(0.01 * i) * 1000.0;
  }
  ~Recording() { fftw_free(x); }
  double* column(int c) const { return x + c * Points; }
  double* x;
};

void BM_SpectrogramRepaintSpectra(benchmark::State& state) {
  if (!LoadExternal::LoadDynamicIIPP()) {
    state.SkipWithError("library not loaded");
    return;
  }
  const Recording x;
  for (auto _ : state) {
    for (int c = 0; c < Columns; ++c) {
      pDoubleArray s = nullptr;
      SignalProcessingDynamic::PowerSpectrAlloc(x.column(c), s, Points);
      const IPPDynamic::IppBuffer<double> spectrum(s);
      benchmark::DoNotOptimize(spectrum[1]);
    }
  }
  LoadExternal::FreeDynamicIIPP();
}

void BM_AnchorFftwPlannedOnce(benchmark::State& state) {
  const Recording x;
  double* in = fftw_alloc_real(Points);
  fftw_complex* out = fftw_alloc_complex(Points / 2 + 1);
  const fftw_plan plan = fftw_plan_dft_r2c_1d(Points, in, out, FFTW_ESTIMATE);
  for (auto _ : state) {
    for (int c = 0; c < Columns; ++c) {
      fftw_execute_dft_r2c(plan, x.column(c), out);
      benchmark::DoNotOptimize(out[1][0]);
    }
  }
  fftw_destroy_plan(plan);
  fftw_free(out);
  fftw_free(in);
}

constexpr int ChannelSamples = 10 * 60 * 44100;

void fill(double* x) {
  for (int i = 0; i < ChannelSamples; ++i) x[i] = i;
  benchmark::ClobberMemory();
}

void BM_FillFreshChannelBuffer(benchmark::State& state) {
  if (!LoadExternal::LoadDynamicIIPP()) {
    state.SkipWithError("library not loaded");
    return;
  }
  for (auto _ : state) {
    double* x = IPPDynamic::IIPP_MallocDouble(ChannelSamples);
    fill(x);
    IPPDynamic::IIPP_Free(x);
  }
  LoadExternal::FreeDynamicIIPP();
}

void BM_AnchorFillFreshMallocBuffer(benchmark::State& state) {
  for (auto _ : state) {
    auto* x = static_cast<double*>(std::malloc(sizeof(double) * ChannelSamples));
    fill(x);
    std::free(x);
  }
}

BENCHMARK(BM_SpectrogramRepaintSpectra)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_AnchorFftwPlannedOnce)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_FillFreshChannelBuffer)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_AnchorFillFreshMallocBuffer)->Unit(benchmark::kMillisecond);

// Prints the usual table, then the repaint's time as a multiple of the
// anchor's, from the medians when the runs are repeated. The CPU-time ratio
// is the steadier one on a busy machine.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& r : runs) {
      const bool median = r.run_type == Run::RT_Aggregate && r.aggregate_name == "median";
      if (r.run_type == Run::RT_Iteration || median) {
        times_[r.run_name.function_name] = {r.GetAdjustedRealTime(), r.GetAdjustedCPUTime()};
      }
    }
  }
  void Finalize() override {
    ConsoleReporter::Finalize();
    printRatio("repaint spectra / FFTW planned once", "BM_SpectrogramRepaintSpectra", "BM_AnchorFftwPlannedOnce",
               "goal <= 3x");
    printRatio("fresh channel buffer / malloc", "BM_FillFreshChannelBuffer", "BM_AnchorFillFreshMallocBuffer",
               "huge pages: below 1x");
  }

 private:
  void printRatio(const char* what, const std::string& subject, const std::string& anchor, const char* goal) const {
    const auto s = times_.find(subject);
    const auto a = times_.find(anchor);
    if (s == times_.end() || a == times_.end()) return;
    std::printf("%s: %.2fx real time, %.2fx CPU time (%s)\n", what, s->second.first / a->second.first,
                s->second.second / a->second.second, goal);
  }

  std::map<std::string, std::pair<double, double>> times_;
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  return 0;
}
