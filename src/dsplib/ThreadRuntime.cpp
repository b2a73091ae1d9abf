#include "dsplib/ThreadRuntime.h"

#include <pthread.h>
#include <unistd.h>

namespace {
pthread_mutex_t criticalSection = PTHREAD_MUTEX_INITIALIZER;
}

void mpCriticalEnter() { pthread_mutex_lock(&criticalSection); }

void mpCriticalLeave() { pthread_mutex_unlock(&criticalSection); }

int mpGetMaxThreads() {
  const long n = sysconf(_SC_NPROCESSORS_ONLN);
  return n > 0 ? static_cast<int>(n) : 1;
}
