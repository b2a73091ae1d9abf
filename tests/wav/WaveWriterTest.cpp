#include "WaveTestSupport.h"

#include <sys/resource.h>
#include <sys/stat.h>

#include <csignal>

using namespace wavtest;

namespace {

class WaveWriter : public ::testing::Test {
 protected:
  TempDir dir;

  // Buffers from the library holding the given values.
  static pDoubleArray make(const std::vector<double>& values) {
    pDoubleArray p = IPPDynamic::IIPP_MallocDouble(int(values.size()) + 1);
    for (std::size_t i = 0; i < values.size(); ++i) p[i] = values[i];
    return p;
  }
  static pDoubleArray timeLine(int frames, std::uint32_t rate) {
    std::vector<double> t;
    for (int j = 0; j < frames; ++j) t.push_back(double((j + 1) / static_cast<long double>(rate)));
    return make(t);
  }
};

std::string expectedHeader(std::uint32_t rate, std::uint32_t frames) {
  return "RIFF" + le32(frames * 4 + 36) + "WAVEfmt " + le32(16) + le16(1) + le16(2) + le32(rate) +
         le32(rate * 4) + le16(4) + le16(16) + "data" + le32(frames * 4);
}

TEST_F(WaveWriter, ThreeFramesMakeA56ByteFileWithLeftThenRight) {
  Buffers b;
  b.time = timeLine(3, 22050);
  b.left = make({1, -2, 300});
  b.right = make({-1, 2, -300});
  std::string path = dir.file("out.wav");
  WaveFile::SaveDataToWavFile(path, false, b.time, b.left, b.right, 3);
  std::string bytes = readFile(path);
  ASSERT_EQ(bytes.size(), 56u);
  EXPECT_EQ(bytes, expectedHeader(22050, 3) + Riff::pcm16({1, -1, -2, 2, 300, -300}));
}

TEST_F(WaveWriter, RoundsTiesToEvenAndKeepsTheLowSixteenBits) {
  Buffers b;
  b.time = timeLine(6, 22050);
  b.left = make({1.5, 2.5, -0.5, 32768, 65537, -32769});
  b.right = make({-1.5, 0.49999999999999994, 3.5, -32768.4, 70000, 1e6});
  std::string path = dir.file("round.wav");
  WaveFile::SaveDataToWavFile(path, false, b.time, b.left, b.right, 6);
  EXPECT_EQ(readFile(path).substr(44), Riff::pcm16({2, -2, 2, 0, 0, 4, -32768, -32768, 1, 4464, 32767, 16960}));
}

TEST_F(WaveWriter, DeclaresTheRecordingsOwnRate) {
  for (std::uint32_t rate : {8000u, 44100u, 96000u}) {
    Buffers b;
    b.time = timeLine(2, rate);
    b.left = make({1, 2});
    b.right = make({3, 4});
    std::string path = dir.file("r" + std::to_string(rate) + ".wav");
    WaveFile::SaveDataToWavFile(path, false, b.time, b.left, b.right, 2);
    EXPECT_EQ(readFile(path).substr(0, 44), expectedHeader(rate, 2));
  }
}

TEST_F(WaveWriter, WithoutATimeLineDeclares22050) {
  Buffers b;
  b.left = make({5});
  b.right = make({6});
  WaveFile::SaveDataToWavFile(dir.file("a.wav"), false, b.time, b.left, b.right, 1);
  EXPECT_EQ(readFile(dir.file("a.wav")), expectedHeader(22050, 1) + Riff::pcm16({5, 6}));
  WaveFile::SaveDataToWavFile(dir.file("empty.wav"), false, b.time, b.left, b.right, 0);
  EXPECT_EQ(readFile(dir.file("empty.wav")), expectedHeader(22050, 0));
}

TEST_F(WaveWriter, NeverReplacesAnExistingFile) {
  Buffers b;
  b.time = timeLine(1, 8000);
  b.left = make({1});
  b.right = make({2});
  std::string path = dir.write("keep.wav", "precious");
  try {
    WaveFile::SaveDataToWavFile(path, false, b.time, b.left, b.right, 1);
    FAIL();
  } catch (const WaveFile::EFCreateError& e) {
    EXPECT_EQ(std::string(e.what()), "Cannot create file \"" + path + "\". File exists");
  }
  EXPECT_EQ(readFile(path), "precious");

  std::string nowhere = dir.file("no/such/folder.wav");
  try {
    WaveFile::SaveDataToWavFile(nowhere, false, b.time, b.left, b.right, 1);
    FAIL();
  } catch (const WaveFile::EFCreateError& e) {
    EXPECT_EQ(std::string(e.what()), "Cannot create file \"" + nowhere + "\". No such file or directory");
  }
}

TEST_F(WaveWriter, AFailedWriteRemovesThePartialFile) {
  const int frames = 100000;  // 400 KB, far beyond the limit below
  Buffers b;
  b.time = timeLine(frames, 8000);
  b.left = make(std::vector<double>(frames, 1.0));
  b.right = make(std::vector<double>(frames, 2.0));
  std::string path = dir.file("big.wav");

  rlimit saved{};
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
  rlimit small = saved;
  small.rlim_cur = 100000;
  auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);  // let write() fail with EFBIG instead
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
  std::string message;
  try {
    WaveFile::SaveDataToWavFile(path, false, b.time, b.left, b.right, frames);
  } catch (const WaveFile::EWriteError& e) {
    message = e.what();
  }
  ::setrlimit(RLIMIT_FSIZE, &saved);
  std::signal(SIGXFSZ, oldHandler);
  EXPECT_EQ(message, "Cannot write file \"" + path + "\". File too large");
  EXPECT_FALSE(std::filesystem::exists(path));
}

TEST_F(WaveWriter, ReleasesABufferLeftByAFailedRead) {
  TDateTime date;
  ASSERT_FALSE(WaveFile::GetWaveInfo(dir.write("junk.wav", "not a wave file"), date));
  ASSERT_NE(WaveFile::Buffer, nullptr);
  Buffers b;
  b.left = make({1});
  b.right = make({1});
  WaveFile::SaveDataToWavFile(dir.file("x.wav"), false, b.time, b.left, b.right, 1);
  EXPECT_EQ(WaveFile::Buffer, nullptr);
}

TEST_F(WaveWriter, SaveThenLoadKeepsEverySampleAndTheRate) {
  for (std::uint32_t rate : {8000u, 44100u}) {
    const int F = 5000;
    std::vector<double> left, right;
    for (int k = 0; k < F; ++k) {
      left.push_back(double((k * 131) % 65536 - 32768));
      right.push_back(double(32767 - (k * 71) % 65536));
    }
    Buffers b;
    b.time = timeLine(F, rate);
    b.left = make(left);
    b.right = make(right);
    std::string path = dir.file("rt" + std::to_string(rate) + ".wav");
    WaveFile::SaveDataToWavFile(path, false, b.time, b.left, b.right, F);

    Loaded r = load(path);
    ASSERT_TRUE(r.isWave);
    EXPECT_EQ(WaveFile::SampleRate, rate);
    EXPECT_EQ(WaveFile::BitsPerSample, 16);
    ASSERT_EQ(r.frames, F);
    EXPECT_EQ(r.left, left);
    EXPECT_EQ(r.right, right);
    EXPECT_EQ(r.time, std::vector<double>(b.time, b.time + F));
  }
}

}  // namespace
