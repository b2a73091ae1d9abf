// The library's entry points, called through the binding.
#include "DspTestSupport.h"

#include <cstdint>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

using namespace IPPDynamic;

namespace {

bool alignedTo(const void* p, std::uintptr_t alignment) {
  return reinterpret_cast<std::uintptr_t>(p) % alignment == 0;
}

// The "THPeligible" flag of the mapping that holds address, or -1 if unknown.
int hugePageEligible(const void* address) {
  std::ifstream smaps("/proc/self/smaps");
  const auto a = reinterpret_cast<std::uintptr_t>(address);
  bool inside = false;
  for (std::string line; std::getline(smaps, line);) {
    std::uintptr_t lo = 0, hi = 0;
    char dash = 0;
    std::istringstream head(line);
    if (head >> std::hex >> lo >> dash >> hi && dash == '-') {
      inside = lo <= a && a < hi;
    } else if (inside && line.rfind("THPeligible:", 0) == 0) {
      return std::stoi(line.substr(12));
    }
  }
  return -1;
}

struct Transform {
  explicit Transform(int order, int flag = IPP_FFT_NODIV_BY_ANY) {
    EXPECT_EQ(IIPP_FFTGetSize(order, flag, AlgHintAccurate, &specSize, &specBufferSize, &bufferSize), 0);
    spec = IIPP_MallocByte(specSize);
    specBuffer = IIPP_MallocByte(specBufferSize);
    buffer = IIPP_MallocByte(bufferSize);
    EXPECT_EQ(IIPP_FFTInit(&handle, order, flag, AlgHintAccurate, spec, specBuffer), 0);
  }
  ~Transform() {
    IIPP_FFTFree(handle);
    IIPP_Free(buffer);
    IIPP_Free(specBuffer);
    IIPP_Free(spec);
  }
  int specSize = 0, specBufferSize = 0, bufferSize = 0;
  std::uint8_t *spec = nullptr, *specBuffer = nullptr, *buffer = nullptr;
  pFFTSpec handle = nullptr;
};

constexpr double Sentinel = 12345.678;

// Perm and its conjugate unpacking of x[0 … n-1] against the direct transform.
void expectTransformMatchesDft(const Transform& t, const double* x, int n) {
  const auto expected = directDft(x, n);
  double scale = 1.0;
  for (const auto& bin : expected) scale = std::max(scale, std::abs(bin));
  const double tolerance = 1e-12 * scale * std::log2(2.0 * n);

  std::vector<double> perm(static_cast<std::size_t>(n) + 1, Sentinel);
  ASSERT_EQ(IIPP_FFTFwd_RToPerm(x, perm.data(), t.handle, t.buffer), 0);
  EXPECT_EQ(perm[static_cast<std::size_t>(n)], Sentinel);
  EXPECT_NEAR(perm[0], expected[0].real(), tolerance);
  if (n > 1) {
    EXPECT_NEAR(perm[1], expected[static_cast<std::size_t>(n / 2)].real(), tolerance);
  }
  for (int k = 1; k < n / 2; ++k) {
    EXPECT_NEAR(perm[2 * k], expected[k].real(), tolerance) << "n=" << n << " k=" << k;
    EXPECT_NEAR(perm[2 * k + 1], expected[k].imag(), tolerance) << "n=" << n << " k=" << k;
  }

  std::vector<ComplexNumber> full(static_cast<std::size_t>(n) + 1, ComplexNumber{Sentinel, Sentinel});
  ASSERT_EQ(IIPP_ConjPerm(perm.data(), full.data(), n), 0);
  EXPECT_EQ(full[static_cast<std::size_t>(n)].re, Sentinel);
  for (int k = 0; k < n; ++k) {
    EXPECT_NEAR(full[k].re, expected[k].real(), tolerance) << "n=" << n << " k=" << k;
    EXPECT_NEAR(full[k].im, expected[k].imag(), tolerance) << "n=" << n << " k=" << k;
  }
}

}  // namespace

using Allocator = LibraryTest;
using TransformTest = LibraryTest;
using VectorTest = LibraryTest;

TEST_F(Allocator, BlocksOfEveryAllocatorAre64ByteAlignedAndReleasedByOneFree) {
  for (int len : {1, 3, 64, 1000, 100000}) {
    double* d = IIPP_MallocDouble(len);
    ComplexNumber* c = IIPP_MallocComplex(len);
    std::uint8_t* b = IIPP_MallocByte(len);
    ASSERT_TRUE(d && c && b);
    EXPECT_TRUE(alignedTo(d, 64) && alignedTo(c, 64) && alignedTo(b, 64)) << len;
    // Every byte of each block is usable (the sanitizer build checks the bounds).
    std::memset(d, 1, sizeof(double) * static_cast<std::size_t>(len));
    std::memset(c, 2, sizeof(ComplexNumber) * static_cast<std::size_t>(len));
    std::memset(b, 3, static_cast<std::size_t>(len));
    IIPP_Free(b);
    IIPP_Free(c);
    IIPP_Free(d);
  }
}

TEST_F(Allocator, ThreadsFreeingAndReusingBlocksNeverShareOne) {
  std::vector<std::thread> threads;
  std::vector<int> corrupted(4, 0);
  for (int w = 0; w < 4; ++w) {
    threads.emplace_back([w, &corrupted] {
      std::vector<std::pair<std::uint8_t*, int>> held;
      unsigned state = static_cast<unsigned>(w) + 1;
      for (int i = 0; i < 3000; ++i) {
        state = state * 1664525u + 1013904223u;
        const int len = 100 + static_cast<int>(state >> 16) % 40000;
        std::uint8_t* b = IIPP_MallocByte(len);
        std::memset(b, w + 1, static_cast<std::size_t>(len));
        held.emplace_back(b, len);
        if (held.size() > 3 || (state & 1)) {
          const auto [old, oldLen] = held.front();
          for (int j = 0; j < oldLen; ++j) corrupted[static_cast<std::size_t>(w)] += old[j] != w + 1;
          IIPP_Free(old);
          held.erase(held.begin());
        }
      }
      for (const auto& [b, len] : held) IIPP_Free(b);
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(corrupted, std::vector<int>(4, 0));
}

// The address checker sees the allocator's own bytes as it sees freed memory:
// a block parked or kept for reuse, and the rest of a block past the request.
TEST_F(Allocator, TouchingAFreedBlockOrBytesPastTheRequestIsReported) {
#if !defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "needs the address checker";
#else
  // Each case runs in a fresh process, where the block is surely parked (a
  // block freed to the C library would be reported as heap-use-after-free).
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  const auto touchFreed = [](int bytes, int at) {
    volatile std::uint8_t* block = IIPP_MallocByte(bytes);
    IIPP_Free(const_cast<std::uint8_t*>(block));
    block[at] = 1;
  };
  const auto touchPast = [](int bytes) {
    volatile std::uint8_t* block = IIPP_MallocByte(bytes);
    block[bytes] = 1;
  };
  EXPECT_DEATH(touchFreed(3000, 0), "use-after-poison");
  EXPECT_DEATH(touchFreed(3000, 2999), "use-after-poison");
  EXPECT_DEATH(touchFreed(3 << 20, 0), "use-after-poison");
  EXPECT_DEATH(touchFreed(3 << 20, (3 << 20) - 1), "use-after-poison");
  EXPECT_DEATH(touchPast(100), "AddressSanitizer");
  EXPECT_DEATH(touchPast(3000), "AddressSanitizer");
  EXPECT_DEATH(touchPast(3 << 20), "AddressSanitizer");
#endif
}

TEST_F(Allocator, EmptyRequestsGiveNullAndFreeIgnoresNull) {
  EXPECT_EQ(IIPP_MallocDouble(0), nullptr);
  EXPECT_EQ(IIPP_MallocByte(-5), nullptr);
  EXPECT_EQ(IIPP_MallocComplex(0), nullptr);
  IIPP_Free(nullptr);
}

TEST_F(Allocator, LargeBlocksAreHugePageAlignedAndAdvised) {
  const int len = 3 * (1 << 20) / 8 + 5;  // a little over 3 MiB of doubles
  double* d = IIPP_MallocDouble(len);
  ASSERT_NE(d, nullptr);
  EXPECT_TRUE(alignedTo(d, 2u << 20));
  d[0] = 1.0;
  d[len - 1] = 2.0;
  const int eligible = hugePageEligible(d);
  if (eligible >= 0) {
    EXPECT_EQ(eligible, 1);
  }
  IIPP_Free(d);

  std::uint8_t* b = IIPP_MallocByte(2 << 20);  // exactly 2 MiB
  ASSERT_NE(b, nullptr);
  EXPECT_TRUE(alignedTo(b, 2u << 20));
  b[(2 << 20) - 1] = 7;
  IIPP_Free(b);
}

TEST_F(TransformTest, PermAndConjPermMatchTheDirectTransformForEveryPowerOfTwoUpTo1024) {
  for (int order = 0; order <= 10; ++order) {
    const int n = 1 << order;
    const Transform t(order);
    // Aligned input, and input one double off the allocator's alignment.
    double* block = IIPP_MallocDouble(n + 1);
    const auto x = noise(n, static_cast<unsigned>(order));
    for (int i = 0; i < n; ++i) block[i] = block[i + 1] = 0;
    for (int i = 0; i < n; ++i) block[i] = x[static_cast<std::size_t>(i)];
    expectTransformMatchesDft(t, block, n);
    for (int i = n - 1; i >= 0; --i) block[i + 1] = block[i];
    expectTransformMatchesDft(t, block + 1, n);
    IIPP_Free(block);
  }
}

TEST_F(TransformTest, ScalingFlagsDivideTheForwardTransform) {
  const int n = 16;
  const auto x = noise(n, 7);
  std::vector<double> plain(n), byN(n), bySqrtN(n);
  const Transform t8(4, IPP_FFT_NODIV_BY_ANY), t1(4, IPP_FFT_DIV_FWD_BY_N), t4(4, IPP_FFT_DIV_BY_SQRTN),
      t2(4, IPP_FFT_DIV_INV_BY_N);
  IIPP_FFTFwd_RToPerm(x.data(), plain.data(), t8.handle, t8.buffer);
  IIPP_FFTFwd_RToPerm(x.data(), byN.data(), t1.handle, t1.buffer);
  IIPP_FFTFwd_RToPerm(x.data(), bySqrtN.data(), t4.handle, t4.buffer);
  for (int i = 0; i < n; ++i) {
    EXPECT_NEAR(byN[i], plain[i] / n, 1e-14);
    EXPECT_NEAR(bySqrtN[i], plain[i] / 4.0, 1e-14);
  }
  IIPP_FFTFwd_RToPerm(x.data(), byN.data(), t2.handle, t2.buffer);
  EXPECT_EQ(byN, plain);  // dividing the inverse leaves the forward unscaled
}

TEST_F(TransformTest, BadArgumentsAreRefusedWithoutTouchingOutput) {
  int a = -1, b = -1, c = -1;
  EXPECT_NE(IIPP_FFTGetSize(-1, 8, AlgHintAccurate, &a, &b, &c), 0);
  EXPECT_NE(IIPP_FFTGetSize(40, 8, AlgHintAccurate, &a, &b, &c), 0);
  EXPECT_NE(IIPP_FFTGetSize(4, 3, AlgHintAccurate, &a, &b, &c), 0);
  EXPECT_EQ(a, -1);

  // A retired specification no longer transforms; its memory stays the caller's.
  Transform t(3);
  ASSERT_EQ(IIPP_FFTFree(t.handle), 0);
  std::vector<double> x(8, 1.0), out(8, Sentinel);
  EXPECT_NE(IIPP_FFTFwd_RToPerm(x.data(), out.data(), t.handle, t.buffer), 0);
  EXPECT_EQ(out, std::vector<double>(8, Sentinel));
  EXPECT_NE(IIPP_FFTFwd_RToPerm(x.data(), out.data(), nullptr, t.buffer), 0);
}

TEST_F(TransformTest, WorksWithoutScratchBuffer) {
  const Transform t(5);
  const auto x = noise(32, 3);
  std::vector<double> withScratch(32), without(32);
  IIPP_FFTFwd_RToPerm(x.data(), withScratch.data(), t.handle, t.buffer);
  EXPECT_EQ(IIPP_FFTFwd_RToPerm(x.data(), without.data(), t.handle, nullptr), 0);
  EXPECT_EQ(withScratch, without);
}

TEST_F(TransformTest, ThreadsBuildingSpecificationsOfManyLengthsAtOnceGetCorrectTransforms) {
  std::vector<std::thread> threads;
  std::vector<int> failures(4, 0);
  for (int w = 0; w < 4; ++w) {
    threads.emplace_back([w, &failures] {
      for (int i = 0; i < 13; ++i) {
        const int order = (i * 5 + w * 3) % 13;
        const int n = 1 << order;
        const Transform t(order);
        const auto x = noise(n, static_cast<unsigned>(w * 100 + i));
        std::vector<double> perm(static_cast<std::size_t>(n));
        IIPP_FFTFwd_RToPerm(x.data(), perm.data(), t.handle, t.buffer);
        double sum = 0;
        for (double v : x) sum += v;
        if (std::abs(perm[0] - sum) > 1e-9) ++failures[static_cast<std::size_t>(w)];
      }
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(failures, std::vector<int>(4, 0));
}

TEST_F(VectorTest, PowerSpectrAndNormalizeInPlace) {
  const std::vector<ComplexNumber> c = {{3, 4}, {-1, 0}, {0, -2}};
  std::vector<double> p(4, Sentinel);
  ASSERT_EQ(IIPP_PowerSpectr(c.data(), p.data(), 3), 0);
  EXPECT_EQ(p, (std::vector<double>{25, 1, 4, Sentinel}));
  ASSERT_EQ(IIPP_Normalize(p.data(), p.data(), 3, 1.0, 8.0), 0);
  EXPECT_EQ(p, (std::vector<double>{3, 0, 0.375, Sentinel}));
  EXPECT_NE(IIPP_Normalize(p.data(), p.data(), 3, 0.0, 0.0), 0);
  EXPECT_EQ(p[0], 3.0);
}
