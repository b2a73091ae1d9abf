// The time line of a recording: entry j is (j + 1) / rate seconds, divided in
// extended precision and then rounded to double. An extended division per sample
// costs more than the rest of a load together, so where the processor allows, the
// quotient is formed without dividing and checked; only the rare entries whose
// extended result could round differently take the extended division.
#include "wav/WaveFile.h"

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace WaveFile {

namespace {

double extendedQuotient(std::size_t numerator, std::uint32_t rate) {
  return static_cast<double>(static_cast<long double>(numerator) / static_cast<long double>(rate));
}

#if defined(__x86_64__)
// Four entries at a time. For n = j + 1 and the double q formed from n / rate:
//  - q comes from a multiplication by the reciprocal and one correction step,
//  - r = n - q * rate is exact from a fused multiply-add (or larger than any bound
//    below when q is off, which only sends the entry to the extended division),
//  - when |r| < rate * ulp(q) * (1/2 - 2^-11), the exact quotient lies closer to q
//    than half an ulp by more than the extended format's half ulp (2^-12 ulp(q)),
//    so rounding it to 64 bits and then to 53 bits gives q. Otherwise, and when q
//    is a power of two (whose lower neighbour is nearer), the entry is redone.
// Returns how many entries it filled (a multiple of four).
__attribute__((target("avx2,fma"))) std::size_t fillFourAtATime(double* line, std::size_t first,
                                                                  std::size_t count, std::uint32_t rate) {
  const __m256d divisor = _mm256_set1_pd(rate);
  const __m256d reciprocal = _mm256_set1_pd(1.0 / rate);
  const __m256d margin = _mm256_set1_pd(rate * (0.5 - 0x1p-11));
  const __m256d magnitude = _mm256_castsi256_pd(_mm256_set1_epi64x(0x7FFF'FFFF'FFFF'FFFF));
  const __m256i exponent = _mm256_set1_epi64x(0x7FF0'0000'0000'0000);
  const __m256i fraction = _mm256_set1_epi64x(0x000F'FFFF'FFFF'FFFF);
  const __m256i ulpShift = _mm256_set1_epi64x(std::int64_t{52} << 52);
  const __m256d four = _mm256_set1_pd(4);
  const double n0 = static_cast<double>(first + 1);
  __m256d n = _mm256_setr_pd(n0, n0 + 1, n0 + 2, n0 + 3);

  std::size_t k = 0;
  for (; k + 4 <= count; k += 4, n = _mm256_add_pd(n, four)) {
    __m256d q = _mm256_mul_pd(n, reciprocal);
    q = _mm256_fmadd_pd(_mm256_fnmadd_pd(q, divisor, n), reciprocal, q);
    const __m256d r = _mm256_fnmadd_pd(q, divisor, n);
    const __m256i bits = _mm256_castpd_si256(q);
    // q >= 1 / rate >= 2^-32, so its exponent minus 52 is still a normal exponent.
    const __m256d ulp = _mm256_castsi256_pd(_mm256_sub_epi64(_mm256_and_si256(bits, exponent), ulpShift));
    const __m256d nearHalf = _mm256_cmp_pd(_mm256_and_pd(r, magnitude), _mm256_mul_pd(margin, ulp), _CMP_GE_OQ);
    const __m256i powerOfTwo = _mm256_cmpeq_epi64(_mm256_and_si256(bits, fraction), _mm256_setzero_si256());
    _mm256_storeu_pd(line + k, q);
    if (int redo = _mm256_movemask_pd(_mm256_or_pd(nearHalf, _mm256_castsi256_pd(powerOfTwo)))) {
      for (int lane = 0; lane < 4; ++lane) {
        if (redo & (1 << lane)) line[k + lane] = extendedQuotient(first + k + lane + 1, rate);
      }
    }
  }
  return k;
}

bool hasFusedMultiplyAdd() {
  static const bool has = __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
  return has;
}
#endif

}  // namespace

void FillTimeLine(double* line, std::size_t first, std::size_t count, std::uint32_t rate) {
  std::size_t done = 0;
#if defined(__x86_64__)
  if (hasFusedMultiplyAdd()) done = fillFourAtATime(line, first, count, rate);
#endif
  for (std::size_t k = done; k < count; ++k) line[k] = extendedQuotient(first + k + 1, rate);
}

}  // namespace WaveFile
