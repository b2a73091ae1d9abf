#include "dsp/ResourceFunctions.h"

#include "dsp/FileFunctions.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <filesystem>
#include <vector>

// The four library files, embedded by LibraryResources.S.
extern "C" {
extern const unsigned char tembrix_res_core[], tembrix_res_header[], tembrix_res_code[], tembrix_res_mp[];
extern const std::uint64_t tembrix_res_core_size, tembrix_res_header_size, tembrix_res_code_size,
    tembrix_res_mp_size;
}

namespace ResourceFunctions {
namespace {

const TResource localResources[] = {
    {"IPPDLL_Core", tembrix_res_core, tembrix_res_core_size},
    {"IPPDLL_Header", tembrix_res_header, tembrix_res_header_size},
    {"IPPDLL", tembrix_res_code, tembrix_res_code_size},
    {"IPPDLL_MP", tembrix_res_mp, tembrix_res_mp_size},
};
const TResourceModule localModule{localResources};

bool sameNameIgnoringCase(const char* a, const std::string& b) {
  std::size_t i = 0;
  for (; a[i] != '\0'; ++i) {
    if (i >= b.size()) return false;
    const auto lower = [](unsigned char c) { return (c >= 'A' && c <= 'Z') ? c + ('a' - 'A') : c; };
    if (lower(static_cast<unsigned char>(a[i])) != lower(static_cast<unsigned char>(b[i]))) return false;
  }
  return i == b.size();
}

const TResource* findResource(TModuleHandle module, const std::string& name) {
  if (module == nullptr) return nullptr;
  for (const TResource& r : module->Resources) {
    if (sameNameIgnoringCase(r.Name, name)) return &r;
  }
  return nullptr;
}

bool writeAll(int fd, const unsigned char* data, std::size_t size) {
  while (size > 0) {
    const ssize_t n = write(fd, data, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

// Writes into a fresh file beside the target and renames it into place, so a
// failed write leaves no incomplete file and a process that has the old file
// mapped keeps its copy.
bool replaceFile(const std::string& filename, const TResource& resource) {
  std::vector<char> temp(filename.begin(), filename.end());
  for (char c : std::string(".XXXXXX")) temp.push_back(c);
  temp.push_back('\0');
  const int fd = mkstemp(temp.data());
  if (fd < 0) return false;
  bool ok = writeAll(fd, resource.Data, resource.Size) && fchmod(fd, 0755) == 0;
  ok = (close(fd) == 0) && ok;
  ok = ok && rename(temp.data(), filename.c_str()) == 0;
  if (!ok) unlink(temp.data());
  return ok;
}

}  // namespace

TModuleHandle LocalModule() { return &localModule; }

bool ResourceExists(TModuleHandle AInstance, const std::string& ARecourceName) {
  return findResource(AInstance, ARecourceName) != nullptr;
}

bool SaveResourceToFile(TModuleHandle AInstance, const std::string& ARecourceName, const std::string& AFilename,
                        bool AForceRewrite) {
  try {
    bool VStepSuccess = ResourceExists(AInstance, ARecourceName);
    if (!VStepSuccess) return false;
    const TResource& VResource = *findResource(AInstance, ARecourceName);

    bool VFileAlreadyExists = false;
    std::error_code ec;
    if (!AForceRewrite && std::filesystem::exists(AFilename, ec)) {
      VFileAlreadyExists = static_cast<std::int64_t>(VResource.Size) == FileFunctions::GetFileSize(AFilename);
    }
    if (AForceRewrite || !VFileAlreadyExists) VStepSuccess = replaceFile(AFilename, VResource);
    return VStepSuccess;
  } catch (...) {
    return false;
  }
}

bool SaveLocalResourceToFile(const std::string& ARecourceName, const std::string& AFilename, bool AForceRewrite) {
  return SaveResourceToFile(LocalModule(), ARecourceName, AFilename, AForceRewrite);
}

}  // namespace ResourceFunctions
