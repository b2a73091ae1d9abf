// What the playback code asks of the sound library, seen from the test
// programs: the spy stands in front of a few of the library's functions and,
// outside sanitizer builds, of the allocator and the mutex lock, counting the
// calls made from inside a stream callback.
#pragma once

#include <cstdint>

namespace SoundLibrarySpy {

// How often the playback code has looked for the default output device: once
// for every attempt to open the sound output.
std::uint64_t OpenAttempts();

// Stream callbacks run so far, and the calls of malloc, calloc, realloc,
// free and pthread_mutex_lock made while one of them ran.
std::uint64_t Callbacks();
std::uint64_t CallbackLocksAndAllocations();

// Whether the allocator and the lock are watched (not under sanitizers,
// which put their own in front of them).
bool WatchesTheAllocator();

}  // namespace SoundLibrarySpy
