// Run-time binding to the signal-processing library ("ipps-7.0.dll" in the
// executable's folder). Every sample buffer of the program comes from its
// allocator. Loading is counted: see LoadExternal.
#pragma once

#include "common/SharedTypes.h"

#include <cstdint>
#include <memory>
#include <mutex>

namespace IPPDynamic {

using IppStatus = int;

struct ComplexNumber {
  double re;
  double im;
};
using pComplexNumberArray = ComplexNumber*;
struct FFTSpec;  // opaque; lives in memory the caller provides
using pFFTSpec = FFTSpec*;

enum HintAlgorithm : int { AlgHintNone = 0, AlgHintFast = 1, AlgHintAccurate = 2 };

constexpr int IPP_FFT_DIV_FWD_BY_N = 1;
constexpr int IPP_FFT_DIV_INV_BY_N = 2;
constexpr int IPP_FFT_DIV_BY_SQRTN = 4;
constexpr int IPP_FFT_NODIV_BY_ANY = 8;

// Library state.
extern void* LibIntelIPP_handle;
extern bool LibIntelIPP_Loaded;
extern std::mutex LibIntelIPP_CS;

// The 27 entry points, bound by export name. Null while the library is not loaded.
extern void (*IIPP_Free)(void* ptr);                                    // ippsFree
extern pDoubleArray (*IIPP_MallocDouble)(int len);                      // ippsMalloc_64f
extern pComplexNumberArray (*IIPP_MallocComplex)(int len);              // ippsMalloc_64fc
extern std::uint8_t* (*IIPP_MallocByte)(int len);                       // ippsMalloc_8u
extern IppStatus (*IIPP_Add)(const double* src1, const double* src2, double* dst, int len);  // ippsAdd_64f
extern IppStatus (*IIPP_Copy)(const double* src, double* dst, int len);                      // ippsCopy_64f
extern IppStatus (*IIPP_SubConstant)(double val, double* srcDst, int len);                   // ippsSubC_64f_I
extern IppStatus (*IIPP_Sub)(const double* src1, const double* src2, double* dst, int len);  // ippsSub_64f: dst = src2 - src1
extern IppStatus (*IIPP_Mean)(const double* src, int len, double* mean);                     // ippsMean_64f
extern IppStatus (*IIPP_MulConstant)(double val, double* srcDst, int len);                   // ippsMulC_64f_I
extern IppStatus (*IIPP_Normalize)(const double* src, double* dst, int len, double vSub, double vDiv);  // ippsNormalize_64f
extern IppStatus (*IIPP_Abs)(double* srcDst, int len);                                                 // ippsAbs_64f_I
extern IppStatus (*IIPP_Magnitude)(const ComplexNumber* src, double* dst, int len);                    // ippsMagnitude_64fc
extern IppStatus (*IIPP_PowerSpectr)(const ComplexNumber* src, double* dst, int len);                  // ippsPowerSpectr_64fc
extern IppStatus (*IIPP_ConjPerm)(const double* src, ComplexNumber* dst, int len);                     // ippsConjPerm_64fc
extern IppStatus (*IIPP_FFTInitAlloc)(pFFTSpec* spec, int order, int flag, HintAlgorithm hint);        // ippsFFTInitAlloc_R_64f
extern IppStatus (*IIPP_FFTInit)(pFFTSpec* spec, int order, int flag, HintAlgorithm hint,
                                 std::uint8_t* specMem, std::uint8_t* initBuffer);                    // ippsFFTInit_R_64f
extern IppStatus (*IIPP_FFTGetSize)(int order, int flag, HintAlgorithm hint, int* specSize,
                                    int* specBufferSize, int* bufferSize);                            // ippsFFTGetSize_R_64f
extern IppStatus (*IIPP_FFTFree)(pFFTSpec spec);                                                       // ippsFFTFree_R_64f
extern IppStatus (*IIPP_FFTFwd_RToPerm)(const double* src, double* dst, const FFTSpec* spec, std::uint8_t* buffer);   // ippsFFTFwd_RToPerm_64f
extern IppStatus (*IIPP_FFTFwd_RToPack)(const double* src, double* dst, const FFTSpec* spec, std::uint8_t* buffer);   // ippsFFTFwd_RToPack_64f
extern IppStatus (*IIPP_FFTFwd_RToCCS)(const double* src, double* dst, const FFTSpec* spec, std::uint8_t* buffer);    // ippsFFTFwd_RToCCS_64f
extern IppStatus (*IIPP_FFTInv_PermToR)(const double* src, double* dst, const FFTSpec* spec, std::uint8_t* buffer);   // ippsFFTInv_PermToR_64f
extern IppStatus (*IIPP_FFTInv_PackToR)(const double* src, double* dst, const FFTSpec* spec, std::uint8_t* buffer);   // ippsFFTInv_PackToR_64f
extern IppStatus (*IIPP_FFTInv_CCSToR)(const double* src, double* dst, const FFTSpec* spec, std::uint8_t* buffer);    // ippsFFTInv_CCSToR_64f
extern IppStatus (*IIPP_AutoCorr)(const double* src, int srcLen, double* dst, int dstLen);                            // ippsAutoCorr_64f
extern IppStatus (*IIPP_CrossCorr)(const double* src1, int len1, const double* src2, int len2, double* dst,
                                   int dstLen, int lowLag);                                                          // ippsCrossCorr_64f

// Gives a block back to the library's allocator.
struct IppFree {
  void operator()(void* block) const { IIPP_Free(block); }
};

// The one owner of a block from the library's allocator (IIPP_MallocDouble,
// IIPP_MallocComplex, IIPP_MallocByte): move-only, released through IIPP_Free,
// so the library must still be loaded when the holder lets go. Ownership
// leaves it only through release(), where a procedure hands a buffer to its
// caller as a raw pDoubleArray.
template <class T>
using IppBuffer = std::unique_ptr<T[], IppFree>;

// Loads the library if it is not loaded and binds the pointers (all null on failure).
void Load_IIPP();
// Unloads the library. Callers go through LoadExternal, which counts uses.
void Free_IIPP();

}  // namespace IPPDynamic
