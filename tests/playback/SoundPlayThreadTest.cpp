// The playback thread on the real test sound server, with real widgets: what
// is heard, where the line stands, what happens to the Play button, and how a
// stop, a failure, a closed window and a second request end a playback.
#include "MemorySource.h"
#include "MonitorCapture.h"
#include "playback/SoundPlayThread.h"
#include "PlaybackThreads.h"
#include "SoundLibrarySpy.h"
#include "WaitFor.h"

#include "chart/TChart.h"
#include "platform/Dialogs.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <QEvent>
#include <QLabel>
#include <QTest>

#include <csignal>
#include <cstdlib>
#include <fstream>
#include <string>
#include <utility>
#include <functional>
#include <memory>

using namespace SoundPlayThread;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

double ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }


// What the GUI thread saw of the line and the button, with the time.
struct Observation {
  Clock::time_point t;
  WaveOut::DWORD sample;  // pmmt.sample when the line moved
  QRect line;
  bool lineVisible;
  bool buttonEnabled;
};

class Watcher : public QObject {
 public:
  Watcher(QWidget* line, QPushButton* button) : line_(line), button_(button) {
    line->installEventFilter(this);
    button->installEventFilter(this);
  }
  std::vector<Observation> lineMoves;
  bool buttonWasDisabled = false;

 protected:
  bool eventFilter(QObject* o, QEvent* e) override {
    if (o == line_ && (e->type() == QEvent::Move || e->type() == QEvent::Show))
      lineMoves.push_back({Clock::now(), pmmt.sample, line_->geometry(), line_->isVisible(), button_->isEnabled()});
    if (o == button_ && e->type() == QEvent::EnabledChange && !button_->isEnabled()) buttonWasDisabled = true;
    return false;
  }

 private:
  QWidget* line_;
  QPushButton* button_;
};

class PlaybackThread : public testing::Test {
 protected:
  void SetUp() override {
    Dialogs::setResponder(&recorder);
    panel = std::make_unique<QWidget>();
    panel->resize(640, 420);
    chart1 = new TChart(panel.get());
    chart1->setGeometry(1, 1, 600, 100);
    chart4 = new TChart(panel.get());
    chart4->setGeometry(1, 301, 600, 110);
    line = new QLabel(panel.get());
    line->setGeometry(80, 56, 1, 17);
    line->hide();
    button = new QPushButton(QStringLiteral("Play"), panel.get());
    button->setGeometry(10, 380, 75, 25);
    panel->show();
    // Times 0 … 10 s on the bottom axis.
    auto* series = chart1->AddSeries<TFastLineSeries>();
    series->AddXY(0, 0);
    series->AddXY(10, 0);
    chart1->Refresh();
    watcher = std::make_unique<Watcher>(line, button);
  }
  void TearDown() override {
    waitFor([this] { return !thread && !PlaybackThreadsRunning(); });
    Sound1 = {};
    Dialogs::setResponder(nullptr);
  }

  // Fills the globals as the Play command does and starts a thread.
  void play(const std::vector<std::int16_t>& interleaved, std::uint32_t rate, double lo) {
    Sound1.Channels = std::make_unique<MemorySource>(interleaved);
    Sound1.SampleRate = rate;
    SenderStaticTextPlayPosition = line;
    SenderChart1 = chart1;
    SenderChart4 = chart4;
    thSampleRate = std::int32_t(rate);
    thButton = button;
    thPositionLo = lo;
    PlaySoundStopper = false;
    auto* t = new TSoundPlayThread();
    t->SetFreeOnTerminate(true);
    thread = t;
    t->Start();
  }

  bool waitUntilFinished(std::chrono::milliseconds timeout = 10s) {
    return waitFor([this] { return !thread; }, timeout);
  }

  Dialogs::Recorder recorder;
  std::unique_ptr<QWidget> panel;
  TChart* chart1 = nullptr;
  TChart* chart4 = nullptr;
  QLabel* line = nullptr;
  QPushButton* button = nullptr;
  std::unique_ptr<Watcher> watcher;
  QPointer<TSoundPlayThread> thread;
};

TEST_F(PlaybackThread, PlaysItsOwnCopySampleForSampleWhileTheLineFollowsTheSound) {
  MonitorCapture capture;
  const auto sound = stereoTones(3 * kCaptureRate / 2, 440, 1000);
  play(sound, kCaptureRate, 2.0);
  // The playback takes the samples over, leaving the globals empty, and a
  // later request must not change what it plays.
  EXPECT_FALSE(Sound1.Channels);
  Sound1.Channels = std::make_unique<MemorySource>(std::vector<std::int16_t>(20, 5));
  ASSERT_TRUE(waitUntilFinished());
  const auto finished = Clock::now();

  EXPECT_TRUE(recorder.messages().empty());
  EXPECT_TRUE(button->isEnabled());
  EXPECT_FALSE(line->isVisible());
  capture.waitUntilCaptured(finished);
  const auto offset = findExact(capture.samples(), sound);
  ASSERT_TRUE(offset) << "the captured sound differs from the request";

  const auto& moves = watcher->lineMoves;
  ASSERT_GE(moves.size(), 6u);
  std::vector<double> errors;
  for (const Observation& o : moves) {
    EXPECT_FALSE(o.buttonEnabled) << "Play enabled while playing";
    const double t = double(o.sample) / kCaptureRate + 2.0;
    EXPECT_EQ(o.line.left(), chart1->BottomAxis->CalcPosValue(t));
    EXPECT_EQ(o.line.top(), chart1->ChartRect().Top + 1);
    EXPECT_EQ(o.line.height(), 2 * 100 + 2 * 110);
    EXPECT_EQ(o.line.width(), 1);
    const double heard = capture.frameAt(o.t) - double(*offset);
    if (heard > 0 && heard < double(sound.size() / 2)) errors.push_back((o.sample - heard) * 1000.0 / kCaptureRate);
  }
  // The first update comes after 500 ms of sound.
  EXPECT_GE(capture.frameAt(moves.front().t) - double(*offset), 0.45 * kCaptureRate);
  ASSERT_FALSE(errors.empty());
  for (double e : errors) EXPECT_LE(std::abs(e), 30.0 * kSlowdown) << "the line is " << e << " ms off the sound";
}

TEST_F(PlaybackThread, StopEndsTheSoundPromptlyAndRestoresTheControls) {
  MonitorCapture capture;
  const auto sound = stereoTones(3 * kCaptureRate, 440, 1000);
  play(sound, kCaptureRate, 0.0);
  ASSERT_TRUE(waitFor([this] { return watcher->lineMoves.size() >= 2; }));
  EXPECT_FALSE(button->isEnabled());
  const auto stop = Clock::now();
  PlaySoundStopper = true;
  ASSERT_TRUE(waitUntilFinished(2s));
  EXPECT_TRUE(button->isEnabled());
  EXPECT_FALSE(line->isVisible());
  EXPECT_TRUE(recorder.messages().empty());

  capture.waitUntilCaptured(Clock::now());
  const auto lastLoud = lastLoudFrame(capture.samples(), 100);
  ASSERT_TRUE(lastLoud);
  EXPECT_LE(ms(capture.frameTime(double(*lastLoud)) - stop), 150.0 * kSlowdown) << "the sound went on after Stop";
}

TEST_F(PlaybackThread, AnEmptySpanPlaysNothingAndGivesPlayBackAfterHalfASecond) {
  MonitorCapture capture;
  const auto start = Clock::now();
  play({}, 22050, 1.0);
  ASSERT_TRUE(waitUntilFinished());
  EXPECT_GE(ms(Clock::now() - start), 450.0);
  EXPECT_TRUE(watcher->buttonWasDisabled);
  EXPECT_TRUE(button->isEnabled());
  EXPECT_TRUE(watcher->lineMoves.empty()) << "the line was shown";
  EXPECT_TRUE(recorder.messages().empty());
  capture.waitUntilCaptured(Clock::now());
  EXPECT_FALSE(lastLoudFrame(capture.samples(), 0));
}

TEST_F(PlaybackThread, WithoutSoundServerTheErrorBoxTellsWhyAndPlayStaysEnabled) {
  if (!runsWithoutServer()) {
    EXPECT_EQ(runCurrentTestWithoutServer(), 0);
    return;
  }
  play(stereoTones(1000, 440, 1000), 22050, 0.0);
  ASSERT_TRUE(waitUntilFinished());

  const auto messages = recorder.messages();
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0].caption, QStringLiteral("Sound Playback Error"));
  EXPECT_TRUE(messages[0].text.startsWith(QStringLiteral("Exception: SoundPlayerThread.Execute: waveOutOpen failed: ")))
      << messages[0].text.toStdString();
  EXPECT_TRUE(messages[0].text.endsWith(QStringLiteral("No sound output device available (Device unavailable)")));
  EXPECT_EQ(messages[0].icon, Dialogs::Icon::Error);
  EXPECT_FALSE(messages[0].hasOwner);
  EXPECT_FALSE(watcher->buttonWasDisabled);
  EXPECT_TRUE(button->isEnabled());
  EXPECT_FALSE(line->isVisible());
}

TEST_F(PlaybackThread, ClosingTheWindowMidPlayStopsTheSoundAndLeavesTheControlsAlone) {
  MonitorCapture capture;
  play(stereoTones(3 * kCaptureRate, 440, 1000), kCaptureRate, 0.0);
  ASSERT_TRUE(waitFor([this] { return watcher->lineMoves.size() >= 2; }));
  // The window's destructor: abandon the playback, then the controls go.
  const auto closed = Clock::now();
  thread->Abandon();
  watcher.reset();
  panel.reset();
  ASSERT_TRUE(waitUntilFinished(2s));
  EXPECT_TRUE(recorder.messages().empty());
  capture.waitUntilCaptured(Clock::now());
  const auto lastLoud = lastLoudFrame(capture.samples(), 100);
  ASSERT_TRUE(lastLoud);
  EXPECT_LE(ms(capture.frameTime(double(*lastLoud)) - closed), 100.0 * kSlowdown) << "the sound went on after closing";
}

TEST_F(PlaybackThread, ASecondRequestStopsTheFirstAndPlaysItself) {
  MonitorCapture capture;
  play(stereoTones(3 * kCaptureRate, 440, 1000), kCaptureRate, 0.0);
  ASSERT_TRUE(waitFor([this] { return watcher->lineMoves.size() >= 2; }));
  QPointer<TSoundPlayThread> first = thread;
  const auto second = stereoTones(kCaptureRate, 660, 1300);
  play(second, kCaptureRate, 0.0);
  ASSERT_TRUE(waitFor([&] { return !first; }, 2s));
  ASSERT_TRUE(waitUntilFinished());
  EXPECT_TRUE(button->isEnabled());
  EXPECT_FALSE(line->isVisible());
  EXPECT_TRUE(recorder.messages().empty());

  capture.waitUntilCaptured(Clock::now());
  const auto captured = capture.samples();
  const auto offset = findExact(captured, second);
  ASSERT_TRUE(offset) << "the second request was not heard as it was";
  // Nothing of the first is heard under the second.
  const std::vector<std::int16_t> during(captured.begin() + 2 * std::ptrdiff_t(*offset),
                                         captured.begin() + 2 * std::ptrdiff_t(*offset + second.size() / 2));
  EXPECT_EQ(during, second);
  // While the second played, Play stayed disabled.
  for (const Observation& o : watcher->lineMoves) {
    if (o.t > capture.frameTime(double(*offset)) && o.t < capture.frameTime(double(*offset + second.size() / 2))) {
      EXPECT_FALSE(o.buttonEnabled);
    }
  }
}

TEST_F(PlaybackThread, RequestsReplacedBeforeTheirTurnOpenNoDeviceAndOnlyTheLastIsHeard) {
  MonitorCapture capture;
  const auto opensBefore = SoundLibrarySpy::OpenAttempts();
  // Ten requests before any could take its samples: only the last one plays.
  for (int i = 0; i < 9; ++i) play(stereoTones(kCaptureRate / 2, 300 + 20 * i, 900), kCaptureRate, 0.0);
  const auto last = stereoTones(kCaptureRate / 2, 660, 1300);
  play(last, kCaptureRate, 0.0);
  ASSERT_TRUE(waitFor([] { return !PlaybackUnderWay(); }));
  ASSERT_TRUE(waitUntilFinished());
  EXPECT_EQ(SoundLibrarySpy::OpenAttempts() - opensBefore, 1u);
  EXPECT_TRUE(recorder.messages().empty());
  EXPECT_FALSE(Sound1.Channels) << "the samples stay after the playback";
  EXPECT_TRUE(button->isEnabled());

  capture.waitUntilCaptured(Clock::now());
  const auto captured = capture.samples();
  const auto offset = findExact(captured, last);
  ASSERT_TRUE(offset) << "the last request was not heard as it was";
  const auto firstLoud = std::find_if(captured.begin(), captured.end(), [](std::int16_t v) { return std::abs(v) > 100; });
  EXPECT_GE(firstLoud - captured.begin(), 2 * std::ptrdiff_t(*offset)) << "an earlier request was heard";
}

TEST_F(PlaybackThread, WithoutSoundServerManyQuickRequestsShowOneErrorBox) {
  if (!runsWithoutServer()) {
    EXPECT_EQ(runCurrentTestWithoutServer(), 0);
    return;
  }
  const auto opensBefore = SoundLibrarySpy::OpenAttempts();
  for (int i = 0; i < 20; ++i) play(stereoTones(1000, 440, 1000), 22050, 0.0);
  ASSERT_TRUE(waitFor([] { return !PlaybackUnderWay(); }));
  ASSERT_TRUE(waitUntilFinished());
  QTest::qWait(50);
  EXPECT_EQ(SoundLibrarySpy::OpenAttempts() - opensBefore, 1u);
  ASSERT_EQ(recorder.messages().size(), 1u);
  EXPECT_EQ(recorder.messages()[0].caption, QStringLiteral("Sound Playback Error"));
  EXPECT_FALSE(recorder.messages()[0].blocksOtherWindows);
  EXPECT_FALSE(Sound1.Channels);
}

// The real box, not the test seam: while it waits for OK, a click on a
// button of another window, sent the way the window system sends it, still
// reaches that button.
TEST_F(PlaybackThread, TheErrorBoxLeavesOtherWindowsUsable) {
  if (!runsWithoutServer()) {
    EXPECT_EQ(runCurrentTestWithoutServer(), 0);
    return;
  }
  Dialogs::setResponder(nullptr);
  QWidget other;
  other.resize(200, 100);
  auto* otherButton = new QPushButton(QStringLiteral("other"), &other);
  otherButton->setGeometry(10, 10, 120, 30);
  int clicks = 0;
  QObject::connect(otherButton, &QPushButton::clicked, [&] { ++clicks; });
  other.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&other));

  // Runs inside whatever event loop is current, so that a box that blocked
  // the program in a loop of its own would still be looked at and closed.
  QMessageBox* seen = nullptr;
  bool modal = true;
  bool modalWidget = true;
  QTimer probe;
  QObject::connect(&probe, &QTimer::timeout, [&] {
    if (seen) return;
    for (QWidget* w : QApplication::topLevelWidgets()) {
      auto* box = qobject_cast<QMessageBox*>(w);
      if (!box || !box->isVisible() || box->windowTitle() != QStringLiteral("Sound Playback Error")) continue;
      seen = box;
      modal = box->isModal();
      modalWidget = QApplication::activeModalWidget() != nullptr;
      QTest::mouseClick(other.windowHandle(), Qt::LeftButton, {}, otherButton->geometry().center());
      QTest::mouseClick(other.windowHandle(), Qt::LeftButton, {}, otherButton->geometry().center());
      box->button(QMessageBox::Ok)->click();
      return;
    }
  });
  probe.start(5);
  play(stereoTones(1000, 440, 1000), 22050, 0.0);
  ASSERT_TRUE(waitUntilFinished());
  ASSERT_TRUE(waitFor([&] { return seen != nullptr; }));
  probe.stop();
  EXPECT_FALSE(modal);
  EXPECT_FALSE(modalWidget);
  EXPECT_EQ(clicks, 2) << "the other window got no input while the box was open";
  EXPECT_TRUE(button->isEnabled());
  QTest::qWait(10);  // the closed box deletes itself
  for (QWidget* w : QApplication::topLevelWidgets()) EXPECT_EQ(qobject_cast<QMessageBox*>(w), nullptr);
}

}  // namespace

namespace {

// The test sound server's process (its fixture keeps the id beside its socket).
pid_t soundServer() {
  const char* dir = std::getenv("XDG_RUNTIME_DIR");
  std::ifstream in(std::string(dir ? dir : "") + "/pulse.pid");
  pid_t pid = -1;
  in >> pid;
  return pid;
}

// Stops the server's process for as long as it lives.
class FrozenServer {
 public:
  explicit FrozenServer(pid_t pid) : pid_(pid) { kill(pid_, SIGSTOP); }
  ~FrozenServer() { thaw(); }
  void thaw() {
    if (pid_ > 0) kill(std::exchange(pid_, -1), SIGCONT);
  }

 private:
  pid_t pid_;
};

}  // namespace

// A server that stops answering holds no thread of ours for longer than 2 s:
// the playback gives up with its error box and gives Play back; while one
// playback waits for the server, the next fails at once; and what was
// requested meanwhile never plays when the server answers again.
TEST_F(PlaybackThread, AFrozenSoundServerIsGivenUpOnAfterTwoSecondsAndNothingPlaysLater) {
#if defined(__SANITIZE_THREAD__)
  GTEST_SKIP() << "the sound library cancels its own sound thread here, which the race checker cannot follow";
#endif
  const pid_t server = soundServer();
  ASSERT_GT(server, 0);
  const std::chrono::milliseconds giveUp(int(4000 * kSlowdown));
  MonitorCapture capture;
  play(stereoTones(3 * kCaptureRate, 440, 1000), kCaptureRate, 0.0);
  ASSERT_TRUE(waitFor([this] { return !watcher->lineMoves.empty(); }));
  FrozenServer frozen(server);
  auto start = Clock::now();
  PlaySoundStopper = true;
  ASSERT_TRUE(waitUntilFinished(giveUp));
  EXPECT_LE(ms(Clock::now() - start), 2400.0 * kSlowdown) << "the stop waited for the server";
  EXPECT_TRUE(button->isEnabled());
  EXPECT_FALSE(line->isVisible());
  ASSERT_EQ(recorder.messages().size(), 1u);
  EXPECT_TRUE(recorder.messages()[0].text.startsWith(QStringLiteral("Exception: SoundPlayerThread.Execute: ")))
      << recorder.messages()[0].text.toStdString();
  EXPECT_TRUE(recorder.messages()[0].text.endsWith(QStringLiteral(" failed: The sound server does not answer")))
      << recorder.messages()[0].text.toStdString();

  // A server call still waits: a new playback fails at once.
  const auto unheard = stereoTones(kCaptureRate, 3000, 3000);
  start = Clock::now();
  play(unheard, kCaptureRate, 0.0);
  ASSERT_TRUE(waitUntilFinished(giveUp));
  EXPECT_LE(ms(Clock::now() - start), 300.0 * kSlowdown);
  ASSERT_EQ(recorder.messages().size(), 2u);
  EXPECT_EQ(recorder.messages()[1].text,
            QStringLiteral("Exception: SoundPlayerThread.Execute: waveOutOpen failed: The sound server does not answer"));

  frozen.thaw();
  QTest::qWait(1500);

  // Frozen before Play: the open gives up after 2 s, and Play stays usable.
  {
    FrozenServer again(server);
    start = Clock::now();
    play(unheard, kCaptureRate, 0.0);
    ASSERT_TRUE(waitUntilFinished(giveUp));
    EXPECT_LE(ms(Clock::now() - start), 2400.0 * kSlowdown);
    ASSERT_EQ(recorder.messages().size(), 3u);
    EXPECT_TRUE(recorder.messages()[2].text.endsWith(QStringLiteral(" failed: The sound server does not answer")))
        << recorder.messages()[2].text.toStdString();
    EXPECT_TRUE(button->isEnabled());
  }
  QTest::qWait(1500);
  // Answering again, the server plays the next request and nothing before it.
  const auto heard = stereoTones(kCaptureRate / 2, 660, 1300);
  play(heard, kCaptureRate, 0.0);
  ASSERT_TRUE(waitUntilFinished(giveUp));
  EXPECT_EQ(recorder.messages().size(), 3u);
  capture.waitUntilCaptured(Clock::now());
  EXPECT_TRUE(findExact(capture.samples(), heard));
  EXPECT_FALSE(findExact(capture.samples(), std::vector<std::int16_t>(unheard.begin(), unheard.begin() + 2000)))
      << "a request made while the server was frozen was heard";
}
