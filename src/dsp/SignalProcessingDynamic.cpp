#include "dsp/SignalProcessingDynamic.h"

#include "dsp/IPPDynamic.h"

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

  const IppBuffer<double> FFTPerm(IIPP_MallocDouble(FFTNumPoints));
  IppBuffer<double> Result(IIPP_MallocDouble(FFTNumPoints));
  const IppBuffer<ComplexNumber> FFTConj(IIPP_MallocComplex(FFTNumPoints));

  {
    // The transform's own buffers go as soon as the unpacked transform is in FFTConj.
    int SpecSize = 0, SpecBufferSize = 0, BufferSize = 0;
    IIPP_FFTGetSize(Order, IPP_FFT_NODIV_BY_ANY, AlgHintAccurate, &SpecSize, &SpecBufferSize, &BufferSize);
    const IppBuffer<std::uint8_t> Spec(IIPP_MallocByte(SpecSize));
    const IppBuffer<std::uint8_t> SpecBuffer(IIPP_MallocByte(SpecBufferSize));
    const IppBuffer<std::uint8_t> FFTBuffer(IIPP_MallocByte(BufferSize));

    pFFTSpec VpFFTSpec = nullptr;
    IIPP_FFTInit(&VpFFTSpec, Order, IPP_FFT_NODIV_BY_ANY, AlgHintAccurate, Spec.get(), SpecBuffer.get());
    IIPP_FFTFwd_RToPerm(Data, FFTPerm.get(), VpFFTSpec, FFTBuffer.get());
    IIPP_ConjPerm(FFTPerm.get(), FFTConj.get(), FFTNumPoints);
    IIPP_FFTFree(VpFFTSpec);
  }

  IIPP_PowerSpectr(FFTConj.get(), Result.get(), FFTNumPoints);
  // L^3 = 2^(3 Order) is exact in a double.
  const double L = FFTNumPoints;
  IIPP_Normalize(Result.get(), Result.get(), FFTNumPoints, 0.0, L * L * L);
  Spectr = Result.release();
}

void PowerSpectrAlloc(pDoubleArray Data, pDoubleArray& Spectr, int SpectrNumPoints) {
  PowerSpectr(Data, Spectr, SpectrNumPoints);
}

}  // namespace SignalProcessingDynamic
