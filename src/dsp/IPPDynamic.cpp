#include "dsp/IPPDynamic.h"

#include "dsp/FileFunctions.h"

#include <dlfcn.h>

#include <string>

namespace IPPDynamic {

void* LibIntelIPP_handle = nullptr;
bool LibIntelIPP_Loaded = false;
std::mutex LibIntelIPP_CS;

void (*IIPP_Free)(void*) = nullptr;
pDoubleArray (*IIPP_MallocDouble)(int) = nullptr;
pComplexNumberArray (*IIPP_MallocComplex)(int) = nullptr;
std::uint8_t* (*IIPP_MallocByte)(int) = nullptr;
IppStatus (*IIPP_Add)(const double*, const double*, double*, int) = nullptr;
IppStatus (*IIPP_Copy)(const double*, double*, int) = nullptr;
IppStatus (*IIPP_SubConstant)(double, double*, int) = nullptr;
IppStatus (*IIPP_Sub)(const double*, const double*, double*, int) = nullptr;
IppStatus (*IIPP_Mean)(const double*, int, double*) = nullptr;
IppStatus (*IIPP_MulConstant)(double, double*, int) = nullptr;
IppStatus (*IIPP_Normalize)(const double*, double*, int, double, double) = nullptr;
IppStatus (*IIPP_Abs)(double*, int) = nullptr;
IppStatus (*IIPP_Magnitude)(const ComplexNumber*, double*, int) = nullptr;
IppStatus (*IIPP_PowerSpectr)(const ComplexNumber*, double*, int) = nullptr;
IppStatus (*IIPP_ConjPerm)(const double*, ComplexNumber*, int) = nullptr;
IppStatus (*IIPP_FFTInitAlloc)(pFFTSpec*, int, int, HintAlgorithm) = nullptr;
IppStatus (*IIPP_FFTInit)(pFFTSpec*, int, int, HintAlgorithm, std::uint8_t*, std::uint8_t*) = nullptr;
IppStatus (*IIPP_FFTGetSize)(int, int, HintAlgorithm, int*, int*, int*) = nullptr;
IppStatus (*IIPP_FFTFree)(pFFTSpec) = nullptr;
IppStatus (*IIPP_FFTFwd_RToPerm)(const double*, double*, const FFTSpec*, std::uint8_t*) = nullptr;
IppStatus (*IIPP_FFTFwd_RToPack)(const double*, double*, const FFTSpec*, std::uint8_t*) = nullptr;
IppStatus (*IIPP_FFTFwd_RToCCS)(const double*, double*, const FFTSpec*, std::uint8_t*) = nullptr;
IppStatus (*IIPP_FFTInv_PermToR)(const double*, double*, const FFTSpec*, std::uint8_t*) = nullptr;
IppStatus (*IIPP_FFTInv_PackToR)(const double*, double*, const FFTSpec*, std::uint8_t*) = nullptr;
IppStatus (*IIPP_FFTInv_CCSToR)(const double*, double*, const FFTSpec*, std::uint8_t*) = nullptr;
IppStatus (*IIPP_AutoCorr)(const double*, int, double*, int) = nullptr;
IppStatus (*IIPP_CrossCorr)(const double*, int, const double*, int, double*, int, int) = nullptr;

namespace {

// Binds one pointer by export name. A null handle binds nothing: dlsym on a
// null handle would search the whole process.
template <typename Fn>
void bind(Fn& pointer, void* handle, const char* name) {
  pointer = handle != nullptr ? reinterpret_cast<Fn>(dlsym(handle, name)) : nullptr;
}

void bindAll(void* h) {
  bind(IIPP_Free, h, "ippsFree");
  bind(IIPP_MallocDouble, h, "ippsMalloc_64f");
  bind(IIPP_MallocComplex, h, "ippsMalloc_64fc");
  bind(IIPP_MallocByte, h, "ippsMalloc_8u");
  bind(IIPP_Add, h, "ippsAdd_64f");
  bind(IIPP_Copy, h, "ippsCopy_64f");
  bind(IIPP_SubConstant, h, "ippsSubC_64f_I");
  bind(IIPP_Sub, h, "ippsSub_64f");
  bind(IIPP_Mean, h, "ippsMean_64f");
  bind(IIPP_MulConstant, h, "ippsMulC_64f_I");
  bind(IIPP_Normalize, h, "ippsNormalize_64f");
  bind(IIPP_Abs, h, "ippsAbs_64f_I");
  bind(IIPP_Magnitude, h, "ippsMagnitude_64fc");
  bind(IIPP_PowerSpectr, h, "ippsPowerSpectr_64fc");
  bind(IIPP_ConjPerm, h, "ippsConjPerm_64fc");
  bind(IIPP_FFTInitAlloc, h, "ippsFFTInitAlloc_R_64f");
  bind(IIPP_FFTInit, h, "ippsFFTInit_R_64f");
  bind(IIPP_FFTGetSize, h, "ippsFFTGetSize_R_64f");
  bind(IIPP_FFTFree, h, "ippsFFTFree_R_64f");
  bind(IIPP_FFTFwd_RToPerm, h, "ippsFFTFwd_RToPerm_64f");
  bind(IIPP_FFTFwd_RToPack, h, "ippsFFTFwd_RToPack_64f");
  bind(IIPP_FFTFwd_RToCCS, h, "ippsFFTFwd_RToCCS_64f");
  bind(IIPP_FFTInv_PermToR, h, "ippsFFTInv_PermToR_64f");
  bind(IIPP_FFTInv_PackToR, h, "ippsFFTInv_PackToR_64f");
  bind(IIPP_FFTInv_CCSToR, h, "ippsFFTInv_CCSToR_64f");
  bind(IIPP_AutoCorr, h, "ippsAutoCorr_64f");
  bind(IIPP_CrossCorr, h, "ippsCrossCorr_64f");
}

}  // namespace

void Load_IIPP() {
  std::lock_guard<std::mutex> lock(LibIntelIPP_CS);
  if (LibIntelIPP_Loaded) return;
  // Only the executable's own folder is searched, never the system's paths.
  const std::string folder = FileFunctions::ExecutableFolder();
  LibIntelIPP_handle = folder.empty() ? nullptr : dlopen((folder + "ipps-7.0.dll").c_str(), RTLD_NOW | RTLD_LOCAL);
  LibIntelIPP_Loaded = LibIntelIPP_handle != nullptr;
  bindAll(LibIntelIPP_handle);
}

void Free_IIPP() {
  std::lock_guard<std::mutex> lock(LibIntelIPP_CS);
  if (LibIntelIPP_Loaded) dlclose(LibIntelIPP_handle);
  LibIntelIPP_Loaded = false;
  // Pointers into an unloaded library would dangle: a late call now fails
  // loudly on null instead of jumping into unmapped code.
  LibIntelIPP_handle = nullptr;
  bindAll(nullptr);
}

}  // namespace IPPDynamic
