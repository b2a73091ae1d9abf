// Helpers shared by the signal-processing tests.
#pragma once

#include "dsp/IPPDynamic.h"
#include "dsp/LoadExternal.h"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <numbers>
#include <vector>

// Holds one use of the library for the duration of a test.
class LibraryTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(LoadExternal::LoadDynamicIIPP()); }
  void TearDown() override { LoadExternal::FreeDynamicIIPP(); }
};

// The unscaled forward transform X[k] = sum x[n] e^(-2 pi i k n / N), summed directly.
inline std::vector<std::complex<double>> directDft(const double* x, int n) {
  std::vector<std::complex<double>> result(static_cast<std::size_t>(n));
  for (int k = 0; k < n; ++k) {
    std::complex<long double> sum = 0;
    for (int j = 0; j < n; ++j) {
      const long double angle = -2.0L * std::numbers::pi_v<long double> * ((static_cast<long>(k) * j) % n) / n;
      sum += static_cast<long double>(x[j]) * std::complex<long double>(std::cos(angle), std::sin(angle));
    }
    result[static_cast<std::size_t>(k)] = {static_cast<double>(sum.real()), static_cast<double>(sum.imag())};
  }
  return result;
}

// Deterministic test signal in [-1, 1).
inline std::vector<double> noise(int n, unsigned seed) {
  std::vector<double> x(static_cast<std::size_t>(n));
  unsigned state = seed * 2654435761u + 1;
  for (double& v : x) {
    state = state * 1664525u + 1013904223u;
    v = static_cast<double>(state >> 8) / static_cast<double>(1u << 23) - 1.0;
  }
  return x;
}
