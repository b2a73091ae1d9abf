// Playback of a sound span on a worker thread, with the play-position line.
//
// The Play command fills the globals below and starts a TSoundPlayThread,
// which takes the request over when it is created (on the GUI thread). One
// thread does the whole job: it converts the span from its source straight
// into one interleaved buffer, slice by slice, opens the default wave output
// once the first slice is there, writes the buffer (the output plays only the
// part marked filled) and fills the rest ahead of the sound. It moves the
// play-position line every 100 ms after the first 500 ms, stops at a poll that
// finds PlaySoundStopper raised, and frees itself when done; nothing of the
// span stays then. Every change to a control is posted to the GUI thread. The
// GUI thread never waits for the worker; the worker waits for it only once,
// at most 50 ms, before it starts (WaitForTurn).
//
// One playback at a time: a new request makes a running playback end its
// conversion within one slice and its sound within a few milliseconds, and
// the new thread starts its work only once the one before has finished. A
// request that a newer one replaced before its turn reads nothing, allocates
// nothing and opens no device. A window that is closed calls Abandon(): the
// playback stops the same way and never touches the window's controls again.
#pragma once

#include "playback/WaveOut.h"

#include <QPointer>
#include <QPushButton>
#include <QThread>
#include <QWidget>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>

class TChart;

namespace SoundPlayThread {

// Where the samples of a playback come from: a span of frames of two output
// channels, read slice by slice as interleaved 16-bit frames (channel 0, then
// channel 1). The owner of the samples can take them back (it is about to
// change or free them); the source lets go of them when it is destroyed.
class TSoundSource {
 public:
  virtual ~TSoundSource() = default;
  virtual std::size_t Frames() const = 0;
  // Writes the frames from … from + count − 1 to out; false when the samples
  // were taken back, and then nothing is written. A read of no frames tells
  // whether they still are there.
  virtual bool Read(std::size_t from, std::size_t count, std::int16_t* out) = 0;
};

// The request handed to a playback: its samples and their rate.
struct TASSound {
  std::unique_ptr<TSoundSource> Channels;
  std::uint32_t SampleRate = 0;
};

// The request of the last Play, written on the GUI thread. The thread takes
// Sound1 over when it is created, leaving it empty.
extern TASSound Sound1;
extern QPointer<QWidget> SenderStaticTextPlayPosition;
extern QPointer<TChart> SenderChart1;
extern QPointer<TChart> SenderChart4;
extern std::int32_t thSampleRate;
extern QPointer<QPushButton> thButton;
extern double thPositionLo;
// Raised by Stop, cleared by Play; polled by the playback threads.
extern std::atomic<bool> PlaySoundStopper;
// The play position last shown by a playback (written on the GUI thread).
extern WaveOut::MMTIME pmmt;

// Frames converted in one slice: about 0.37 s of sound at 44.1 kHz.
inline constexpr std::size_t SliceFrames = std::size_t(1) << 14;

}  // namespace SoundPlayThread

class TSoundPlayThread : public QThread {
  Q_OBJECT

 public:
  // Takes the request over from the globals. Created suspended: nothing runs
  // before Start().
  TSoundPlayThread();
  ~TSoundPlayThread() override;

  // Deletes the object on the GUI thread once the thread has finished.
  void SetFreeOnTerminate(bool Value) {
    if (Value)
      connect(this, &QThread::finished, this, &QObject::deleteLater, Qt::UniqueConnection);
    else
      disconnect(this, &QThread::finished, this, &QObject::deleteLater);
  }
  void Start() { start(); }

  // Called on the GUI thread when the window of this playback goes away: the
  // playback stops as it does for a newer request and leaves the controls
  // alone. Never waits.
  void Abandon() { abandoned_ = true; }

  // Called on the GUI thread when the recording of this playback was cut: the
  // sound plays on, but the line, whose times no longer match the charts, is
  // hidden and stays so.
  void HideLine() {
    if (line_) line_->hide();
    line_ = nullptr;
  }

  // Places and shows the position line for pmmt (GUI thread).
  void UpdateStaticTextPlayPosition();

 protected:
  void run() override { Execute(); }

 private slots:
  // Runs what the thread posted to the GUI thread (Post).
  void RunPosted();

 private:
  void Execute() { PlaySound1(); }
  void PlaySound1();
  bool WaitForTurn();
  // Plays the request once its turn has come; raises what fails.
  void PlayRequest();
  // Runs f on the GUI thread later, unless the window has gone.
  template <class F>
  void Post(F f);
  // Sleeps until `until`, waking early once this playback is abandoned or
  // superseded, or `done` holds.
  void SleepUntil(std::chrono::steady_clock::time_point until, const std::function<bool()>& done = {}) const;
  bool Abandoned() const;

  SoundPlayThread::TASSound sound_;
  QPointer<QWidget> line_;
  QPointer<TChart> chart1_;
  QPointer<TChart> chart4_;
  QPointer<QPushButton> button_;
  std::int32_t sampleRate_;
  double positionLo_;
  std::uint64_t request_;  // the number of the Play request this thread serves
  std::atomic<bool> abandoned_{false};
  std::mutex endMutex_;  // taken last by the thread
};
