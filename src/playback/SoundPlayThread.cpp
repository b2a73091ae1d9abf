#include "playback/SoundPlayThread.h"

#include "chart/TChart.h"
#include "platform/Dialogs.h"

#include <QMetaObject>

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <exception>
#include <memory>
#include <mutex>
#include <new>
#include <stdexcept>
#include <string>
#include <thread>
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

// Gives a channel's memory pages back to the system once every sample on them
// has been copied: those that lie wholly within the array and before index
// `to`, from the page that holds index `from` on (the pages before were given
// back already). The memory stays allocated to the array, which frees it as
// usual later; the samples are not read again.
void releaseCopied(const std::int16_t* data, std::size_t from, std::size_t to) {
  const auto page = static_cast<std::uintptr_t>(sysconf(_SC_PAGESIZE));
  const auto at = [](const std::int16_t* p) { return reinterpret_cast<std::uintptr_t>(p); };
  const std::uintptr_t first = std::max((at(data) + page - 1) / page * page, at(data + from) / page * page);
  const std::uintptr_t last = at(data + to) / page * page;
  if (first < last) madvise(reinterpret_cast<void*>(first), last - first, MADV_DONTNEED);
}

}  // namespace

void ReleaseSound(TASSound& sound) {
  if (sound.Fill) sound.Fill->WaitAll();
  sound = {};
}

bool Interleave(std::vector<TASWaveformSamples>& channels, std::size_t frames, std::int16_t* out,
                const std::function<bool()>& cancelled, const TFillMark* filled,
                const std::function<void(std::size_t)>& interleaved) {
  constexpr std::size_t kSlice = std::size_t(1) << 16;  // frames
  const std::size_t n = channels.size();
  for (std::size_t begin = 0; begin < frames; begin += kSlice) {
    if (cancelled()) return false;
    const std::size_t stop = std::min(frames, begin + kSlice);
    if (filled && filled->WaitFor(stop) < stop) return false;
    if (n == 2) {  // what every Play asks for: one pass over the slice
      const std::int16_t* in0 = channels[0].data();
      const std::int16_t* in1 = channels[1].data();
      for (std::size_t i = begin; i < stop; ++i) {
        out[2 * i] = in0[i];
        out[2 * i + 1] = in1[i];
      }
    } else {
      for (std::size_t c = 0; c < n; ++c)
        for (std::size_t i = begin; i < stop; ++i) out[n * i + c] = channels[c][i];
    }
    for (TASWaveformSamples& channel : channels) releaseCopied(channel.data(), begin, stop);
    if (interleaved) interleaved(stop);
  }
  return true;
}

}  // namespace SoundPlayThread

using namespace SoundPlayThread;
using namespace WaveOut;

TSoundPlayThread::TSoundPlayThread()
    : line_(SenderStaticTextPlayPosition),
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

void TSoundPlayThread::Abandon() {
  abandoned_ = true;
  // Unless a newer request has filled it, Sound1 holds this request's samples
  // not taken over yet (or nothing): nobody will play them.
  if (!Superseded()) ReleaseSound(Sound1);
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
    PlayRequest();
  } catch (const std::bad_alloc&) {
    errorText = QStringLiteral("EOutOfMemory: Out of memory");
  } catch (const std::exception& e) {
    errorText = QStringLiteral("Exception: ") + QString::fromStdString(e.what());
  } catch (...) {
    errorText = QStringLiteral("Exception: unknown error");
  }
  ReleaseSound(sound_);  // also after an error: nothing of the span stays

  // Errors are reported after the clean-up, in a box without owner that
  // blocks no window while it waits for OK.
  if (!errorText.isEmpty())
    Dialogs::ShowMessageNonModal(errorText, QStringLiteral("Sound Playback Error"), Dialogs::Icon::Error);
  std::lock_guard lock(handOverMutex_);
  done_.set_value();
}

void TSoundPlayThread::PlayRequest() {
  if (!TakeOverSamples()) return;
  const WAVEFORMATEX fmt = WaveFormat();
  const std::size_t frames = Frames();
  // Not cleared: every sample is written before the output plays it.
  auto buf = std::make_unique_for_overwrite<std::int16_t[]>(sound_.Channels.size() * frames);
  if (Abandoned()) return;

  HWAVEOUT hWave = nullptr;
  if (waveOutOpen(&hWave, WAVE_MAPPER, &fmt, 0, 0, CALLBACK_NULL) != MMSYSERR_NOERROR)
    throw SoundPlayThread::Exception("SoundPlayerThread.Execute: waveOutOpen failed: " + LastErrorText());
  WAVEHDR hdr{};
  hdr.lpData = reinterpret_cast<char*>(buf.get());
  hdr.dwBufferLength = DWORD(sound_.Channels.size() * frames * sizeof(std::int16_t));
  waveOutPrepareHeader(hWave, &hdr, sizeof hdr);

  // The samples go into the buffer on another thread, slice by slice, while
  // the start of the buffer already plays: the output plays what is marked
  // filled. The buffer is written once its first part is there.
  waveOutMarkFilled(hWave, &hdr, 0);
  TFillMark interleaved(frames);
  std::jthread interleaver;
  // The interleaving ends before the device gives the buffer back and before
  // the buffer is released; then the controls are restored.
  auto closeDevice = [&] {
    if (interleaver.joinable()) {
      interleaver.request_stop();
      interleaver.join();
    }
    waveOutReset(hWave);
    waveOutUnprepareHeader(hWave, &hdr, sizeof hdr);
    waveOutClose(hWave);
    buf.reset();
    Synchronize([this] {
      if (button_) button_->setEnabled(true);
      if (line_) line_->hide();
    });
  };
  try {
    interleaver = std::jthread([&](std::stop_token stop) {
      Interleave(
          sound_.Channels, frames, buf.get(), [&] { return stop.stop_requested() || Abandoned(); }, sound_.Fill.get(),
          [&](std::size_t done) {
            waveOutMarkFilled(hWave, &hdr, DWORD(done * fmt.nBlockAlign));
            interleaved.Publish(done);
          });
      ReleaseSound(sound_);  // its pages went back already; now the arrays go too
      interleaved.GiveUp();  // the wait below ends also when the work stopped early
    });
    constexpr std::size_t kFirstPart = std::size_t(1) << 16;  // frames: over a second at common rates
    interleaved.WaitFor(std::min(frames, kFirstPart));
    PlayUntilHeardOrStopped(hWave, hdr);
  } catch (...) {
    try {
      closeDevice();
    } catch (...) {
      // The first error is the one reported.
    }
    throw;
  }
  closeDevice();
}

// A request that a newer Play replaced (or whose window went) before its
// turn does nothing at all: it takes no samples, allocates nothing and opens
// no device. Otherwise it takes the samples over from Sound1.
bool TSoundPlayThread::TakeOverSamples() {
  if (!Abandoned())
    Synchronize([this] {
      if (!Abandoned()) sound_ = std::exchange(Sound1, {});
    });
  return !Abandoned();
}

// The wave format of the samples taken over, in 32-bit arithmetic.
WAVEFORMATEX TSoundPlayThread::WaveFormat() const {
  WAVEFORMATEX fmt{};
  fmt.wFormatTag = WAVE_FORMAT_PCM;
  fmt.nChannels = WORD(sound_.Channels.size());
  fmt.nSamplesPerSec = sound_.SampleRate;
  fmt.wBitsPerSample = 16;
  fmt.nBlockAlign = WORD(fmt.nChannels * 16 / 8);
  fmt.nAvgBytesPerSec = DWORD(fmt.nChannels) * fmt.nSamplesPerSec * 16 / 8;
  fmt.cbSize = 0;
  return fmt;
}

// The frames of the samples taken over: the length of the shortest channel.
std::size_t TSoundPlayThread::Frames() const {
  std::size_t frames = sound_.Channels.empty() ? 0 : sound_.Channels[0].size();
  for (const TASWaveformSamples& channel : sound_.Channels) frames = std::min(frames, channel.size());
  return frames;
}

// Plays the one buffer and moves the position line every 100 ms until the
// buffer has been heard to its end or a stop comes.
void TSoundPlayThread::PlayUntilHeardOrStopped(HWAVEOUT hWave, WAVEHDR& hdr) {
  Synchronize([this] {
    if (button_ && !Abandoned()) button_->setEnabled(false);
  });
  if (!Abandoned()) waveOutWrite(hWave, &hdr, sizeof hdr);
  Sleep(500);
  while (waveOutUnprepareHeader(hWave, &hdr, sizeof hdr) == WAVERR_STILLPLAYING) {
    position_.wType = TIME_SAMPLES;
    waveOutGetPosition(hWave, &position_, sizeof position_);
    Synchronize([this] { UpdateStaticTextPlayPosition(); });
    if (PlaySoundStopper || Abandoned()) {
      waveOutPause(hWave);
      waveOutReset(hWave);  // hands the paused buffer back
      waveOutUnprepareHeader(hWave, &hdr, sizeof hdr);
      return;
    }
    Sleep(100);
  }
}
