// Helpers shared by the WAV tests: a small RIFF builder, a temporary folder, and a
// load that copies the reader's results out of the library's buffers.
#pragma once

#include "IPPDynamic.h"
#include "LoadExternal.h"
#include "WaveFile.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace wavtest {

inline std::string le16(std::uint16_t v) { return {char(v & 0xFF), char(v >> 8)}; }
inline std::string le32(std::uint32_t v) { return le16(std::uint16_t(v)) + le16(std::uint16_t(v >> 16)); }

// Builds a RIFF/WAVE file chunk by chunk. Sizes are written as given, so a test can
// declare more than the contents hold.
class Riff {
 public:
  Riff& chunk(const std::string& id, const std::string& contents) {
    return chunkDeclaring(id, std::uint32_t(contents.size()), contents);
  }
  Riff& chunkDeclaring(const std::string& id, std::uint32_t size, const std::string& contents) {
    body_ += id + le32(size) + contents;
    return *this;
  }
  Riff& fmt(std::uint16_t channels, std::uint32_t rate, std::uint16_t bits, std::uint16_t tag = 1) {
    std::uint16_t align = std::uint16_t(channels * (bits / 8));
    return chunk("fmt ", le16(tag) + le16(channels) + le32(rate) + le32(rate * align) + le16(align) + le16(bits));
  }
  // 16-bit frames, interleaved as given.
  Riff& data16(const std::vector<std::int16_t>& samples) { return chunk("data", pcm16(samples)); }
  // "vctr": three unused bytes, minute, hour, day, month, year - 2000.
  Riff& vctr(int minute, int hour, int day, int month, int year2000) {
    return chunk("vctr", std::string("\x11\x22\x33", 3) + char(minute) + char(hour) + char(day) + char(month) + char(year2000));
  }
  Riff& raw(const std::string& bytes) {
    body_ += bytes;
    return *this;
  }
  std::string bytes() const { return "RIFF" + le32(std::uint32_t(body_.size() + 4)) + "WAVE" + body_; }

  static std::string pcm16(const std::vector<std::int16_t>& samples) {
    std::string s;
    for (std::int16_t v : samples) s += le16(std::uint16_t(v));
    return s;
  }

 private:
  std::string body_;
};

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
