#include "playback/WaveOut.h"

#include "blockmove/BlockMove.h"
#include "playback/PlayPosition.h"
#include "playback/SoundServer.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <functional>
#include <optional>
#include <string>
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

double steadySeconds() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// The checks of a handle and a header: 0 when they pass.
MMRESULT badCall(HWAVEOUT hwo, const WAVEHDR* pwh, UINT cbwh = sizeof(WAVEHDR)) {
  if (!hwo) return fail(MMSYSERR_INVALHANDLE, "Invalid sound output handle");
  if (!pwh || cbwh != sizeof(WAVEHDR)) return fail(MMSYSERR_INVALPARAM, "Invalid sound buffer header");
  return MMSYSERR_NOERROR;
}

MMRESULT unprepared() { return fail(WAVERR_UNPREPARED, "The sound buffer is not prepared"); }

}  // namespace

// One open output. The stream callback shares only atomics with the owner:
// it takes no lock, allocates nothing, makes no system call and waits for
// nothing; the owner does the bookkeeping when it polls. What waits for the
// server runs on the server's thread, which also deletes the closed device.
class WaveOutDevice {
 public:
  explicit WaveOutDevice(const WAVEFORMATEX& f)
      : frameBytes_(f.nBlockAlign), rate_(f.nSamplesPerSec), silence_(f.wBitsPerSample == 8 ? 0x80 : 0) {}

  MMRESULT Open(const WAVEFORMATEX& f) {
    if (!call([this, f] {
          openError_ = SoundServer::OpenOutput(&stream_, f.nChannels, f.wBitsPerSample == 8 ? paUInt8 : paInt16,
                                               f.nSamplesPerSec, Callback, this, &openText_);
          if (openError_ == paNoError) position_.emplace(rate_, latency_ = Pa_GetStreamInfo(stream_)->outputLatency);
        }))
      return fail(MMSYSERR_ERROR, kNoAnswer);
    if (openError_ == paNoError) return MMSYSERR_NOERROR;
    const bool format = openError_ == paInvalidSampleRate || openError_ == paInvalidChannelCount;
    return fail(openError_ == paDeviceUnavailable ? MMSYSERR_NODRIVER : format ? WAVERR_BADFORMAT : MMSYSERR_ERROR,
                openText_);
  }

  MMRESULT Write(WAVEHDR* h) {
    if (buffer_ || (h->dwFlags & WHDR_INQUEUE)) return fail(WAVERR_STILLPLAYING, "A sound buffer is still playing");
    if (lost_ || !stopStream()) return fail(MMSYSERR_ERROR, kNoAnswer);
    buffer_ = h;
    bufferStart_ = position_->HandedData();
    h->dwFlags = (h->dwFlags & ~WHDR_DONE) | WHDR_INQUEUE;
    fed_ = 0;
    filled_ = filledOf(h);
    feed_ = reinterpret_cast<const std::uint8_t*>(h->lpData);
    halting_ = false;
    position_->Started(lastCallback_ = steadySeconds());
    if (!call([this] { startError_ = Pa_StartStream(stream_); })) return fail(MMSYSERR_ERROR, kNoAnswer);
    if (startError_ != paNoError) {
      giveBack();
      return fail(MMSYSERR_ERROR, "Cannot start the sound output (" + SoundServer::ErrorText(startError_) + ")");
    }
    running_ = true;
    return MMSYSERR_NOERROR;
  }

  // Brings the position and the buffer up to date: the buffer goes back once
  // its last frame has been heard, or when the output stopped calling back
  // (the server went away), so nobody waits for it forever.
  void Refresh() {
    if (lost_ || !running_) return;
    position_->Advance(steadySeconds());
    if (!buffer_) return;
    const std::uint64_t fed = fed_;
    if ((fed == framesOf(buffer_) && bufferStart_ + fed <= position_->Heard()) ||
        steadySeconds() - lastCallback_ > 1.0 + latency_)
      giveBack();
  }

  // Stops the stream if it runs, dropping what the server still buffers (the
  // callback ends it); false when the server does not answer.
  bool stopStream() {
    if (!running_) return true;
    halting_ = true;
    if (!call([this] { SoundServer::StopOutput(stream_); })) return false;
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

  // Runs f on the server's thread. When that gives up the device is lost: it
  // feeds nothing more, and its stream is ended and closed once the server
  // answers again, so that nothing plays by itself later.
  bool call(std::function<void()> f) {
    if (SoundServer::Call(std::move(f))) return true;
    lost_ = halting_ = true;
    giveBack();
    SoundServer::Post([this] { closeStream(); });
    return false;
  }

  void closeStream() {
    if (stream_) SoundServer::CloseOutput(std::exchange(stream_, nullptr));
  }

  std::uint64_t framesOf(const WAVEHDR* h) const { return h->dwBufferLength / frameBytes_; }
  std::uint64_t filledOf(const WAVEHDR* h) const {
    return std::min<std::uint64_t>(h->reserved, h->dwBufferLength) / frameBytes_;
  }

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
    // Times on the steady clock: asking the library for the stream's time can
    // wait for the sound thread, which may wait for the server.
    const double now = steadySeconds();
    d->position_->Handed(frames, done, now + time->outputBufferDacTime - time->currentTime);
    d->lastCallback_ = now;
    d->busy_ = false;
    return halting ? paAbort : paContinue;
  }

  const unsigned frameBytes_;
  const double rate_;
  const std::uint8_t silence_;
  // Written on the server's thread while the owner waits for it.
  PaStream* stream_ = nullptr;
  PaTime latency_ = 0;
  PaError openError_ = paNoError, startError_ = paNoError;
  std::string openText_;

  // Shared with the callback.
  std::atomic<const std::uint8_t*> feed_{nullptr};  // the samples it feeds from; null: silence
  std::atomic<std::uint64_t> filled_{0};            // of them filled
  std::atomic<std::uint64_t> fed_{0};               // of them handed over
  std::atomic<bool> halting_{false};                // the callback is to end the stream
  std::atomic<bool> busy_{false};                   // the callback is running
  std::atomic<double> lastCallback_{0};             // steady time of the last callback (or the start)
  std::optional<PlayPosition> position_;            // made when the stream opens

  // The owner's.
  WAVEHDR* buffer_ = nullptr;      // written, not yet given back
  std::uint64_t bufferStart_ = 0;  // data frames handed over before it
  bool running_ = false, lost_ = false;
};

MMRESULT waveOutOpen(HWAVEOUT* phwo, UINT uDeviceID, const WAVEFORMATEX* pwfx, DWORD_PTR, DWORD_PTR, DWORD fdwOpen) {
  if (!phwo || !pwfx) return fail(MMSYSERR_INVALPARAM, "Invalid parameter passed to the sound output");
  *phwo = nullptr;
  if (fdwOpen != CALLBACK_NULL) return fail(MMSYSERR_INVALFLAG, "Unsupported sound output open flags");
  if (uDeviceID != WAVE_MAPPER && uDeviceID != 0) return fail(MMSYSERR_BADDEVICEID, "No such sound output device");
  const WAVEFORMATEX f = *pwfx;
  if (f.wFormatTag != WAVE_FORMAT_PCM || (f.wBitsPerSample != 8 && f.wBitsPerSample != 16) || f.nChannels == 0 ||
      f.nSamplesPerSec == 0 || f.nBlockAlign != f.nChannels * f.wBitsPerSample / 8)
    return fail(WAVERR_BADFORMAT, "The sound output does not support this wave format");
  if (SoundServer::Waiting()) return fail(MMSYSERR_ERROR, kNoAnswer);
  auto* dev = new WaveOutDevice(f);
  const MMRESULT result = dev->Open(f);
  if (result != MMSYSERR_NOERROR) SoundServer::Post([dev] { delete dev; });  // after the calls that use it
  *phwo = result == MMSYSERR_NOERROR ? dev : nullptr;
  return result;
}

MMRESULT waveOutPrepareHeader(HWAVEOUT hwo, WAVEHDR* pwh, UINT cbwh) {
  if (const MMRESULT bad = badCall(hwo, pwh, cbwh)) return bad;
  if (!pwh->lpData && pwh->dwBufferLength > 0) return badCall(hwo, nullptr);
  if (pwh->dwFlags & WHDR_INQUEUE) return MMSYSERR_NOERROR;
  pwh->dwFlags |= WHDR_PREPARED;
  pwh->reserved = pwh->dwBufferLength;  // whole until marked otherwise
  return MMSYSERR_NOERROR;
}

MMRESULT waveOutUnprepareHeader(HWAVEOUT hwo, WAVEHDR* pwh, UINT cbwh) {
  if (const MMRESULT bad = badCall(hwo, pwh, cbwh)) return bad;
  if (pwh->dwFlags & WHDR_INQUEUE) hwo->Refresh();
  if (pwh->dwFlags & WHDR_INQUEUE) return fail(WAVERR_STILLPLAYING, "The sound buffer is still playing");
  pwh->dwFlags &= ~WHDR_PREPARED;
  return MMSYSERR_NOERROR;
}

MMRESULT waveOutWrite(HWAVEOUT hwo, WAVEHDR* pwh, UINT cbwh) {
  if (const MMRESULT bad = badCall(hwo, pwh, cbwh)) return bad;
  return pwh->dwFlags & WHDR_PREPARED ? hwo->Write(pwh) : unprepared();
}

MMRESULT waveOutMarkFilled(HWAVEOUT hwo, WAVEHDR* pwh, DWORD bytes) {
  if (const MMRESULT bad = badCall(hwo, pwh)) return bad;
  if (!(pwh->dwFlags & WHDR_PREPARED)) return unprepared();
  pwh->reserved = bytes;
  if (hwo->buffer_ == pwh) hwo->filled_ = hwo->filledOf(pwh);
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
  hwo->Refresh();
  return hwo->lost_ || !hwo->stopStream() ? fail(MMSYSERR_ERROR, kNoAnswer) : MMSYSERR_NOERROR;
}

MMRESULT waveOutReset(HWAVEOUT hwo) {
  if (!hwo) return badCall(hwo, nullptr);
  if (hwo->lost_ || !hwo->stopStream()) return fail(MMSYSERR_ERROR, kNoAnswer);
  hwo->giveBack();
  hwo->position_->Rebase();
  return MMSYSERR_NOERROR;
}

// Lets the handle go also when closing the stream gives up; a lost device's
// stream is closed once the call given up on returns.
MMRESULT waveOutClose(HWAVEOUT hwo) {
  if (!hwo) return badCall(hwo, nullptr);
  if (hwo->buffer_) return fail(WAVERR_STILLPLAYING, "Sound buffers are still playing");
  const bool answered = hwo->lost_ || (hwo->stopStream() && hwo->call([hwo] { hwo->closeStream(); }));
  SoundServer::Post([hwo] { delete hwo; });
  return answered ? MMSYSERR_NOERROR : fail(MMSYSERR_ERROR, kNoAnswer);
}

std::string LastErrorText() { return lastErrorText; }

}  // namespace WaveOut
