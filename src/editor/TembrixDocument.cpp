#include "editor/TembrixDocument.h"

#include "dsp/IPPDynamic.h"
#include "dsp/LoadExternal.h"
#include "wav/WaveFile.h"

#include <climits>
#include <string>
#include <utility>

TTembrixDocument::~TTembrixDocument() {
  // The time line first, then the left and the right channel.
  for (pDoubleArray* buffer : {&arTimeLine, &arLeftCH, &arRightCH})
    IPPDynamic::IppBuffer<double>{std::exchange(*buffer, nullptr)};
  arWAVENOP = 0;
  if (holdsLibrary_) LoadExternal::FreeDynamicIIPP();
}

bool TTembrixDocument::AcquireLibrary() {
  if (!holdsLibrary_) holdsLibrary_ = LoadExternal::LoadDynamicIIPP();
  return holdsLibrary_;
}

bool TTembrixDocument::ReadFile() {
  arWAVENOP = 0;
  const std::string path = arReportPath.toStdString();
  if (WaveFile::GetWaveInfo(path, RecDT))
    arWAVENOP = WaveFile::LoadWaveData(path, arReverse, arTimeLine, arLeftCH, arRightCH);
  dn = arWAVENOP;
  if (arWAVENOP <= 0) return false;
  arSampRate = WaveFile::SampleRate;
  arBitsPerSample = WaveFile::BitsPerSample;
  return true;
}

namespace {

std::int32_t roundSaturated(long double frame) {
  if (!(frame >= INT_MIN)) return INT_MIN;  // NaN lands here too
  if (frame > INT_MAX) return INT_MAX;
  return static_cast<std::int32_t>(Round(frame));
}

}  // namespace

std::int32_t TTembrixDocument::timeToFrame(double t) const {
  return roundSaturated(static_cast<long double>(arSampRate) * static_cast<long double>(t));
}

std::int32_t TTembrixDocument::spanToFrames(double Lo, double Hi) const {
  return roundSaturated(static_cast<long double>(arSampRate) *
                        (static_cast<long double>(Hi) - static_cast<long double>(Lo)));
}

bool TTembrixDocument::ClampRange(std::int32_t& n1, std::int32_t& n2) const {
  if (n1 < 0) n1 = 0;
  if (n1 > arWAVENOP) n1 = arWAVENOP;
  if (n2 < 0) n2 = 0;
  if (n2 > arWAVENOP) n2 = arWAVENOP;
  return n1 < n2;
}
