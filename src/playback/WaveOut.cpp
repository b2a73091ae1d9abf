#include "WaveOut.h"

#include "BlockMove.h"

#include <alsa/asoundlib.h>
#include <pa_linux_alsa.h>
#include <portaudio.h>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <thread>
#include <array>
#include <atomic>
#include <cmath>
#include <cstring>
#include <deque>
#include <limits>
#include <memory>
#include <mutex>
#include <new>

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

struct Queued {
  WAVEHDR* hdr;
  std::uint64_t dataStart;  // data frames (over the device's life) before this buffer
  std::uint64_t dataEnd;
};

// What one callback handed to the server: data frames first, then silence.
struct CallbackRecord {
  std::uint64_t streamStart;  // frames of any kind handed over before this callback
  std::uint64_t dataStart;    // data frames handed over before this callback
  unsigned long frameCount;
  unsigned long dataCount;
  PaTime dacTime;  // when the first frame reaches the output
};

}  // namespace

struct WaveOutDevice {
  PaStream* stream = nullptr;
  unsigned frameBytes = 0;
  double rate = 0;
  BYTE silence = 0;
  PaTime latency = 0;  // the output latency the stream runs with

  // Everything below is shared with the stream callback.
  std::mutex mutex;
  std::deque<Queued> queue;  // written, not yet heard to the end
  std::size_t feedIndex = 0;  // queue entry being handed over
  std::uint64_t feedFrames = 0;  // frames of that entry already handed over
  std::uint64_t streamFrames = 0;
  std::uint64_t dataFrames = 0;  // data frames handed over; the next buffer's start
  std::array<CallbackRecord, 64> history{};
  std::size_t historyCount = 0;
  std::size_t historyNext = 0;
  PaTime startedAt = 0;     // when the stream was last started
  PaTime lastCallback = 0;  // when the callback last ran (or the start)
  std::uint64_t heard = 0;         // data frames heard; never decreases
  std::uint64_t positionBase = 0;  // `heard` counted from here (open or last reset)
  bool running = false;  // the stream is started
  bool paused = false;   // waveOutPause: nothing is handed over until waveOutRestart
  bool halting = false;  // the callback is to end the stream

  std::uint64_t framesOf(const WAVEHDR* h) const { return h->dwBufferLength / frameBytes; }

  const CallbackRecord& record(std::size_t back) const {
    return history[(historyNext + history.size() - 1 - back) % history.size()];
  }

  // Data frames heard at stream time `now`: the newest callback's first frame,
  // carried forward to `now` from the time it reaches the output, mapped back
  // through the recent callbacks to the data frames among the frames heard.
  // While the stream fills its buffer after a start, the output times the
  // callbacks get are guesses (the server starts later than they assume), so
  // only callbacks from one output latency after the start are trusted.
  void updateHeard(PaTime now) {
    if (!running || paused || historyCount == 0) return;
    const CallbackRecord& latest = record(0);
    if (latest.dacTime < startedAt + 2 * latency) return;
    const double h = double(latest.streamStart) + (now - latest.dacTime) * rate;
    std::uint64_t data = dataFrames;
    if (h < double(latest.streamStart + latest.frameCount)) {
      const std::uint64_t hf = h <= 0 ? 0 : std::uint64_t(h);
      std::size_t k = 0;
      while (k < historyCount && hf < record(k).streamStart) ++k;
      if (k == historyCount) return;  // older than what we remember: nothing new heard
      const CallbackRecord& r = record(k);
      data = r.dataStart + std::min<std::uint64_t>(hf - r.streamStart, r.dataCount);
    }
    heard = std::max(heard, data);
  }

  void giveBack(WAVEHDR* h) { h->dwFlags = (h->dwFlags & ~WHDR_INQUEUE) | WHDR_DONE; }

  // Gives back every buffer whose last frame has been heard.
  void retireHeard() {
    while (!queue.empty() && feedIndex > 0 && queue.front().dataEnd <= heard) {
      giveBack(queue.front().hdr);
      queue.pop_front();
      --feedIndex;
    }
  }

  // What the poll functions call: brings positions and buffers up to date. An
  // output that stopped calling back (the server went away) gives every
  // buffer back, so nobody waits for it forever.
  void refresh() {
    const PaTime now = Pa_GetStreamTime(stream);
    updateHeard(now);
    retireHeard();
    if (running && !paused && now - lastCallback > 1.0 + latency) giveBackAll();
  }

  void giveBackAll() {
    for (const Queued& q : queue) giveBack(q.hdr);
    queue.clear();
    feedIndex = 0;
    feedFrames = 0;
  }

  // Skips entries that have nothing left to hand over.
  void skipFedEntries() {
    while (feedIndex < queue.size() && feedFrames >= framesOf(queue[feedIndex].hdr)) {
      ++feedIndex;
      feedFrames = 0;
    }
  }

  int fill(BYTE* out, unsigned long frames, const PaStreamCallbackTimeInfo* time) {
    std::lock_guard lock(mutex);
    if (halting) {
      std::memset(out, silence, std::uint64_t(frames) * frameBytes);
      return paAbort;
    }
    unsigned long done = 0;
    if (!paused) {
      skipFedEntries();
      while (done < frames && feedIndex < queue.size()) {
        WAVEHDR* h = queue[feedIndex].hdr;
        const std::uint64_t n = std::min<std::uint64_t>(frames - done, framesOf(h) - feedFrames);
        BlockMove::Move(h->lpData + feedFrames * frameBytes, out + std::uint64_t(done) * frameBytes,
                        std::intptr_t(n * frameBytes));
        done += n;
        feedFrames += n;
        skipFedEntries();
      }
    }
    std::memset(out + std::uint64_t(done) * frameBytes, silence, std::uint64_t(frames - done) * frameBytes);
    history[historyNext] = {streamFrames, dataFrames, frames, done, time->outputBufferDacTime};
    historyNext = (historyNext + 1) % history.size();
    historyCount = std::min(historyCount + 1, history.size());
    streamFrames += frames;
    dataFrames += done;
    lastCallback = time->currentTime;
    updateHeard(time->currentTime);
    retireHeard();
    return paContinue;
  }

  // After the stream was stopped: what was handed over but not heard is
  // handed over again when the output resumes.
  void rewindFeedToHeard() {
    dataFrames = std::max(heard, positionBase);
    feedIndex = 0;
    feedFrames = 0;
    while (feedIndex < queue.size() && queue[feedIndex].dataEnd <= dataFrames) ++feedIndex;
    if (feedIndex < queue.size()) feedFrames = dataFrames - queue[feedIndex].dataStart;
    historyCount = 0;
  }

  bool hasDataToFeed() {
    skipFedEntries();
    return feedIndex < queue.size();
  }

  // Starts the stream; the caller has set `running`. The stream fills its
  // buffer from the callback before it starts, so written data is heard
  // without a run of silence ahead of it.
  MMRESULT start() {
    {
      std::lock_guard lock(mutex);
      startedAt = lastCallback = Pa_GetStreamTime(stream);
    }
    const PaError err = Pa_StartStream(stream);
    if (err == paNoError) return MMSYSERR_NOERROR;
    std::lock_guard lock(mutex);
    running = false;
    giveBackAll();
    return fail(MMSYSERR_ERROR, "Cannot start the sound output (" + paText(err) + ")");
  }

  // Stops the stream at once, dropping what the server still buffers. The
  // callback ends the stream itself (within one callback period): aborting
  // it from outside would cancel the sound thread, which leaves the sound
  // libraries' locks to chance. Only a stream whose callback no longer runs
  // is aborted from outside.
  void stop() {
    {
      std::lock_guard lock(mutex);
      halting = true;
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(250);
    while (Pa_IsStreamActive(stream) == 1 && std::chrono::steady_clock::now() < deadline)
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    if (Pa_IsStreamActive(stream) == 1)
      Pa_AbortStream(stream);
    else
      Pa_StopStream(stream);  // the callback has finished: this only joins the sound thread
    std::lock_guard lock(mutex);
    halting = false;
    running = false;
    rewindFeedToHeard();
  }
};

namespace {

int streamCallback(const void*, void* output, unsigned long frames, const PaStreamCallbackTimeInfo* time,
                   PaStreamCallbackFlags, void* user) {
  return static_cast<WaveOutDevice*>(user)->fill(static_cast<BYTE*>(output), frames, time);
}

void quietAlsaErrors(const char*, int, const char*, int, const char*, ...) {}

// Opens the stream of the default output device; it starts on the first write.
PaError openDefaultStream(WaveOutDevice& dev, const WAVEFORMATEX& f) {
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
  const PaError err = Pa_OpenStream(&dev.stream, nullptr, &out, f.nSamplesPerSec, paFramesPerBufferUnspecified,
                                    paPrimeOutputBuffersUsingStreamCallback, streamCallback, &dev);
  if (err != paNoError) return err;
  dev.latency = Pa_GetStreamInfo(dev.stream)->outputLatency;
  // Where the system lets us, the sound thread gets real-time priority so
  // that a busy machine does not break the sound up.
  if (Pa_GetHostApiInfo(Pa_GetDeviceInfo(device)->hostApi)->type == paALSA)
    PaAlsa_EnableRealtimeScheduling(dev.stream, 1);
  return paNoError;
}

void closeStream(WaveOutDevice* dev) {
  bool running = false;
  {
    std::lock_guard lock(dev->mutex);
    running = dev->running;
  }
  if (running) dev->stop();
  std::lock_guard lock(library.mutex);
  QuietStderr quiet;
  Pa_CloseStream(dev->stream);
  --library.openDevices;
}

}  // namespace

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

  auto dev = std::make_unique<WaveOutDevice>();
  dev->frameBytes = f.nBlockAlign;
  dev->rate = f.nSamplesPerSec;
  dev->silence = f.wBitsPerSample == 8 ? 0x80 : 0;

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
    err = openDefaultStream(*dev, f);
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
  std::lock_guard lock(hwo->mutex);
  if (!(pwh->dwFlags & WHDR_INQUEUE)) pwh->dwFlags |= WHDR_PREPARED;
  return MMSYSERR_NOERROR;
}

MMRESULT waveOutUnprepareHeader(HWAVEOUT hwo, WAVEHDR* pwh, UINT cbwh) {
  if (!hwo) return fail(MMSYSERR_INVALHANDLE, "Invalid sound output handle");
  if (!pwh || cbwh != sizeof(WAVEHDR)) return fail(MMSYSERR_INVALPARAM, "Invalid sound buffer header");
  std::lock_guard lock(hwo->mutex);
  if (pwh->dwFlags & WHDR_INQUEUE) {
    hwo->refresh();
    if (pwh->dwFlags & WHDR_INQUEUE) return fail(WAVERR_STILLPLAYING, "The sound buffer is still playing");
  }
  pwh->dwFlags &= ~WHDR_PREPARED;
  return MMSYSERR_NOERROR;
}

MMRESULT waveOutWrite(HWAVEOUT hwo, WAVEHDR* pwh, UINT cbwh) {
  if (!hwo) return fail(MMSYSERR_INVALHANDLE, "Invalid sound output handle");
  if (!pwh || cbwh != sizeof(WAVEHDR)) return fail(MMSYSERR_INVALPARAM, "Invalid sound buffer header");
  bool start = false;
  {
    std::lock_guard lock(hwo->mutex);
    if (!(pwh->dwFlags & WHDR_PREPARED)) return fail(WAVERR_UNPREPARED, "The sound buffer is not prepared");
    if (pwh->dwFlags & WHDR_INQUEUE) return fail(WAVERR_STILLPLAYING, "The sound buffer is still playing");
    const std::uint64_t first = hwo->queue.empty() ? hwo->dataFrames : hwo->queue.back().dataEnd;
    hwo->queue.push_back({pwh, first, first + hwo->framesOf(pwh)});
    pwh->dwFlags = (pwh->dwFlags & ~WHDR_DONE) | WHDR_INQUEUE;
    start = !hwo->running && !hwo->paused;
    hwo->running = hwo->running || start;
  }
  return start ? hwo->start() : MMSYSERR_NOERROR;
}

MMRESULT waveOutGetPosition(HWAVEOUT hwo, MMTIME* pmmt, UINT cbmmt) {
  if (!hwo) return fail(MMSYSERR_INVALHANDLE, "Invalid sound output handle");
  if (!pmmt || cbmmt != sizeof(MMTIME)) return fail(MMSYSERR_INVALPARAM, "Invalid time record");
  std::lock_guard lock(hwo->mutex);
  hwo->refresh();
  const std::uint64_t frames = hwo->heard > hwo->positionBase ? hwo->heard - hwo->positionBase : 0;
  switch (pmmt->wType) {
    case TIME_BYTES: pmmt->cb = DWORD(frames * hwo->frameBytes); break;
    case TIME_MS: pmmt->ms = DWORD(std::llround(double(frames) * 1000.0 / hwo->rate)); break;
    default:
      pmmt->wType = TIME_SAMPLES;
      pmmt->sample = DWORD(frames);
      break;
  }
  return MMSYSERR_NOERROR;
}

MMRESULT waveOutPause(HWAVEOUT hwo) {
  if (!hwo) return fail(MMSYSERR_INVALHANDLE, "Invalid sound output handle");
  bool stop = false;
  {
    std::lock_guard lock(hwo->mutex);
    if (hwo->paused) return MMSYSERR_NOERROR;
    hwo->updateHeard(Pa_GetStreamTime(hwo->stream));
    hwo->paused = true;  // the callback hands over silence from now on
    stop = hwo->running;
  }
  if (stop) hwo->stop();
  return MMSYSERR_NOERROR;
}

MMRESULT waveOutRestart(HWAVEOUT hwo) {
  if (!hwo) return fail(MMSYSERR_INVALHANDLE, "Invalid sound output handle");
  bool start = false;
  {
    std::lock_guard lock(hwo->mutex);
    if (!hwo->paused) return MMSYSERR_NOERROR;
    hwo->paused = false;
    start = !hwo->running && hwo->hasDataToFeed();
    hwo->running = hwo->running || start;
  }
  return start ? hwo->start() : MMSYSERR_NOERROR;
}

MMRESULT waveOutReset(HWAVEOUT hwo) {
  if (!hwo) return fail(MMSYSERR_INVALHANDLE, "Invalid sound output handle");
  bool stop = false;
  {
    std::lock_guard lock(hwo->mutex);
    stop = hwo->running;
  }
  if (stop) hwo->stop();  // ends the sound of the dropped buffers too
  std::lock_guard lock(hwo->mutex);
  hwo->giveBackAll();
  hwo->heard = std::max(hwo->heard, hwo->dataFrames);
  hwo->positionBase = hwo->heard;
  hwo->rewindFeedToHeard();
  return MMSYSERR_NOERROR;
}

MMRESULT waveOutClose(HWAVEOUT hwo) {
  if (!hwo) return fail(MMSYSERR_INVALHANDLE, "Invalid sound output handle");
  {
    std::lock_guard lock(hwo->mutex);
    if (!hwo->queue.empty()) return fail(WAVERR_STILLPLAYING, "Sound buffers are still playing");
  }
  std::unique_ptr<WaveOutDevice> device(hwo);
  closeStream(hwo);
  return MMSYSERR_NOERROR;
}

std::string LastErrorText() { return lastErrorText; }

}  // namespace WaveOut
