// The signal-processing code ("ippsw7-7.0.dll"). The entry-point file
// dispatches every call here. Real transforms are computed with FFTW; its
// plans are made once per transform length and kept for the life of the
// library, so a transform specification costs no planning.
#pragma once

#include "dsplib/Export.h"

#include <cstdint>

struct Complex64 {
  double re;
  double im;
};

// A transform specification, built in memory the caller provides.
struct FftSpecR64;

DSPLIB_EXPORT int kernNormalize_64f(const double* src, double* dst, int len, double vSub, double vDiv);
DSPLIB_EXPORT int kernPowerSpectr_64fc(const Complex64* src, double* dst, int len);
DSPLIB_EXPORT int kernConjPerm_64fc(const double* src, Complex64* dst, int len);
DSPLIB_EXPORT int kernFFTGetSize_R_64f(int order, int flag, int hint, int* specSize, int* specBufferSize,
                                       int* bufferSize);
DSPLIB_EXPORT int kernFFTInit_R_64f(FftSpecR64** spec, int order, int flag, int hint, std::uint8_t* specMem,
                                    std::uint8_t* initBuffer);
DSPLIB_EXPORT int kernFFTFree_R_64f(FftSpecR64* spec);
DSPLIB_EXPORT int kernFFTFwd_RToPerm_64f(const double* src, double* dst, const FftSpecR64* spec,
                                         std::uint8_t* buffer);
