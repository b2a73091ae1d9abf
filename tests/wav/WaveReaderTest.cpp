#include "WaveTestSupport.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>

#include <cmath>
#include <cstring>
#include <tuple>
#include <ctime>

using namespace wavtest;

namespace {

::testing::Environment* const library = ::testing::AddGlobalTestEnvironment(new LibraryEnvironment);

class WaveReader : public ::testing::Test {
 protected:
  TempDir dir;
};

std::vector<std::int16_t> ramp(int frames, int channels) {
  std::vector<std::int16_t> s;
  for (int k = 0; k < frames * channels; ++k) s.push_back(std::int16_t(k * 37 - 20000));
  return s;
}

// ---- the chunk walk -------------------------------------------------------------

TEST_F(WaveReader, SkipsUnknownChunksAndIgnoresThoseAfterData) {
  auto path = dir.write("a.wav", Riff()
                                     .chunk("LIST", std::string(26, 'i'))
                                     .fmt(2, 8000, 16)
                                     .data16({1, 2, 3, 4})
                                     .chunk("junk", "xyzw")
                                     .bytes());
  Loaded r = load(path);
  ASSERT_TRUE(r.isWave);
  EXPECT_EQ(WaveFile::DataPos, 12u + 34 + 24 + 8);
  EXPECT_EQ(WaveFile::DataLen, 8u);
  EXPECT_EQ(r.frames, 2);
  EXPECT_EQ(r.left, (std::vector<double>{1, 3}));
  EXPECT_EQ(r.right, (std::vector<double>{2, 4}));
}

TEST_F(WaveReader, OddSizedChunkHasNoPadByte) {
  auto path = dir.write("a.wav", Riff().chunk("odd!", "abc").fmt(1, 8000, 16).data16({7, -7}).bytes());
  Loaded r = load(path);
  ASSERT_TRUE(r.isWave);
  EXPECT_EQ(r.left, (std::vector<double>{7, -7}));
}

TEST_F(WaveReader, LaterChunksOverwriteEarlierOnes) {
  auto path = dir.write("a.wav", Riff()
                                     .fmt(2, 8000, 16)
                                     .data16({1, 1})
                                     .fmt(1, 11025, 16)
                                     .data16({5, 6, 7})
                                     .bytes());
  Loaded r = load(path);
  ASSERT_TRUE(r.isWave);
  EXPECT_EQ(WaveFile::SampleRate, 11025u);
  EXPECT_EQ(WaveFile::Channels, 1);
  EXPECT_EQ(r.left, (std::vector<double>{5, 6, 7}));
}

TEST_F(WaveReader, FmtChunkLongerThanSixteenBytesIsSkippedWhole) {
  std::string fmt = le16(1) + le16(1) + le32(8000) + le32(16000) + le16(2) + le16(16) + le16(0);
  auto path = dir.write("a.wav", Riff().chunk("fmt ", fmt).data16({9, 8}).bytes());
  Loaded r = load(path);
  ASSERT_TRUE(r.isWave);
  EXPECT_EQ(r.left, (std::vector<double>{9, 8}));
}

TEST_F(WaveReader, ChunkHeaderCutOffByTheEndEndsTheWalk) {
  auto path = dir.write("a.wav", Riff().fmt(1, 8000, 16).data16({3, 4}).raw("LIS").bytes());
  Loaded r = load(path);
  ASSERT_TRUE(r.isWave);
  EXPECT_EQ(r.frames, 2);
}

TEST_F(WaveReader, ChunkReachingPastTheEndEndsTheWalk) {
  // The "fmt " inside the oversized chunk's claimed span is never taken.
  auto good = dir.write("good.wav", Riff().fmt(1, 8000, 16).data16({1, 2}).bytes());
  ASSERT_TRUE(load(good).isWave);
  Riff bad;
  bad.fmt(1, 8000, 16).data16({1, 2}).chunkDeclaring("big!", 1000, "").fmt(2, 44100, 16);
  Loaded r = load(dir.write("bad.wav", bad.bytes()));
  ASSERT_TRUE(r.isWave);
  EXPECT_EQ(WaveFile::SampleRate, 8000u);
}

TEST_F(WaveReader, DataRunningPastTheEndYieldsTheWholeFramesPresent) {
  // A recording cut short: the size field still says what was meant to come.
  for (std::uint32_t declared : {0xFFFFFFFFu, 4000u}) {
    std::string data = Riff::pcm16({10, 20, 30, 40, 50, 60}) + "\x01\x02\x03";
    auto path = dir.write("cut.wav", Riff().fmt(2, 8000, 16).chunkDeclaring("data", declared, data).bytes());
    Loaded r = load(path);
    ASSERT_TRUE(r.isWave);
    EXPECT_EQ(WaveFile::DataLen, declared);
    EXPECT_EQ(r.frames, 3);
    EXPECT_EQ(r.right, (std::vector<double>{20, 40, 60}));
  }
}

TEST_F(WaveReader, ShorterFileAfterALongerOneShowsNothingOfTheFirst) {
  // Both files are large enough for the reader's memory to be reused between them.
  const int longFrames = 800000, shortFrames = 700000;
  auto longPath = dir.write("long.wav", Riff().fmt(2, 44100, 16).data16(std::vector<std::int16_t>(2 * longFrames, 1000)).bytes());
  std::string cut = Riff::pcm16(std::vector<std::int16_t>(2 * shortFrames, -7));
  auto shortPath = dir.write("short.wav", Riff().fmt(2, 44100, 16).chunkDeclaring("data", 0xFFFFFFFFu, cut).bytes());
  ASSERT_EQ(load(longPath).frames, longFrames);
  Loaded r = load(shortPath);
  ASSERT_EQ(r.frames, shortFrames);
  EXPECT_EQ(r.left, std::vector<double>(shortFrames, -7));
  EXPECT_EQ(r.right, std::vector<double>(shortFrames, -7));
  EXPECT_EQ(load(longPath).left, std::vector<double>(longFrames, 1000));
}

TEST_F(WaveReader, MissingChunksLoadNothingAndNeverTakeThePreviousFilesValues) {
  ASSERT_TRUE(load(dir.write("a.wav", Riff().fmt(1, 12000, 16).data16({1}).bytes())).isWave);
  Loaded r = load(dir.write("b.wav", Riff().data16({4, 5}).bytes()));
  ASSERT_TRUE(r.isWave);
  EXPECT_EQ(WaveFile::SampleRate, 0u);
  EXPECT_EQ(r.frames, 0);

  // A data-only file, then a fmt-only one: the second would otherwise read its own
  // header bytes at the first file's data position.
  Buffers b;
  TDateTime date;
  ASSERT_TRUE(WaveFile::GetWaveInfo(dir.file("a.wav"), date));
  ASSERT_EQ(WaveFile::LoadWaveData("", false, b.time, b.left, b.right), 1);
  ASSERT_TRUE(WaveFile::GetWaveInfo(dir.write("data.wav", Riff().data16({4, 5, 6, 7}).bytes()), date));
  EXPECT_EQ(WaveFile::LoadWaveData("", false, b.time, b.left, b.right), 0);
  EXPECT_EQ(b.left, nullptr);
  ASSERT_TRUE(WaveFile::GetWaveInfo(dir.write("fmt.wav", Riff().fmt(2, 8000, 16).chunk("LIST", std::string(40, 'x')).bytes()), date));
  EXPECT_EQ(WaveFile::DataPos, 0u);
  EXPECT_EQ(WaveFile::DataLen, 0u);
  EXPECT_EQ(WaveFile::LoadWaveData("", false, b.time, b.left, b.right), 0);
  EXPECT_EQ(b.time, nullptr);
  EXPECT_EQ(b.left, nullptr);
  EXPECT_EQ(b.right, nullptr);
  EXPECT_EQ(WaveFile::Buffer, nullptr);
}

TEST_F(WaveReader, RefusesWhatIsNotRiffWaveOrNotPcm) {
  const std::string valid = Riff().fmt(1, 8000, 16).data16({1}).bytes();
  std::string notRiff = valid, notWave = valid;
  notRiff[0] = 'X';
  notWave[8] = 'w';
  EXPECT_FALSE(load(dir.write("1.wav", notRiff)).isWave);
  EXPECT_FALSE(load(dir.write("2.wav", notWave)).isWave);
  EXPECT_FALSE(load(dir.write("3.wav", "")).isWave);
  EXPECT_FALSE(load(dir.write("4.wav", "RIF")).isWave);
  EXPECT_FALSE(load(dir.write("5.wav", Riff().fmt(1, 8000, 32, 3).data16({1, 1}).bytes())).isWave);
  // A second "fmt " cannot make a refused file acceptable again.
  EXPECT_FALSE(load(dir.write("6.wav", Riff().fmt(1, 8000, 32, 3).fmt(1, 8000, 16).bytes())).isWave);
  EXPECT_EQ(WaveFile::FileLen, std::uint32_t(Riff().fmt(1, 8000, 32, 3).fmt(1, 8000, 16).bytes().size()));
}

// ---- sample formats -------------------------------------------------------------

TEST_F(WaveReader, StereoSixteenBitChannelsAndTimeLine) {
  const int F = 1000;
  auto samples = ramp(F, 2);
  auto path = dir.write("s.wav", Riff().fmt(2, 44100, 16).data16(samples).bytes());
  Loaded r = load(path);
  ASSERT_EQ(r.frames, F);
  for (int k = 0; k < F; ++k) {
    ASSERT_EQ(r.left[k], samples[2 * k]);
    ASSERT_EQ(r.right[k], samples[2 * k + 1]);
    ASSERT_EQ(r.time[k], double((k + 1) / 44100.0L)) << k;
  }
  EXPECT_EQ(r.time[0], 1 / 44100.0);
  EXPECT_EQ(r.time[F - 1], F / 44100.0);

  Loaded swapped = load(path, true);
  EXPECT_EQ(swapped.left, r.right);
  EXPECT_EQ(swapped.right, r.left);
  EXPECT_EQ(swapped.time, r.time);
}

TEST_F(WaveReader, MonoGivesBothChannelsTheSameValues) {
  auto path = dir.write("m.wav", Riff().fmt(1, 8000, 16).data16({-32768, 0, 32767}).bytes());
  Loaded r = load(path);
  EXPECT_EQ(r.left, (std::vector<double>{-32768, 0, 32767}));
  EXPECT_EQ(r.right, r.left);
}

TEST_F(WaveReader, EightBitSamplesKeepTheirUnsignedValue) {
  auto path = dir.write("8.wav", Riff().fmt(2, 8000, 8).chunk("data", std::string("\x00\xFF\x80\x01", 4)).bytes());
  Loaded r = load(path);
  EXPECT_EQ(r.left, (std::vector<double>{0, 128}));
  EXPECT_EQ(r.right, (std::vector<double>{255, 1}));
}

TEST_F(WaveReader, WideSamplesKeepTheirMostSignificantSixteenBits) {
  auto path24 = dir.write("24.wav", Riff().fmt(2, 8000, 24).chunk("data", std::string("\x56\x34\x12\x00\x00\x80", 6)).bytes());
  Loaded r = load(path24);
  EXPECT_EQ(r.left, (std::vector<double>{0x1234}));
  EXPECT_EQ(r.right, (std::vector<double>{-32768}));
  auto path32 = dir.write("32.wav", Riff().fmt(1, 8000, 32).chunk("data", std::string("\xFF\xFF\xFE\xFF\x00\x00\xFF\x7F", 8)).bytes());
  EXPECT_EQ(load(path32).left, (std::vector<double>{-2, 32767}));
}

TEST_F(WaveReader, MoreThanTwoChannelsReadTheFirstTwoOfEachFrame) {
  auto path = dir.write("4ch.wav", Riff().fmt(4, 8000, 16).data16({1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}).bytes());
  Loaded r = load(path);
  EXPECT_EQ(r.left, (std::vector<double>{1, 5, 9}));
  EXPECT_EQ(r.right, (std::vector<double>{2, 6, 10}));
}

TEST(WaveTimeLine, MatchesTheExtendedDivisionBitForBit) {
  // Rounding n / rate straight to double differs from rounding it through the
  // extended format about once in 5000 entries at 44.1 kHz; every entry must match
  // the extended result, including the ragged ends of a range that starts anywhere.
  int plainDiffers = 0;
  for (std::uint32_t rate : {1u, 3u, 8000u, 11025u, 44100u, 48000u, 65521u, 4294967295u}) {
    for (std::size_t first : {std::size_t{0}, std::size_t{26459001}}) {
      const std::size_t count = 300001;
      std::vector<double> line(count);
      WaveFile::FillTimeLine(line.data(), first, count, rate);
      for (std::size_t j = first; j < first + count; ++j) {
        const double expected = double((j + 1) / static_cast<long double>(rate));
        ASSERT_EQ(std::memcmp(&line[j - first], &expected, sizeof expected), 0) << rate << " " << j;
        plainDiffers += double(j + 1) / rate != expected;
      }
    }
  }
  EXPECT_GT(plainDiffers, 0);
}

TEST_F(WaveReader, LongDataIsReadWholeAndChunksAfterItAreStillFound) {
  // Larger than the reader's window and its pieces, with odd sizes so nothing lines
  // up with them: every frame arrives, and the date after the samples is found.
  std::vector<std::int16_t> stereo;
  for (int k = 0; k < 2 * 100003; ++k) stereo.push_back(std::int16_t(k * 7919));
  std::string wide;  // 3 channels of 24 bits
  for (int k = 0; k < 3 * 50001; ++k) wide += std::string{char(k), char(k >> 3), char(k >> 11)};
  for (const auto& [channels, bits, data] : {std::tuple{2, 16, Riff::pcm16(stereo)}, std::tuple{3, 24, wide}}) {
    auto path = dir.write("long.wav", Riff()
                                          .fmt(std::uint16_t(channels), 22050, std::uint16_t(bits))
                                          .chunk("data", data)
                                          .chunk("LIST", "odd")
                                          .vctr(30, 14, 5, 6, 24)
                                          .bytes());
    Loaded r = load(path);
    const std::size_t frameBytes = std::size_t(channels) * bits / 8;
    ASSERT_EQ(std::size_t(r.frames), data.size() / frameBytes);
    EXPECT_DOUBLE_EQ(r.date, 45448 + 14.5 / 24);
    auto sample = [&](std::size_t at) {
      return double(std::int16_t(std::uint8_t(data[at + bits / 8 - 2]) | std::uint8_t(data[at + bits / 8 - 1]) << 8));
    };
    for (std::size_t j = 0; j < std::size_t(r.frames); ++j) {
      ASSERT_EQ(r.left[j], sample(j * frameBytes)) << j;
      ASSERT_EQ(r.right[j], sample(j * frameBytes + bits / 8)) << j;
    }
    EXPECT_EQ(r.time.back(), double(r.frames / 22050.0L));
  }
}

TEST_F(WaveReader, FramesLargerThanTheReadersWindowAreReadOneByOne) {
  // 40000 channels of 32 bits: each frame is 160000 bytes.
  const int channels = 40000, frames = 3;
  std::string data(std::size_t(channels) * 4 * frames, '\0');
  for (int f = 0; f < frames; ++f) {
    data[std::size_t(f) * channels * 4 + 3] = char(f + 1);  // left: most significant byte
    data[std::size_t(f) * channels * 4 + 7] = char(-(f + 1));
  }
  Loaded r = load(dir.write("wide.wav", Riff().fmt(channels, 8000, 32).chunk("data", data).bytes()));
  ASSERT_EQ(r.frames, frames);
  EXPECT_EQ(r.left, (std::vector<double>{256, 512, 768}));
  EXPECT_EQ(r.right, (std::vector<double>{-256, -512, -768}));
}

TEST_F(WaveReader, FileRemovedOrCutShortAfterGetWaveInfo) {
  const std::vector<std::int16_t> samples(2 * 50000, 9);
  const std::string bytes = Riff().fmt(2, 8000, 16).data16(samples).bytes();
  TDateTime date;
  Buffers b;

  // The file stays open from GetWaveInfo on, so removing its name changes nothing.
  auto path = dir.write("gone.wav", bytes);
  ASSERT_TRUE(WaveFile::GetWaveInfo(path, date));
  std::filesystem::remove(path);
  EXPECT_EQ(WaveFile::LoadWaveData(path, false, b.time, b.left, b.right), 50000);
  pDoubleArray loaded = b.left;

  // Cut to 1000 frames and a half: the whole frames still there, and no more.
  path = dir.write("cut.wav", bytes);
  ASSERT_TRUE(WaveFile::GetWaveInfo(path, date));
  std::filesystem::resize_file(path, 44 + 4 * 1000 + 2);
  EXPECT_EQ(WaveFile::LoadWaveData(path, false, b.time, b.left, b.right), 1000);
  EXPECT_NE(b.left, loaded);
  EXPECT_EQ(std::vector<double>(b.left, b.left + 1000), std::vector<double>(1000, 9));

  // Cut to the header: nothing is loaded.
  path = dir.write("empty.wav", bytes);
  ASSERT_TRUE(WaveFile::GetWaveInfo(path, date));
  std::filesystem::resize_file(path, 44);
  EXPECT_EQ(WaveFile::LoadWaveData(path, false, b.time, b.left, b.right), 0);
  EXPECT_EQ(b.left, nullptr);
  EXPECT_EQ(WaveFile::Buffer, nullptr);
}

TEST(WaveBufferLength, PowerOfTwoNearestOnALogScaleButNeverShort) {
  EXPECT_EQ(WaveFile::BufferLength(1), 1u);
  EXPECT_EQ(WaveFile::BufferLength(1000), 1024u);
  EXPECT_EQ(WaveFile::BufferLength(1024), 1024u);
  EXPECT_EQ(WaveFile::BufferLength(1400), 1400u);
  EXPECT_EQ(WaveFile::BufferLength(1449), 2048u);
  EXPECT_EQ(WaveFile::BufferLength(26460000), 33554432u);
  // Just below and just above a half-way exponent (2^19.5, 2^20.5).
  EXPECT_EQ(WaveFile::BufferLength(741455), 741455u);
  EXPECT_EQ(WaveFile::BufferLength(1482911), 2097152u);
}

TEST_F(WaveReader, EmptyDataOrZeroRateLoadsNothing) {
  Buffers b;
  ASSERT_TRUE(load(dir.write("a.wav", Riff().fmt(1, 8000, 16).data16({1, 2, 3}).bytes())).isWave);
  TDateTime date;
  ASSERT_TRUE(WaveFile::GetWaveInfo(dir.file("a.wav"), date));
  ASSERT_EQ(WaveFile::LoadWaveData("", false, b.time, b.left, b.right), 3);

  ASSERT_TRUE(WaveFile::GetWaveInfo(dir.write("empty.wav", Riff().fmt(1, 8000, 16).data16({}).bytes()), date));
  EXPECT_EQ(WaveFile::LoadWaveData("", false, b.time, b.left, b.right), 0);
  EXPECT_EQ(b.time, nullptr);
  EXPECT_EQ(b.left, nullptr);
  EXPECT_EQ(b.right, nullptr);

  ASSERT_TRUE(WaveFile::GetWaveInfo(dir.write("rate0.wav", Riff().fmt(1, 0, 16).data16({1, 2}).bytes()), date));
  EXPECT_EQ(WaveFile::LoadWaveData("", false, b.time, b.left, b.right), 0);
  EXPECT_EQ(WaveFile::Buffer, nullptr);
}

// ---- dates ----------------------------------------------------------------------

TEST_F(WaveReader, VctrChunkGivesTheRecordingDate) {
  Loaded r = load(dir.write("v.wav", Riff().fmt(1, 8000, 16).vctr(30, 14, 5, 6, 24).data16({1}).bytes()));
  ASSERT_TRUE(r.isWave);
  EXPECT_DOUBLE_EQ(r.date, 45448 + 14.5 / 24);
  EXPECT_EQ(r.frames, 1);
}

TEST_F(WaveReader, WithoutVctrTheDateIsTheModificationTimeInLocalTime) {
  const char* oldTz = std::getenv("TZ");
  std::string saved = oldTz ? oldTz : "";
  ::setenv("TZ", "UTC-7", 1);  // seven hours east of UTC
  ::tzset();
  auto path = dir.write("t.wav", Riff().fmt(1, 8000, 16).data16({1}).bytes());
  struct timespec times[2] = {{1614834367, 0}, {1614834367, 0}};  // 2021-03-04 05:06:07 UTC
  ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
  Loaded r = load(path);
  if (oldTz) ::setenv("TZ", saved.c_str(), 1);
  else ::unsetenv("TZ");
  ::tzset();
  EXPECT_DOUBLE_EQ(r.date, 44259 + (12 * 3600 + 6 * 60 + 7) / 86400.0);
}

TEST_F(WaveReader, InvalidVctrDatesAreRejected) {
  struct Case {
    int minute, hour, day, month, year;
  } bad[] = {{30, 14, 5, 13, 24}, {30, 14, 5, 0, 24}, {0, 0, 31, 4, 24}, {0, 0, 29, 2, 23},
             {0, 0, 0, 1, 24}, {0, 24, 1, 1, 24}, {60, 0, 1, 1, 24}};
  for (const Case& c : bad) {
    auto path = dir.write("bad.wav", Riff().fmt(1, 8000, 16).vctr(c.minute, c.hour, c.day, c.month, c.year).bytes());
    TDateTime date = -1;
    try {
      WaveFile::GetWaveInfo(path, date);
      ADD_FAILURE() << "accepted month " << c.month << " day " << c.day;
    } catch (const WaveFile::EConvertError& e) {
      std::string text = e.what();
      EXPECT_EQ(text.front(), '\'');
      EXPECT_TRUE(text.ends_with("' is not a valid date and time")) << text;
    }
  }
  Loaded leap = load(dir.write("leap.wav", Riff().fmt(1, 8000, 16).vctr(59, 23, 29, 2, 24).bytes()));
  EXPECT_DOUBLE_EQ(leap.date, WaveFile::EncodeDateTime(2024, 2, 29, 23, 59, 0));
}

// ---- errors ---------------------------------------------------------------------

TEST_F(WaveReader, MissingFileNamesTheFileAndTheReason) {
  std::string path = dir.file("none.wav");
  TDateTime date = 5;
  try {
    WaveFile::GetWaveInfo(path, date);
    FAIL();
  } catch (const WaveFile::EFOpenError& e) {
    EXPECT_EQ(std::string(e.what()), "Cannot open file \"" + path + "\". No such file or directory");
  }
  EXPECT_EQ(date, 0);
}

TEST_F(WaveReader, DirectoriesAndPipesAreRefusedWithoutHanging) {
  TDateTime date;
  EXPECT_THROW(WaveFile::GetWaveInfo(dir.path().string(), date), WaveFile::EFOpenError);
  std::string fifo = dir.file("pipe.wav");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  EXPECT_THROW(WaveFile::GetWaveInfo(fifo, date), WaveFile::EFOpenError);
}

TEST_F(WaveReader, NoChannelsIsADivisionByZeroThatKeepsTheBuffers) {
  Buffers b;
  TDateTime date;
  ASSERT_TRUE(WaveFile::GetWaveInfo(dir.write("a.wav", Riff().fmt(1, 8000, 16).data16({1, 2}).bytes()), date));
  ASSERT_EQ(WaveFile::LoadWaveData("", false, b.time, b.left, b.right), 2);
  const pDoubleArray before[3] = {b.time, b.left, b.right};
  // (Samples narrower than a byte are read by their container: WaveVariantsTest.)
  for (auto fmt : {Riff().fmt(0, 8000, 16), Riff().fmtAligned(0, 8000, 4, 0)}) {
    ASSERT_TRUE(WaveFile::GetWaveInfo(dir.write("z.wav", fmt.data16({1, 2}).bytes()), date));
    try {
      WaveFile::LoadWaveData("", false, b.time, b.left, b.right);
      FAIL();
    } catch (const WaveFile::EDivByZero& e) {
      EXPECT_STREQ(e.what(), "Division by zero");
    }
    EXPECT_EQ(b.time, before[0]);
    EXPECT_EQ(b.left, before[1]);
    EXPECT_EQ(b.right, before[2]);
    EXPECT_EQ(b.left[1], 2);
  }
}

TEST_F(WaveReader, ReadsPastTheEndGiveZeroAndStayInside) {
  TDateTime date;
  WaveFile::GetWaveInfo(dir.write("short.wav", "RIFF\x01\x02"), date);
  ASSERT_NE(WaveFile::Buffer, nullptr);
  WaveFile::Buffer->Position = 4;
  EXPECT_EQ(WaveFile::ReadDW(), 0x0201u);
  EXPECT_EQ(WaveFile::ReadBT(), 0);
  EXPECT_EQ(WaveFile::ReadWD(), 0);
}

}  // namespace
