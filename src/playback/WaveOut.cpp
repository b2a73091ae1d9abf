#include "playback/WaveOut.h"

#include "blockmove/BlockMove.h"
#include "playback/PlayPosition.h"

#include <alsa/asoundlib.h>
#include <pa_linux_alsa.h>
#include <portaudio.h>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

namespace WaveOut {

namespace {

thread_local std::string lastErrorText;

MMRESULT fail(MMRESULT result, std::string text) {
  lastErrorText = std::move(text);
  return result;
}

const char* const kNoAnswer = "The sound server does not answer";

// The audio library is initialised on the first open and stays so (that costs
// about 90 ms, which every Play would otherwise wait for); a failed open with no
// device open drops it, so the next open probes the devices afresh. The lock
// serialises every call of it that reaches the sound server.
std::mutex libraryMutex;
bool initialized = false;
int openDevices = 0;
std::atomic<int> unanswered{0};  // server calls given up on that have not returned yet

// The audio library and the plug-ins below it print probing chatter on stderr.
struct QuietStderr {
  const int saved = dup(STDERR_FILENO);
  QuietStderr() {
    const int null = open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (saved >= 0 && null >= 0) dup2(null, STDERR_FILENO);
    if (null >= 0) close(null);
  }
  ~QuietStderr() {
    if (saved >= 0) dup2(saved, STDERR_FILENO), close(saved);
  }
};

void quietAlsaErrors(const char*, int, const char*, int, const char*, ...) {}

double steadySeconds() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

std::string paText(PaError err) {
  std::string text = Pa_GetErrorText(err);
  const PaHostErrorInfo* info = err == paUnanticipatedHostError ? Pa_GetLastHostErrorInfo() : nullptr;
  if (info && info->errorText && *info->errorText) text += std::string(": ") + info->errorText;
  return text;
}

}  // namespace

// One open output. The stream callback shares only atomics with the owning
// thread: the buffer it feeds from and how far that is filled (owner to
// callback), how far it fed and a queue of the times of what it handed over
// (callback to owner). It takes no lock, allocates nothing, makes no system
// call and waits for nothing; the owner does the bookkeeping when it polls.
class WaveOutDevice {
 public:
  explicit WaveOutDevice(const WAVEFORMATEX& f)
      : frameBytes_(f.nBlockAlign), rate_(f.nSamplesPerSec), silence_(f.wBitsPerSample == 8 ? 0x80 : 0) {}

  // Initialises the library when needed and opens the stream (in a server call).
  void Open(const WAVEFORMATEX& f);
  PaError openError_ = paNoError;
  std::string openText_;

  MMRESULT Unprepare(WAVEHDR* h) {
    if (h->dwFlags & WHDR_INQUEUE) refresh();
    if (h->dwFlags & WHDR_INQUEUE) return fail(WAVERR_STILLPLAYING, "The sound buffer is still playing");
    h->dwFlags &= ~WHDR_PREPARED;
    if (marked_ == h) marked_ = nullptr;
    return MMSYSERR_NOERROR;
  }

  MMRESULT MarkFilled(WAVEHDR* h, DWORD bytes) {
    if (!(h->dwFlags & WHDR_PREPARED)) return fail(WAVERR_UNPREPARED, "The sound buffer is not prepared");
    marked_ = h;
    markedFrames_ = std::min<std::uint64_t>(bytes / frameBytes_, framesOf(h));
    if (buffer_ == h) filled_.store(markedFrames_, std::memory_order_release);
    return MMSYSERR_NOERROR;
  }

  MMRESULT Write(WAVEHDR* h) {
    if (!(h->dwFlags & WHDR_PREPARED)) return fail(WAVERR_UNPREPARED, "The sound buffer is not prepared");
    if (buffer_ || (h->dwFlags & WHDR_INQUEUE)) return fail(WAVERR_STILLPLAYING, "A sound buffer is still playing");
    if (lost_ || !stopStream()) return fail(MMSYSERR_ERROR, kNoAnswer);
    buffer_ = h;
    bufferStart_ = position_.HandedData();
    h->dwFlags = (h->dwFlags & ~WHDR_DONE) | WHDR_INQUEUE;
    if (paused_) return MMSYSERR_NOERROR;
    fed_.store(0);
    filled_.store(marked_ == h ? markedFrames_ : framesOf(h));
    feed_.store(reinterpret_cast<const BYTE*>(h->lpData));
    return startStream();
  }

  std::uint64_t Position() {
    refresh();
    return position_.Frames();
  }

  MMRESULT Pause() {
    if (lost_) return fail(MMSYSERR_ERROR, kNoAnswer);
    if (paused_) return MMSYSERR_NOERROR;
    advance();
    paused_ = true;
    unfeed();
    return stopStream() ? MMSYSERR_NOERROR : fail(MMSYSERR_ERROR, kNoAnswer);
  }

  MMRESULT Reset() {
    if (lost_) return fail(MMSYSERR_ERROR, kNoAnswer);
    unfeed();
    if (!stopStream()) return fail(MMSYSERR_ERROR, kNoAnswer);
    giveBack();
    position_.Rebase();
    return MMSYSERR_NOERROR;
  }

  // Closes the stream and lets the handle go, also when that gives up. A lost
  // device's stream is closed by the call that was given up, once it returns.
  MMRESULT Close() {
    if (buffer_) return fail(WAVERR_STILLPLAYING, "Sound buffers are still playing");
    const bool answered = lost_ || (stopStream() && serverCall([this] { closeStream(); }));
    release(this);
    return answered ? MMSYSERR_NOERROR : fail(MMSYSERR_ERROR, kNoAnswer);
  }

  // Runs a call that needs the server on a thread of its own, holding the
  // library's lock, and waits for it 2 s at most (longer in sanitizer builds,
  // which run the sound libraries' start-up several times slower). When it
  // gives up the device is lost: it feeds nothing, and the stream is closed
  // once the call returns, so that nothing plays by itself later.
  bool serverCall(std::function<void()> call) {
    struct Shared {
      std::mutex mutex;
      std::condition_variable done;
      bool returned = false, late = false;
    };
    auto shared = std::make_shared<Shared>();
    ++holders_;
    std::thread([this, shared, call = std::move(call)] {
      std::unique_lock library(libraryMutex);
      call();
      std::unique_lock lock(shared->mutex);
      shared->returned = true;
      shared->done.notify_one();
      const bool late = shared->late;
      lock.unlock();
      if (late && open_) {
        Pa_AbortStream(stream_);
        closeStream();
      }
      library.unlock();
      release(this);
      if (late) --unanswered;
    }).detach();
    std::unique_lock lock(shared->mutex);
#if defined(__SANITIZE_THREAD__) || defined(__SANITIZE_ADDRESS__)
    constexpr auto patience = std::chrono::seconds(8);
#else
    constexpr auto patience = std::chrono::seconds(2);
#endif
    if (shared->done.wait_for(lock, patience, [&] { return shared->returned; })) return true;
    shared->late = true;
    ++unanswered;
    lock.unlock();
    lost_ = true;
    giveBack();
    return false;
  }

  static void release(WaveOutDevice* d) {
    if (d->holders_.fetch_sub(1) == 1) delete d;
  }

 private:
  struct Timing {  // what one callback handed over, and when its first frame is heard
    unsigned long frames, data;
    double dacTime;
    double offset;                             // stream time minus steady time then
    unsigned long skippedFrames, skippedData;  // of callbacks that found the queue full
  };

  static int Callback(const void*, void* output, unsigned long frames, const PaStreamCallbackTimeInfo* time,
                      PaStreamCallbackFlags, void* user) {
    return static_cast<WaveOutDevice*>(user)->fill(static_cast<BYTE*>(output), frames, time);
  }

  // The stream callback, on the sound server's real-time thread.
  int fill(BYTE* out, unsigned long frames, const PaStreamCallbackTimeInfo* time) {
    busy_.store(true);
    unsigned long done = 0;
    const bool halting = halting_.load();
    if (const BYTE* data = halting ? nullptr : feed_.load()) {
      const std::uint64_t filled = filled_.load(std::memory_order_acquire);
      const std::uint64_t fed = fed_.load(std::memory_order_relaxed);
      done = static_cast<unsigned long>(std::min<std::uint64_t>(frames, filled - std::min(filled, fed)));
      if (done > 0) BlockMove::Move(data + fed * frameBytes_, out, std::intptr_t(std::uint64_t(done) * frameBytes_));
      fed_.store(fed + done, std::memory_order_release);
    }
    std::memset(out + std::uint64_t(done) * frameBytes_, silence_, std::uint64_t(frames - done) * frameBytes_);
    const std::size_t head = head_.load(std::memory_order_relaxed);
    if (head - tail_.load(std::memory_order_acquire) == timings_.size()) {
      skippedFrames_ += frames;
      skippedData_ += done;
    } else {
      timings_[head % timings_.size()] = {frames, done, time->outputBufferDacTime,
                                          time->currentTime - steadySeconds(), skippedFrames_, skippedData_};
      skippedFrames_ = skippedData_ = 0;
      head_.store(head + 1, std::memory_order_release);
    }
    lastCallback_.store(time->currentTime, std::memory_order_relaxed);
    busy_.store(false);
    return halting ? paAbort : paContinue;
  }

  std::uint64_t framesOf(const WAVEHDR* h) const { return h->dwBufferLength / frameBytes_; }

  // Takes the timings the callback queued into the position estimate.
  void drainTimings() {
    std::size_t tail = tail_.load(std::memory_order_relaxed);
    for (const std::size_t head = head_.load(std::memory_order_acquire); tail != head; ++tail) {
      const Timing& t = timings_[tail % timings_.size()];
      if (t.skippedFrames > 0) position_.Handed(t.skippedFrames, t.skippedData, t.dacTime - t.skippedFrames / rate_);
      position_.Handed(t.frames, t.data, t.dacTime);
      streamOffset_ = t.offset;
    }
    tail_.store(tail, std::memory_order_release);
  }

  // The stream's time, from the steady clock: asking the library for it can
  // wait for the sound thread, which may wait for the server.
  PaTime advance() {
    drainTimings();
    const PaTime now = steadySeconds() + streamOffset_;
    if (running_ && !paused_) position_.Advance(now);
    return now;
  }

  // Once this returns, the callback reads the buffer no more.
  void unfeed() {
    feed_.store(nullptr);
    while (busy_.load()) std::this_thread::yield();
  }

  void giveBack() {
    unfeed();
    if (buffer_) buffer_->dwFlags = (buffer_->dwFlags & ~WHDR_INQUEUE) | WHDR_DONE;
    buffer_ = nullptr;
  }

  // Brings the position and the buffer up to date: the buffer goes back once
  // its last frame has been heard, or when the output stopped calling back
  // (the server went away), so nobody waits for it forever.
  void refresh() {
    if (lost_) return;
    const PaTime now = advance();
    if (!buffer_) return;
    const std::uint64_t fed = fed_.load(std::memory_order_acquire);
    const bool heard = fed == framesOf(buffer_) && bufferStart_ + fed <= position_.Heard();
    if (heard || (running_ && !paused_ && now - lastCallback_.load() > 1.0 + latency_)) giveBack();
  }

  // The library's lock is held.
  void closeStream() {
    QuietStderr quiet;
    Pa_CloseStream(stream_);
    --openDevices;
    open_ = false;
  }

  MMRESULT startStream() {
    halting_.store(false);
    if (!serverCall([this] {
          startedAt_ = Pa_GetStreamTime(stream_);
          streamOffset_ = startedAt_ - steadySeconds();
          lastCallback_.store(startedAt_);
          startError_ = Pa_StartStream(stream_);
        }))
      return fail(MMSYSERR_ERROR, kNoAnswer);
    position_.Started(startedAt_);
    if (startError_ != paNoError) {
      giveBack();
      return fail(MMSYSERR_ERROR, "Cannot start the sound output (" + paText(startError_) + ")");
    }
    running_ = true;
    return MMSYSERR_NOERROR;
  }

  // Stops the stream if it runs, dropping what the server still buffers; false
  // when the server does not answer. The callback ends the stream itself
  // (within one callback period): aborting it from outside cancels the sound
  // thread, which leaves the sound libraries' locks to chance, so only a
  // stream whose callback no longer runs is aborted.
  bool stopStream() {
    if (!running_) return true;
    halting_.store(true);
    const bool answered = serverCall([this] {
      const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(250);
      while (Pa_IsStreamActive(stream_) == 1 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
      if (Pa_IsStreamActive(stream_) == 1)
        Pa_AbortStream(stream_);
      else
        Pa_StopStream(stream_);  // the callback has finished: this only joins the sound thread
    });
    if (!answered) return false;
    running_ = false;
    drainTimings();
    skippedFrames_ = skippedData_ = 0;
    position_.Stopped();
    return true;
  }

  PaStream* stream_ = nullptr;
  const unsigned frameBytes_;
  const double rate_;
  const BYTE silence_;
  PaTime latency_ = 0;  // the output latency the stream runs with
  PaError startError_ = paNoError;
  PaTime startedAt_ = 0;
  double streamOffset_ = 0;  // stream time minus steady time

  // Shared with the callback.
  std::atomic<const BYTE*> feed_{nullptr};  // the samples it feeds from; null: silence
  std::atomic<std::uint64_t> filled_{0};    // of them filled
  std::atomic<std::uint64_t> fed_{0};       // of them handed over
  std::atomic<bool> halting_{false};        // the callback is to end the stream
  std::atomic<bool> busy_{false};           // the callback is running
  std::atomic<double> lastCallback_{0};     // stream time of the last callback (or the start)
  std::array<Timing, 1024> timings_{};      // single producer (callback), single consumer (owner)
  std::atomic<std::size_t> head_{0}, tail_{0};
  unsigned long skippedFrames_ = 0, skippedData_ = 0;  // the callback's

  // The owner's.
  PlayPosition position_{rate_, 0};
  WAVEHDR* buffer_ = nullptr;       // written, not yet given back
  WAVEHDR* marked_ = nullptr;       // a buffer only partly filled so far
  std::uint64_t markedFrames_ = 0;  // its frames that are filled
  std::uint64_t bufferStart_ = 0;   // data frames handed over before it
  bool running_ = false, paused_ = false, lost_ = false;
  std::atomic<bool> open_{false};  // the stream is open
  std::atomic<int> holders_{1};    // the owner and the threads of server calls
};

void WaveOutDevice::Open(const WAVEFORMATEX& f) {
  QuietStderr quiet;
  for (int attempt = 0; attempt < 2; ++attempt) {
    const bool fresh = !initialized;
    if (fresh) {
      if ((openError_ = Pa_Initialize()) != paNoError) {
        openText_ = "Sound system unavailable (" + paText(openError_) + ")";
        return;
      }
      initialized = true;
      snd_lib_error_set_handler(quietAlsaErrors);  // underrun notes would go to stderr
    }
    const PaDeviceIndex device = Pa_GetDefaultOutputDevice();
    openError_ = paDeviceUnavailable;
    if (device != paNoDevice) {
      PaStreamParameters out{};
      out.device = device;
      out.channelCount = f.nChannels;
      out.sampleFormat = f.wBitsPerSample == 8 ? paUInt8 : paInt16;
      // A deep buffer, so that a busy machine does not break the sound up. The
      // stream starts with it filled from the data, positions are compensated
      // for it, and a stop drops what it holds.
      out.suggestedLatency = std::max(Pa_GetDeviceInfo(device)->defaultHighOutputLatency, 0.15);
      openError_ = Pa_OpenStream(&stream_, nullptr, &out, f.nSamplesPerSec, paFramesPerBufferUnspecified,
                                 paPrimeOutputBuffersUsingStreamCallback, Callback, this);
    }
    if (openError_ == paNoError) {
      ++openDevices;
      open_ = true;
      latency_ = Pa_GetStreamInfo(stream_)->outputLatency;
      position_ = PlayPosition(rate_, latency_);
      if (Pa_GetHostApiInfo(Pa_GetDeviceInfo(device)->hostApi)->type == paALSA)
        PaAlsa_EnableRealtimeScheduling(stream_, 1);
      return;
    }
    if (openDevices == 0) {
      Pa_Terminate();
      initialized = false;
    }
    if (fresh || initialized) break;  // else the devices probed earlier may be stale: once more
  }
  openText_ = openError_ == paDeviceUnavailable ? "No sound output device available (" + paText(openError_) + ")"
                                                : "Cannot open the sound output (" + paText(openError_) + ")";
}

MMRESULT waveOutOpen(HWAVEOUT* phwo, UINT uDeviceID, const WAVEFORMATEX* pwfx, DWORD_PTR, DWORD_PTR, DWORD fdwOpen) {
  if (!phwo || !pwfx) return fail(MMSYSERR_INVALPARAM, "Invalid parameter passed to the sound output");
  *phwo = nullptr;
  if (fdwOpen != CALLBACK_NULL) return fail(MMSYSERR_INVALFLAG, "Unsupported sound output open flags");
  if (uDeviceID != WAVE_MAPPER && uDeviceID != 0) return fail(MMSYSERR_BADDEVICEID, "No such sound output device");
  const WAVEFORMATEX f = *pwfx;
  if (f.wFormatTag != WAVE_FORMAT_PCM || (f.wBitsPerSample != 8 && f.wBitsPerSample != 16) || f.nChannels == 0 ||
      f.nSamplesPerSec == 0 || f.nBlockAlign != f.nChannels * f.wBitsPerSample / 8)
    return fail(WAVERR_BADFORMAT, "The sound output does not support this wave format");
  if (unanswered > 0) return fail(MMSYSERR_ERROR, kNoAnswer);

  auto* dev = new WaveOutDevice(f);
  const bool answered = dev->serverCall([dev, f] { dev->Open(f); });
  if (!answered || dev->openError_ != paNoError) {
    const std::string text = answered ? dev->openText_ : kNoAnswer;
    const PaError err = answered ? dev->openError_ : paNoError;
    WaveOutDevice::release(dev);
    return fail(err == paDeviceUnavailable ? MMSYSERR_NODRIVER
                : err == paInvalidSampleRate || err == paInvalidChannelCount ? WAVERR_BADFORMAT
                                                                             : MMSYSERR_ERROR,
                text);
  }
  *phwo = dev;
  return MMSYSERR_NOERROR;
}

namespace {
MMRESULT badHandle() { return fail(MMSYSERR_INVALHANDLE, "Invalid sound output handle"); }
MMRESULT badHeader() { return fail(MMSYSERR_INVALPARAM, "Invalid sound buffer header"); }
bool validHeader(const WAVEHDR* pwh, UINT cbwh) { return pwh && cbwh == sizeof(WAVEHDR); }
}  // namespace

MMRESULT waveOutPrepareHeader(HWAVEOUT hwo, WAVEHDR* pwh, UINT cbwh) {
  if (!hwo) return badHandle();
  if (!validHeader(pwh, cbwh) || (!pwh->lpData && pwh->dwBufferLength > 0)) return badHeader();
  if (!(pwh->dwFlags & WHDR_INQUEUE)) pwh->dwFlags |= WHDR_PREPARED;
  return MMSYSERR_NOERROR;
}
MMRESULT waveOutUnprepareHeader(HWAVEOUT hwo, WAVEHDR* pwh, UINT cbwh) {
  return !hwo ? badHandle() : validHeader(pwh, cbwh) ? hwo->Unprepare(pwh) : badHeader();
}
MMRESULT waveOutWrite(HWAVEOUT hwo, WAVEHDR* pwh, UINT cbwh) {
  return !hwo ? badHandle() : validHeader(pwh, cbwh) ? hwo->Write(pwh) : badHeader();
}
MMRESULT waveOutMarkFilled(HWAVEOUT hwo, WAVEHDR* pwh, DWORD bytes) {
  return !hwo ? badHandle() : pwh ? hwo->MarkFilled(pwh, bytes) : badHeader();
}
MMRESULT waveOutGetPosition(HWAVEOUT hwo, MMTIME* pmmt, UINT cbmmt) {
  if (!hwo) return badHandle();
  if (!pmmt || cbmmt != sizeof(MMTIME)) return fail(MMSYSERR_INVALPARAM, "Invalid time record");
  pmmt->wType = TIME_SAMPLES;
  pmmt->sample = DWORD(hwo->Position());
  return MMSYSERR_NOERROR;
}
MMRESULT waveOutPause(HWAVEOUT hwo) { return hwo ? hwo->Pause() : badHandle(); }
MMRESULT waveOutReset(HWAVEOUT hwo) { return hwo ? hwo->Reset() : badHandle(); }
MMRESULT waveOutClose(HWAVEOUT hwo) { return hwo ? hwo->Close() : badHandle(); }

std::string LastErrorText() { return lastErrorText; }

}  // namespace WaveOut
