// How much memory the process can still be given. Under the kernel's default
// overcommit an allocation far beyond it succeeds, and the process is killed later
// while it fills the pages, taking every open window with it; the reader asks here
// first and refuses a recording that cannot fit.
#pragma once

#include <cstdint>
#include <string>

namespace WaveFile {

// The least of: the system's available memory ("MemAvailable" in /proc/meminfo), the
// room each memory control group from the process's own up to the root still allows
// (limit minus usage, not counting the file cache it may drop; cgroup v1 and v2), and
// the room left under the address-space limit (`addressSpaceLimit` minus the
// process's virtual size from /proc/self/status). Files are looked up under `root`
// ("" for the running system). What cannot be read does not limit: the result is
// UINT64_MAX when nothing can.
std::uint64_t AvailableMemoryUnder(const std::string& root, std::uint64_t addressSpaceLimit);

// The same for the running system, with the process's own RLIMIT_AS.
std::uint64_t SystemAvailableMemory();

// What the reader asks before it allocates a recording; SystemAvailableMemory
// unless a test puts a small figure in its place.
extern std::uint64_t (*AvailableMemory)();

}  // namespace WaveFile
