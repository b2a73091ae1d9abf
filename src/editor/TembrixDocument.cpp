#include "editor/TembrixDocument.h"

#include "blockmove/BlockMove.h"
#include "dsp/IPPDynamic.h"
#include "dsp/LoadExternal.h"
#include "wav/WaveFile.h"

#include <atomic>
#include <climits>
#include <condition_variable>
#include <mutex>
#include <string>
#include <utility>

struct TTembrixDocument::TReading::TReads {
  std::mutex mutex;
  std::condition_variable ended;
  int active = 0;                   // readings begun and not ended
  std::atomic<std::uint64_t> stops{0};  // how often the document took its samples back
};

TTembrixDocument::TReading::TReading(TTembrixDocument& Doc) {
  if (!Doc.reads_) Doc.reads_ = std::make_shared<TReads>();
  reads_ = Doc.reads_;
  std::lock_guard lock(reads_->mutex);
  ++reads_->active;
  stopsBefore_ = reads_->stops.load();
}

bool TTembrixDocument::TReading::Stopped() const { return !reads_ || reads_->stops.load() != stopsBefore_; }

void TTembrixDocument::TReading::End() {
  if (!reads_) return;
  {
    std::lock_guard lock(reads_->mutex);
    --reads_->active;
  }
  reads_->ended.notify_all();
  reads_ = nullptr;
}

void TTembrixDocument::waitForReadings(bool stop) {
  if (!reads_) return;
  std::unique_lock lock(reads_->mutex);
  if (stop) ++reads_->stops;
  reads_->ended.wait(lock, [this] { return reads_->active == 0; });
}

void TTembrixDocument::RemoveFrames(std::int32_t n1, std::int32_t n2) {
  waitForReadings(false);
  const std::intptr_t bytes = static_cast<std::intptr_t>(arWAVENOP - n2) * sizeof(double);
  BlockMove::Move(arLeftCH + n2, arLeftCH + n1, bytes);  // one forward move per channel, in place
  BlockMove::Move(arRightCH + n2, arRightCH + n1, bytes);
  arWAVENOP -= n2 - n1;
}

TTembrixDocument::~TTembrixDocument() {
  waitForReadings(true);
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
  waitForReadings(true);  // the reader frees the buffers
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
