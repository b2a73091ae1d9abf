// Helpers shared by the WAV tests: a temporary folder, and a load that copies the
// reader's results out of the library's buffers. (WaveBuilder.h builds the files.)
#pragma once

#include "dsp/IPPDynamic.h"
#include "dsp/LoadExternal.h"
#include "wav/WaveFile.h"
#include "WaveBuilder.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace wavtest {

// A fresh folder under the system's temporary folder, removed with its contents.
class TempDir {
 public:
  TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "tembrix-wav-XXXXXX").string();
    path_ = ::mkdtemp(pattern.data());
  }
  ~TempDir() { std::filesystem::remove_all(path_); }
  std::string file(const std::string& name) const { return (path_ / name).string(); }
  std::string write(const std::string& name, const std::string& bytes) const {
    std::ofstream(file(name), std::ios::binary) << bytes;
    return file(name);
  }
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

inline std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The library's buffers, released when the holder goes.
struct Buffers {
  pDoubleArray time = nullptr, left = nullptr, right = nullptr;
  ~Buffers() {
    for (pDoubleArray p : {time, left, right})
      if (p != nullptr) IPPDynamic::IIPP_Free(p);
  }
};

struct Loaded {
  bool isWave = false;
  TDateTime date = 0;
  std::int32_t frames = 0;
  std::vector<double> time, left, right;
};

// GetWaveInfo and, when it accepts the file, LoadWaveData, as the editor calls them.
inline Loaded load(const std::string& path, bool reverse = false) {
  Loaded r;
  r.isWave = WaveFile::GetWaveInfo(path, r.date);
  if (!r.isWave) return r;
  Buffers b;
  r.frames = WaveFile::LoadWaveData(path, reverse, b.time, b.left, b.right);
  if (r.frames > 0) {
    r.time.assign(b.time, b.time + r.frames);
    r.left.assign(b.left, b.left + r.frames);
    r.right.assign(b.right, b.right + r.frames);
  }
  return r;
}

// Loads the signal-processing library once for the whole test program.
class LibraryEnvironment : public ::testing::Environment {
 public:
  void SetUp() override { ASSERT_TRUE(LoadExternal::LoadDynamicIIPP()); }
  void TearDown() override { LoadExternal::FreeDynamicIIPP(); }
};

}  // namespace wavtest
