#include "dsp/FileFunctions.h"

#include <sys/stat.h>
#include <unistd.h>

#include <vector>

namespace FileFunctions {

std::int64_t GetFileSize(const std::string& AFilename) {
  struct stat info {};
  if (stat(AFilename.c_str(), &info) != 0) return -1;
  return static_cast<std::int64_t>(info.st_size);
}

std::string ExecutableFolder() {
  std::vector<char> path(4096);
  for (;;) {
    const ssize_t n = readlink("/proc/self/exe", path.data(), path.size());
    if (n < 0) return {};
    if (static_cast<std::size_t>(n) < path.size()) {
      std::string exe(path.data(), static_cast<std::size_t>(n));
      const auto slash = exe.rfind('/');
      return slash == std::string::npos ? std::string{} : exe.substr(0, slash + 1);
    }
    path.resize(path.size() * 2);
  }
}

}  // namespace FileFunctions
