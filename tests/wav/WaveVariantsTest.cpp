// Files as other writers make them: the extensible format wrapper, pad bytes after
// odd chunks (and writers that leave them out), recordings whose writer never
// filled in the "data" size, and samples in containers wider than their bits.
#include "WaveTestSupport.h"

using namespace wavtest;

namespace {

class WaveVariants : public ::testing::Test {
 protected:
  TempDir dir;
  Loaded load(const Riff& riff) { return wavtest::load(dir.write("v.wav", riff.bytes())); }
};

const std::string opened = " Открываются записи PCM WAV с отсчётами по 8–32 бит.";

TEST_F(WaveVariants, ExtensiblePcmIsReadLikeTagOne) {
  Loaded r = load(Riff().fmtExtensible(2, 48000, 16, 16).chunk("fact", le32(2)).data16({1, -2, 300, -400}));
  ASSERT_TRUE(r.isWave);
  EXPECT_EQ(WaveFile::FormatTag, 0xFFFE);
  EXPECT_EQ(WaveFile::BitsPerSample, 16);
  EXPECT_EQ(WaveFile::SampleRate, 48000u);
  EXPECT_EQ(r.left, (std::vector<double>{1, 300}));
  EXPECT_EQ(r.right, (std::vector<double>{-2, -400}));

  // 24 bits, and 24 valid bits in 32-bit containers: the top 16 bits of each.
  r = load(Riff().fmtExtensible(2, 44100, 24, 24).chunk("data", Riff::samples({0x123456, -0x800000}, 3)));
  EXPECT_EQ(r.left, (std::vector<double>{0x1234}));
  EXPECT_EQ(r.right, (std::vector<double>{-32768}));
  r = load(Riff().fmtExtensible(2, 44100, 32, 24).chunk("data", Riff::samples({0x12345600, 0x7FFFFF00}, 4)));
  EXPECT_EQ(r.left, (std::vector<double>{0x1234}));
  EXPECT_EQ(r.right, (std::vector<double>{32767}));
}

TEST_F(WaveVariants, ExtensibleWithAnythingButPcmIsRefused) {
  EXPECT_FALSE(load(Riff().fmtExtensible(2, 44100, 32, 32, 3).chunk("data", std::string(16, '\0'))).isWave);
  EXPECT_EQ(WaveFile::FormatTag, 0xFFFE);
  EXPECT_EQ(WaveFile::NothingLoadedReason(), "Отсчёты с плавающей точкой (формат 3)." + opened);

  // Too short for a sub-format, or a GUID that stands for no format tag.
  std::string extensible = Riff().fmtExtensible(1, 8000, 16, 16).bytes().substr(20, 40);
  for (const std::string& fmt : {extensible.substr(0, 39), extensible.substr(0, 39) + "\x72"}) {
    EXPECT_FALSE(load(Riff().chunk("fmt ", fmt).data16({1, 2})).isWave);
    EXPECT_EQ(WaveFile::NothingLoadedReason(), "Неизвестный формат звука (формат 65534)." + opened);
  }
}

TEST_F(WaveVariants, OddChunkIsFollowedByAPadByteThatSomeWritersLeaveOut) {
  const std::string inst(7, '\x01');
  Loaded padded = load(Riff().fmt(2, 8000, 16).chunk("inst", inst).raw(std::string(1, '\0')).data16({5, 6}));
  EXPECT_EQ(padded.left, (std::vector<double>{5}));
  EXPECT_EQ(WaveFile::DataPos, 12u + 24 + 16 + 8);
  // Past the missing pad stand "ata" and the size's low byte: 4 is no letter, 32 a space.
  for (std::size_t frames : {1, 8}) {
    const std::vector<std::int16_t> samples(2 * frames, 5);
    Loaded unpadded = load(Riff().fmt(2, 8000, 16).chunk("inst", inst).data16(samples));
    EXPECT_EQ(unpadded.left, std::vector<double>(frames, 5));
    EXPECT_EQ(WaveFile::DataPos, 12u + 24 + 15 + 8);
  }

  // A chunk after an odd "data" chunk is found past the pad byte too.
  Loaded date = load(Riff().fmt(1, 8000, 8).chunk("data", "abc").raw(std::string(1, '\0')).vctr(30, 14, 5, 6, 24));
  EXPECT_EQ(date.frames, 3);
  EXPECT_DOUBLE_EQ(date.date, 45448 + 14.5 / 24);
}

TEST_F(WaveVariants, DataOfSizeZeroRunsToTheEndUnlessAChunkFollows) {
  // A writer cut off before it could fill in the sizes: every whole frame is there.
  Loaded r = load(Riff().fmt(2, 8000, 16).chunkDeclaring("data", 0, Riff::pcm16({1, 2, 3, 4, 5, 6}) + "\x07"));
  ASSERT_TRUE(r.isWave);
  EXPECT_EQ(WaveFile::DataLen, 0u);
  EXPECT_EQ(r.left, (std::vector<double>{1, 3, 5}));
  EXPECT_EQ(r.right, (std::vector<double>{2, 4, 6}));
  EXPECT_EQ(WaveFile::BitsPerSample, 16);
  // Quiet 8-bit samples just below the middle are printable letters.
  EXPECT_EQ(load(Riff().fmt(1, 8000, 8).chunkDeclaring("data", 0, "~}~}~}~}~")).frames, 9);

  r = load(Riff().fmt(2, 8000, 16).data16({}).chunk("LIST", Riff::pcm16({1, 2, 3, 4})));
  EXPECT_TRUE(r.isWave);
  EXPECT_EQ(r.frames, 0);
  EXPECT_EQ(WaveFile::NothingLoadedReason(), "В файле нет звуковых данных.");
}

TEST_F(WaveVariants, SamplesAreReadByTheirContainerWhenItIsConsistent) {
  // 12 bits in 2 bytes, 20 in 3, 24 in 4, 4 in 1: the value at the container's top.
  EXPECT_EQ(load(Riff().fmtAligned(2, 8000, 12, 4).chunk("data", Riff::samples({0x7FF0, -16}, 2))).right,
            (std::vector<double>{-16}));
  EXPECT_EQ(load(Riff().fmtAligned(1, 8000, 20, 3).chunk("data", Riff::samples({0x123450, -0x800000}, 3))).left,
            (std::vector<double>{0x1234, -32768}));
  Loaded r = load(Riff().fmtAligned(2, 8000, 24, 8).chunk("data", Riff::samples({0x12345600, -0x100, 0x100, 7}, 4)));
  EXPECT_EQ(r.left, (std::vector<double>{0x1234, 0}));
  EXPECT_EQ(r.right, (std::vector<double>{-1, 0}));
  EXPECT_EQ(WaveFile::BitsPerSample, 24);
  EXPECT_EQ(load(Riff().fmtAligned(1, 8000, 4, 1).chunk("data", "\x10\xF0")).left, (std::vector<double>{16, 240}));

  // A BlockAlign too small for the samples is no container: the bits are read.
  EXPECT_EQ(load(Riff().fmtAligned(2, 8000, 16, 0).data16({9, -9})).right, (std::vector<double>{-9}));
}

TEST_F(WaveVariants, InconsistentContainersLoadNothing) {
  struct {
    std::uint16_t channels, bits, align;
  } bad[] = {{2, 12, 3}, {2, 20, 4}, {1, 68, 9}, {1, 4, 0}, {1, 0, 2}, {3, 16, 8}};
  for (const auto& c : bad) {
    Loaded r = load(Riff().fmtAligned(c.channels, 8000, c.bits, c.align).chunk("data", std::string(72, '\x11')));
    EXPECT_TRUE(r.isWave);
    EXPECT_EQ(r.frames, 0) << c.bits << " bits, align " << c.align;
    EXPECT_EQ(WaveFile::NothingLoadedReason(), "Размеры отсчёта и кадра не согласованы (бит в отсчёте: " +
                                                   std::to_string(c.bits) + ", каналов: " + std::to_string(c.channels) +
                                                   ", байт в кадре: " + std::to_string(c.align) + ")." + opened);
  }
}

}  // namespace
