// Core services ("ippcore-7.0.dll"): the allocator behind every block the
// library hands out, and the library-wide lock.
#pragma once

#include "dsplib/Export.h"

#include <cstddef>

// A block of at least `bytes` bytes, 64-byte aligned; blocks of 2 MiB and more
// are 2 MiB-aligned and advised for transparent huge pages. Null for 0 bytes or
// when memory runs out. Any block is released with coreFree.
DSPLIB_EXPORT void* coreMalloc(std::size_t bytes);
// Releases a block from coreMalloc; null is ignored.
DSPLIB_EXPORT void coreFree(void* block);

// Serialises work on state shared by all threads (the transform plans).
DSPLIB_EXPORT void coreLock();
DSPLIB_EXPORT void coreUnlock();
DSPLIB_EXPORT int coreThreadCount();
