// Builds WAV files for the tests and benchmarks: chunk by chunk, a whole PCM
// file from a sample function, or the header alone for a writer that streams
// the samples after it.
#pragma once

#include <cstdint>
#include <fstream>
#include <functional>
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
    return fmtAligned(channels, rate, bits, std::uint16_t(channels * (bits / 8)), tag);
  }
  // "fmt " with a BlockAlign of its own: samples in containers wider than their bits.
  Riff& fmtAligned(std::uint16_t channels, std::uint32_t rate, std::uint16_t bits, std::uint16_t align,
                   std::uint16_t tag = 1) {
    return chunk("fmt ", fmtFields(tag, channels, rate, bits, align));
  }
  // The extensible "fmt " (tag 0xFFFE, 40 bytes): `bits` per sample container, the
  // top `validBits` of them used, and the sub-format GUID of format tag `subFormat`
  // (1 PCM, 3 floating point).
  Riff& fmtExtensible(std::uint16_t channels, std::uint32_t rate, std::uint16_t bits, std::uint16_t validBits,
                      std::uint16_t subFormat = 1) {
    const std::string guidTail("\x00\x00\x00\x00\x10\x00\x80\x00\x00\xAA\x00\x38\x9B\x71", 14);
    return chunk("fmt ", fmtFields(0xFFFE, channels, rate, bits, std::uint16_t(channels * (bits / 8))) + le16(22) +
                             le16(validBits) + le32(3) + le16(subFormat) + guidTail);
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
  std::string bytes() const { return bytesFollowedBy(0); }
  // The file's first bytes when `more` bytes will be written after them: the
  // RIFF size counts those too.
  std::string bytesFollowedBy(std::uint32_t more) const {
    return "RIFF" + le32(std::uint32_t(body_.size() + 4 + more)) + "WAVE" + body_;
  }

  static std::string pcm16(const std::vector<std::int16_t>& samples) {
    std::string s;
    for (std::int16_t v : samples) s += le16(std::uint16_t(v));
    return s;
  }
  // Samples of `bytes` bytes each, little-endian (the low bytes of each value).
  static std::string samples(const std::vector<std::int64_t>& values, int bytes) {
    std::string s;
    for (std::int64_t v : values)
      for (int i = 0; i < bytes; ++i) s.push_back(char(std::uint64_t(v) >> (8 * i)));
    return s;
  }

 private:
  static std::string fmtFields(std::uint16_t tag, std::uint16_t channels, std::uint32_t rate, std::uint16_t bits,
                               std::uint16_t align) {
    return le16(tag) + le16(channels) + le32(rate) + le32(rate * align) + le16(align) + le16(bits);
  }

  std::string body_;
};

// The 44 bytes before the samples of a PCM file whose "data" chunk holds `dataBytes`.
inline std::string pcmHeader(std::uint16_t channels, std::uint32_t rate, std::uint16_t bits, std::uint32_t dataBytes) {
  return Riff().fmt(channels, rate, bits).chunkDeclaring("data", dataBytes, "").bytesFollowedBy(dataBytes);
}

// A PCM WAV file: `frames` frames of `channels` samples of `bits` bits at `rate`.
// sample(frame, channel) gives the integer value written (as it lies in the file:
// 0…255 for 8-bit, signed for wider samples).
inline void writeWav(const std::string& path, std::uint32_t rate, std::uint16_t bits, std::uint16_t channels,
                     std::int64_t frames, const std::function<std::int64_t(std::int64_t, int)>& sample) {
  const int bytesPerSample = bits / 8;
  std::string data;
  data.reserve(std::size_t(frames) * std::size_t(channels) * std::size_t(bytesPerSample));
  for (std::int64_t f = 0; f < frames; ++f)
    for (int c = 0; c < channels; ++c) {
      const auto v = static_cast<std::uint64_t>(sample(f, c));
      for (int i = 0; i < bytesPerSample; ++i) data.push_back(char(v >> (8 * i)));
    }
  std::ofstream(path, std::ios::binary) << pcmHeader(channels, rate, bits, std::uint32_t(data.size())) << data;
}

}  // namespace wavtest
