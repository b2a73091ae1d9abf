#include "SoundPlayThread.h"

#include "Dialogs.h"
#include "TChart.h"

#include <QMetaObject>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <exception>
#include <memory>
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

namespace {

// Numbers the requests; the highest is the one that may play.
std::atomic<std::uint64_t> latestRequest{0};
// Completes when the playback of the latest request has finished (GUI thread).
std::shared_future<void> latestDone;

// The general kind of error the playback reports.
class Exception : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

}  // namespace

bool AnyPlaybackRunning() {
  return latestDone.valid() && latestDone.wait_for(std::chrono::seconds(0)) != std::future_status::ready;
}

}  // namespace SoundPlayThread

using namespace SoundPlayThread;
using namespace WaveOut;

TSoundPlayThread::TSoundPlayThread()
    : sound_(Sound1),
      line_(SenderStaticTextPlayPosition),
      chart1_(SenderChart1),
      chart4_(SenderChart4),
      button_(thButton),
      sampleRate_(thSampleRate),
      positionLo_(thPositionLo),
      request_(++latestRequest),
      previousDone_(latestDone) {
  latestDone = done_.get_future().share();
}

TSoundPlayThread::~TSoundPlayThread() {
  // Orders everything the finished thread did before the object goes (the
  // thread takes this lock last).
  std::lock_guard lock(handOverMutex_);
}

void TSoundPlayThread::SetFreeOnTerminate(bool Value) {
  if (Value == freeOnTerminate_) return;
  freeOnTerminate_ = Value;
  if (Value)
    connect(this, &QThread::finished, this, &QObject::deleteLater);
  else
    disconnect(this, &QThread::finished, this, &QObject::deleteLater);
}

bool TSoundPlayThread::Superseded() const { return latestRequest.load() != request_; }

// The call is queued to the GUI thread and this thread waits on its own lock
// until it has run. The queued call carries no data: the work passes under
// the lock, so race checkers see the whole hand-over (they cannot see into
// the toolkit's own event queue).
template <class F>
void TSoundPlayThread::Synchronize(F f) {
  // The window is gone or going: there is nothing left to show, and the
  // thread must not depend on a GUI thread that may be ending the program.
  if (abandoned_) return;
  std::unique_lock lock(handOverMutex_);
  handOverWork_ = std::move(f);
  handOverError_ = nullptr;
  QMetaObject::invokeMethod(this, "RunHandOver", Qt::QueuedConnection);
  handOverDone_.wait(lock, [this] { return !handOverWork_; });
  if (handOverError_) std::rethrow_exception(std::exchange(handOverError_, nullptr));
}

void TSoundPlayThread::RunHandOver() {
  std::function<void()> work;
  {
    std::lock_guard lock(handOverMutex_);
    work = handOverWork_;
  }
  std::exception_ptr error;
  try {
    if (work) work();
  } catch (...) {
    error = std::current_exception();
  }
  std::lock_guard lock(handOverMutex_);
  handOverError_ = error;
  handOverWork_ = nullptr;
  handOverDone_.notify_one();
}

void TSoundPlayThread::Sleep(int Milliseconds) const {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(Milliseconds);
  while (!Abandoned()) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
    if (left.count() <= 0) return;
    QThread::msleep(static_cast<unsigned long>(std::min<long long>(left.count(), 10)));
  }
}

void TSoundPlayThread::UpdateStaticTextPlayPosition() {
  pmmt = position_;
  if (Abandoned() || !line_ || !chart1_ || !chart4_) return;
  const int top = chart1_->ChartRect().Top + 1;
  const int height = 2 * chart1_->Height() + 2 * chart4_->Height();
  const double t = double(pmmt.sample) / double(sampleRate_) + positionLo_;
  const int left = chart1_->BottomAxis->CalcPosValue(t);
  line_->setGeometry(left, top, line_->width(), height);
  line_->show();
}

void TSoundPlayThread::PlaySound1() {
  // Start only once the playback before has stopped and given its controls back.
  if (previousDone_.valid()) previousDone_.wait();

  QString errorText;
  try {
    // 1. The wave format, in 32-bit arithmetic.
    WAVEFORMATEX fmt{};
    fmt.wFormatTag = WAVE_FORMAT_PCM;
    fmt.nChannels = WORD(sound_.Channels.size());
    fmt.nSamplesPerSec = sound_.SampleRate;
    fmt.wBitsPerSample = 16;
    fmt.nBlockAlign = WORD(fmt.nChannels * 16 / 8);
    fmt.nAvgBytesPerSec = DWORD(fmt.nChannels) * fmt.nSamplesPerSec * 16 / 8;
    fmt.cbSize = 0;

    // 2. One interleaved buffer: frame i holds channel 0, then channel 1, ...
    std::size_t frames = sound_.Channels.empty() ? 0 : sound_.Channels[0].size();
    for (const TASWaveformSamples& channel : sound_.Channels) frames = std::min(frames, channel.size());
    const std::size_t nChannels = fmt.nChannels;
    std::vector<std::int16_t> buf(nChannels * frames);
    for (std::size_t i = 0; i < frames; ++i)
      for (std::size_t c = 0; c < nChannels; ++c) buf[nChannels * i + c] = sound_.Channels[c][i];
    sound_ = {};  // the buffer holds everything from here on

    // 3. Open the default output.
    HWAVEOUT hWave = nullptr;
    if (waveOutOpen(&hWave, WAVE_MAPPER, &fmt, 0, 0, CALLBACK_NULL) != MMSYSERR_NOERROR)
      throw SoundPlayThread::Exception("SoundPlayerThread.Execute: waveOutOpen failed: " + LastErrorText());

    // 4. The one buffer header.
    WAVEHDR hdr{};
    hdr.lpData = reinterpret_cast<char*>(buf.data());
    hdr.dwBufferLength = DWORD(buf.size() * sizeof(std::int16_t));

    // 8. Clean-up: the device gives the buffer back before it is closed and
    // the buffer released; then the controls are restored.
    auto cleanUp = [&] {
      waveOutReset(hWave);
      waveOutUnprepareHeader(hWave, &hdr, sizeof hdr);
      waveOutClose(hWave);
      std::vector<std::int16_t>().swap(buf);
      Synchronize([this] {
        if (button_) button_->setEnabled(true);
        if (line_) line_->hide();
      });
    };

    try {
      // 6. Play.
      Synchronize([this] {
        if (button_ && !Abandoned()) button_->setEnabled(false);
      });
      if (!Abandoned()) {
        waveOutPrepareHeader(hWave, &hdr, sizeof hdr);
        waveOutWrite(hWave, &hdr, sizeof hdr);
      }
      Sleep(500);

      // 7. Poll until the buffer has been heard to its end or a stop comes.
      while (waveOutUnprepareHeader(hWave, &hdr, sizeof hdr) == WAVERR_STILLPLAYING) {
        position_.wType = TIME_SAMPLES;
        waveOutGetPosition(hWave, &position_, sizeof position_);
        Synchronize([this] { UpdateStaticTextPlayPosition(); });
        if (PlaySoundStopper || Abandoned()) {
          waveOutPause(hWave);
          waveOutReset(hWave);  // hands the paused buffer back
          waveOutUnprepareHeader(hWave, &hdr, sizeof hdr);
          break;
        }
        Sleep(100);
      }
    } catch (...) {
      try {
        cleanUp();
      } catch (...) {
        // The first error is the one reported.
      }
      throw;
    }
    cleanUp();
  } catch (const std::bad_alloc&) {
    errorText = QStringLiteral("EOutOfMemory: Out of memory");
  } catch (const std::exception& e) {
    errorText = QStringLiteral("Exception: ") + QString::fromStdString(e.what());
  } catch (...) {
    errorText = QStringLiteral("Exception: unknown error");
  }

  // 9. Errors are reported after the clean-up, in a box without owner.
  if (!errorText.isEmpty())
    Dialogs::ShowMessage(nullptr, errorText, QStringLiteral("Sound Playback Error"), Dialogs::Icon::Error);
  std::lock_guard lock(handOverMutex_);
  done_.set_value();
}
