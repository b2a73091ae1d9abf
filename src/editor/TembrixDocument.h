// One recording in memory: the editor's document, without any widget.
//
// The three buffers come from the signal-processing library's allocator (the
// reader stores them here). The document gives them back when it goes, first
// the time line, then the left and the right channel, and only then its use of
// the library, so the allocator is still there for them.
//
// The document guards its samples against the playbacks that read them
// (TReading): whatever moves or frees samples waits for the readings first.
// The cut waits until they have finished, a new load and the destruction
// tell them to stop first, which they do within one slice.
#pragma once

#include "common/SharedTypes.h"

#include <QString>

#include <cstdint>
#include <memory>

struct TTembrixDocument {
  TTembrixDocument() = default;
  TTembrixDocument(const TTembrixDocument&) = delete;
  TTembrixDocument& operator=(const TTembrixDocument&) = delete;
  ~TTembrixDocument();

  QString arReportPath;  // full path of the WAV file
  bool arReverse = false;  // false: the file's first sample of a frame goes left
  TDateTime RecDT = 0;
  std::int32_t arWAVENOP = 0;  // frames in the document
  pDoubleArray arTimeLine = nullptr;  // (i + 1) / rate seconds; never changes after the load
  pDoubleArray arLeftCH = nullptr;
  pDoubleArray arRightCH = nullptr;
  std::uint32_t arSampRate = 0;
  std::uint16_t arBitsPerSample = 0;
  std::int32_t dn = 0;  // width of the current view in frames

  // Takes one use of the signal-processing library, given back by the
  // destructor after the buffers. False when the library cannot be loaded.
  bool AcquireLibrary();

  // Reads arReportPath into the buffers, sets arWAVENOP and dn, and, when a
  // frame was read, the format. A file the reader rejects leaves arWAVENOP and
  // dn at 0 and the format as it was; reader errors pass on. True when the
  // document holds at least one frame.
  bool ReadFile();

  // The frame index of time t (seconds): arSampRate × t in extended precision,
  // rounded ties to even, saturated to the 32-bit range. Every time → frame
  // conversion of the editor and of playback goes through here.
  std::int32_t timeToFrame(double t) const;
  // The frames between times Lo and Hi: arSampRate × (Hi − Lo), the
  // subtraction in extended precision too, rounded and saturated as above.
  std::int32_t spanToFrames(double Lo, double Hi) const;
  // Clamps both bounds to 0 … arWAVENOP, the lower one first; false when the range is empty.
  bool ClampRange(std::int32_t& n1, std::int32_t& n2) const;

  // Removes the frames n1 … n2 − 1 (0 ≤ n1 ≤ n2 ≤ arWAVENOP) from both
  // channels, once the readings of the samples have finished: frame n2
  // becomes frame n1. The time line stays as it is.
  void RemoveFrames(std::int32_t n1, std::int32_t n2);

  // One reading of the channels, from any thread, while the document lives.
  // Begun on the document's thread; ends when it is destroyed or End() is
  // called. Check Stopped() before each slice that is read.
  class TReading {
   public:
    explicit TReading(TTembrixDocument& Doc);
    ~TReading() { End(); }
    TReading(const TReading&) = delete;
    TReading& operator=(const TReading&) = delete;
    // The document wants its samples back (or the reading has ended).
    bool Stopped() const;
    void End();

   private:
    struct TReads;
    friend struct TTembrixDocument;
    std::shared_ptr<TReads> reads_;
    std::uint64_t stopsBefore_ = 0;
  };

 private:
  // Waits until no reading is active; tells them to stop first when `stop`.
  void waitForReadings(bool stop);

  bool holdsLibrary_ = false;
  std::shared_ptr<TReading::TReads> reads_;
};
