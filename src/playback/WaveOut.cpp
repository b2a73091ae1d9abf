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
#include <cstring>
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

// The audio library is initialised on the first open and stays so for the
// process (initialising costs about 90 ms, which every Play would otherwise
// wait for). A failed open drops it again, so the next open probes the
// devices afresh once a sound server has appeared. It is not terminated at
// exit: a playback thread may still be in it while the process ends.
struct AudioLibrary {
  std::mutex mutex;  // guards initialisation and stream open/close
  bool initialized = false;
  int openDevices = 0;
};
AudioLibrary library;

// The audio library and the sound-system plug-ins below it print probing
// chatter on stderr; the user's terminal should not see it.
class QuietStderr {
 public:
  QuietStderr() : saved_(dup(STDERR_FILENO)) {
    const int null = open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (saved_ >= 0 && null >= 0) dup2(null, STDERR_FILENO);
    if (null >= 0) close(null);
  }
  ~QuietStderr() {
    if (saved_ < 0) return;
    dup2(saved_, STDERR_FILENO);
    close(saved_);
  }
  QuietStderr(const QuietStderr&) = delete;
  QuietStderr& operator=(const QuietStderr&) = delete;

 private:
  int saved_;
};

std::string paText(PaError err) {
  std::string text = Pa_GetErrorText(err);
  if (err == paUnanticipatedHostError) {
    const PaHostErrorInfo* info = Pa_GetLastHostErrorInfo();
    if (info && info->errorText && *info->errorText) text += std::string(": ") + info->errorText;
  }
  return text;
}

MMRESULT openResult(PaError err) {
  switch (err) {
    case paInvalidChannelCount:
    case paInvalidSampleRate:
    case paSampleFormatNotSupported: return WAVERR_BADFORMAT;
    case paDeviceUnavailable:
    case paNoDevice:
    case paInvalidDevice: return MMSYSERR_NODRIVER;
    case paInsufficientMemory: return MMSYSERR_NOMEM;
    default: return MMSYSERR_ERROR;
  }
}

}  // namespace

// One open output. The stream callback and the calls of the owning thread
// share the state below under `mutex_`; the callback reaches it only through
// Callback().
class WaveOutDevice {
 public:
  explicit WaveOutDevice(const WAVEFORMATEX& f)
      : frameBytes_(f.nBlockAlign), rate_(f.nSamplesPerSec), silence_(f.wBitsPerSample == 8 ? 0x80 : 0) {}

  // Opens the stream of the default output device; it starts on the first
  // write. The audio library is initialised and its lock held.
  PaError OpenStream(const WAVEFORMATEX& f);
  // Stops the sound and closes the stream, under the audio library's lock.
  void CloseStream();

  void Prepare(WAVEHDR* h) {
    std::lock_guard lock(mutex_);
    if (!(h->dwFlags & WHDR_INQUEUE)) h->dwFlags |= WHDR_PREPARED;
  }

  MMRESULT Unprepare(WAVEHDR* h) {
    std::lock_guard lock(mutex_);
    if (h->dwFlags & WHDR_INQUEUE) {
      refresh();
      if (h->dwFlags & WHDR_INQUEUE) return fail(WAVERR_STILLPLAYING, "The sound buffer is still playing");
    }
    h->dwFlags &= ~WHDR_PREPARED;
    if (marked_ == h) marked_ = nullptr;
    return MMSYSERR_NOERROR;
  }

  MMRESULT MarkFilled(WAVEHDR* h, DWORD bytes) {
    std::lock_guard lock(mutex_);
    if (!(h->dwFlags & WHDR_PREPARED)) return fail(WAVERR_UNPREPARED, "The sound buffer is not prepared");
    marked_ = h;
    markedFrames_ = std::min<std::uint64_t>(bytes / frameBytes_, framesOf(h));
    return MMSYSERR_NOERROR;
  }

  MMRESULT Write(WAVEHDR* h) {
    bool start = false;
    {
      std::lock_guard lock(mutex_);
      if (!(h->dwFlags & WHDR_PREPARED)) return fail(WAVERR_UNPREPARED, "The sound buffer is not prepared");
      if (h->dwFlags & WHDR_INQUEUE) return fail(WAVERR_STILLPLAYING, "The sound buffer is still playing");
      if (buffer_) return fail(WAVERR_STILLPLAYING, "Another sound buffer is still playing");
      buffer_ = h;
      bufferStart_ = position_.HandedData();
      fed_ = 0;
      h->dwFlags = (h->dwFlags & ~WHDR_DONE) | WHDR_INQUEUE;
      start = !running_ && !paused_;
      running_ = running_ || start;
    }
    return start ? this->start() : MMSYSERR_NOERROR;
  }

  // Frames heard since open or the last reset.
  std::uint64_t Position() {
    std::lock_guard lock(mutex_);
    refresh();
    return position_.Frames();
  }

  void Pause() {
    bool stop = false;
    {
      std::lock_guard lock(mutex_);
      if (paused_) return;
      advance(Pa_GetStreamTime(stream_));
      paused_ = true;  // the callback hands over silence from now on
      stop = running_;
    }
    if (stop) this->stop();
  }

  void Reset() {
    if (isRunning()) stop();  // ends the sound of the dropped buffer too
    std::lock_guard lock(mutex_);
    giveBack();
    position_.Rebase();
  }

  bool HoldsBuffer() {
    std::lock_guard lock(mutex_);
    return buffer_ != nullptr;
  }

 private:
  static int Callback(const void*, void* output, unsigned long frames, const PaStreamCallbackTimeInfo* time,
                      PaStreamCallbackFlags, void* user) {
    return static_cast<WaveOutDevice*>(user)->fill(static_cast<BYTE*>(output), frames, time);
  }

  std::uint64_t framesOf(const WAVEHDR* h) const { return h->dwBufferLength / frameBytes_; }

  bool isRunning() {
    std::lock_guard lock(mutex_);
    return running_;
  }

  void advance(PaTime now) {
    if (running_ && !paused_) position_.Advance(now);
  }

  void giveBack() {
    if (buffer_) buffer_->dwFlags = (buffer_->dwFlags & ~WHDR_INQUEUE) | WHDR_DONE;
    buffer_ = nullptr;
    fed_ = 0;
  }

  // Gives the buffer back once its last frame has been heard.
  void retireHeard() {
    if (buffer_ && fed_ == framesOf(buffer_) && bufferStart_ + fed_ <= position_.Heard()) giveBack();
  }

  // What the poll calls run first: brings the position and the buffer up to
  // date. An output that stopped calling back (the server went away) gives
  // the buffer back, so nobody waits for it forever.
  void refresh() {
    const PaTime now = Pa_GetStreamTime(stream_);
    advance(now);
    retireHeard();
    if (running_ && !paused_ && now - lastCallback_ > 1.0 + latency_) giveBack();
  }

  int fill(BYTE* out, unsigned long frames, const PaStreamCallbackTimeInfo* time) {
    std::lock_guard lock(mutex_);
    if (halting_) {
      std::memset(out, silence_, std::uint64_t(frames) * frameBytes_);
      return paAbort;
    }
    unsigned long done = 0;
    if (!paused_ && buffer_) {
      const std::uint64_t filled = buffer_ == marked_ ? markedFrames_ : framesOf(buffer_);
      done = static_cast<unsigned long>(std::min<std::uint64_t>(frames, filled - std::min(filled, fed_)));
      if (done > 0)
        BlockMove::Move(buffer_->lpData + fed_ * frameBytes_, out, std::intptr_t(std::uint64_t(done) * frameBytes_));
      fed_ += done;
    }
    std::memset(out + std::uint64_t(done) * frameBytes_, silence_, std::uint64_t(frames - done) * frameBytes_);
    position_.Handed(frames, done, time->outputBufferDacTime);
    lastCallback_ = time->currentTime;
    advance(time->currentTime);
    retireHeard();
    return paContinue;
  }

  // Starts the stream; the caller has set `running_`. The stream fills its
  // buffer from the callback before it starts, so written data is heard
  // without a run of silence ahead of it.
  MMRESULT start() {
    {
      std::lock_guard lock(mutex_);
      lastCallback_ = Pa_GetStreamTime(stream_);
      position_.Started(lastCallback_);
    }
    const PaError err = Pa_StartStream(stream_);
    if (err == paNoError) return MMSYSERR_NOERROR;
    std::lock_guard lock(mutex_);
    running_ = false;
    giveBack();
    return fail(MMSYSERR_ERROR, "Cannot start the sound output (" + paText(err) + ")");
  }

  // Stops the stream at once, dropping what the server still buffers. The
  // callback ends the stream itself (within one callback period): aborting
  // it from outside would cancel the sound thread, which leaves the sound
  // libraries' locks to chance. Only a stream whose callback no longer runs
  // is aborted from outside. What was handed over but not heard is handed
  // over again if the output resumes.
  void stop() {
    {
      std::lock_guard lock(mutex_);
      halting_ = true;
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(250);
    while (Pa_IsStreamActive(stream_) == 1 && std::chrono::steady_clock::now() < deadline)
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    if (Pa_IsStreamActive(stream_) == 1)
      Pa_AbortStream(stream_);
    else
      Pa_StopStream(stream_);  // the callback has finished: this only joins the sound thread
    std::lock_guard lock(mutex_);
    halting_ = false;
    running_ = false;
    const std::uint64_t resumeAt = position_.Stopped();
    if (buffer_) {
      bufferStart_ = std::min(bufferStart_, resumeAt);
      fed_ = std::min(resumeAt - bufferStart_, framesOf(buffer_));
    }
  }

  PaStream* stream_ = nullptr;
  const unsigned frameBytes_;
  const double rate_;
  const BYTE silence_;
  PaTime latency_ = 0;  // the output latency the stream runs with

  std::mutex mutex_;
  PlayPosition position_{rate_, 0};
  WAVEHDR* buffer_ = nullptr;     // written, not yet heard to the end
  WAVEHDR* marked_ = nullptr;     // a buffer only partly filled so far
  std::uint64_t markedFrames_ = 0;  // its frames that are filled
  std::uint64_t bufferStart_ = 0;  // data frames handed over before it
  std::uint64_t fed_ = 0;          // its frames handed over
  PaTime lastCallback_ = 0;        // when the callback last ran (or the start)
  bool running_ = false;  // the stream is started
  bool paused_ = false;   // waveOutPause: nothing is handed over any more
  bool halting_ = false;  // the callback is to end the stream
};

namespace {

void quietAlsaErrors(const char*, int, const char*, int, const char*, ...) {}

}  // namespace

PaError WaveOutDevice::OpenStream(const WAVEFORMATEX& f) {
  const PaDeviceIndex device = Pa_GetDefaultOutputDevice();
  if (device == paNoDevice) return paDeviceUnavailable;
  PaStreamParameters out{};
  out.device = device;
  out.channelCount = f.nChannels;
  out.sampleFormat = f.wBitsPerSample == 8 ? paUInt8 : paInt16;
  // A deep buffer, so that a busy machine does not break the sound up (the
  // low default, under 10 ms, does). It costs nothing the user notices: the
  // stream starts on the first write with its buffer filled from the data,
  // positions are compensated for it, and a stop drops what it holds.
  out.suggestedLatency = std::max(Pa_GetDeviceInfo(device)->defaultHighOutputLatency, 0.15);
  const PaError err = Pa_OpenStream(&stream_, nullptr, &out, f.nSamplesPerSec, paFramesPerBufferUnspecified,
                                    paPrimeOutputBuffersUsingStreamCallback, Callback, this);
  if (err != paNoError) return err;
  latency_ = Pa_GetStreamInfo(stream_)->outputLatency;
  position_ = PlayPosition(rate_, latency_);
  // Where the system lets us, the sound thread gets real-time priority so
  // that a busy machine does not break the sound up.
  if (Pa_GetHostApiInfo(Pa_GetDeviceInfo(device)->hostApi)->type == paALSA)
    PaAlsa_EnableRealtimeScheduling(stream_, 1);
  return paNoError;
}

void WaveOutDevice::CloseStream() {
  if (isRunning()) stop();
  std::lock_guard lock(library.mutex);
  QuietStderr quiet;
  Pa_CloseStream(stream_);
  --library.openDevices;
}

namespace {
std::atomic<std::uint64_t> openCalls{0};
}  // namespace

std::uint64_t OpenCalls() { return openCalls.load(); }

MMRESULT waveOutOpen(HWAVEOUT* phwo, UINT uDeviceID, const WAVEFORMATEX* pwfx, DWORD_PTR dwCallback,
                     DWORD_PTR dwInstance, DWORD fdwOpen) {
  ++openCalls;
  (void)dwCallback;
  (void)dwInstance;
  if (!phwo || !pwfx) return fail(MMSYSERR_INVALPARAM, "Invalid parameter passed to the sound output");
  *phwo = nullptr;
  if (fdwOpen != CALLBACK_NULL) return fail(MMSYSERR_INVALFLAG, "Unsupported sound output open flags");
  if (uDeviceID != WAVE_MAPPER && uDeviceID != 0)
    return fail(MMSYSERR_BADDEVICEID, "No such sound output device");
  const WAVEFORMATEX& f = *pwfx;
  if (f.wFormatTag != WAVE_FORMAT_PCM || (f.wBitsPerSample != 8 && f.wBitsPerSample != 16) || f.nChannels == 0 ||
      f.nSamplesPerSec == 0 || f.nBlockAlign != f.nChannels * f.wBitsPerSample / 8)
    return fail(WAVERR_BADFORMAT, "The sound output does not support this wave format");

  auto dev = std::make_unique<WaveOutDevice>(f);

  std::lock_guard lock(library.mutex);
  QuietStderr quiet;
  PaError err = paNoError;
  for (int attempt = 0; attempt < 2; ++attempt) {
    const bool fresh = !library.initialized;
    if (fresh) {
      err = Pa_Initialize();
      if (err != paNoError) return fail(MMSYSERR_ERROR, "Sound system unavailable (" + paText(err) + ")");
      library.initialized = true;
      // Underrun notes and the like would otherwise go to stderr from the
      // sound thread at any time.
      snd_lib_error_set_handler(quietAlsaErrors);
    }
    err = dev->OpenStream(f);
    if (err == paNoError) break;
    if (library.openDevices == 0) {
      Pa_Terminate();
      library.initialized = false;
    }
    // A device list probed earlier may be stale (the server went away or
    // came back): probe once more.
    if (fresh || library.initialized) break;
  }
  if (err == paDeviceUnavailable)
    return fail(MMSYSERR_NODRIVER, "No sound output device available (" + paText(err) + ")");
  if (err != paNoError) return fail(openResult(err), "Cannot open the sound output (" + paText(err) + ")");
  ++library.openDevices;
  *phwo = dev.release();
  return MMSYSERR_NOERROR;
}

MMRESULT waveOutPrepareHeader(HWAVEOUT hwo, WAVEHDR* pwh, UINT cbwh) {
  if (!hwo) return fail(MMSYSERR_INVALHANDLE, "Invalid sound output handle");
  if (!pwh || cbwh != sizeof(WAVEHDR) || (!pwh->lpData && pwh->dwBufferLength > 0))
    return fail(MMSYSERR_INVALPARAM, "Invalid sound buffer header");
  hwo->Prepare(pwh);
  return MMSYSERR_NOERROR;
}

MMRESULT waveOutUnprepareHeader(HWAVEOUT hwo, WAVEHDR* pwh, UINT cbwh) {
  if (!hwo) return fail(MMSYSERR_INVALHANDLE, "Invalid sound output handle");
  if (!pwh || cbwh != sizeof(WAVEHDR)) return fail(MMSYSERR_INVALPARAM, "Invalid sound buffer header");
  return hwo->Unprepare(pwh);
}

MMRESULT waveOutWrite(HWAVEOUT hwo, WAVEHDR* pwh, UINT cbwh) {
  if (!hwo) return fail(MMSYSERR_INVALHANDLE, "Invalid sound output handle");
  if (!pwh || cbwh != sizeof(WAVEHDR)) return fail(MMSYSERR_INVALPARAM, "Invalid sound buffer header");
  return hwo->Write(pwh);
}

MMRESULT waveOutMarkFilled(HWAVEOUT hwo, WAVEHDR* pwh, DWORD bytes) {
  if (!hwo) return fail(MMSYSERR_INVALHANDLE, "Invalid sound output handle");
  if (!pwh) return fail(MMSYSERR_INVALPARAM, "Invalid sound buffer header");
  return hwo->MarkFilled(pwh, bytes);
}

MMRESULT waveOutGetPosition(HWAVEOUT hwo, MMTIME* pmmt, UINT cbmmt) {
  if (!hwo) return fail(MMSYSERR_INVALHANDLE, "Invalid sound output handle");
  if (!pmmt || cbmmt != sizeof(MMTIME)) return fail(MMSYSERR_INVALPARAM, "Invalid time record");
  pmmt->wType = TIME_SAMPLES;
  pmmt->sample = DWORD(hwo->Position());
  return MMSYSERR_NOERROR;
}

MMRESULT waveOutPause(HWAVEOUT hwo) {
  if (!hwo) return fail(MMSYSERR_INVALHANDLE, "Invalid sound output handle");
  hwo->Pause();
  return MMSYSERR_NOERROR;
}

MMRESULT waveOutReset(HWAVEOUT hwo) {
  if (!hwo) return fail(MMSYSERR_INVALHANDLE, "Invalid sound output handle");
  hwo->Reset();
  return MMSYSERR_NOERROR;
}

MMRESULT waveOutClose(HWAVEOUT hwo) {
  if (!hwo) return fail(MMSYSERR_INVALHANDLE, "Invalid sound output handle");
  if (hwo->HoldsBuffer()) return fail(WAVERR_STILLPLAYING, "Sound buffers are still playing");
  std::unique_ptr<WaveOutDevice> device(hwo);
  device->CloseStream();
  return MMSYSERR_NOERROR;
}

std::string LastErrorText() { return lastErrorText; }

}  // namespace WaveOut
