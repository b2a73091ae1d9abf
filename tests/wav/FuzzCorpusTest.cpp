// Replays the fuzzer's seed corpus (and any finding saved beside it) through the
// reader in the ordinary and sanitizer builds.
#include "WaveTestSupport.h"

#include <filesystem>

using namespace wavtest;

TEST(WaveFuzzCorpus, EveryInputEndsInAnAnswerOrAClearError) {
  int replayed = 0;
  for (const auto& entry : std::filesystem::directory_iterator(TEMBRIX_WAV_CORPUS)) {
    SCOPED_TRACE(entry.path().string());
    try {
      Loaded r = load(entry.path().string());
      EXPECT_EQ(r.time.size(), std::size_t(r.frames));
    } catch (const std::runtime_error& e) {
      EXPECT_NE(std::string(e.what()), "");
    }
    ++replayed;
  }
  EXPECT_GE(replayed, 20);
}
