// libFuzzer target: arbitrary bytes through GetWaveInfo and LoadWaveData, as the
// editor opens a file. Errors with a message are expected answers; anything else
// (a crash, a sanitizer report, a read outside the file) is a finding.
#include "dsp/IPPDynamic.h"
#include "dsp/LoadExternal.h"
#include "wav/WaveFile.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <string>

namespace {
// The input lives in an in-memory file reached through /proc, so each run costs no disk.
int memoryFile = -1;
std::string memoryFilePath;
}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  if (!LoadExternal::LoadDynamicIIPP()) {
    std::fprintf(stderr, "the signal-processing library cannot be loaded\n");
    std::abort();
  }
  memoryFile = ::memfd_create("wav-input", MFD_CLOEXEC);
  if (memoryFile < 0) std::abort();
  memoryFilePath = "/proc/self/fd/" + std::to_string(memoryFile);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (::ftruncate(memoryFile, 0) != 0 || ::pwrite(memoryFile, data, size, 0) != ssize_t(size)) std::abort();
  pDoubleArray time = nullptr, left = nullptr, right = nullptr;
  try {
    TDateTime date = 0;
    if (WaveFile::GetWaveInfo(memoryFilePath, date)) {
      std::int32_t frames = WaveFile::LoadWaveData(memoryFilePath, false, time, left, right);
      // Touch the last frame so a short buffer shows up under the sanitizers.
      if (frames > 0) {
        volatile double sum = time[frames - 1] + left[frames - 1] + right[frames - 1];
        (void)sum;
      }
    }
  } catch (const std::runtime_error&) {
  }
  for (pDoubleArray p : {time, left, right})
    if (p != nullptr) IPPDynamic::IIPP_Free(p);
  return 0;
}
