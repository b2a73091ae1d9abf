// The threading run-time ("libiomp5md.dll"): the process-wide critical section
// the other library files serialise on, and the number of worker threads.
#pragma once

#include "dsplib/Export.h"

DSPLIB_EXPORT void mpCriticalEnter();
DSPLIB_EXPORT void mpCriticalLeave();
DSPLIB_EXPORT int mpGetMaxThreads();
