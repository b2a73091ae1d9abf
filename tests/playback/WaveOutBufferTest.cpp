// The sound output holds one buffer at a time: a second write while the first
// is queued is refused and leaves the second buffer untouched.
#include "MonitorCapture.h"
#include "playback/WaveOut.h"

#include <gtest/gtest.h>

#include <vector>

using namespace WaveOut;

TEST(WaveOut, ASecondBufferIsRefusedWhileTheFirstIsQueued) {
  const WAVEFORMATEX fmt{WAVE_FORMAT_PCM, 2, 22050, 22050 * 4, 4, 16, 0};
  HWAVEOUT h = nullptr;
  ASSERT_EQ(waveOutOpen(&h, WAVE_MAPPER, &fmt, 0, 0, CALLBACK_NULL), MMSYSERR_NOERROR) << LastErrorText();
  std::vector<std::int16_t> first = stereoTones(22050, 440, 1000);
  std::vector<std::int16_t> second = stereoTones(22050, 660, 1000);
  WAVEHDR a{}, b{};
  a.lpData = reinterpret_cast<char*>(first.data());
  a.dwBufferLength = DWORD(first.size() * sizeof(std::int16_t));
  b.lpData = reinterpret_cast<char*>(second.data());
  b.dwBufferLength = DWORD(second.size() * sizeof(std::int16_t));
  waveOutPrepareHeader(h, &a, sizeof a);
  waveOutPrepareHeader(h, &b, sizeof b);
  ASSERT_EQ(waveOutWrite(h, &a, sizeof a), MMSYSERR_NOERROR);

  EXPECT_EQ(waveOutWrite(h, &b, sizeof b), WAVERR_STILLPLAYING);
  EXPECT_EQ(b.dwFlags, WHDR_PREPARED);
  EXPECT_EQ(waveOutUnprepareHeader(h, &b, sizeof b), MMSYSERR_NOERROR);

  EXPECT_EQ(waveOutReset(h), MMSYSERR_NOERROR);
  EXPECT_NE(a.dwFlags & WHDR_DONE, 0u);
  EXPECT_EQ(waveOutUnprepareHeader(h, &a, sizeof a), MMSYSERR_NOERROR);
  EXPECT_EQ(waveOutClose(h), MMSYSERR_NOERROR);
}
