// The entry-point file ("ipps-7.0.dll"): exports the functions by name and
// dispatches each to its implementation. The code file holds the only
// processor variant (it needs SSE2, which every x86-64 processor has), so the
// dispatch is a direct call. The allocator lives in the core file.
#include "dsplib/CoreServices.h"
#include "dsplib/SignalKernels.h"

#include <cstddef>
#include <cstdint>

namespace {

template <typename T>
T* allocate(int len) {
  if (len <= 0) return nullptr;
  return static_cast<T*>(coreMalloc(static_cast<std::size_t>(len) * sizeof(T)));
}

}  // namespace

DSPLIB_EXPORT void ippsFree(void* ptr) { coreFree(ptr); }
DSPLIB_EXPORT double* ippsMalloc_64f(int len) { return allocate<double>(len); }
DSPLIB_EXPORT Complex64* ippsMalloc_64fc(int len) { return allocate<Complex64>(len); }
DSPLIB_EXPORT std::uint8_t* ippsMalloc_8u(int len) { return allocate<std::uint8_t>(len); }

DSPLIB_EXPORT int ippsNormalize_64f(const double* src, double* dst, int len, double vSub, double vDiv) {
  return kernNormalize_64f(src, dst, len, vSub, vDiv);
}

DSPLIB_EXPORT int ippsPowerSpectr_64fc(const Complex64* src, double* dst, int len) {
  return kernPowerSpectr_64fc(src, dst, len);
}

DSPLIB_EXPORT int ippsConjPerm_64fc(const double* src, Complex64* dst, int len) {
  return kernConjPerm_64fc(src, dst, len);
}

DSPLIB_EXPORT int ippsFFTGetSize_R_64f(int order, int flag, int hint, int* specSize, int* specBufferSize,
                                       int* bufferSize) {
  return kernFFTGetSize_R_64f(order, flag, hint, specSize, specBufferSize, bufferSize);
}

DSPLIB_EXPORT int ippsFFTInit_R_64f(FftSpecR64** spec, int order, int flag, int hint, std::uint8_t* specMem,
                                    std::uint8_t* initBuffer) {
  return kernFFTInit_R_64f(spec, order, flag, hint, specMem, initBuffer);
}

DSPLIB_EXPORT int ippsFFTFree_R_64f(FftSpecR64* spec) { return kernFFTFree_R_64f(spec); }

DSPLIB_EXPORT int ippsFFTFwd_RToPerm_64f(const double* src, double* dst, const FftSpecR64* spec,
                                         std::uint8_t* buffer) {
  return kernFFTFwd_RToPerm_64f(src, dst, spec, buffer);
}
