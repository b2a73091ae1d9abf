#include "playback/WaveOut.h"

#include "blockmove/BlockMove.h"
#include "playback/PlayPosition.h"

#include <alsa/asoundlib.h>
#include <pa_linux_alsa.h>
#include <portaudio.h>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <utility>

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
  const int saved = dup(STDERR_FILENO), null = open("/dev/null", O_WRONLY | O_CLOEXEC);
  QuietStderr() {
    if (saved >= 0 && null >= 0) dup2(null, STDERR_FILENO);
  }
  ~QuietStderr() {
    if (saved >= 0) dup2(saved, STDERR_FILENO), close(saved);
    if (null >= 0) close(null);
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
// thread: the buffer it feeds from and how far that is filled, how far it fed,
// and the timing of what it handed over (PlayPosition). It takes no lock,
// allocates nothing, makes no system call and waits for nothing; the owner
// does the bookkeeping when it polls.
class WaveOutDevice {
 public:
  explicit WaveOutDevice(const WAVEFORMATEX& f)
      : frameBytes_(f.nBlockAlign), rate_(f.nSamplesPerSec), silence_(f.wBitsPerSample == 8 ? 0x80 : 0) {}

  // Opens the stream, initialising the library when needed (in a server call).
  void Open(const WAVEFORMATEX& f);

  MMRESULT Write(WAVEHDR* h) {
    if (buffer_ || (h->dwFlags & WHDR_INQUEUE)) return fail(WAVERR_STILLPLAYING, "A sound buffer is still playing");
    if (lost_ || !stopStream()) return fail(MMSYSERR_ERROR, kNoAnswer);
    buffer_ = h;
    bufferStart_ = position_->HandedData();
    h->dwFlags = (h->dwFlags & ~WHDR_DONE) | WHDR_INQUEUE;
    if (paused_) return MMSYSERR_NOERROR;
    fed_ = 0;
    filled_ = marked_ == h ? markedFrames_ : framesOf(h);
    feed_ = reinterpret_cast<const std::uint8_t*>(h->lpData);
    halting_ = false;
    if (!serverCall([this] {
          startedAt_ = Pa_GetStreamTime(stream_);
          streamOffset_ = startedAt_ - steadySeconds();
          lastCallback_ = steadySeconds();
          startError_ = Pa_StartStream(stream_);
        }))
      return fail(MMSYSERR_ERROR, kNoAnswer);
    position_->Started(startedAt_);
    if (startError_ != paNoError) {
      giveBack();
      return fail(MMSYSERR_ERROR, "Cannot start the sound output (" + paText(startError_) + ")");
    }
    running_ = true;
    return MMSYSERR_NOERROR;
  }

  // Brings the position and the buffer up to date: the buffer goes back once
  // its last frame has been heard, or when the output stopped calling back
  // (the server went away), so nobody waits for it forever. The stream time
  // comes from the steady clock: asking the library for it can wait for the
  // sound thread, which may wait for the server.
  void Refresh() {
    if (lost_ || !running_ || paused_) return;
    position_->Advance(steadySeconds() + streamOffset_);
    if (!buffer_) return;
    const std::uint64_t fed = fed_;
    if ((fed == framesOf(buffer_) && bufferStart_ + fed <= position_->Heard()) ||
        steadySeconds() - lastCallback_ > 1.0 + latency_)
      giveBack();
  }

  // Stops the stream if it runs, dropping what the server still buffers; false
  // when the server does not answer. The callback ends the stream itself
  // (within one callback period): aborting it from outside cancels the sound
  // thread, which leaves the sound libraries' locks to chance, so only a
  // stream whose callback no longer runs is aborted.
  bool stopStream() {
    if (!running_) return true;
    halting_ = true;
    if (!serverCall([this] {
          for (int ms = 0; ms < 250 && Pa_IsStreamActive(stream_) == 1; ++ms)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
          Pa_IsStreamActive(stream_) == 1 ? Pa_AbortStream(stream_) : Pa_StopStream(stream_);
        }))
      return false;
    running_ = false;
    position_->Stopped();
    return true;
  }

  // Once this returns, the callback reads the buffer no more.
  void giveBack() {
    feed_ = nullptr;
    while (busy_) std::this_thread::yield();
    if (buffer_) buffer_->dwFlags = (buffer_->dwFlags & ~WHDR_INQUEUE) | WHDR_DONE;
    buffer_ = nullptr;
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
      int state = 0;  // 1: returned; 2: given up on
    };
    auto shared = std::make_shared<Shared>();
    ++holders_;
    std::thread([this, shared, call = std::move(call)] {
      std::unique_lock library(libraryMutex);
      call();
      std::unique_lock lock(shared->mutex);
      const bool late = std::exchange(shared->state, 1) == 2;
      shared->done.notify_one();
      lock.unlock();
      if (late && open_) {
        Pa_AbortStream(stream_);
        closeStream();
      }
      library.unlock();
      if (late) --unanswered;
      Release(this);
    }).detach();
#if defined(__SANITIZE_THREAD__) || defined(__SANITIZE_ADDRESS__)
    constexpr auto patience = std::chrono::seconds(8);
#else
    constexpr auto patience = std::chrono::seconds(2);
#endif
    std::unique_lock lock(shared->mutex);
    if (shared->done.wait_for(lock, patience, [&] { return shared->state == 1; })) return true;
    ++unanswered;
    shared->state = 2;
    lost_ = true;
    giveBack();
    return false;
  }

  // The library's lock is held.
  void closeStream() {
    QuietStderr quiet;
    Pa_CloseStream(stream_);
    --openDevices;
    open_ = false;
  }

  static void Release(WaveOutDevice* d) {
    if (d->holders_.fetch_sub(1) == 1) delete d;
  }

  std::uint64_t framesOf(const WAVEHDR* h) const { return h->dwBufferLength / frameBytes_; }

  PaStream* stream_ = nullptr;
  const unsigned frameBytes_;
  const double rate_;
  const std::uint8_t silence_;
  PaTime latency_ = 0;  // the output latency the stream runs with
  PaError openError_ = paNoError, startError_ = paNoError;
  std::string openText_;
  PaTime startedAt_ = 0;

  // Shared with the callback.
  std::atomic<const std::uint8_t*> feed_{nullptr};  // the samples it feeds from; null: silence
  std::atomic<std::uint64_t> filled_{0};            // of them filled
  std::atomic<std::uint64_t> fed_{0};               // of them handed over
  std::atomic<bool> halting_{false};                // the callback is to end the stream
  std::atomic<bool> busy_{false};                   // the callback is running
  std::atomic<double> streamOffset_{0};             // stream time minus steady time
  std::atomic<double> lastCallback_{0};             // steady time of the last callback (or the start)
  std::optional<PlayPosition> position_;            // made when the stream opens

  // The owner's.
  WAVEHDR* buffer_ = nullptr;       // written, not yet given back
  WAVEHDR* marked_ = nullptr;       // a buffer only partly filled so far
  std::uint64_t markedFrames_ = 0;  // its frames that are filled
  std::uint64_t bufferStart_ = 0;   // data frames handed over before it
  bool running_ = false, paused_ = false, lost_ = false;
  std::atomic<bool> open_{false};  // the stream is open
  std::atomic<int> holders_{1};    // the owner and the threads of server calls

 private:
  // The stream callback, on the sound server's real-time thread.
  static int Callback(const void*, void* output, unsigned long frames, const PaStreamCallbackTimeInfo* time,
                      PaStreamCallbackFlags, void* user) {
    auto* d = static_cast<WaveOutDevice*>(user);
    auto* out = static_cast<std::uint8_t*>(output);
    d->busy_ = true;
    unsigned long done = 0;
    const bool halting = d->halting_;
    if (const std::uint8_t* data = halting ? nullptr : d->feed_.load()) {
      const std::uint64_t filled = d->filled_, fed = d->fed_;
      done = static_cast<unsigned long>(std::min<std::uint64_t>(frames, filled - std::min(filled, fed)));
      if (done > 0) BlockMove::Move(data + fed * d->frameBytes_, out, std::intptr_t(done * d->frameBytes_));
      d->fed_ = fed + done;
    }
    std::memset(out + done * d->frameBytes_, d->silence_, (frames - done) * d->frameBytes_);
    d->position_->Handed(frames, done, time->outputBufferDacTime);
    const double now = steadySeconds();
    d->streamOffset_ = time->currentTime - now;
    d->lastCallback_ = now;
    d->busy_ = false;
    return halting ? paAbort : paContinue;
  }
};

void WaveOutDevice::Open(const WAVEFORMATEX& f) {
  QuietStderr quiet;
  for (int attempt = 0; attempt < 2; ++attempt) {
    const bool fresh = !initialized;
    if (fresh && (openError_ = Pa_Initialize()) != paNoError) {
      openText_ = "Sound system unavailable (" + paText(openError_) + ")";
      return;
    }
    if (fresh) snd_lib_error_set_handler(quietAlsaErrors);  // underrun notes would go to stderr
    initialized = true;
    const PaDeviceIndex device = Pa_GetDefaultOutputDevice();
    openError_ = paDeviceUnavailable;
    if (device != paNoDevice) {
      // A deep buffer, so that a busy machine does not break the sound up. The
      // stream starts with it filled from the data, positions are compensated
      // for it, and a stop drops what it holds.
      const PaStreamParameters out{device, f.nChannels, f.wBitsPerSample == 8 ? paUInt8 : paInt16,
                                   std::max(Pa_GetDeviceInfo(device)->defaultHighOutputLatency, 0.15), nullptr};
      openError_ = Pa_OpenStream(&stream_, nullptr, &out, f.nSamplesPerSec, paFramesPerBufferUnspecified,
                                 paPrimeOutputBuffersUsingStreamCallback, Callback, this);
    }
    if (openError_ == paNoError) {
      ++openDevices;
      open_ = true;
      latency_ = Pa_GetStreamInfo(stream_)->outputLatency;
      position_.emplace(rate_, latency_);
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

namespace {

// The checks of a handle and a header: 0 when they pass.
MMRESULT badCall(HWAVEOUT hwo, const WAVEHDR* pwh, UINT cbwh = sizeof(WAVEHDR)) {
  if (!hwo) return fail(MMSYSERR_INVALHANDLE, "Invalid sound output handle");
  if (!pwh || cbwh != sizeof(WAVEHDR)) return fail(MMSYSERR_INVALPARAM, "Invalid sound buffer header");
  return MMSYSERR_NOERROR;
}

MMRESULT unprepared() { return fail(WAVERR_UNPREPARED, "The sound buffer is not prepared"); }

}  // namespace

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
  if (answered && dev->openError_ == paNoError) {
    *phwo = dev;
    return MMSYSERR_NOERROR;
  }
  const PaError err = answered ? dev->openError_ : paNoError;
  const std::string text = answered ? dev->openText_ : kNoAnswer;
  WaveOutDevice::Release(dev);
  return fail(err == paDeviceUnavailable                                     ? MMSYSERR_NODRIVER
              : err == paInvalidSampleRate || err == paInvalidChannelCount ? WAVERR_BADFORMAT
                                                                           : MMSYSERR_ERROR,
              text);
}

MMRESULT waveOutPrepareHeader(HWAVEOUT hwo, WAVEHDR* pwh, UINT cbwh) {
  if (const MMRESULT bad = badCall(hwo, pwh, cbwh)) return bad;
  if (!pwh->lpData && pwh->dwBufferLength > 0) return badCall(hwo, nullptr);
  if (!(pwh->dwFlags & WHDR_INQUEUE)) pwh->dwFlags |= WHDR_PREPARED;
  return MMSYSERR_NOERROR;
}

MMRESULT waveOutUnprepareHeader(HWAVEOUT hwo, WAVEHDR* pwh, UINT cbwh) {
  if (const MMRESULT bad = badCall(hwo, pwh, cbwh)) return bad;
  if (pwh->dwFlags & WHDR_INQUEUE) hwo->Refresh();
  if (pwh->dwFlags & WHDR_INQUEUE) return fail(WAVERR_STILLPLAYING, "The sound buffer is still playing");
  pwh->dwFlags &= ~WHDR_PREPARED;
  if (hwo->marked_ == pwh) hwo->marked_ = nullptr;
  return MMSYSERR_NOERROR;
}

MMRESULT waveOutWrite(HWAVEOUT hwo, WAVEHDR* pwh, UINT cbwh) {
  if (const MMRESULT bad = badCall(hwo, pwh, cbwh)) return bad;
  return pwh->dwFlags & WHDR_PREPARED ? hwo->Write(pwh) : unprepared();
}

MMRESULT waveOutMarkFilled(HWAVEOUT hwo, WAVEHDR* pwh, DWORD bytes) {
  if (const MMRESULT bad = badCall(hwo, pwh)) return bad;
  if (!(pwh->dwFlags & WHDR_PREPARED)) return unprepared();
  hwo->marked_ = pwh;
  hwo->markedFrames_ = std::min<std::uint64_t>(bytes / hwo->frameBytes_, hwo->framesOf(pwh));
  if (hwo->buffer_ == pwh) hwo->filled_ = hwo->markedFrames_;
  return MMSYSERR_NOERROR;
}

MMRESULT waveOutGetPosition(HWAVEOUT hwo, MMTIME* pmmt, UINT cbmmt) {
  if (!hwo) return badCall(hwo, nullptr);
  if (!pmmt || cbmmt != sizeof(MMTIME)) return fail(MMSYSERR_INVALPARAM, "Invalid time record");
  hwo->Refresh();
  pmmt->wType = TIME_SAMPLES;
  pmmt->sample = DWORD(hwo->position_->Frames());
  return MMSYSERR_NOERROR;
}

MMRESULT waveOutPause(HWAVEOUT hwo) {
  if (!hwo) return badCall(hwo, nullptr);
  if (!hwo->lost_ && !hwo->paused_) {
    hwo->Refresh();
    hwo->paused_ = true;
    hwo->stopStream();
  }
  return hwo->lost_ ? fail(MMSYSERR_ERROR, kNoAnswer) : MMSYSERR_NOERROR;
}

MMRESULT waveOutReset(HWAVEOUT hwo) {
  if (!hwo) return badCall(hwo, nullptr);
  if (hwo->lost_ || !hwo->stopStream()) return fail(MMSYSERR_ERROR, kNoAnswer);
  hwo->giveBack();
  hwo->position_->Rebase();
  return MMSYSERR_NOERROR;
}

// Closes the stream and lets the handle go, also when that gives up. A lost
// device's stream is closed by the call that was given up, once it returns.
MMRESULT waveOutClose(HWAVEOUT hwo) {
  if (!hwo) return badCall(hwo, nullptr);
  if (hwo->buffer_) return fail(WAVERR_STILLPLAYING, "Sound buffers are still playing");
  const bool answered = hwo->lost_ || (hwo->stopStream() && hwo->serverCall([hwo] { hwo->closeStream(); }));
  WaveOutDevice::Release(hwo);
  return answered ? MMSYSERR_NOERROR : fail(MMSYSERR_ERROR, kNoAnswer);
}

std::string LastErrorText() { return lastErrorText; }

}  // namespace WaveOut
