// The sound-output layer against the real test sound server: what is written
// arrives at the sink sample for sample, the buffer is held until its end was
// heard, positions follow the heard sound, pause silences at once and reset
// gives the buffer back.
#include "MonitorCapture.h"
#include "playback/WaveOut.h"
#include "SoundLibrarySpy.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <iostream>
#include <vector>

using namespace WaveOut;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

WAVEFORMATEX stereo16(DWORD rate) {
  return WAVEFORMATEX{WAVE_FORMAT_PCM, 2, rate, rate * 4, 4, 16, 0};
}

WAVEHDR headerFor(std::vector<std::int16_t>& sound) {
  WAVEHDR h{};
  h.lpData = reinterpret_cast<char*>(sound.data());
  h.dwBufferLength = DWORD(sound.size() * sizeof(std::int16_t));
  return h;
}

DWORD positionOf(HWAVEOUT h) {
  MMTIME t{};
  t.wType = TIME_SAMPLES;
  EXPECT_EQ(waveOutGetPosition(h, &t, sizeof t), MMSYSERR_NOERROR);
  EXPECT_EQ(t.wType, TIME_SAMPLES);
  return t.sample;
}

double ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

}  // namespace

TEST(WaveOut, PlaysTheBufferSampleForSampleAndHoldsItUntilItsEndWasHeard) {
  MonitorCapture capture;
  std::vector<std::int16_t> sound = stereoTones(kCaptureRate / 2, 440, 1000);
  const std::size_t frames = sound.size() / 2;
  const WAVEFORMATEX fmt = stereo16(kCaptureRate);
  HWAVEOUT h = nullptr;
  ASSERT_EQ(waveOutOpen(&h, WAVE_MAPPER, &fmt, 0, 0, CALLBACK_NULL), MMSYSERR_NOERROR) << LastErrorText();
  WAVEHDR hdr = headerFor(sound);
  ASSERT_EQ(waveOutPrepareHeader(h, &hdr, sizeof hdr), MMSYSERR_NOERROR);
  ASSERT_EQ(waveOutWrite(h, &hdr, sizeof hdr), MMSYSERR_NOERROR);

  struct Sample {
    Clock::time_point t;
    DWORD position;
  };
  std::vector<Sample> track;
  DWORD last = 0;
  const auto deadline = Clock::now() + 5s;
  while (waveOutUnprepareHeader(h, &hdr, sizeof hdr) == WAVERR_STILLPLAYING && Clock::now() < deadline) {
    const auto t = Clock::now();
    const DWORD p = positionOf(h);
    EXPECT_GE(p, last) << "the position moved backwards";
    last = p;
    track.push_back({t, p});
    std::this_thread::sleep_for(2ms);
  }
  const auto done = Clock::now();
  EXPECT_EQ(hdr.dwFlags & (WHDR_INQUEUE | WHDR_PREPARED), 0u);
  EXPECT_NE(hdr.dwFlags & WHDR_DONE, 0u);
  EXPECT_EQ(positionOf(h), frames);
  EXPECT_EQ(waveOutClose(h), MMSYSERR_NOERROR);

  capture.waitUntilCaptured(done);
  const auto offset = findExact(capture.samples(), sound);
  ASSERT_TRUE(offset) << "the captured sound differs from the buffer written";

  // Given back only once the last frame was heard, and not long after.
  const auto endHeard = capture.frameTime(double(*offset + frames));
  EXPECT_GE(ms(done - endHeard), -10.0);
  EXPECT_LE(ms(done - endHeard), 60.0 * kSlowdown);

  // Every reported position names the frame heard at that moment.
  std::vector<double> errors;
  for (const Sample& s : track)
    if (s.position > 0 && s.position < frames)
      errors.push_back((double(s.position) - (capture.frameAt(s.t) - double(*offset))) * 1000.0 / kCaptureRate);
  ASSERT_GT(errors.size(), 20u);
  std::sort(errors.begin(), errors.end());
  std::cout << "position - heard: min " << errors.front() << " ms, median " << errors[errors.size() / 2]
            << " ms, max " << errors.back() << " ms; buffer returned " << ms(done - endHeard)
            << " ms after its end was heard\n";
  for (double e : errors) EXPECT_LE(std::abs(e), 20.0 * kSlowdown) << "position off the heard sound by " << e << " ms";
}

// A buffer written while it is still being filled: only the marked part
// plays, then silence that the position does not count, and the rest once it
// is marked; the buffer is held until all of it has been heard.
TEST(WaveOut, APartlyFilledBufferPlaysToTheMarkAndGoesOnWhenMoreIsMarked) {
  MonitorCapture capture;
  std::vector<std::int16_t> sound = stereoTones(kCaptureRate, 440, 1000);
  const std::size_t frames = sound.size() / 2, first = kCaptureRate / 4;
  const WAVEFORMATEX fmt = stereo16(kCaptureRate);
  HWAVEOUT h = nullptr;
  ASSERT_EQ(waveOutOpen(&h, WAVE_MAPPER, &fmt, 0, 0, CALLBACK_NULL), MMSYSERR_NOERROR) << LastErrorText();
  WAVEHDR hdr = headerFor(sound);
  EXPECT_EQ(waveOutMarkFilled(h, &hdr, 0), WAVERR_UNPREPARED);
  ASSERT_EQ(waveOutPrepareHeader(h, &hdr, sizeof hdr), MMSYSERR_NOERROR);
  ASSERT_EQ(waveOutMarkFilled(h, &hdr, DWORD(first * 4)), MMSYSERR_NOERROR);
  ASSERT_EQ(waveOutWrite(h, &hdr, sizeof hdr), MMSYSERR_NOERROR);
  std::this_thread::sleep_for(600ms);
  EXPECT_EQ(positionOf(h), first);
  EXPECT_EQ(waveOutUnprepareHeader(h, &hdr, sizeof hdr), WAVERR_STILLPLAYING);

  ASSERT_EQ(waveOutMarkFilled(h, &hdr, hdr.dwBufferLength), MMSYSERR_NOERROR);
  const auto deadline = Clock::now() + 5s;
  while (waveOutUnprepareHeader(h, &hdr, sizeof hdr) == WAVERR_STILLPLAYING && Clock::now() < deadline)
    std::this_thread::sleep_for(5ms);
  EXPECT_EQ(positionOf(h), frames);
  EXPECT_EQ(waveOutClose(h), MMSYSERR_NOERROR);

  capture.waitUntilCaptured(Clock::now());
  const auto captured = capture.samples();
  const auto split = sound.begin() + 2 * std::ptrdiff_t(first);
  const auto a = findExact(captured, std::vector<std::int16_t>(sound.begin(), split));
  const auto b = findExact(captured, std::vector<std::int16_t>(split, sound.end()));
  ASSERT_TRUE(a && b) << "a part of the buffer was not heard as written";
  EXPECT_GE(*b, *a + first + kCaptureRate / 5) << "no silence while the rest was not marked";
}

TEST(WaveOut, PauseSilencesAtOnceAndResetGivesTheBufferBack) {
  MonitorCapture capture;
  std::vector<std::int16_t> sound = stereoTones(2 * kCaptureRate, 440, 1000);
  const WAVEFORMATEX fmt = stereo16(kCaptureRate);
  HWAVEOUT h = nullptr;
  ASSERT_EQ(waveOutOpen(&h, WAVE_MAPPER, &fmt, 0, 0, CALLBACK_NULL), MMSYSERR_NOERROR) << LastErrorText();
  WAVEHDR hdr = headerFor(sound);
  waveOutPrepareHeader(h, &hdr, sizeof hdr);
  waveOutWrite(h, &hdr, sizeof hdr);
  std::this_thread::sleep_for(300ms);

  EXPECT_EQ(waveOutPause(h), MMSYSERR_NOERROR);
  const auto paused = Clock::now();
  const DWORD at = positionOf(h);
  EXPECT_GT(at, 0u);
  EXPECT_EQ(waveOutUnprepareHeader(h, &hdr, sizeof hdr), WAVERR_STILLPLAYING);
  EXPECT_EQ(waveOutClose(h), WAVERR_STILLPLAYING) << "closed while the device holds the buffer";
  std::this_thread::sleep_for(100ms);
  EXPECT_EQ(positionOf(h), at) << "the position moved while paused";

  EXPECT_EQ(waveOutReset(h), MMSYSERR_NOERROR);
  EXPECT_EQ(hdr.dwFlags & WHDR_INQUEUE, 0u);
  EXPECT_EQ(positionOf(h), 0u);
  EXPECT_EQ(waveOutUnprepareHeader(h, &hdr, sizeof hdr), MMSYSERR_NOERROR);
  EXPECT_EQ(waveOutClose(h), MMSYSERR_NOERROR);

  capture.waitUntilCaptured(Clock::now());
  const auto captured = capture.samples();
  const auto lastLoud = lastLoudFrame(captured, 100);
  ASSERT_TRUE(lastLoud) << "nothing was heard";
  EXPECT_LE(ms(capture.frameTime(double(*lastLoud)) - paused), 15.0 * kSlowdown) << "the sound went on after the pause";
  // What was heard before the pause is the start of the buffer, in order
  // (short of the last few milliseconds, within the position's accuracy).
  ASSERT_GT(at, DWORD(kCaptureRate / 50));
  const std::vector<std::int16_t> start(sound.begin(), sound.begin() + 2 * std::ptrdiff_t(at - kCaptureRate / 50));
  EXPECT_TRUE(findExact(captured, start));
}

TEST(WaveOut, AnEmptyBufferIsGivenBackWithoutSound) {
  const WAVEFORMATEX fmt = stereo16(22050);
  HWAVEOUT h = nullptr;
  ASSERT_EQ(waveOutOpen(&h, WAVE_MAPPER, &fmt, 0, 0, CALLBACK_NULL), MMSYSERR_NOERROR) << LastErrorText();
  std::vector<std::int16_t> none;
  WAVEHDR hdr = headerFor(none);
  waveOutPrepareHeader(h, &hdr, sizeof hdr);
  EXPECT_EQ(waveOutWrite(h, &hdr, sizeof hdr), MMSYSERR_NOERROR);
  const auto deadline = Clock::now() + 2s;
  while (waveOutUnprepareHeader(h, &hdr, sizeof hdr) == WAVERR_STILLPLAYING && Clock::now() < deadline)
    std::this_thread::sleep_for(5ms);
  EXPECT_EQ(hdr.dwFlags & WHDR_INQUEUE, 0u);
  EXPECT_EQ(positionOf(h), 0u);
  EXPECT_EQ(waveOutClose(h), MMSYSERR_NOERROR);
}

TEST(WaveOut, RefusesFormatsFlagsDevicesAndHeadersItCannotUse) {
  HWAVEOUT h = nullptr;
  WAVEFORMATEX fmt = stereo16(44100);
  fmt.wBitsPerSample = 24;
  EXPECT_EQ(waveOutOpen(&h, WAVE_MAPPER, &fmt, 0, 0, CALLBACK_NULL), WAVERR_BADFORMAT);
  EXPECT_FALSE(LastErrorText().empty());
  fmt = stereo16(44100);
  fmt.nBlockAlign = 2;
  EXPECT_EQ(waveOutOpen(&h, WAVE_MAPPER, &fmt, 0, 0, CALLBACK_NULL), WAVERR_BADFORMAT);
  fmt = stereo16(44100);
  fmt.wFormatTag = 3;
  EXPECT_EQ(waveOutOpen(&h, WAVE_MAPPER, &fmt, 0, 0, CALLBACK_NULL), WAVERR_BADFORMAT);
  fmt = stereo16(44100);
  EXPECT_EQ(waveOutOpen(&h, 7, &fmt, 0, 0, CALLBACK_NULL), MMSYSERR_BADDEVICEID);
  EXPECT_EQ(waveOutOpen(&h, WAVE_MAPPER, &fmt, 0, 0, 0x30000), MMSYSERR_INVALFLAG);
  EXPECT_EQ(h, nullptr);
  EXPECT_EQ(waveOutClose(nullptr), MMSYSERR_INVALHANDLE);

  ASSERT_EQ(waveOutOpen(&h, WAVE_MAPPER, &fmt, 0, 0, CALLBACK_NULL), MMSYSERR_NOERROR) << LastErrorText();
  std::vector<std::int16_t> sound(400);
  WAVEHDR hdr = headerFor(sound);
  EXPECT_EQ(waveOutWrite(h, &hdr, sizeof hdr), WAVERR_UNPREPARED);
  EXPECT_EQ(waveOutPrepareHeader(h, &hdr, 12), MMSYSERR_INVALPARAM);
  MMTIME t{};
  t.wType = 0x40;  // a format the device does not offer: answered in samples
  EXPECT_EQ(waveOutGetPosition(h, &t, sizeof t), MMSYSERR_NOERROR);
  EXPECT_EQ(t.wType, TIME_SAMPLES);
  EXPECT_EQ(waveOutClose(h), MMSYSERR_NOERROR);
}

TEST(WaveOut, OpenWithoutSoundServerFailsWithTheReasonAndRecovers) {
  if (!runsWithoutServer()) {
    EXPECT_EQ(runCurrentTestWithoutServer(), 0);
    return;
  }
  const WAVEFORMATEX fmt = stereo16(22050);
  HWAVEOUT h = reinterpret_cast<HWAVEOUT>(1);
  EXPECT_EQ(waveOutOpen(&h, WAVE_MAPPER, &fmt, 0, 0, CALLBACK_NULL), MMSYSERR_NODRIVER);
  EXPECT_EQ(h, nullptr);
  EXPECT_EQ(LastErrorText(), "No sound output device available (Device unavailable)");

  // Once a server is there, the next open finds it.
  setenv("PULSE_SERVER", realPulseServer().c_str(), 1);
  ASSERT_EQ(waveOutOpen(&h, WAVE_MAPPER, &fmt, 0, 0, CALLBACK_NULL), MMSYSERR_NOERROR) << LastErrorText();
  EXPECT_EQ(waveOutClose(h), MMSYSERR_NOERROR);
}

// The callback runs on the sound server's real-time thread: a lock or an
// allocation there can make the sound drop out whenever another thread holds
// the lock or the allocator is slow. Through writing, filling, polling, pause
// and reset it takes neither.
TEST(WaveOut, TheCallbackNeitherLocksNorAllocates) {
  if (!SoundLibrarySpy::WatchesTheAllocator()) GTEST_SKIP() << "the sanitizer owns the allocator";
  std::vector<std::int16_t> sound = stereoTones(kCaptureRate / 2, 440, 1000);
  const WAVEFORMATEX fmt = stereo16(kCaptureRate);
  const auto callbacksBefore = SoundLibrarySpy::Callbacks();
  const auto forbiddenBefore = SoundLibrarySpy::CallbackLocksAndAllocations();
  for (bool stopEarly : {false, true}) {
    HWAVEOUT h = nullptr;
    ASSERT_EQ(waveOutOpen(&h, WAVE_MAPPER, &fmt, 0, 0, CALLBACK_NULL), MMSYSERR_NOERROR) << LastErrorText();
    WAVEHDR hdr = headerFor(sound);
    waveOutPrepareHeader(h, &hdr, sizeof hdr);
    waveOutMarkFilled(h, &hdr, hdr.dwBufferLength / 4);
    ASSERT_EQ(waveOutWrite(h, &hdr, sizeof hdr), MMSYSERR_NOERROR);
    const auto deadline = Clock::now() + 3s;
    for (DWORD mark = hdr.dwBufferLength / 4; Clock::now() < deadline; mark += hdr.dwBufferLength / 8) {
      waveOutMarkFilled(h, &hdr, mark);
      positionOf(h);
      if (waveOutUnprepareHeader(h, &hdr, sizeof hdr) != WAVERR_STILLPLAYING) break;
      if (stopEarly && mark > hdr.dwBufferLength / 2) {
        EXPECT_EQ(waveOutPause(h), MMSYSERR_NOERROR);
        break;
      }
      std::this_thread::sleep_for(20ms);
    }
    EXPECT_EQ(waveOutReset(h), MMSYSERR_NOERROR);
    EXPECT_EQ(waveOutUnprepareHeader(h, &hdr, sizeof hdr), MMSYSERR_NOERROR);
    EXPECT_EQ(waveOutClose(h), MMSYSERR_NOERROR);
  }
  EXPECT_GT(SoundLibrarySpy::Callbacks() - callbacksBefore, 10u);
  EXPECT_EQ(SoundLibrarySpy::CallbackLocksAndAllocations() - forbiddenBefore, 0u);
}
