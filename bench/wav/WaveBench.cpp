// Opening and saving a 10-minute 44.1 kHz stereo 16-bit recording, each beside its
// anchor measured in the same run:
//   open  - repeated opens in one process (warm), beside libsndfile's sf_readf_double
//           into three reused arrays of the same sizes and the machine's copy
//           bandwidth over the same bytes;
//   cold  - one open in a fresh process, beside libsndfile reading into fresh arrays
//           every iteration, and the memory the open adds at its peak, against
//           file + 3 x L x 8 bytes;
//   save  - converting the same samples into a ready buffer and writing it to a new
//           named file with one write() and fsync(), as the writer also flushes (the
//           writer's file is unnamed until it is complete, then linked to its name).
#include "dsp/IPPDynamic.h"
#include "dsp/LoadExternal.h"
#include "wav/WaveFile.h"
#include "WaveBuilder.h"

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sndfile.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

constexpr std::uint32_t rate = 44100;
constexpr std::int32_t frames = 10 * 60 * rate;  // 26,460,000
constexpr std::size_t fileBytes = 44 + std::size_t(frames) * 4;

std::filesystem::path workDir;
std::string wavPath;
std::string selfPath;
int savedFiles = 0;

std::string freshName(const char* stem) {
  return (workDir / (std::string(stem) + std::to_string(savedFiles++) + ".wav")).string();
}

// A recording with a sweep in the left channel and noise-like values in the right.
void writeRecording(const std::string& path) {
  std::vector<std::int16_t> frame(2 * 65536);
  std::ofstream out(path, std::ios::binary);
  out << wavtest::pcmHeader(2, rate, 16, std::uint32_t(frames) * 4);
  std::uint32_t noise = 12345;
  for (std::int32_t done = 0; done < frames;) {
    std::int32_t n = std::min<std::int32_t>(65536, frames - done);
    for (std::int32_t k = 0; k < n; ++k) {
      noise = noise * 1664525 + 1013904223;
      frame[2 * k] = std::int16_t(20000 * std::sin((done + k) * 1e-3));
      frame[2 * k + 1] = std::int16_t(noise >> 16);
    }
    out.write(reinterpret_cast<char*>(frame.data()), n * 4);
    done += n;
  }
}

struct LibraryBuffers {
  pDoubleArray time = nullptr, left = nullptr, right = nullptr;
  void release() {
    for (pDoubleArray* p : {&time, &left, &right}) {
      if (*p) IPPDynamic::IIPP_Free(*p);
      *p = nullptr;
    }
  }
};

std::int32_t openRecording(LibraryBuffers& b) {
  TDateTime date;
  if (!WaveFile::GetWaveInfo(wavPath, date)) std::abort();
  return WaveFile::LoadWaveData(wavPath, false, b.time, b.left, b.right);
}

void setBytes(benchmark::State& state) {
  state.SetBytesProcessed(std::int64_t(state.iterations()) * std::int64_t(fileBytes));
}

void BM_Open(benchmark::State& state) {
  for (auto _ : state) {
    LibraryBuffers b;
    benchmark::DoNotOptimize(openRecording(b));
    b.release();
  }
  setBytes(state);
}

// The first half of an open alone: opening the file and walking its chunks.
void BM_GetWaveInfo(benchmark::State& state) {
  for (auto _ : state) {
    TDateTime date;
    benchmark::DoNotOptimize(WaveFile::GetWaveInfo(wavPath, date));
    WaveFile::Buffer.reset();
  }
}

// libsndfile into three arrays of L doubles: time line, left, right.
void readWithSndfile(double* time, double* left, double* right) {
  SF_INFO info{};
  SNDFILE* f = sf_open(wavPath.c_str(), SFM_READ, &info);
  if (!f) std::abort();
  sf_command(f, SFC_SET_NORM_DOUBLE, nullptr, SF_FALSE);
  std::vector<double> block(2 * 65536);
  sf_count_t j = 0;
  for (sf_count_t n; (n = sf_readf_double(f, block.data(), 65536)) > 0;) {
    for (sf_count_t k = 0; k < n; ++k, ++j) {
      time[j] = double(j + 1) / info.samplerate;
      left[j] = block[2 * k];
      right[j] = block[2 * k + 1];
    }
  }
  sf_close(f);
}

void BM_SndfileCold(benchmark::State& state) {
  const std::size_t L = WaveFile::BufferLength(frames);
  for (auto _ : state) {
    auto* time = static_cast<double*>(std::malloc(L * 8));
    auto* left = static_cast<double*>(std::malloc(L * 8));
    auto* right = static_cast<double*>(std::malloc(L * 8));
    readWithSndfile(time, left, right);
    benchmark::DoNotOptimize(right[frames - 1]);
    std::free(time);
    std::free(left);
    std::free(right);
  }
  setBytes(state);
}

void BM_SndfileWarm(benchmark::State& state) {
  const std::size_t L = WaveFile::BufferLength(frames);
  std::vector<double> time(L), left(L), right(L);
  readWithSndfile(time.data(), left.data(), right.data());
  for (auto _ : state) {
    readWithSndfile(time.data(), left.data(), right.data());
    benchmark::DoNotOptimize(right[frames - 1]);
  }
  setBytes(state);
}

// The machine's copy bandwidth over the file's bytes, warm.
void BM_CopyAnchor(benchmark::State& state) {
  std::vector<char> from(fileBytes, 1), to(fileBytes, 2);
  for (auto _ : state) {
    std::memcpy(to.data(), from.data(), fileBytes);
    benchmark::ClobberMemory();
  }
  setBytes(state);
}

// One load in a fresh process (this program run with --cold-load), so nothing the
// allocator kept from an earlier load helps: prints the memory the load added to
// the process at its peak, in KiB, and the time it took, in nanoseconds.
void coldLoadChild() {
  auto statusKb = [](const char* field) {
    std::ifstream in("/proc/self/status");
    for (std::string line; std::getline(in, line);)
      if (line.rfind(field, 0) == 0) return std::atol(line.c_str() + std::strlen(field));
    return 0L;
  };
  if (!LoadExternal::LoadDynamicIIPP()) std::abort();
  long before = statusKb("VmRSS:");
  LibraryBuffers b;
  auto start = std::chrono::steady_clock::now();
  openRecording(b);
  auto took = std::chrono::steady_clock::now() - start;
  long peak = statusKb("VmHWM:");
  b.release();
  std::printf("%ld %lld\n", peak - before, static_cast<long long>(std::chrono::nanoseconds(took).count()));
}

// The open's own time in a fresh process, and its peak memory against
// file + 3 x L x 8 bytes.
void BM_OpenCold(benchmark::State& state) {
  const double L = double(WaveFile::BufferLength(frames));
  long addedKb = 0;
  long long nanoseconds = 0;
  for (auto _ : state) {
    std::string cmd = "'" + selfPath + "' --cold-load '" + wavPath + "'";
    FILE* p = popen(cmd.c_str(), "r");
    if (!p || std::fscanf(p, "%ld %lld", &addedKb, &nanoseconds) != 2) std::abort();
    pclose(p);
    state.SetIterationTime(double(nanoseconds) / 1e9);
  }
  double budget = fileBytes + 3 * L * 8;
  state.counters["peak_MB"] = addedKb * 1024.0 / 1e6;
  state.counters["budget_MB"] = budget * 1.05 / 1e6;
  state.counters["peak_over_budget"] = addedKb * 1024.0 / (budget * 1.05);
  setBytes(state);
}

struct SaveInput {
  LibraryBuffers b;
  SaveInput() {
    if (openRecording(b) != frames) std::abort();
  }
  ~SaveInput() { b.release(); }
};

void BM_Save(benchmark::State& state) {
  SaveInput in;
  for (auto _ : state) {
    state.PauseTiming();
    std::string path = freshName("save");
    state.ResumeTiming();
    WaveFile::SaveDataToWavFile(path, false, in.b.time, in.b.left, in.b.right, frames);
    state.PauseTiming();
    std::filesystem::remove(path);
    state.ResumeTiming();
  }
  setBytes(state);
}

// The same bytes converted into a ready, already touched buffer and written at once;
// argument 1 flushes them to disk as the writer does, 0 leaves them in the page cache.
void BM_SaveAnchor(benchmark::State& state) {
  SaveInput in;
  std::vector<std::int16_t> out(22 + 2 * std::size_t(frames), 1);
  for (auto _ : state) {
    state.PauseTiming();
    std::string path = freshName("anchor");
    state.ResumeTiming();
    for (std::int32_t i = 0; i < frames; ++i) {
      out[22 + 2 * i] = std::int16_t(std::llrint(in.b.left[i]));
      out[22 + 2 * i + 1] = std::int16_t(std::llrint(in.b.right[i]));
    }
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0666);
    if (fd < 0 || ::write(fd, out.data(), fileBytes) != ssize_t(fileBytes)) std::abort();
    if (state.range(0) != 0 && ::fsync(fd) != 0) std::abort();
    ::close(fd);
    state.PauseTiming();
    std::filesystem::remove(path);
    state.ResumeTiming();
  }
  setBytes(state);
}

constexpr int repetitions = 5;
BENCHMARK(BM_Open)->Unit(benchmark::kMillisecond)->Iterations(2)->Repetitions(repetitions);
BENCHMARK(BM_GetWaveInfo)->Unit(benchmark::kMicrosecond)->Iterations(2)->Repetitions(repetitions);
BENCHMARK(BM_SndfileCold)->Unit(benchmark::kMillisecond)->Iterations(2)->Repetitions(repetitions);
BENCHMARK(BM_SndfileWarm)->Unit(benchmark::kMillisecond)->Iterations(2)->Repetitions(repetitions);
BENCHMARK(BM_CopyAnchor)->Unit(benchmark::kMillisecond)->Iterations(5)->Repetitions(repetitions);
BENCHMARK(BM_OpenCold)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(1)->Repetitions(repetitions);
BENCHMARK(BM_Save)->Unit(benchmark::kMillisecond)->Iterations(2)->Repetitions(repetitions);
BENCHMARK(BM_SaveAnchor)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond)->Iterations(2)->Repetitions(repetitions);

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && std::strcmp(argv[1], "--cold-load") == 0) {
    wavPath = argv[2];
    coldLoadChild();
    return 0;
  }
  if (!LoadExternal::LoadDynamicIIPP()) {
    std::fprintf(stderr, "the signal-processing library cannot be loaded\n");
    return 1;
  }
  selfPath = std::filesystem::read_symlink("/proc/self/exe").string();
  std::string pattern = (std::filesystem::temp_directory_path() / "tembrix-wavbench-XXXXXX").string();
  workDir = ::mkdtemp(pattern.data());
  wavPath = (workDir / "ten-minutes.wav").string();
  writeRecording(wavPath);

  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  std::filesystem::remove_all(workDir);
  LoadExternal::FreeDynamicIIPP();
  return 0;
}
