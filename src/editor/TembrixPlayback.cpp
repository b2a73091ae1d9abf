// Playback of the selection: Play and Stop.
#include "Tembrix.h"

#include "SoundPlayThread.h"

#include <QCheckBox>
#include <QPushButton>

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace {

// Round(x) (nearest, ties to even) with its low 16 bits kept, without a
// library call for each of the many samples: below 2^51 in size, adding and
// taking away 1.5 × 2^52 rounds exactly as Round does; other values (and NaN)
// go to Round itself.
std::int16_t toSample(double x) {
  constexpr double kShift = 6755399441055744.0;  // 1.5 × 2^52
  if (std::abs(x) < 2251799813685248.0)  // 2^51
    return static_cast<std::int16_t>(static_cast<std::int64_t>((x + kShift) - kShift));
  return static_cast<std::int16_t>(Round(x));
}

}  // namespace

void TFrameTembrix::Button1Click(QObject* /*Sender*/) {
  if (arBitsPerSample != 16) {
    Dialogs::ShowMessage(this, QStringLiteral("Формат файла не соответствует Зарнит!!! Прослушивание отключено!"),
                         QStringLiteral("Несоответствие формата"), Dialogs::Icon::None);
    return;
  }
  const bool left = CheckBoxChannel1->isChecked();
  const bool right = CheckBoxChannel2->isChecked();
  if (!left && !right) {
    Dialogs::ShowMessage(this, QStringLiteral("Не включен ни один канал!!!"), QStringLiteral("Выбор каналов"),
                         Dialogs::Icon::None);
    return;
  }

  // The span, clipped to the loaded frames: rounding can reach one frame past
  // the last, and nothing past it is read.
  const std::int64_t frames = arLeftCH && arRightCH ? arWAVENOP : 0;
  const std::int64_t s = std::clamp<std::int64_t>(timeToFrame(TimeSelect.Lo), 0, frames);
  const std::int64_t n = std::clamp<std::int64_t>(spanToFrames(TimeSelect.Lo, TimeSelect.Hi), 0, frames - s);

  // Both outputs from the chosen channels; one chosen channel is heard on both.
  // Values are rounded and keep their low 16 bits.
  using namespace SoundPlayThread;
  const pDoubleArray out0 = left ? arLeftCH : arRightCH;
  const pDoubleArray out1 = right ? arRightCH : arLeftCH;
  // The samples of a request not taken over yet go first: one span at a time.
  Sound1 = {};
  Sound1.Channels.resize(2);
  for (TASWaveformSamples& channel : Sound1.Channels) channel.resize(static_cast<std::size_t>(n));
  std::int16_t* const to0 = Sound1.Channels[0].data();
  std::int16_t* const to1 = Sound1.Channels[1].data();
  for (std::int64_t i = 0; i < n; ++i) {
    to0[i] = toSample(out0[s + i]);
    to1[i] = toSample(out1[s + i]);
  }

  Sound1.SampleRate = arSampRate;
  SenderStaticTextPlayPosition = StaticTextPlayPosition;
  SenderChart1 = Chart1;
  SenderChart4 = Chart4;
  thSampleRate = static_cast<std::int32_t>(arSampRate);
  thButton = Button1;
  thPositionLo = TimeSelect.Lo;
  PlaySoundStopper = false;

  // The thread copies the small values now and takes the samples over when
  // its turn comes; it frees itself when it has finished.
  SoundPlayThread = new TSoundPlayThread();
  SoundPlayThread->SetFreeOnTerminate(true);
  SoundPlayThread->Start();
}

void TFrameTembrix::ButtonStopClick(QObject* /*Sender*/) { SoundPlayThread::PlaySoundStopper = true; }

// Runs first in the destructor: the playback of this frame stops, and it never
// touches this frame's controls again. The GUI thread does not wait for it, so
// it cannot deadlock against a hand-over the playback is waiting in.
void TFrameTembrix::StopPlaybackBeforeDestruction() {
  if (SoundPlayThread) SoundPlayThread->Abandon();
}
