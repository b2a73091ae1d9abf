#include "playback/SoundPlayThread.h"

#include "chart/TChart.h"
#include "platform/Dialogs.h"

#include <QCoreApplication>
#include <QMetaObject>

#include <sys/mman.h>

#include <algorithm>
#include <chrono>
#include <deque>
#include <functional>
#include <mutex>
#include <new>
#include <stdexcept>
#include <string>
#include <utility>

namespace SoundPlayThread {

TASSound Sound1;
QPointer<QWidget> SenderStaticTextPlayPosition;
QPointer<TChart> SenderChart1;
QPointer<TChart> SenderChart4;
std::int32_t thSampleRate = 0;
QPointer<QPushButton> thButton;
double thPositionLo = 0;
std::atomic<bool> PlaySoundStopper{false};
WaveOut::MMTIME pmmt{};

}  // namespace SoundPlayThread

using namespace SoundPlayThread;
using namespace WaveOut;
using Clock = std::chrono::steady_clock;

namespace {

// Numbers the requests; the highest is the one that may play.
std::atomic<std::uint64_t> latestRequest{0};
// Held by the playback that plays: the next one waits for it.
std::mutex playing;

// Calls posted to the GUI thread, in order. They pass through this queue
// under its lock, and the queued call that runs them carries no data, so
// that race checkers, which cannot see into the toolkit's event queue, see
// the whole hand-over.
std::mutex postedMutex;
std::deque<std::function<void()>> posted;

// The interleaved buffer of a span. Not cleared: every sample is written
// before the output plays it. The first touch of each fresh page is what
// filling it costs most, and huge pages make that several times cheaper.
std::unique_ptr<std::int16_t[]> interleavedBuffer(std::size_t samples) {
  auto buf = std::make_unique_for_overwrite<std::int16_t[]>(samples);
  constexpr std::uintptr_t huge = std::uintptr_t(2) << 20;
  const auto begin = (reinterpret_cast<std::uintptr_t>(buf.get()) + huge - 1) / huge * huge;
  const auto end = reinterpret_cast<std::uintptr_t>(buf.get() + samples) / huge * huge;
  if (begin < end) madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
  return buf;
}

}  // namespace

TSoundPlayThread::TSoundPlayThread()
    : sound_(std::exchange(Sound1, {})),
      line_(SenderStaticTextPlayPosition),
      chart1_(SenderChart1),
      chart4_(SenderChart4),
      button_(thButton),
      sampleRate_(thSampleRate),
      positionLo_(thPositionLo),
      request_(++latestRequest) {}

bool TSoundPlayThread::Abandoned() const { return abandoned_ || latestRequest.load() != request_; }

TSoundPlayThread::~TSoundPlayThread() {
  std::lock_guard lock(endMutex_);  // orders all that the finished thread did before the object goes
}

// Posted calls run in order, and all of them before the finished thread
// deletes itself (that is posted last).
template <class F>
void TSoundPlayThread::Post(F f) {
  if (abandoned_ || !QCoreApplication::instance()) return;
  {
    std::lock_guard lock(postedMutex);
    posted.emplace_back(std::move(f));
  }
  QMetaObject::invokeMethod(this, "RunPosted", Qt::QueuedConnection);
}

void TSoundPlayThread::RunPosted() {
  std::deque<std::function<void()>> calls;
  {
    std::lock_guard lock(postedMutex);
    calls.swap(posted);
  }
  for (const auto& call : calls) call();
}

void TSoundPlayThread::SleepUntil(Clock::time_point until, const std::function<bool()>& done) const {
  for (auto now = Clock::now(); now < until && !Abandoned() && !(done && done()); now = Clock::now())
    QThread::msleep(static_cast<unsigned long>(
        std::clamp<long long>(std::chrono::duration_cast<std::chrono::milliseconds>(until - now).count(), 1, 5)));
}

void TSoundPlayThread::UpdateStaticTextPlayPosition() {
  if (abandoned_ || !line_ || !chart1_ || !chart4_) return;
  const int top = chart1_->ChartRect().Top + 1;
  const int height = 2 * chart1_->Height() + 2 * chart4_->Height();
  const double t = double(pmmt.sample) / double(sampleRate_) + positionLo_;
  const int left = chart1_->BottomAxis->CalcPosValue(t);
  line_->setGeometry(left, top, line_->width(), height);
  line_->show();
}

void TSoundPlayThread::PlaySound1() {
  QString errorText;
  if (WaitForTurn()) {
    try {
      PlayRequest();
    } catch (const std::bad_alloc&) {
      errorText = QStringLiteral("EOutOfMemory: Out of memory");
    } catch (const std::exception& e) {
      errorText = QStringLiteral("Exception: ") + QString::fromStdString(e.what());
    }
    playing.unlock();
  }
  sound_.Channels.reset();
  // Reported after the clean-up, in a box without owner that blocks no window.
  if (!errorText.isEmpty())
    Dialogs::ShowMessageNonModal(errorText, QStringLiteral("Sound Playback Error"), Dialogs::Icon::Error);
  std::lock_guard lock(endMutex_);
}

// Waits until the playback before this one has finished; false when this one
// was replaced or abandoned meanwhile. Samples taken back meanwhile are let go
// of at once. First the GUI thread is given the time to handle what came with
// this request (50 ms at most, as it may be busy waiting for this very
// reading): of requests made in one go only the last plays.
bool TSoundPlayThread::WaitForTurn() {
  auto handled = std::make_shared<std::atomic<bool>>(false);
  Post([handled] { *handled = true; });
  SleepUntil(Clock::now() + std::chrono::milliseconds(50), [&] { return handled->load(); });
  for (; !Abandoned(); QThread::msleep(5)) {
    if (playing.try_lock()) return true;
    if (sound_.Channels && !sound_.Channels->Read(0, 0, nullptr)) sound_.Channels.reset();
  }
  return false;
}

void TSoundPlayThread::PlayRequest() {
  const std::size_t frames = sound_.Channels ? sound_.Channels->Frames() : 0;
  // Two channels of 16 bits: four bytes a frame.
  const WAVEFORMATEX fmt{WAVE_FORMAT_PCM, 2, sound_.SampleRate, sound_.SampleRate * 4, 4, 16, 0};
  auto buf = interleavedBuffer(2 * frames);

  // Converts the next slice; the source goes once the span is read or its
  // samples were taken back.
  std::size_t converted = 0;
  const auto convertSlice = [&] {
    if (!sound_.Channels) return;
    const std::size_t n = std::min(SliceFrames, frames - converted);
    const bool read = !Abandoned() && sound_.Channels->Read(converted, n, buf.get() + 2 * converted);
    if (read) converted += n;
    if (!read || converted == frames) sound_.Channels.reset();
  };
  convertSlice();
  if (Abandoned()) return;

  HWAVEOUT hWave = nullptr;
  if (waveOutOpen(&hWave, WAVE_MAPPER, &fmt, 0, 0, CALLBACK_NULL) != MMSYSERR_NOERROR)
    throw std::runtime_error("SoundPlayerThread.Execute: waveOutOpen failed: " + LastErrorText());
  WAVEHDR hdr{};
  hdr.lpData = reinterpret_cast<char*>(buf.get());
  hdr.dwBufferLength = DWORD(frames * fmt.nBlockAlign);
  waveOutPrepareHeader(hWave, &hdr, sizeof hdr);
  waveOutMarkFilled(hWave, &hdr, DWORD(converted * fmt.nBlockAlign));
  Post([this] {
    if (button_) button_->setEnabled(false);
  });
  waveOutWrite(hWave, &hdr, sizeof hdr);

  // Until the sound has been heard to its end, or a poll finds Stop pressed:
  // fill ahead of the sound, and poll 500 ms after the start, then every 100 ms.
  for (auto poll = Clock::now() + std::chrono::milliseconds(500);; poll += std::chrono::milliseconds(100)) {
    while (sound_.Channels && Clock::now() < poll) {
      convertSlice();
      waveOutMarkFilled(hWave, &hdr, DWORD(converted * fmt.nBlockAlign));
    }
    SleepUntil(poll);
    if (Abandoned() || waveOutUnprepareHeader(hWave, &hdr, sizeof hdr) != WAVERR_STILLPLAYING) break;
    MMTIME position{};
    position.wType = TIME_SAMPLES;
    waveOutGetPosition(hWave, &position, sizeof position);
    Post([this, position] {
      pmmt = position;
      UpdateStaticTextPlayPosition();
    });
    if (PlaySoundStopper) break;
    poll = std::max(poll, Clock::now());
  }

  // The conversion ends, the sound stops, the device gives the buffer back
  // and closes, the buffer goes, and the controls are restored.
  sound_.Channels.reset();
  std::string failed;
  if (waveOutPause(hWave) != MMSYSERR_NOERROR || waveOutReset(hWave) != MMSYSERR_NOERROR) failed = "waveOutReset";
  waveOutUnprepareHeader(hWave, &hdr, sizeof hdr);
  if (waveOutClose(hWave) != MMSYSERR_NOERROR && failed.empty()) failed = "waveOutClose";
  const std::string reason = LastErrorText();
  buf.reset();
  Post([this] {
    if (button_) button_->setEnabled(true);
    if (line_) line_->hide();
  });
  if (!failed.empty()) throw std::runtime_error("SoundPlayerThread.Execute: " + failed + " failed: " + reason);
}
