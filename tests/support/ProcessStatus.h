// What /proc/self/status says of this process, for the memory benchmarks.
#pragma once

#include <cstring>
#include <fstream>
#include <string>

// A size field of /proc/self/status ("VmRSS:", "VmHWM:" …) in bytes; -1 if absent.
inline long long statusBytes(const char* key) {
  std::ifstream in("/proc/self/status");
  std::string line;
  while (std::getline(in, line))
    if (line.rfind(key, 0) == 0) return std::stoll(line.substr(std::strlen(key))) * 1024;
  return -1;
}
