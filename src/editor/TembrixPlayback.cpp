// Playback of the selection: Play and Stop.
#include "editor/Tembrix.h"

#include "editor/TembrixPlayRequest.h"
#include "playback/SoundPlayThread.h"
#include "wav/AvailableMemory.h"

#include <QCheckBox>
#include <QPushButton>

#include <cstdint>
#include <utility>

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

  // The interleaved span must fit, by the rule the reader uses for a recording:
  // otherwise filling it gets the process killed with every window in it.
  const std::uint64_t bytes = 4 * std::uint64_t(PlaySpan(*this, TimeSelect.Lo, TimeSelect.Hi).n);
  if (bytes > WaveFile::AvailableMemory()) {
    Dialogs::ShowMessage(this,
                         QStringLiteral("Недостаточно памяти для прослушивания выделения (%1 МБ). Выделите более "
                                        "короткий участок.")
                             .arg((bytes + (1 << 20) - 1) >> 20),
                         QStringLiteral("Прослушивание"), Dialogs::Icon::None);
    return;
  }
  startPlayback(PlayRequest(*this, TimeSelect.Lo, TimeSelect.Hi, left, right));
}

// Hands the request to the playback globals, points them at this frame's
// controls and starts the thread, which takes the request over at once and
// frees itself when it has finished.
void TFrameTembrix::startPlayback(TPlayRequest Request) {
  using namespace SoundPlayThread;
  Sound1.Channels = std::move(Request.Source);
  Sound1.SampleRate = Request.SampleRate;
  SenderStaticTextPlayPosition = StaticTextPlayPosition;
  SenderChart1 = Chart1;
  SenderChart4 = Chart4;
  thSampleRate = static_cast<std::int32_t>(Request.SampleRate);
  thButton = Button1;
  thPositionLo = Request.PositionLo;
  PlaySoundStopper = false;
  SoundPlayThread = new TSoundPlayThread();
  SoundPlayThread->SetFreeOnTerminate(true);
  SoundPlayThread->Start();
}

void TFrameTembrix::ButtonStopClick(QObject* /*Sender*/) { SoundPlayThread::PlaySoundStopper = true; }

// Runs first in the destructor: the playback of this frame stops, and it never
// touches this frame's controls again. The document then waits for it to stop
// reading the channels (within one slice).
void TFrameTembrix::StopPlaybackBeforeDestruction() {
  if (SoundPlayThread) SoundPlayThread->Abandon();
}
