// Playback of a sound span on a worker thread, with the play-position line.
//
// The Play command fills the globals below and starts a TSoundPlayThread. The
// thread copies the small values of the request when it is created (on the
// GUI thread). The samples it takes over from Sound1 when its turn comes, in
// a hand-over on the GUI thread, leaving Sound1 empty: the span is never
// copied, and a later Play never changes what a running thread reads. The
// thread opens the default wave output and writes its one buffer to it once
// the buffer's first part is interleaved; another thread interleaves the rest
// while the start plays (the output plays only what is there), giving the
// channels' memory back as it goes. The samples of a long span may still be
// being converted when the thread takes them over (TASSound::Fill); the
// interleaving follows the conversion. The thread moves the play-position
// line every 100 ms, stops early on PlaySoundStopper, and frees itself when
// done; nothing of the span is left then. Every change to a control runs on
// the GUI thread through a blocking hand-over; the GUI thread never waits for
// a playback thread.
//
// One playback at a time: a new request makes a running playback stop within
// about 10 ms, and the new thread starts its work only once the one before
// has finished and restored its controls. A request that a newer one
// replaced before its turn came takes no samples, allocates nothing and
// opens no device, so any number of quick clicks costs one span, one device
// opening and at most one error box. A window that is closed calls
// Abandon(): the playback stops, and the controls it refers to are watched,
// so a destroyed control is never touched.
#pragma once

#include "playback/FillMark.h"
#include "playback/WaveOut.h"

#include <QPointer>
#include <QPushButton>
#include <QThread>
#include <QWidget>

#include <atomic>
#include <condition_variable>
#include <exception>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <cstdint>
#include <utility>
#include <vector>

class TChart;

namespace SoundPlayThread {

// Leaves the elements a resize adds uninitialised: a span's arrays are
// written in full right after they are sized, and clearing them first would
// touch hundreds of megabytes for nothing.
template <class T>
struct TUninitialisedAllocator : std::allocator<T> {
  template <class U>
  struct rebind {
    using other = TUninitialisedAllocator<U>;
  };
  template <class U, class... Args>
  void construct(U* p, Args&&... args) {
    if constexpr (sizeof...(Args) == 0)
      ::new (static_cast<void*>(p)) U;
    else
      ::new (static_cast<void*>(p)) U(std::forward<Args>(args)...);
  }
};

// One channel's signed 16-bit samples.
using TASWaveformSamples = std::vector<std::int16_t, TUninitialisedAllocator<std::int16_t>>;

// The samples handed to a playback: one array per output channel, all of the
// same length (index 0 left, 1 right), and their rate.
struct TASSound {
  std::vector<TASWaveformSamples> Channels;
  std::uint32_t SampleRate = 0;
  // Null when every sample is there. Otherwise another thread is still
  // writing the frames (all channels alike) and this says how many are done.
  std::shared_ptr<TFillMark> Fill;
};

// Empties a sound; first waits for the frames still being written into it.
void ReleaseSound(TASSound& sound);

// The request of the last Play. Written and read on the GUI thread only.
// Sound1 holds the samples until the playback takes them over (it is empty
// from then on); Play empties it (ReleaseSound) before it fills it again.
extern TASSound Sound1;
extern QPointer<QWidget> SenderStaticTextPlayPosition;
extern QPointer<TChart> SenderChart1;
extern QPointer<TChart> SenderChart4;
extern std::int32_t thSampleRate;
extern QPointer<QPushButton> thButton;
extern double thPositionLo;
// Raised by Stop, cleared by Play; polled by the playback threads.
extern std::atomic<bool> PlaySoundStopper;
// The play position last shown by a playback (updated on the GUI thread).
extern WaveOut::MMTIME pmmt;

// Interleaves the first `frames` frames of the channels into `out` (frame i
// holds channel 0, then channel 1, ...), a slice at a time, and gives the
// channels' memory back to the system as it goes: their samples are not to be
// read afterwards. Each slice waits until `filled` (unless null) counts its
// frames; after it, `interleaved` (unless empty) is told how many frames of
// `out` are done. False when `cancelled` answered true, or the filling gave
// up, before the end.
bool Interleave(std::vector<TASWaveformSamples>& channels, std::size_t frames, std::int16_t* out,
                const std::function<bool()>& cancelled, const TFillMark* filled = nullptr,
                const std::function<void(std::size_t)>& interleaved = {});

}  // namespace SoundPlayThread

class TSoundPlayThread : public QThread {
  Q_OBJECT

 public:
  // Copies the request's small values from the globals; the samples stay in
  // Sound1 until the thread's turn. Created suspended: nothing runs before
  // Start().
  TSoundPlayThread();
  ~TSoundPlayThread() override;

  // Deletes the object on the GUI thread once the thread has finished.
  void SetFreeOnTerminate(bool Value);
  void Start() { start(); }

  // Called on the GUI thread when the window of this playback goes away: the
  // playback stops within about 10 ms, leaves the controls alone and needs
  // the GUI thread no more; samples it has not taken over yet are released.
  // Never waits.
  void Abandon();

  // Places and shows the position line (GUI thread).
  void UpdateStaticTextPlayPosition();

 protected:
  void run() override { Execute(); }

 private slots:
  // The GUI thread's half of Synchronize.
  void RunHandOver();

 private:
  void Execute() { PlaySound1(); }
  void PlaySound1();
  // Plays a request whose turn has come; raises what fails.
  void PlayRequest();
  bool TakeOverSamples();
  WaveOut::WAVEFORMATEX WaveFormat() const;
  std::size_t Frames() const;
  void PlayUntilHeardOrStopped(WaveOut::HWAVEOUT hWave, WaveOut::WAVEHDR& hdr);

  // Runs f on the GUI thread and waits for it; an error raised there is
  // raised again here.
  template <class F>
  void Synchronize(F f);
  // Sleeps, waking early once this playback is abandoned or superseded.
  void Sleep(int Milliseconds) const;
  bool Superseded() const;
  bool Abandoned() const { return abandoned_ || Superseded(); }

  // The samples, taken over from Sound1 on the thread's turn.
  SoundPlayThread::TASSound sound_;
  QPointer<QWidget> line_;
  QPointer<TChart> chart1_;
  QPointer<TChart> chart4_;
  QPointer<QPushButton> button_;
  std::int32_t sampleRate_;
  double positionLo_;
  std::uint64_t request_;  // the number of the Play request this thread serves
  std::shared_future<void> previousDone_;  // the playback requested before this one
  std::promise<void> done_;

  WaveOut::MMTIME position_{};  // written before each hand-over, read inside it
  std::mutex handOverMutex_;
  std::condition_variable handOverDone_;
  std::function<void()> handOverWork_;  // set while a hand-over is pending
  std::exception_ptr handOverError_;
  std::atomic<bool> abandoned_{false};
  bool freeOnTerminate_ = false;
};
