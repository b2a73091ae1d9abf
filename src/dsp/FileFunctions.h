// File-system queries used by the library unpacking.
#pragma once

#include <cstdint>
#include <string>

namespace FileFunctions {

// Size of the file (or other entry) named AFilename, symbolic links followed;
// -1 when the name matches nothing.
std::int64_t GetFileSize(const std::string& AFilename);

// Folder of the running executable with a trailing separator; empty when it
// cannot be determined.
std::string ExecutableFolder();

}  // namespace FileFunctions
