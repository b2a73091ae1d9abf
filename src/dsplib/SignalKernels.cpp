#include "dsplib/SignalKernels.h"

#include "dsplib/CoreServices.h"

#include <fftw3.h>

#include <atomic>
#include <cmath>
#include <cstddef>
#include <new>

using namespace dsplib;

namespace {

constexpr int MaxOrder = 27;
constexpr std::uint32_t SpecMagic = 0x52464654;  // marks a live specification
constexpr std::size_t ScratchAlignment = 64;

// FFTW executes a plan only on arrays aligned like the ones it was planned
// with, so each length has a plan for aligned input and one for any input.
struct PlanPair {
  fftw_plan aligned;
  fftw_plan unaligned;
};

// Written once under the core lock, read without it.
std::atomic<PlanPair*> planCache[MaxOrder + 1];

std::size_t complexBins(int order) { return (std::size_t{1} << order) / 2 + 1; }

PlanPair* makePlans(int order) {
  const int n = 1 << order;
  double* in = fftw_alloc_real(static_cast<std::size_t>(n));
  fftw_complex* out = fftw_alloc_complex(complexBins(order));
  PlanPair* plans = nullptr;
  if (in != nullptr && out != nullptr) {
    // Estimated plans leave the arrays untouched and take microseconds.
    fftw_plan aligned = fftw_plan_dft_r2c_1d(n, in, out, FFTW_ESTIMATE);
    fftw_plan unaligned = fftw_plan_dft_r2c_1d(n, in, out, FFTW_ESTIMATE | FFTW_UNALIGNED);
    if (aligned != nullptr && unaligned != nullptr) {
      plans = new (std::nothrow) PlanPair{aligned, unaligned};
    }
    if (plans == nullptr) {
      if (aligned != nullptr) fftw_destroy_plan(aligned);
      if (unaligned != nullptr) fftw_destroy_plan(unaligned);
    }
  }
  fftw_free(in);
  fftw_free(out);
  return plans;
}

const PlanPair* plansFor(int order) {
  PlanPair* plans = planCache[order].load(std::memory_order_acquire);
  if (plans != nullptr) return plans;
  // The FFTW planner is not thread-safe; the core lock serialises it.
  coreLock();
  plans = planCache[order].load(std::memory_order_relaxed);
  if (plans == nullptr) {
    plans = makePlans(order);
    planCache[order].store(plans, std::memory_order_release);
  }
  coreUnlock();
  return plans;
}

// FFTW is linked into this file privately, so its global state is ours to
// release when the library is unloaded.
__attribute__((destructor)) void releasePlans() {
  for (auto& slot : planCache) {
    PlanPair* plans = slot.exchange(nullptr);
    if (plans == nullptr) continue;
    fftw_destroy_plan(plans->aligned);
    fftw_destroy_plan(plans->unaligned);
    delete plans;
  }
  fftw_cleanup();
}

// The element loops run on every spectrum; processors with AVX2 get a wider
// build of them, chosen once when the library is loaded.
// (clang 14 does not export the dispatcher of such a function, so clang builds,
// used only for fuzzing, keep the single default build.)
#if defined(__clang__)
#define DSPLIB_VECTOR_CLONES
#else
#define DSPLIB_VECTOR_CLONES __attribute__((target_clones("avx2", "default")))
#endif

// Unpacks FFTW's half spectrum (bins 0 … N/2) into the Perm layout, scaled.
DSPLIB_VECTOR_CLONES void halfSpectrumToPerm(const fftw_complex* half, double* dst, int n, double scale) {
  dst[0] = half[0][0] * scale;
  if (n > 1) dst[1] = half[n / 2][0] * scale;
  for (int k = 1; k < n / 2; ++k) {
    dst[2 * k] = half[k][0] * scale;
    dst[2 * k + 1] = half[k][1] * scale;
  }
}

bool validFlag(int flag) { return flag == 1 || flag == 2 || flag == 4 || flag == 8; }

void* alignPointer(void* p, std::size_t alignment) {
  const auto value = reinterpret_cast<std::uintptr_t>(p);
  return reinterpret_cast<void*>((value + alignment - 1) & ~(std::uintptr_t{alignment} - 1));
}

}  // namespace

struct FftSpecR64 {
  std::uint32_t magic;
  int order;
  int flag;
  const PlanPair* plans;  // owned by the cache, not by the specification
};

DSPLIB_VECTOR_CLONES int kernNormalize_64f(const double* src, double* dst, int len, double vSub, double vDiv) {
  if (src == nullptr || dst == nullptr) return StsNullPtrErr;
  if (len <= 0) return StsSizeErr;
  if (vDiv == 0.0) return StsDivByZeroErr;
  // Dividing by a power of two is multiplying by its exact reciprocal, with
  // the same result bit for bit and a fraction of the cost.
  int exponent = 0;
  const double reciprocal = 1.0 / vDiv;
  if (std::frexp(vDiv, &exponent) == 0.5 && std::isnormal(reciprocal) && std::isnormal(vDiv)) {
    for (int i = 0; i < len; ++i) dst[i] = (src[i] - vSub) * reciprocal;
  } else {
    for (int i = 0; i < len; ++i) dst[i] = (src[i] - vSub) / vDiv;
  }
  return StsNoErr;
}

DSPLIB_VECTOR_CLONES int kernPowerSpectr_64fc(const Complex64* src, double* dst, int len) {
  if (src == nullptr || dst == nullptr) return StsNullPtrErr;
  if (len <= 0) return StsSizeErr;
  for (int i = 0; i < len; ++i) dst[i] = src[i].re * src[i].re + src[i].im * src[i].im;
  return StsNoErr;
}

// Perm layout of a length-N real spectrum: Re X0, then Re X[N/2] when N is
// even, then Re/Im pairs of bins 1 … (N-1)/2. The upper bins are the complex
// conjugates of the lower ones.
DSPLIB_VECTOR_CLONES int kernConjPerm_64fc(const double* src, Complex64* dst, int len) {
  if (src == nullptr || dst == nullptr) return StsNullPtrErr;
  if (len <= 0) return StsSizeErr;
  dst[0] = {src[0], 0.0};
  const double* pairs = src + 1;
  if (len % 2 == 0) {
    if (len > 1) dst[len / 2] = {src[1], 0.0};
    pairs = src + 2;
  }
  const int half = (len + 1) / 2;  // bins 1 … half-1 come as Re/Im pairs
  for (int k = 1; k < half; ++k) dst[k] = {pairs[2 * k - 2], pairs[2 * k - 1]};
  for (int k = 1; k < half; ++k) dst[len - k] = {dst[k].re, -dst[k].im};
  return StsNoErr;
}

int kernFFTGetSize_R_64f(int order, int flag, int /*hint*/, int* specSize, int* specBufferSize, int* bufferSize) {
  if (specSize == nullptr || specBufferSize == nullptr || bufferSize == nullptr) return StsNullPtrErr;
  if (order < 0 || order > MaxOrder) return StsFftOrderErr;
  if (!validFlag(flag)) return StsFftFlagErr;
  *specSize = static_cast<int>(sizeof(FftSpecR64) + alignof(FftSpecR64));
  *specBufferSize = 0;  // plans come from the cache: building needs no scratch
  *bufferSize = static_cast<int>(complexBins(order) * sizeof(fftw_complex) + ScratchAlignment);
  return StsNoErr;
}

int kernFFTInit_R_64f(FftSpecR64** spec, int order, int flag, int /*hint*/, std::uint8_t* specMem,
                      std::uint8_t* /*initBuffer*/) {
  if (spec == nullptr || specMem == nullptr) return StsNullPtrErr;
  if (order < 0 || order > MaxOrder) return StsFftOrderErr;
  if (!validFlag(flag)) return StsFftFlagErr;
  const PlanPair* plans = plansFor(order);
  if (plans == nullptr) return StsMemAllocErr;
  auto* built = static_cast<FftSpecR64*>(alignPointer(specMem, alignof(FftSpecR64)));
  *built = {SpecMagic, order, flag, plans};
  *spec = built;
  return StsNoErr;
}

int kernFFTFree_R_64f(FftSpecR64* spec) {
  if (spec == nullptr) return StsNullPtrErr;
  if (spec->magic != SpecMagic) return StsContextMatchErr;
  spec->magic = 0;  // the memory is the caller's; only the specification retires
  return StsNoErr;
}

int kernFFTFwd_RToPerm_64f(const double* src, double* dst, const FftSpecR64* spec, std::uint8_t* buffer) {
  if (src == nullptr || dst == nullptr || spec == nullptr) return StsNullPtrErr;
  if (spec->magic != SpecMagic) return StsContextMatchErr;
  const int n = 1 << spec->order;
  const std::size_t bins = complexBins(spec->order);

  void* ownScratch = nullptr;
  if (buffer == nullptr) {
    ownScratch = coreMalloc(bins * sizeof(fftw_complex));
    if (ownScratch == nullptr) return StsMemAllocErr;
  }
  auto* out = static_cast<fftw_complex*>(ownScratch != nullptr ? ownScratch : alignPointer(buffer, ScratchAlignment));

  // Out-of-place real-to-complex plans leave their input untouched.
  auto* in = const_cast<double*>(src);
  const fftw_plan plan = fftw_alignment_of(in) == 0 ? spec->plans->aligned : spec->plans->unaligned;
  fftw_execute_dft_r2c(plan, in, out);

  double scale = 1.0;
  if (spec->flag == 1) scale = 1.0 / n;
  if (spec->flag == 4) scale = 1.0 / std::sqrt(static_cast<double>(n));
  halfSpectrumToPerm(out, dst, n, scale);
  coreFree(ownScratch);
  return StsNoErr;
}
