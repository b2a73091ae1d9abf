#include "wav/AvailableMemory.h"

#include <sys/resource.h>

#include <algorithm>
#include <fstream>
#include <limits>
#include <sstream>
#include <vector>

namespace WaveFile {

std::uint64_t (*AvailableMemory)() = SystemAvailableMemory;

namespace {

constexpr std::uint64_t unlimited = std::numeric_limits<std::uint64_t>::max();

// The first number in a file, or false when it is missing or not a number
// (cgroup v2 writes "max" for no limit).
bool readNumber(const std::string& path, std::uint64_t& value) {
  std::ifstream in(path);
  return static_cast<bool>(in >> value);
}

// The number after "<key>" at the start of a line ("MemAvailable:", "VmSize:",
// "inactive_file"); false when no line has it.
bool readKeyed(const std::string& path, const std::string& key, std::uint64_t& value) {
  std::ifstream in(path);
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    std::string name;
    if (fields >> name && name == key) return static_cast<bool>(fields >> value);
  }
  return false;
}

struct GroupFiles {
  const char* limit;
  const char* usage;
  const char* cache;  // the inactive file cache in memory.stat, which the kernel drops first
};
constexpr GroupFiles v1Files{"memory.limit_in_bytes", "memory.usage_in_bytes", "total_inactive_file"};
constexpr GroupFiles v2Files{"memory.max", "memory.current", "inactive_file"};

// The least room that the group at `path` under `mount` and every group above it
// allow. A level whose files are missing (a container sees only part of the tree)
// sets no limit.
std::uint64_t groupRoom(const std::string& mount, std::string path, const GroupFiles& files) {
  std::uint64_t room = unlimited;
  while (true) {
    const std::string dir = mount + (path == "/" ? "" : path) + "/";
    std::uint64_t limit = 0, usage = 0, cache = 0;
    if (readNumber(dir + files.limit, limit) && readNumber(dir + files.usage, usage)) {
      if (readKeyed(dir + "memory.stat", files.cache, cache)) usage -= std::min(cache, usage);
      room = std::min(room, limit > usage ? limit - usage : 0);
    }
    if (path.empty() || path == "/") break;
    const std::size_t slash = path.find_last_of('/');
    path = slash == 0 || slash == std::string::npos ? "/" : path.substr(0, slash);
  }
  return room;
}

// The memory control groups of the process, from /proc/self/cgroup: lines of
// "id:controllers:path", where v1 names "memory" among the controllers and v2 has
// id 0 and no controllers.
std::uint64_t controlGroupRoom(const std::string& root) {
  std::ifstream in(root + "/proc/self/cgroup");
  std::string line;
  std::uint64_t room = unlimited;
  while (std::getline(in, line)) {
    const std::size_t first = line.find(':');
    const std::size_t second = first == std::string::npos ? first : line.find(':', first + 1);
    if (second == std::string::npos) continue;
    const std::string id = line.substr(0, first);
    const std::string controllers = line.substr(first + 1, second - first - 1);
    const std::string path = line.substr(second + 1);
    if (id == "0" && controllers.empty()) {
      for (const char* mount : {"/sys/fs/cgroup", "/sys/fs/cgroup/unified"})
        room = std::min(room, groupRoom(root + mount, path, v2Files));
    } else if (("," + controllers + ",").find(",memory,") != std::string::npos) {
      room = std::min(room, groupRoom(root + "/sys/fs/cgroup/memory", path, v1Files));
    }
  }
  return room;
}

}  // namespace

std::uint64_t AvailableMemoryUnder(const std::string& root, std::uint64_t addressSpaceLimit) {
  std::uint64_t room = controlGroupRoom(root);
  std::uint64_t kib = 0;
  if (readKeyed(root + "/proc/meminfo", "MemAvailable:", kib)) room = std::min(room, kib * 1024);
  if (addressSpaceLimit != unlimited && readKeyed(root + "/proc/self/status", "VmSize:", kib)) {
    const std::uint64_t used = kib * 1024;
    room = std::min(room, addressSpaceLimit > used ? addressSpaceLimit - used : 0);
  }
  return room;
}

std::uint64_t SystemAvailableMemory() {
  rlimit limit{};
  std::uint64_t addressSpace = unlimited;
  if (::getrlimit(RLIMIT_AS, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY) addressSpace = limit.rlim_cur;
  return AvailableMemoryUnder("", addressSpace);
}

}  // namespace WaveFile
