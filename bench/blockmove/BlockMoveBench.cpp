// Block-move speed: the three variants and the installed entry point beside
// the C library's memmove, disjoint and overlapping (destination = source + 8),
// and both shifted off alignment (source + 5, destination + 19), from 8 bytes
// to 256 MiB, with a streaming copy as the memory-bandwidth
// limit. After the run a table gives every ratio against the anchors of the
// same run.
#include <benchmark/benchmark.h>
#include <immintrin.h>
#include <sys/mman.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "blockmove/BlockMove.h"
#include "blockmove/CpuIdent.h"

namespace {

constexpr std::size_t KiB = 1024, MiB = 1024 * KiB;
const std::vector<std::size_t> Sizes = {8,       36,      64,      200,     1 * KiB,  4 * KiB,
                                        64 * KiB, 256 * KiB, 1 * MiB, 8 * MiB, 64 * MiB, 256 * MiB};

// Two page-aligned buffers large enough for the biggest move, touched once and
// advised for huge pages so that no benchmark pays for first-touch faults.
class Buffers {
 public:
  explicit Buffers(std::size_t size) : size_(size), source_(allocate()), dest_(allocate()) {}
  ~Buffers() {
    munmap(source_, size_);
    munmap(dest_, size_);
  }
  Buffers(const Buffers&) = delete;
  Buffers& operator=(const Buffers&) = delete;
  unsigned char* source() const { return source_; }
  unsigned char* dest() const { return dest_; }

 private:
  unsigned char* allocate() const {
    void* p = mmap(nullptr, size_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (p == MAP_FAILED) throw std::bad_alloc();
    madvise(p, size_, MADV_HUGEPAGE);
    std::memset(p, 0x5A, size_);
    return static_cast<unsigned char*>(p);
  }
  std::size_t size_;
  unsigned char* source_;
  unsigned char* dest_;
};

Buffers* buffers = nullptr;

// The memory-bandwidth limit: 32-byte aligned loads and streaming stores,
// 128 bytes per step; both buffers are page-aligned and sizes multiples of 128
// from 256 bytes up (smaller sizes copy with a plain loop).
__attribute__((target("avx2"))) void streamingCopy(const void* source, void* dest, std::size_t count) {
  auto s = static_cast<const __m256i*>(source);
  auto d = static_cast<__m256i*>(dest);
  std::size_t steps = count / 128;
  for (; steps > 0; --steps, s += 4, d += 4) {
    const __m256i a = _mm256_load_si256(s), b = _mm256_load_si256(s + 1), c = _mm256_load_si256(s + 2),
                  e = _mm256_load_si256(s + 3);
    _mm256_stream_si256(d, a), _mm256_stream_si256(d + 1, b), _mm256_stream_si256(d + 2, c),
        _mm256_stream_si256(d + 3, e);
  }
  _mm_sfence();
  auto sb = reinterpret_cast<const unsigned char*>(s);
  auto db = reinterpret_cast<unsigned char*>(d);
  for (std::size_t i = 0; i < count % 128; ++i) db[i] = sb[i];
}

void libraryMemmove(const void* source, void* dest, std::intptr_t count) {
  std::memmove(dest, source, static_cast<std::size_t>(count));
}

struct Contender {
  const char* name;
  BlockMove::TMoveDispatch move;
};

enum class Mode { Disjoint, Overlapping, Unaligned };
const char* const ModeNames[] = {"disjoint", "overlap8", "unaligned"};

void run(benchmark::State& state, BlockMove::TMoveDispatch move, Mode mode, std::size_t size) {
  const unsigned char* source = buffers->source() + (mode == Mode::Unaligned ? 5 : 0);
  unsigned char* dest = mode == Mode::Overlapping ? buffers->source() + 8
                        : mode == Mode::Unaligned ? buffers->dest() + 19
                                                  : buffers->dest();
  for (auto _ : state) {
    move(source, dest, static_cast<std::intptr_t>(size));
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * size));
}

// Collects every result so the ratios can be printed after the run.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    // With --benchmark_repetitions the median stands for the benchmark.
    for (const Run& run : runs) {
      if (run.error_occurred) continue;
      if (run.run_type == Run::RT_Iteration && runs.size() == 1)
        bytesPerSecond_[run.run_name.str()] = run.counters.at("bytes_per_second").value;
      if (run.run_type == Run::RT_Aggregate && run.aggregate_name == "median")
        bytesPerSecond_[run.run_name.str()] = run.counters.at("bytes_per_second").value;
    }
  }

  void printRatios(const std::vector<const char*>& variants) const {
    std::printf("\nThroughput ratios (same run). Columns: variant / memmove, and / streaming copy\n");
    std::printf("%-12s %-10s", "mode", "size");
    for (const char* v : variants) std::printf(" %8s/lib %8s/str", v, v);
    std::printf("\n");
    for (const char* mode : ModeNames) {
      for (const std::size_t size : Sizes) {
        const double library = rate("memmove", mode, size), streaming = rate("stream", "disjoint", size);
        if (library == 0.0) continue;  // not run (filtered out)
        std::printf("%-12s %-10zu", mode, size);
        for (const char* v : variants) {
          const double r = rate(v, mode, size);
          if (streaming == 0.0) std::printf(" %12.2f %12s", r / library, "-");
          else std::printf(" %12.2f %12.2f", r / library, r / streaming);
        }
        std::printf("   (memmove %.1f GB/s, stream %.1f GB/s)\n", library / 1e9, streaming / 1e9);
      }
    }
  }

 private:
  double rate(const std::string& who, const std::string& mode, std::size_t size) const {
    const auto found = bytesPerSecond_.find(name(who, mode, size));
    return found == bytesPerSecond_.end() ? 0.0 : found->second;
  }
  std::map<std::string, double> bytesPerSecond_;

 public:
  static std::string name(const std::string& who, const std::string& mode, std::size_t size) {
    return "Move/" + who + "/" + mode + "/" + std::to_string(size);
  }
};

}  // namespace

int main(int argc, char** argv) {
  CpuIdent::GetCPUInfo();
  BlockMove::Initialize();
  std::printf("L2 %u KB, PrefetchLimit %d, installed variant %s\n", unsigned{CpuIdent::CPU.L2CacheSize},
              BlockMove::PrefetchLimit,
              BlockMove::InstalledMove() == &BlockMove::MoveDispatch_SSE ? "SSE" : "not SSE");

  Buffers storage(Sizes.back() + 4096);
  buffers = &storage;

  const std::vector<Contender> contenders = {{"memmove", libraryMemmove},
                                             {"IA32", BlockMove::MoveDispatch_IA32},
                                             {"MMX", BlockMove::MoveDispatch_MMX},
                                             {"SSE", BlockMove::MoveDispatch_SSE},
                                             {"Move", BlockMove::Move}};
  for (const std::size_t size : Sizes) {
    benchmark::RegisterBenchmark(RatioReporter::name("stream", "disjoint", size).c_str(),
                                 [size](benchmark::State& state) {
                                   for (auto _ : state) {
                                     streamingCopy(buffers->source(), buffers->dest(), size);
                                     benchmark::ClobberMemory();
                                   }
                                   state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * size));
                                 });
    for (const Mode mode : {Mode::Disjoint, Mode::Overlapping, Mode::Unaligned})
      for (const Contender& c : contenders)
        benchmark::RegisterBenchmark(
            RatioReporter::name(c.name, ModeNames[static_cast<int>(mode)], size).c_str(),
            [c, mode, size](benchmark::State& state) { run(state, c.move, mode, size); });
  }

  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  reporter.printRatios({"IA32", "MMX", "SSE", "Move"});
  benchmark::Shutdown();
  return 0;
}
