// Files written by another program (sox), at the rates and widths recordings come in.
#include "WaveTestSupport.h"

#include <cstdio>

using namespace wavtest;

namespace {

struct SoxCase {
  std::uint32_t rate;
  int channels;
  int bits;
};

void PrintTo(const SoxCase& c, std::ostream* os) {
  *os << c.rate << " Hz, " << c.channels << " channel(s), " << c.bits << " bits";
}

// Samples that every width holds exactly: multiples of 256 (no dither, no rounding).
std::int16_t sampleOf(int frame, int channel) {
  return std::int16_t(((frame * (channel ? 7 : 3) + channel * 50) % 256 - 128) * 256);
}

// The value the reader gives for a 16-bit sample written at `bits`.
double readBack(std::int16_t s, int bits) { return bits == 8 ? s / 256 + 128 : s; }

// Puts a LIST chunk (an INFO comment, as tagging programs add) right after "fmt ".
std::string withListChunk(const std::string& wav) {
  std::string info = "INFO" + std::string("ICMT") + le32(6) + "tembrx";
  std::string list = "LIST" + le32(std::uint32_t(info.size())) + info;
  std::size_t fmtEnd = 12 + 8 + (std::uint8_t(wav[16]) | std::uint8_t(wav[17]) << 8);
  std::string out = wav.substr(0, fmtEnd) + list + wav.substr(fmtEnd);
  std::uint32_t riff = std::uint32_t(out.size() - 8);
  out.replace(4, 4, le32(riff));
  return out;
}

class SoxFiles : public ::testing::TestWithParam<SoxCase> {
 protected:
  TempDir dir;

  // Converts raw 16-bit frames to a plain PCM WAV file of the case's format.
  std::string soxWrite(const SoxCase& c, int frames, const char* type = "wavpcm") {
    std::vector<std::int16_t> raw;
    for (int k = 0; k < frames; ++k)
      for (int ch = 0; ch < c.channels; ++ch) raw.push_back(sampleOf(k, ch));
    std::string in = dir.write("in.raw", Riff::pcm16(raw));
    std::string out = dir.file("out.wav");
    std::string cmd = "sox -D -t raw -r " + std::to_string(c.rate) + " -e signed -b 16 -c " +
                      std::to_string(c.channels) + " '" + in + "' -t " + type + " -b " +
                      std::to_string(c.bits) + " '" + out + "' 2>&1";
    EXPECT_EQ(std::system(cmd.c_str()), 0) << cmd;
    return out;
  }
};

TEST_P(SoxFiles, SamplesAndFormatAreReadBack) {
  const SoxCase c = GetParam();
  const int frames = 1000;
  std::string wav = withListChunk(readFile(soxWrite(c, frames)));
  Loaded r = load(dir.write("list.wav", wav));
  ASSERT_TRUE(r.isWave);
  EXPECT_EQ(WaveFile::SampleRate, c.rate);
  EXPECT_EQ(WaveFile::Channels, c.channels);
  EXPECT_EQ(WaveFile::BitsPerSample, c.bits);
  ASSERT_EQ(r.frames, frames);
  for (int k = 0; k < frames; ++k) {
    ASSERT_EQ(r.left[k], readBack(sampleOf(k, 0), c.bits)) << k;
    ASSERT_EQ(r.right[k], readBack(sampleOf(k, c.channels == 2 ? 1 : 0), c.bits)) << k;
  }
  EXPECT_EQ(r.time[frames - 1], double(frames / static_cast<long double>(c.rate)));
}

INSTANTIATE_TEST_SUITE_P(RatesWidthsChannels, SoxFiles,
                         ::testing::Values(SoxCase{8000, 1, 8}, SoxCase{8000, 2, 16}, SoxCase{22050, 2, 8},
                                           SoxCase{22050, 1, 16}, SoxCase{22050, 2, 24}, SoxCase{44100, 2, 16},
                                           SoxCase{44100, 1, 24}, SoxCase{44100, 2, 8}),
                         [](const auto& info) {
                           return std::to_string(info.param.rate) + "Hz_" + std::to_string(info.param.channels) +
                                  "ch_" + std::to_string(info.param.bits) + "bit";
                         });

// sox's default for wide samples and for more than two channels is the extensible
// header; it writes floating point on request, and to a pipe it cannot go back to
// fill in the sizes.
TEST_F(SoxFiles, ExtensibleFloatAndPipedFiles) {
  for (SoxCase c : {SoxCase{44100, 2, 24}, SoxCase{8000, 4, 16}}) {
    Loaded r = load(soxWrite(c, 10, "wav"));
    ASSERT_TRUE(r.isWave) << c.channels;
    EXPECT_EQ(WaveFile::FormatTag, 0xFFFE);
    ASSERT_EQ(r.frames, 10);
    EXPECT_EQ(r.left[9], sampleOf(9, 0));
    EXPECT_EQ(r.right[9], sampleOf(9, 1));
  }

  const std::string raw = dir.write("in.raw", Riff::pcm16({1000, -1000, 2000, -2000}));
  const std::string sox = "sox -D -t raw -r 8000 -e signed -b 16 -c 2 - ";
  ASSERT_EQ(std::system((sox + "-e floating-point -b 32 '" + dir.file("f.wav") + "' < '" + raw + "'").c_str()), 0);
  EXPECT_FALSE(load(dir.file("f.wav")).isWave);
  EXPECT_EQ(WaveFile::FormatTag, 3);
  const std::string pipe = "cat '" + raw + "' | " + sox + "-t wav - 2>/dev/null | cat > '" + dir.file("p.wav") + "'";
  ASSERT_EQ(std::system(pipe.c_str()), 0);
  Loaded piped = load(dir.file("p.wav"));
  EXPECT_GT(WaveFile::DataLen, 1000000u);
  EXPECT_EQ(piped.right, (std::vector<double>{-1000, -2000}));
}

}  // namespace
