#include "SignalProcessingDynamic.h"

#include "IPPDynamic.h"

namespace SignalProcessingDynamic {

using namespace IPPDynamic;

void Time2Freq(pDoubleArray Time, pDoubleArray& Freq, int FreqNumPoints) {
  Freq = IIPP_MallocDouble(FreqNumPoints);
  if (FreqNumPoints <= 0) return;
  const double y = (1.0 / (Time[1] - Time[0])) / FreqNumPoints;
  double z = 0.0;
  for (int i = 0; i < FreqNumPoints; ++i) {
    Freq[i] = z;
    z = z + y;
  }
}

void PowerSpectr(pDoubleArray Data, pDoubleArray& Spectr, int SpectrNumPoints) {
  if (SpectrNumPoints < 1) {
    Spectr = nullptr;
    return;
  }
  int Order = 0;
  while (Order < 30 && (1 << (Order + 1)) <= SpectrNumPoints) ++Order;
  const int FFTNumPoints = 1 << Order;

  pDoubleArray FFTPerm = IIPP_MallocDouble(FFTNumPoints);
  Spectr = IIPP_MallocDouble(FFTNumPoints);
  pComplexNumberArray FFTConj = IIPP_MallocComplex(FFTNumPoints);

  int SpecSize = 0, SpecBufferSize = 0, BufferSize = 0;
  IIPP_FFTGetSize(Order, IPP_FFT_NODIV_BY_ANY, AlgHintAccurate, &SpecSize, &SpecBufferSize, &BufferSize);
  std::uint8_t* Spec = IIPP_MallocByte(SpecSize);
  std::uint8_t* SpecBuffer = IIPP_MallocByte(SpecBufferSize);
  std::uint8_t* FFTBuffer = IIPP_MallocByte(BufferSize);

  pFFTSpec VpFFTSpec = nullptr;
  IIPP_FFTInit(&VpFFTSpec, Order, IPP_FFT_NODIV_BY_ANY, AlgHintAccurate, Spec, SpecBuffer);
  IIPP_FFTFwd_RToPerm(Data, FFTPerm, VpFFTSpec, FFTBuffer);
  IIPP_ConjPerm(FFTPerm, FFTConj, FFTNumPoints);
  IIPP_FFTFree(VpFFTSpec);
  IIPP_Free(FFTBuffer);
  IIPP_Free(SpecBuffer);
  IIPP_Free(Spec);

  IIPP_PowerSpectr(FFTConj, Spectr, FFTNumPoints);
  // L^3 = 2^(3 Order) is exact in a double.
  const double L = FFTNumPoints;
  IIPP_Normalize(Spectr, Spectr, FFTNumPoints, 0.0, L * L * L);

  IIPP_Free(FFTConj);
  IIPP_Free(FFTPerm);
}

void PowerSpectrAlloc(pDoubleArray Data, pDoubleArray& Spectr, int SpectrNumPoints) {
  PowerSpectr(Data, Spectr, SpectrNumPoints);
}

}  // namespace SignalProcessingDynamic
