#include "SoundLibrarySpy.h"

#include <portaudio.h>

#include <dlfcn.h>
#include <pthread.h>

#include <atomic>
#include <cstddef>
#include <deque>
#include <mutex>

namespace {

std::atomic<std::uint64_t> openAttempts{0};
std::atomic<std::uint64_t> callbacks{0};
std::atomic<std::uint64_t> forbidden{0};
thread_local bool inCallback = false;

template <class F>
F next(const char* name) {
  return reinterpret_cast<F>(dlsym(RTLD_NEXT, name));
}

struct Wrapped {
  PaStreamCallback* callback;
  void* user;
};
// Kept for the whole run: a stream may call back until it is closed.
std::mutex wrappedMutex;
std::deque<Wrapped> wrapped;

int watchedCallback(const void* in, void* out, unsigned long frames, const PaStreamCallbackTimeInfo* time,
                    PaStreamCallbackFlags flags, void* user) {
  const auto* w = static_cast<const Wrapped*>(user);
  ++callbacks;
  inCallback = true;
  const int result = w->callback(in, out, frames, time, flags, w->user);
  inCallback = false;
  return result;
}

}  // namespace

namespace SoundLibrarySpy {
std::uint64_t OpenAttempts() { return openAttempts; }
std::uint64_t Callbacks() { return callbacks; }
std::uint64_t CallbackLocksAndAllocations() { return forbidden; }
}  // namespace SoundLibrarySpy

extern "C" {

PaDeviceIndex Pa_GetDefaultOutputDevice() {
  ++openAttempts;
  static const auto real = next<PaDeviceIndex (*)()>("Pa_GetDefaultOutputDevice");
  return real();
}

// The callback runs behind a wrapper that marks its thread while it runs.
PaError Pa_OpenStream(PaStream** stream, const PaStreamParameters* in, const PaStreamParameters* out, double rate,
                      unsigned long frames, PaStreamFlags flags, PaStreamCallback* callback, void* user) {
  static const auto real = next<decltype(&Pa_OpenStream)>("Pa_OpenStream");
  if (!callback) return real(stream, in, out, rate, frames, flags, callback, user);
  Wrapped* w = nullptr;
  {
    std::lock_guard lock(wrappedMutex);
    w = &wrapped.emplace_back(Wrapped{callback, user});
  }
  return real(stream, in, out, rate, frames, flags, watchedCallback, w);
}

}  // extern "C"

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
bool SoundLibrarySpy::WatchesTheAllocator() { return false; }
#else
bool SoundLibrarySpy::WatchesTheAllocator() { return true; }

extern "C" {
void* __libc_malloc(std::size_t);
void* __libc_calloc(std::size_t, std::size_t);
void* __libc_realloc(void*, std::size_t);
void __libc_free(void*);

void* malloc(std::size_t n) {
  if (inCallback) ++forbidden;
  return __libc_malloc(n);
}
void* calloc(std::size_t n, std::size_t size) {
  if (inCallback) ++forbidden;
  return __libc_calloc(n, size);
}
void* realloc(void* p, std::size_t n) {
  if (inCallback) ++forbidden;
  return __libc_realloc(p, n);
}
void free(void* p) {
  if (inCallback) ++forbidden;
  __libc_free(p);
}

namespace {
using MutexLock = int (*)(pthread_mutex_t*);
MutexLock realMutexLock = nullptr;
__attribute__((constructor(101))) void findMutexLock() { realMutexLock = next<MutexLock>("pthread_mutex_lock"); }
}  // namespace

int pthread_mutex_lock(pthread_mutex_t* m) {
  if (inCallback) ++forbidden;
  if (!realMutexLock) findMutexLock();
  return realMutexLock(m);
}
}  // extern "C"
#endif
