// Playback of the selection: Play and Stop.
#include "editor/Tembrix.h"

#include "editor/TembrixPlayRequest.h"
#include "playback/SoundPlayThread.h"

#include <QCheckBox>
#include <QPushButton>

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

  // The samples of a request not taken over yet go first: one span at a time.
  // The conversion of this frame's last span is over before a new one starts:
  // one mark tells when the channels are no longer read.
  finishPlayReads();
  SoundPlayThread::ReleaseSound(SoundPlayThread::Sound1);
  TPlayRequest request = PlayRequest(*this, TimeSelect.Lo, TimeSelect.Hi, left, right);
  playFill_ = request.Fill;
  startPlayback(std::move(request));
}

void TFrameTembrix::finishPlayReads() {
  if (playFill_) playFill_->WaitAll();
  playFill_ = nullptr;
}

// Hands the request to the playback globals, points them at this frame's
// controls and starts the thread. The thread copies the small values now and
// takes the samples over when its turn comes; it frees itself when it has
// finished.
void TFrameTembrix::startPlayback(TPlayRequest Request) {
  using namespace SoundPlayThread;
  Sound1.Channels.push_back(std::move(Request.Out0));
  Sound1.Channels.push_back(std::move(Request.Out1));
  Sound1.SampleRate = Request.SampleRate;
  Sound1.Fill = std::move(Request.Fill);
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
// touches this frame's controls again. The GUI thread does not wait for it, so
// it cannot deadlock against a hand-over the playback is waiting in; it waits
// only for the conversion of the span, which needs nothing but the channels.
void TFrameTembrix::StopPlaybackBeforeDestruction() {
  if (SoundPlayThread) SoundPlayThread->Abandon();
  finishPlayReads();
}
