// Frequency axes and normalised power spectra, computed by the
// signal-processing library (which must be loaded). Every buffer handed back
// comes from IIPP_MallocDouble and is the caller's, to release with IIPP_Free
// (an IppBuffer does).
#pragma once

#include "common/SharedTypes.h"

namespace SignalProcessingDynamic {

// Freq receives FreqNumPoints frequencies 0, y, 2y, … (by repeated addition),
// y = 1 / (Time[1] - Time[0]) / FreqNumPoints: the bin spacing of a transform
// of FreqNumPoints points over that time line (seconds -> Hz).
void Time2Freq(pDoubleArray Time, pDoubleArray& Freq, int FreqNumPoints);

// Spectr receives L = 2^floor(log2 SpectrNumPoints) values |X[k]|^2 / L^3 of
// the unscaled transform of Data[0 … L-1]; the rest of Data is ignored. For a
// SpectrNumPoints below 1 Spectr becomes null.
void PowerSpectr(pDoubleArray Data, pDoubleArray& Spectr, int SpectrNumPoints);

// PowerSpectr; the one buffer it yields is the caller's.
void PowerSpectrAlloc(pDoubleArray Data, pDoubleArray& Spectr, int SpectrNumPoints);

}  // namespace SignalProcessingDynamic
