// Play and Stop of the editor frame, driven with real clicks on a shown frame
// that holds a recording, heard through the test sound server.
// (EditorTestSupport.h gives the look inside the frame, FrameFixture.h the
// frame laid out as the open flow does.)
#include "EditorTestSupport.h"
#include "editor/TembrixPlayRequest.h"
#include "FrameFixture.h"
#include "MonitorCapture.h"
#include "playback/SoundPlayThread.h"
#include "PlaybackThreads.h"
#include "SoundLibrarySpy.h"

#include "platform/Dialogs.h"
#include "wav/AvailableMemory.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <QPointer>
#include <QTest>

#include <malloc.h>

#include <cmath>
#include <fstream>
#include <functional>
#include <string>
#include <memory>
#include <numbers>

using T = TembrixTestAccess;
using namespace SoundPlayThread;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

constexpr std::int64_t kFrames = 3 * kCaptureRate;

std::int16_t toneAt(std::int64_t frame, double hz) {
  return std::int16_t(std::lround(8000 * std::sin(2 * std::numbers::pi * hz * double(frame) / kCaptureRate + 0.5)));
}
std::int16_t leftAt(std::int64_t frame) { return toneAt(frame, 440); }
std::int16_t rightAt(std::int64_t frame) { return toneAt(frame, 1000); }

double ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

class FramePlayback : public FrameFixture {
 protected:
  void TearDown() override {
    frame.reset();
    // A playback of the frame ends within moments of its window.
    EXPECT_TRUE(waitFor([] { return !PlaybackUnderWay(); }, 2s));
    QTest::qWait(10);  // the finished threads free themselves
    FrameFixture::TearDown();
  }

  void load(std::uint16_t bits = 16, std::int64_t frames = kFrames) {
    const std::string file = path("tones.wav").toStdString();
    if (bits == 16)
      writeWav(file, kCaptureRate, 16, 2, frames, [](std::int64_t f, int c) { return c == 0 ? leftAt(f) : rightAt(f); });
    else
      writeWav(file, 8000, 8, 2, 8000, [](std::int64_t, int) { return 128; });
    FrameFixture::load(QString::fromStdString(file));
  }
  void select(double lo, double hi) {
    if (!frame->SpeedButtonSelect->isChecked()) QTest::mouseClick(frame->SpeedButtonSelect, Qt::LeftButton);
    T::TimeSelect(*frame).Lo = lo;
    T::TimeSelect(*frame).Hi = hi;
  }
  // Clicks Play and waits until the playback has disabled Play and given it back.
  bool playToEnd(std::chrono::milliseconds timeout = 10s) {
    QTest::mouseClick(frame->Button1, Qt::LeftButton);
    return waitUntilPlayedBack(timeout);
  }
  bool waitUntilPlayedBack(std::chrono::milliseconds timeout = 10s) {
    bool disabled = false;
    return waitFor([&] { return (disabled = disabled || !frame->Button1->isEnabled()) && frame->Button1->isEnabled(); },
                   timeout);
  }
  // The frames s … s + n − 1 as the sink plays them: left output, right output.
  static std::vector<std::int16_t> expected(std::int64_t s, std::int64_t n, std::int16_t (*out0)(std::int64_t),
                                            std::int16_t (*out1)(std::int64_t)) {
    std::vector<std::int16_t> v;
    for (std::int64_t i = s; i < s + n; ++i) {
      v.push_back(out0(i));
      v.push_back(out1(i));
    }
    return v;
  }
};

TEST_F(FramePlayback, PlaySendsTheSelectionOfBothChannelsToTheSink) {
  load();
  select(1.0, 2.0);  // s = 48000, n = 48000
  MonitorCapture capture;
  ASSERT_TRUE(playToEnd());
  EXPECT_FALSE(frame->StaticTextPlayPosition->isVisible());
  EXPECT_TRUE(recorder.messages().empty());
  capture.waitUntilCaptured(Clock::now());
  EXPECT_TRUE(findExact(capture.samples(), expected(48000, 48000, leftAt, rightAt)));
}

// A span of many slices is converted while its start already plays. All of it
// is heard frame for frame.
TEST_F(FramePlayback, ALongSpanIsHeardWhole) {
  const std::int64_t span = 8 * std::int64_t(SliceFrames) + 1234;
  load(16, span + 10);
  select(0.0, double(span) / kCaptureRate);
  MonitorCapture capture;
  ASSERT_TRUE(playToEnd(15s));
  EXPECT_TRUE(recorder.messages().empty());
  capture.waitUntilCaptured(Clock::now());
  EXPECT_TRUE(findExact(capture.samples(), expected(0, span, leftAt, rightAt)));
}

// A cut right after Play waits until the conversion has read the span: what is
// heard is the span as it was before the cut.
TEST_F(FramePlayback, CuttingTheSpanRightAfterPlayLeavesTheRequestAsItWas) {
  const std::int64_t span = 2 * kCaptureRate;
  load(16, 2 * span);  // the cut moves the rest over the whole span
  select(0.0, double(span) / kCaptureRate);
  MonitorCapture capture;
  QTest::mouseClick(frame->Button1, Qt::LeftButton);
  QTest::mouseClick(frame->ButtonSelectCut, Qt::LeftButton);
  EXPECT_EQ(frame->arWAVENOP, span) << "the span was not cut";
  ASSERT_TRUE(waitUntilPlayedBack());
  capture.waitUntilCaptured(Clock::now());
  EXPECT_TRUE(findExact(capture.samples(), expected(0, span, leftAt, rightAt)));
}

// A cut while the span plays: the sound goes on as it was, but the line,
// whose times no longer match the recording, is hidden at once and for good.
TEST_F(FramePlayback, ACutWhilePlayingHidesTheLineForTheRestOfThePlayback) {
  load();
  select(0.0, 2.0);
  QTest::mouseClick(frame->Button1, Qt::LeftButton);
  ASSERT_TRUE(waitFor([this] { return frame->StaticTextPlayPosition->isVisible(); }));
  QTest::mouseClick(frame->ButtonSelectCut, Qt::LeftButton);
  EXPECT_FALSE(frame->StaticTextPlayPosition->isVisible());
  bool shown = false;
  ASSERT_TRUE(waitFor([&] {
    shown = shown || frame->StaticTextPlayPosition->isVisible();
    return !PlaybackUnderWay();
  }));
  EXPECT_FALSE(shown) << "the line came back after the cut";
}

TEST_F(FramePlayback, OneChosenChannelIsHeardOnBothOutputs) {
  load();
  select(0.5, 1.25);
  frame->CheckBoxChannel2->setChecked(false);  // "Левый" only
  MonitorCapture capture;
  ASSERT_TRUE(playToEnd());
  capture.waitUntilCaptured(Clock::now());
  EXPECT_TRUE(findExact(capture.samples(), expected(24000, 36000, leftAt, leftAt)));

  frame->CheckBoxChannel1->setChecked(false);
  frame->CheckBoxChannel2->setChecked(true);  // "Правый" only
  ASSERT_TRUE(playToEnd());
  capture.waitUntilCaptured(Clock::now());
  EXPECT_TRUE(findExact(capture.samples(), expected(24000, 36000, rightAt, rightAt)));
}

TEST_F(FramePlayback, RefusalsShowTheirBoxAndStartNothing) {
  load(8);
  select(0.1, 0.5);
  QTest::mouseClick(frame->Button1, Qt::LeftButton);
  frame->CheckBoxChannel1->setChecked(false);
  frame->CheckBoxChannel2->setChecked(false);
  T::arBitsPerSample(*frame) = 16;
  QTest::mouseClick(frame->Button1, Qt::LeftButton);
  QTest::qWait(50);
  const auto m = recorder.messages();
  ASSERT_EQ(m.size(), 2u);
  EXPECT_EQ(m[0].text, QStringLiteral("Формат файла не соответствует Зарнит!!! Прослушивание отключено!"));
  EXPECT_EQ(m[0].caption, QStringLiteral("Несоответствие формата"));
  EXPECT_EQ(m[0].icon, Dialogs::Icon::None);
  EXPECT_EQ(m[1].text, QStringLiteral("Не включен ни один канал!!!"));
  EXPECT_EQ(m[1].caption, QStringLiteral("Выбор каналов"));
  EXPECT_EQ(m[1].icon, Dialogs::Icon::None);
  EXPECT_TRUE(frame->Button1->isEnabled()) << "a playback started";
}

TEST_F(FramePlayback, PlayFillsTheGlobalsAndPlaysTheRoundedSpanClippedToTheRecording) {
  load();
  TFrameTembrix& f = *frame;
  select(f.arTimeLine[0], f.arTimeLine[kFrames - 1]);
  QTest::mouseClick(f.ButtonStop, Qt::LeftButton);
  QTest::mouseClick(f.Button1, Qt::LeftButton);
  EXPECT_FALSE(PlaySoundStopper) << "Play clears the stop request";
  EXPECT_FALSE(Sound1.Channels) << "the playback takes the request over";
  EXPECT_EQ(thSampleRate, kCaptureRate);
  EXPECT_EQ(thPositionLo, f.arTimeLine[0]);
  EXPECT_EQ(thButton, f.Button1);
  EXPECT_EQ(SenderChart1, f.Chart1);
  EXPECT_EQ(SenderChart4, f.Chart4);
  EXPECT_EQ(SenderStaticTextPlayPosition, f.StaticTextPlayPosition);
  QTest::mouseClick(f.ButtonStop, Qt::LeftButton);
  ASSERT_TRUE(waitFor([] { return !PlaybackUnderWay(); }));

  // A span reaching past the last frame reads nothing beyond it. Ties go to
  // the even neighbour; a value keeps its low 16 bits.
  const std::int64_t s = kFrames - 4;
  select(double(s) / kCaptureRate, double(kFrames + 5) / kCaptureRate);
  f.arLeftCH[s] = 2.5;
  f.arLeftCH[s + 1] = 3.5;
  f.arLeftCH[s + 2] = -0.5;
  f.arLeftCH[s + 3] = 40000.0;
  MonitorCapture capture;
  ASSERT_TRUE(playToEnd());
  capture.waitUntilCaptured(Clock::now());
  EXPECT_TRUE(findExact(capture.samples(), {2, rightAt(s), 4, rightAt(s + 1), 0, rightAt(s + 2),
                                            std::int16_t(40000 - 65536), rightAt(s + 3)}));
}

TEST_F(FramePlayback, ASpanThatDoesNotFitInMemoryIsRefused) {
  load();
  select(1.0, 2.0);  // 48000 frames, 192000 bytes interleaved
  WaveFile::AvailableMemory = [] { return std::uint64_t(191999); };
  QTest::mouseClick(frame->Button1, Qt::LeftButton);
  WaveFile::AvailableMemory = WaveFile::SystemAvailableMemory;
  const auto m = recorder.messages();
  ASSERT_EQ(m.size(), 1u);
  EXPECT_EQ(m[0].text,
            QStringLiteral("Недостаточно памяти для прослушивания выделения (1 МБ). Выделите более короткий участок."));
  EXPECT_EQ(m[0].caption, QStringLiteral("Прослушивание"));
  EXPECT_EQ(m[0].icon, Dialogs::Icon::None);
  EXPECT_FALSE(PlaybackUnderWay()) << "a playback started";

  WaveFile::AvailableMemory = [] { return std::uint64_t(192000); };
  QTest::mouseClick(frame->Button1, Qt::LeftButton);
  WaveFile::AvailableMemory = WaveFile::SystemAvailableMemory;
  EXPECT_EQ(recorder.messages().size(), 1u) << "a span that fits was refused";
  QTest::mouseClick(frame->ButtonStop, Qt::LeftButton);
}

TEST_F(FramePlayback, StopEndsTheSoundAndGivesPlayBack) {
  load();
  select(0.0, 3.0);
  MonitorCapture capture;
  QTest::mouseClick(frame->Button1, Qt::LeftButton);
  ASSERT_TRUE(waitFor([this] { return frame->StaticTextPlayPosition->isVisible(); }));
  EXPECT_FALSE(frame->Button1->isEnabled());
  const auto stop = Clock::now();
  QTest::mouseClick(frame->ButtonStop, Qt::LeftButton);
  ASSERT_TRUE(waitFor([this] { return frame->Button1->isEnabled(); }, 2s));
  EXPECT_FALSE(frame->StaticTextPlayPosition->isVisible());
  capture.waitUntilCaptured(Clock::now());
  const auto last = lastLoudFrame(capture.samples(), 100);
  ASSERT_TRUE(last);
  EXPECT_LE(ms(capture.frameTime(double(*last)) - stop), 150.0 * kSlowdown);
}

TEST_F(FramePlayback, ClosingTheWindowWhilePlayingStopsTheSound) {
  load();
  select(0.0, 3.0);
  MonitorCapture capture;
  QTest::mouseClick(frame->Button1, Qt::LeftButton);
  ASSERT_TRUE(waitFor([this] { return frame->StaticTextPlayPosition->isVisible(); }));
  const auto closed = Clock::now();
  frame.reset();
  EXPECT_TRUE(waitFor([] { return !PlaybackUnderWay(); }, 1s));
  EXPECT_TRUE(recorder.messages().empty());
  capture.waitUntilCaptured(Clock::now());
  const auto last = lastLoudFrame(capture.samples(), 100);
  ASSERT_TRUE(last);
  EXPECT_LE(ms(capture.frameTime(double(*last)) - closed), 100.0 * kSlowdown);
}

// Closed right after Play of a long span, while its rest is still converted
// and interleaved: the window waits until the conversion has read what it
// needs of its channels, the playback stops, and no error is shown.
TEST_F(FramePlayback, ClosingTheWindowRightAfterPlayOfALongSpanEndsCleanly) {
  const std::int64_t span = 30 * kCaptureRate;
  load(16, span);
  select(0.0, double(span) / kCaptureRate);
  QTest::mouseClick(frame->Button1, Qt::LeftButton);
  frame.reset();
  EXPECT_TRUE(waitFor([] { return !PlaybackUnderWay(); }, 5s));
  EXPECT_TRUE(recorder.messages().empty());
}

// Whatever is still to be converted: Stop, seen at the next poll, gives Play
// back within 50 ms of it, and closing the window during the conversion holds
// the GUI thread up no longer than that.
TEST_F(FramePlayback, StopAndClosingAnswerAtOnceOnALongSpan) {
  const std::int64_t span = 300 * std::int64_t(kCaptureRate);  // five minutes
  load(16, span);
  select(0.0, double(span) / kCaptureRate);
  QTest::mouseClick(frame->Button1, Qt::LeftButton);
  ASSERT_TRUE(waitFor([this] { return frame->StaticTextPlayPosition->isVisible(); }));
  const auto stop = Clock::now();
  QTest::mouseClick(frame->ButtonStop, Qt::LeftButton);
  ASSERT_TRUE(waitFor([this] { return frame->Button1->isEnabled(); }, 2s));
  EXPECT_LE(ms(Clock::now() - stop), (100.0 + 50.0) * kSlowdown) << "Play came back late after Stop";
  EXPECT_FALSE(frame->StaticTextPlayPosition->isVisible());

  QTest::mouseClick(frame->Button1, Qt::LeftButton);
  QTest::qWait(20);
  const auto closed = Clock::now();
  frame.reset();
  if (kSlowdown == 1.0) {  // sanitizer builds take far longer to free the window itself
    EXPECT_LE(ms(Clock::now() - closed), 50.0) << "closing waited for the conversion";
  }
  EXPECT_TRUE(recorder.messages().empty());
}

TEST_F(FramePlayback, QuickClicksOpenTheDeviceOnceAndPlayTheSpanOnce) {
  load();
  select(1.0, 1.5);
  MonitorCapture capture;
  const auto opens = SoundLibrarySpy::OpenAttempts();
  // Clicks faster than any playback can start: all but the last are replaced
  // before their turn.
  for (int i = 0; i < 20; ++i) QTest::mouseClick(frame->Button1, Qt::LeftButton);
  // The replaced requests end at once; the last may not have started yet.
  ASSERT_TRUE(waitFor([this] { return !T::Playing(*frame) && !PlaybackUnderWay(); }));
  EXPECT_TRUE(frame->Button1->isEnabled());
  EXPECT_EQ(SoundLibrarySpy::OpenAttempts() - opens, 1u);
  EXPECT_TRUE(recorder.messages().empty());
  EXPECT_FALSE(Sound1.Channels);
  capture.waitUntilCaptured(Clock::now());
  const auto captured = capture.samples();
  const auto span = expected(48000, 24000, leftAt, rightAt);
  const auto offset = findExact(captured, span);
  ASSERT_TRUE(offset);
  // Heard once: after the span only silence.
  const std::vector<std::int16_t> after(captured.begin() + 2 * std::ptrdiff_t(*offset + 24000), captured.end());
  EXPECT_FALSE(lastLoudFrame(after, 100)) << "the span was heard more than once";
}

#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
// The allocator's count of large blocks (every block from 64 KiB up gets its
// own mapping here) shows what the span costs: only the interleaved buffer is
// ever held, and after the playback nothing is.
TEST_F(FramePlayback, WhilePlayingTheSpanIsHeldOnceAndAfterwardsNotAtAll) {
  mallopt(M_MMAP_THRESHOLD, 64 * 1024);
  load();
  select(0.0, 2.0);
  ASSERT_TRUE(playToEnd());  // the sound library's own start-up allocations stay
  const std::size_t interleaved = 2 * 96000 * sizeof(std::int16_t);
  const auto held = [before = mallinfo2().hblkhd] { return double(mallinfo2().hblkhd) - double(before); };

  QTest::mouseClick(frame->Button1, Qt::LeftButton);
  EXPECT_LE(held(), double(interleaved) + 64 * 1024) << "Play holds more than the interleaved span";
  ASSERT_TRUE(waitFor([this] { return frame->StaticTextPlayPosition->isVisible(); }));
  EXPECT_NEAR(held(), double(interleaved), 64 * 1024) << "more than the interleaved buffer while playing";
  ASSERT_TRUE(waitFor([] { return !PlaybackUnderWay(); }));
  QTest::qWait(10);  // the finished thread frees itself
  EXPECT_LE(held(), 64.0 * 1024) << "the span stays after the playback";
  EXPECT_FALSE(Sound1.Channels);
}
#endif

}  // namespace
