#include "dsp/LoadExternal.h"

#include "dsp/FileFunctions.h"
#include "dsp/IPPDynamic.h"
#include "dsp/ResourceFunctions.h"

#include <mutex>
#include <string>

namespace LoadExternal {
namespace {
std::mutex UseCountLock;  // guards UseCount and the load/unpack/retry sequence
int UseCount = 0;
}  // namespace

bool LoadDynamicIIPP() {
  std::lock_guard<std::mutex> lock(UseCountLock);
  IPPDynamic::Load_IIPP();
  if (!IPPDynamic::LibIntelIPP_Loaded) {
    const std::string RootPath = FileFunctions::ExecutableFolder();
    if (!RootPath.empty()) {
      // Each file on its own: one failure does not stop the others.
      ResourceFunctions::SaveLocalResourceToFile("IPPDLL_Core", RootPath + "ippcore-7.0.dll", false);
      ResourceFunctions::SaveLocalResourceToFile("IPPDLL_Header", RootPath + "ipps-7.0.dll", false);
      ResourceFunctions::SaveLocalResourceToFile("IPPDLL", RootPath + "ippsw7-7.0.dll", false);
      ResourceFunctions::SaveLocalResourceToFile("IPPDLL_MP", RootPath + "libiomp5md.dll", false);
    }
    IPPDynamic::Load_IIPP();
  }
  if (IPPDynamic::LibIntelIPP_Loaded) ++UseCount;
  return IPPDynamic::LibIntelIPP_Loaded;
}

void FreeDynamicIIPP() {
  std::lock_guard<std::mutex> lock(UseCountLock);
  if (UseCount == 0) return;
  if (--UseCount == 0) IPPDynamic::Free_IIPP();
}

}  // namespace LoadExternal
