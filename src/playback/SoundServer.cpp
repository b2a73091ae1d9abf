#include "playback/SoundServer.h"

#include <alsa/asoundlib.h>
#include <pa_linux_alsa.h>

#include <fcntl.h>
#include <pthread.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>

namespace SoundServer {

namespace {

#if defined(__SANITIZE_THREAD__) || defined(__SANITIZE_ADDRESS__)
constexpr auto kPatience = std::chrono::seconds(8);
#else
constexpr auto kPatience = std::chrono::seconds(2);
#endif

// The calls for the server's thread, numbered in order. Made once and never
// destroyed: the thread waits on it for as long as the process lives.
struct Calls {
  std::mutex mutex;
  std::condition_variable posted, returned;
  std::deque<std::function<void()>> queue;
  std::uint64_t count = 0, done = 0;
  std::atomic<std::int64_t> runningSince{0};  // steady ticks when the current call began; 0: idle
};

Calls& calls() {
  static Calls* const c = [] {
    auto* c = new Calls;
    std::thread([c] {
      pthread_setname_np(pthread_self(), "sound server");  // not the name of the thread that made it
      std::unique_lock lock(c->mutex);
      for (;;) {
        c->posted.wait(lock, [c] { return !c->queue.empty(); });
        const std::function<void()> call = std::move(c->queue.front());
        c->queue.pop_front();
        lock.unlock();
        c->runningSince = std::chrono::steady_clock::now().time_since_epoch().count();
        call();
        c->runningSince = 0;
        lock.lock();
        ++c->done;
        c->returned.notify_all();
      }
    }).detach();
    return c;
  }();
  return *c;
}

std::uint64_t post(std::function<void()> call) {
  Calls& c = calls();
  std::lock_guard lock(c.mutex);
  c.queue.push_back(std::move(call));
  c.posted.notify_one();
  return ++c.count;
}

// The library is initialised on the first open and stays so (that costs
// about 90 ms, which every Play would otherwise wait for); a failed open with
// no stream open drops it, so the next open probes the devices afresh.
bool initialized = false;
int openStreams = 0;

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

}  // namespace

void Post(std::function<void()> call) { post(std::move(call)); }

bool Call(std::function<void()> call) {
  const std::uint64_t ticket = post(std::move(call));
  Calls& c = calls();
  std::unique_lock lock(c.mutex);
  return c.returned.wait_for(lock, kPatience, [&] { return c.done >= ticket; });
}

bool Waiting() {
  const std::int64_t since = calls().runningSince;
  const auto now = std::chrono::steady_clock::now().time_since_epoch().count();
  return since != 0 && std::chrono::steady_clock::duration(now - since) >= kPatience;
}

std::string ErrorText(PaError err) {
  std::string text = Pa_GetErrorText(err);
  const PaHostErrorInfo* info = err == paUnanticipatedHostError ? Pa_GetLastHostErrorInfo() : nullptr;
  if (info && info->errorText && *info->errorText) text += std::string(": ") + info->errorText;
  return text;
}

PaError OpenOutput(PaStream** stream, int channels, PaSampleFormat format, double rate, PaStreamCallback* callback,
                   void* user, std::string* why) {
  QuietStderr quiet;
  PaError err = paNoError;
  for (int attempt = 0; attempt < 2; ++attempt) {
    const bool fresh = !initialized;
    if (fresh && (err = Pa_Initialize()) != paNoError) {
      *why = "Sound system unavailable (" + ErrorText(err) + ")";
      return err;
    }
    if (fresh) snd_lib_error_set_handler(quietAlsaErrors);  // underrun notes would go to stderr
    initialized = true;
    const PaDeviceIndex device = Pa_GetDefaultOutputDevice();
    err = paDeviceUnavailable;
    if (device != paNoDevice) {
      // A deep buffer, so that a busy machine does not break the sound up.
      const PaStreamParameters out{device, channels, format,
                                   std::max(Pa_GetDeviceInfo(device)->defaultHighOutputLatency, 0.15), nullptr};
      err = Pa_OpenStream(stream, nullptr, &out, rate, paFramesPerBufferUnspecified,
                          paPrimeOutputBuffersUsingStreamCallback, callback, user);
    }
    if (err == paNoError) {
      ++openStreams;
      if (Pa_GetHostApiInfo(Pa_GetDeviceInfo(device)->hostApi)->type == paALSA)
        PaAlsa_EnableRealtimeScheduling(*stream, 1);
      return err;
    }
    if (openStreams == 0) {
      Pa_Terminate();
      initialized = false;
    }
    if (fresh || initialized) break;  // else the devices probed earlier may be stale: once more
  }
  *why = err == paDeviceUnavailable ? "No sound output device available (" + ErrorText(err) + ")"
                                    : "Cannot open the sound output (" + ErrorText(err) + ")";
  return err;
}

void StopOutput(PaStream* stream) {
  for (int ms = 0; ms < 250 && Pa_IsStreamActive(stream) == 1; ++ms)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  Pa_IsStreamActive(stream) == 1 ? Pa_AbortStream(stream) : Pa_StopStream(stream);
}

void CloseOutput(PaStream* stream) {
  StopOutput(stream);
  QuietStderr quiet;
  Pa_CloseStream(stream);
  --openStreams;
}

}  // namespace SoundServer
