// Raw-data resources carried inside the executable, and writing one of them
// out as a file. A module is a table of named resources; names match without
// regard to case. Nothing here throws or shows a message: every failure is a
// false result.
#pragma once

#include <cstddef>
#include <span>
#include <string>

namespace ResourceFunctions {

struct TResource {
  const char* Name;
  const unsigned char* Data;
  std::size_t Size;
};

struct TResourceModule {
  std::span<const TResource> Resources;
};
using TModuleHandle = const TResourceModule*;

// The resources linked into this executable: the four signal-processing
// library files IPPDLL_Core, IPPDLL_Header, IPPDLL and IPPDLL_MP.
TModuleHandle LocalModule();

// True when AInstance has a resource named ARecourceName.
bool ResourceExists(TModuleHandle AInstance, const std::string& ARecourceName);

// Writes the resource to AFilename. Unless AForceRewrite, an existing file of
// the resource's size is left alone (only the size is compared). The file is
// replaced atomically: it is either the whole resource or what it was before.
bool SaveResourceToFile(TModuleHandle AInstance, const std::string& ARecourceName, const std::string& AFilename,
                        bool AForceRewrite);

// SaveResourceToFile on this executable's own resources.
bool SaveLocalResourceToFile(const std::string& ARecourceName, const std::string& AFilename, bool AForceRewrite);

}  // namespace ResourceFunctions
