// Frequency axes and power spectra of signals whose answer is known.
#include "dsp/SignalProcessingDynamic.h"
#include "DspTestSupport.h"

using namespace IPPDynamic;
using namespace SignalProcessingDynamic;

namespace {

// Owns one buffer from the library's allocator.
struct Buffer {
  ~Buffer() { IIPP_Free(p); }
  pDoubleArray p = nullptr;
};

Buffer spectrumOf(std::vector<double> data, int numPoints) {
  Buffer out;
  PowerSpectrAlloc(data.data(), out.p, numPoints);
  return out;
}

}  // namespace

using Spectra = LibraryTest;

TEST_F(Spectra, ConstantBlockHasOnlyTheZeroBin) {
  const double A = 3.0;
  const Buffer s = spectrumOf(std::vector<double>(64, A), 64);
  ASSERT_NE(s.p, nullptr);
  EXPECT_DOUBLE_EQ(s.p[0], A * A / 64);
  for (int k = 1; k < 64; ++k) EXPECT_NEAR(s.p[k], 0.0, 1e-28) << k;
}

TEST_F(Spectra, CosineFillsItsBinAndTheMirrorBin) {
  const int L = 64, k0 = 5;
  const double A = 2.5;
  std::vector<double> x(L);
  for (int n = 0; n < L; ++n) x[n] = A * std::cos(2 * std::numbers::pi * k0 * n / L);
  const Buffer s = spectrumOf(x, L);
  for (int k = 0; k < L; ++k) {
    const double expected = (k == k0 || k == L - k0) ? A * A / (4.0 * L) : 0.0;
    EXPECT_NEAR(s.p[k], expected, 1e-15) << k;
  }
}

TEST_F(Spectra, ImpulseGivesFlatSpectrum) {
  std::vector<double> x(32, 0.0);
  x[0] = 1.0;
  const Buffer s = spectrumOf(x, 32);
  for (int k = 0; k < 32; ++k) EXPECT_DOUBLE_EQ(s.p[k], 1.0 / (32.0 * 32 * 32));
}

TEST_F(Spectra, NumPointsRoundDownToAPowerOfTwoAndIgnoreTheRest) {
  auto x = noise(100, 11);
  const Buffer a = spectrumOf(x, 100);
  for (int i = 64; i < 100; ++i) x[i] = 1e6;
  const Buffer b = spectrumOf(x, 100);
  const Buffer c = spectrumOf(std::vector<double>(x.begin(), x.begin() + 64), 64);
  for (int k = 0; k < 64; ++k) {
    EXPECT_EQ(a.p[k], b.p[k]) << k;
    EXPECT_EQ(a.p[k], c.p[k]) << k;
    EXPECT_EQ(a.p[k], a.p[k == 0 ? 0 : 64 - k]) << k;  // mirror symmetry
  }
}

TEST_F(Spectra, SinglePointIsItsOwnSquare) {
  const Buffer s = spectrumOf({-3.0, 100.0}, 1);
  EXPECT_EQ(s.p[0], 9.0);
}

TEST_F(Spectra, NoPointsGiveNoBuffer) {
  double x = 1.0;
  pDoubleArray out = &x;
  PowerSpectrAlloc(&x, out, 0);
  EXPECT_EQ(out, nullptr);
}

TEST_F(Spectra, FrequencyAxisAt8000HzSteps125Hz) {
  std::vector<double> time = {1.0 / 8000, 2.0 / 8000, 3.0 / 8000};
  Buffer f;
  Time2Freq(time.data(), f.p, 64);
  ASSERT_NE(f.p, nullptr);
  for (int i = 0; i < 64; ++i) EXPECT_NEAR(f.p[i], 125.0 * i, 1e-9) << i;
  EXPECT_EQ(f.p[0], 0.0);
  EXPECT_NEAR(f.p[63], 7875.0, 1e-9);
}

TEST_F(Spectra, FrequencyAxisOfNoPointsIsEmpty) {
  std::vector<double> time = {0.0, 0.5};
  Buffer f;
  Time2Freq(time.data(), f.p, 0);
  EXPECT_EQ(f.p, nullptr);
}
