// The view and edit commands of the control panel: zoom, reset, scroll, cut,
// the waveform scale, saving, and the wheel over the waveform charts.
#include "editor/Tembrix.h"

#include "platform/WaitCursor.h"
#include "playback/SoundPlayThread.h"
#include "wav/WaveFile.h"

#include <QComboBox>
#include <QFileInfo>
#include <QPushButton>
#include <QScrollBar>
#include <QToolButton>

#include <algorithm>
#include <climits>

namespace {

std::int32_t saturate(std::int64_t v) {
  return static_cast<std::int32_t>(std::clamp<std::int64_t>(v, INT_MIN, INT_MAX));
}

}  // namespace

void TFrameTembrix::ButtonMoreClick(QObject* /*Sender*/) {
  const std::int32_t n1 = timeToFrame(TimeSelect.Lo);
  const std::int32_t n2 = timeToFrame(TimeSelect.Hi);
  dn = saturate(static_cast<std::int64_t>(n2) - n1 + 1);
  RepaintDiagramms(n1, n2);
  if (dn < arWAVENOP) {
    ScrollBar1->setEnabled(true);
    // setValue raises no scroll action, so the view is not drawn again. In
    // extended precision, like the time conversion, so that a position
    // halfway between two steps goes to the even one.
    const long double position = static_cast<long double>(n1) / (arWAVENOP - dn) * 100;
    ScrollBar1->setValue(static_cast<int>(Round(std::clamp(position, 0.0L, 100.0L))));
    ButtonLess->setEnabled(true);
  }
  SpeedButtonSelectClick(SpeedButtonSelect);  // the button's click operation: no toggle
}

void TFrameTembrix::ButtonLessClick(QObject* /*Sender*/) {
  dn = arWAVENOP;
  ScrollBar1->setEnabled(false);
  ButtonLess->setEnabled(false);
  RepaintDiagramms(0, arWAVENOP - 1);
  SpeedButtonSelectClick(nullptr);
}

void TFrameTembrix::ScrollBar1Scroll(QObject* /*Sender*/, int /*ScrollCode*/, int& ScrollPos) {
  // Extended precision, as for the zoom's position above.
  const std::int64_t n1 = Round(static_cast<long double>(ScrollPos) / 100 * (static_cast<long double>(arWAVENOP) - dn));
  const std::int64_t n2 = n1 + dn - 1;
  RepaintDiagramms(saturate(n1), saturate(n2));
  SpeedButtonSelectClick(SpeedButtonSelect);
}

void TFrameTembrix::ButtonSelectCutClick(QObject* /*Sender*/) {
  const TWaitCursor busy;  // a long recording takes a while to move
  // Only frames that exist are removed. A selection taken from a view that no
  // longer matches the document (a scroll after a cut clamps its range) could
  // otherwise reach past the end and drive arWAVENOP below the selection or
  // below zero.
  const std::int32_t n1 = std::clamp(timeToFrame(TimeSelect.Lo), 0, arWAVENOP);
  const std::int32_t n2 = std::clamp(timeToFrame(TimeSelect.Hi), n1, arWAVENOP);
  const std::int32_t removed = n2 - n1;
  RemoveFrames(n1, n2);  // waits while a Play still converts its span from the channels
  if (removed > 0) {
    modified_ = true;
    if (SoundPlayThread) SoundPlayThread->HideLine();  // its times no longer match the charts
  }

  // The series still hold the points of the view drawn before the cut: the
  // same view less what was cut. When that is nothing (the whole view was
  // cut), the old picture must not stay: the charts show the whole remaining
  // recording, or nothing once no frame is left.
  std::int32_t a = timeToFrame(Series1->XValues.MinValue());
  std::int32_t b = saturate(static_cast<std::int64_t>(timeToFrame(Series1->XValues.MaxValue())) - removed);
  if (arWAVENOP == 0)
    clearCharts();
  else if (!ClampRange(a, b))
    RepaintDiagramms(0, arWAVENOP);
  else
    RepaintDiagramms(a, b);
  SpeedButtonSelectClick(nullptr);
}

void TFrameTembrix::ComboBoxYChartChange(QObject* /*Sender*/) {
  const int index = ComboBoxYChartItemIndex();
  TChartAxis& left1 = *Chart1->LeftAxis;
  TChartAxis& left2 = *Chart2->LeftAxis;
  if (index == 0) {  // "Фикс": the full range of the file's sample values
    left1.SetAutomatic(false);
    left2.SetAutomatic(false);
    left1.SetAutomaticMaximum(false);
    left2.SetAutomaticMaximum(false);
    left1.SetAutomaticMinimum(false);
    left2.SetAutomaticMinimum(false);
    double maximum = 0, minimum = 0;
    bool known = true;
    switch (arBitsPerSample) {
      case 16: maximum = 32767; minimum = -32768; break;
      case 32: maximum = 2147483647.0; minimum = -2147483648.0; break;
      case 8: maximum = 255; minimum = 0; break;
      default: known = false; break;  // other depths stay at the range they show
    }
    if (known) {
      left1.SetMaximum(maximum);
      left2.SetMaximum(maximum);
      left1.SetMinimum(minimum);
      left2.SetMinimum(minimum);
    }
  }
  if (index == 1) {  // "Авто"
    left1.SetAutomatic(true);
    left2.SetAutomatic(true);
  }
}

void TFrameTembrix::ButtonFileSaveClick(QObject* /*Sender*/) {
  if (arBitsPerSample != 16) {
    Dialogs::ShowMessage(this, QStringLiteral("Формат файла не соответствует Зарнит!!! Сохранение отключено!"),
                         QStringLiteral("Несоответствие формата"), Dialogs::Icon::None);
    return;
  }
  if (!SaveDialog1.Execute(this)) return;
  // Only a file counts (a symbolic link is followed to its target). A
  // directory under the name goes on to the writer, which says why it cannot
  // create the file.
  const QFileInfo target(SaveDialog1.FileName);
  if (target.exists() && !target.isDir())
    throw EFileExists("Файл уже существует. Невозможно перезаписать!");
  const TWaitCursor busy;
  WaveFile::SaveDataToWavFile(SaveDialog1.FileName.toStdString(), false, arTimeLine, arLeftCH, arRightCH,
                              arWAVENOP);
  modified_ = false;  // the file holds the document as it is now
}

void TFrameTembrix::Chart1MouseWheel(TChart*, Qt::KeyboardModifiers, int, QPoint, bool&) {}

void TFrameTembrix::Chart2MouseWheel(TChart*, Qt::KeyboardModifiers, int, QPoint, bool&) {}
