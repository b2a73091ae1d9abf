// Test tool: a program that links the library resources, copied by the tests
// into a fresh folder and run there.
//   probe load   LoadDynamicIIPP (unpacking on failure), then one spectrum
//   probe bind   Load_IIPP only
// Exit status: 0 loaded and the spectrum is right, 1 not loaded, 2 wrong spectrum.
#include "dsp/IPPDynamic.h"
#include "dsp/LoadExternal.h"
#include "dsp/SignalProcessingDynamic.h"

#include <cstring>
#include <vector>

int main(int argc, char** argv) {
  if (argc > 1 && std::strcmp(argv[1], "bind") == 0) {
    IPPDynamic::Load_IIPP();
    const bool loaded = IPPDynamic::LibIntelIPP_Loaded && IPPDynamic::IIPP_MallocDouble != nullptr;
    IPPDynamic::Free_IIPP();
    return loaded ? 0 : 1;
  }
  if (!LoadExternal::LoadDynamicIIPP()) return 1;
  std::vector<double> x(8, 2.0);
  pDoubleArray s = nullptr;
  SignalProcessingDynamic::PowerSpectrAlloc(x.data(), s, 8);
  const bool right = s != nullptr && s[0] == 0.5 && s[1] == 0.0;
  IPPDynamic::IIPP_Free(s);
  LoadExternal::FreeDynamicIIPP();
  return right ? 0 : 2;
}
