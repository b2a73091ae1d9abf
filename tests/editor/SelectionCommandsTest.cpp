// The time selection and the view and edit commands, driven with real mouse
// and keyboard events on a shown frame.
#include "CursorProbe.h"
#include "EditorTestSupport.h"
#include "FrameFixture.h"

#include "platform/Dialogs.h"

#include <gtest/gtest.h>

#include <QAbstractItemView>
#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QFile>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QTest>
#include <QWheelEvent>

#include <cmath>
#include <filesystem>
#include <memory>

using T = TembrixTestAccess;

namespace {

class Commands : public FrameFixture {
 protected:
  // The recording of the commands' examples: 80 000 frames at 8000 Hz.
  void loadCounting(std::int64_t frames = 80000, std::uint32_t rate = 8000) {
    writeCountingWav(path("counting.wav").toStdString(), rate, frames);
    load(path("counting.wav"));
  }

  TTimeSelect& sel() { return T::TimeSelect(*frame); }
  void setMode(bool on) {
    if (frame->SpeedButtonSelect->isChecked() != on) QTest::mouseClick(frame->SpeedButtonSelect, Qt::LeftButton);
    ASSERT_EQ(frame->SpeedButtonSelect->isChecked(), on);
  }
  void select(double lo, double hi) {
    setMode(true);
    sel().Lo = lo;
    sel().Hi = hi;
  }
  std::int64_t frameOf(double x) { return std::llround(x * T::arSampRate(*frame)) - 1; }
  std::int64_t firstDrawn() { return frameOf(frame->Series1->XValues.MinValue()); }
  std::int64_t lastDrawn() { return frameOf(frame->Series1->XValues.MaxValue()); }

  // Presses the left button on a marker, moves the pointer to pixel column
  // `chartPx` of Chart1 (and back along the way if asked), and releases.
  void drag(TStaticText* marker, int chartPx) {
    QTest::mousePress(marker, Qt::LeftButton, {}, QPoint(0, 5));
    QTest::mouseMove(marker, QPoint(chartPx + frame->Chart1->x() - marker->x(), 5));
    QTest::mouseRelease(marker, Qt::LeftButton, {}, QPoint(0, 5));
  }
  int px(double t) { return frame->Chart1->BottomAxis->CalcPosValue(t); }
};

// Types each character of `text` as one key press and release.
void type(QWidget* w, const QString& text) {
  for (QChar c : text) QTest::sendKeyEvent(QTest::Click, w, Qt::Key(c.toUpper().unicode()), QString(c), Qt::NoModifier);
}

}  // namespace

// --- Selection mode ---

TEST_F(Commands, ModeOnSelectsTheWholeDrawnViewAndPlacesTheMarkers) {
  loadCounting();
  setMode(true);
  TFrameTembrix& f = *frame;
  EXPECT_EQ(sel().Lo, f.arTimeLine[0]);
  EXPECT_EQ(sel().Hi, f.arTimeLine[79999]);  // the last frame, the last point drawn
  for (QWidget* w : std::initializer_list<QWidget*>{f.ButtonSelectCut, f.ButtonMore, f.Button1, f.ButtonStop,
                                                    f.CheckBoxChannel1, f.CheckBoxChannel2})
    EXPECT_TRUE(w->isEnabled());

  const int top = f.Chart1->ChartRect().Top + 1;
  const int height = f.Chart1->Height() + f.Chart2->Height() + f.Chart3->Height() + f.Chart4->Height() - 50;
  EXPECT_EQ(sel().LoTimeLine->geometry(), QRect(px(sel().Lo), top, 1, height));
  EXPECT_EQ(sel().HiTimeLine->geometry(), QRect(px(sel().Hi), top, 1, height));
  const int bandTop = f.Chart1->ChartRect().Bottom + f.Chart2->Height() + f.Chart3->Height() + f.Chart4->Height();
  EXPECT_EQ(sel().ColorLabel->geometry(), QRect(px(sel().Lo), bandTop, px(sel().Hi) - px(sel().Lo), 10));
  for (QWidget* m : {sel().LoTimeLine, sel().HiTimeLine, sel().ColorLabel}) EXPECT_TRUE(m->isVisible());

  setMode(false);
  for (QWidget* m : {sel().LoTimeLine, sel().HiTimeLine, sel().ColorLabel}) EXPECT_FALSE(m->isVisible());
  for (QWidget* w : std::initializer_list<QWidget*>{f.ButtonSelectCut, f.ButtonMore, f.Button1, f.ButtonStop,
                                                    f.CheckBoxChannel1, f.CheckBoxChannel2})
    EXPECT_FALSE(w->isEnabled());
  EXPECT_EQ(sel().Hi, f.arTimeLine[79999]);  // kept while the mode is off
}

TEST_F(Commands, HoverWidensBothMarkersAndLeavingNarrowsThem) {
  loadCounting();
  setMode(true);
  const double lo = sel().Lo, hi = sel().Hi;
  QTest::mouseMove(sel().LoTimeLine, QPoint(0, 20));
  EXPECT_EQ(sel().LoTimeLine->width(), 2);
  EXPECT_EQ(sel().HiTimeLine->width(), 2);
  EXPECT_EQ(sel().Lo, lo);  // no button held: only the highlight
  EXPECT_EQ(sel().Hi, hi);

  QTest::mouseMove(frame->ButtonFileSave, QPoint(5, 5));  // the pointer leaves the marker
  EXPECT_EQ(sel().LoTimeLine->width(), 1);
  EXPECT_EQ(sel().HiTimeLine->width(), 1);
}

TEST_F(Commands, DraggedMarkerFollowsThePointerUntilRelease) {
  loadCounting();
  setMode(true);
  TStaticText* lo = sel().LoTimeLine;
  QTest::mousePress(lo, Qt::LeftButton, {}, QPoint(0, 5));
  // Far outside the marker: the grab keeps the moves coming.
  for (int target : {200, 300, 250}) {
    QTest::mouseMove(lo, QPoint(target + frame->Chart1->x() - lo->x(), 5));
    EXPECT_EQ(sel().Lo, frame->Series1->XScreenToValue(target));
    EXPECT_EQ(lo->x(), px(sel().Lo));
    EXPECT_EQ(sel().ColorLabel->x(), lo->x());
  }
  QTest::mouseRelease(lo, Qt::LeftButton, {}, QPoint(0, 5));
  const double released = sel().Lo;
  QTest::mouseMove(lo, QPoint(0, 5));  // no button: nothing moves any more
  EXPECT_EQ(sel().Lo, released);
}

TEST_F(Commands, DraggedMarkerGivesWayToTheOtherAndStopsAtTheDrawnEnds) {
  loadCounting();
  setMode(true);
  const double first = frame->Series1->MinXValue(), last = frame->Series1->MaxXValue();

  drag(sel().LoTimeLine, px(sel().Hi) + 40);  // onto and past the right marker
  EXPECT_DOUBLE_EQ(sel().Lo, last - 0.001);
  EXPECT_EQ(sel().Hi, last);

  drag(sel().HiTimeLine, px(sel().Lo) - 60);  // past the left marker
  EXPECT_DOUBLE_EQ(sel().Hi, sel().Lo + 0.001);

  setMode(false);
  setMode(true);  // off and on: the whole view again
  EXPECT_EQ(sel().Lo, first);
  EXPECT_EQ(sel().Hi, last);

  drag(sel().HiTimeLine, px(last) + 50);  // past the last point
  EXPECT_EQ(sel().Hi, last);
  drag(sel().LoTimeLine, px(first) - 50);  // before the first point
  EXPECT_EQ(sel().Lo, first);
}

TEST_F(Commands, MarkersTheSmallestGapApartStayWhereTheyAre) {
  loadCounting();
  setMode(true);
  const int p = 300;
  const double v = frame->Series1->XScreenToValue(p);
  // The nearest Hi not less than 0.001 s after v, as doubles go.
  double hi = v + 0.001;
  while (hi - v < 0.001) hi = std::nextafter(hi, 1e9);
  sel().Hi = hi;
  frame->ArrMouseMove(sel().LoTimeLine, ssLeft | ssShift, p + frame->Chart1->x() - sel().LoTimeLine->x(), 0);
  EXPECT_EQ(sel().Lo, v);
  EXPECT_EQ(sel().Hi, hi);
}

TEST_F(Commands, DrawnEndsWinOverTheMinimumGap) {
  loadCounting();
  // A view of 4 frames is only 0.375 ms wide.
  select(1.0, 1.0005);
  QTest::mouseClick(frame->ButtonMore, Qt::LeftButton);
  ASSERT_EQ(frame->Series1->Count(), 4);
  drag(sel().HiTimeLine, px(sel().Lo) - 10);
  EXPECT_EQ(sel().Lo, frame->Series1->MinXValue());
  EXPECT_EQ(sel().Hi, frame->Series1->MaxXValue());
}

// --- Zoom, reset and scroll ---

TEST_F(Commands, ZoomScrollAndResetFollowTheWorkedExample) {
  loadCounting();
  TFrameTembrix& f = *frame;
  select(1.0, 2.0);
  QTest::mouseClick(f.ButtonMore, Qt::LeftButton);
  EXPECT_EQ(firstDrawn(), 8000);  // the range (8000, 16000)
  EXPECT_EQ(lastDrawn(), 15999);
  EXPECT_EQ(T::dn(f), 8001);
  EXPECT_EQ(f.ScrollBar1->value(), 11);
  EXPECT_TRUE(f.ScrollBar1->isEnabled());
  EXPECT_TRUE(f.ButtonLess->isEnabled());
  // With the mode on the markers stand at the new view's first and last points.
  EXPECT_EQ(sel().Lo, f.arTimeLine[8000]);
  EXPECT_EQ(sel().Hi, f.arTimeLine[15999]);
  EXPECT_EQ(sel().HiTimeLine->x(), px(f.arTimeLine[15999]));
  EXPECT_DOUBLE_EQ(distinctX(*f.Series3).front(), f.arTimeLine[8000]);

  f.ScrollBar1->setSliderPosition(50);  // a drag of the thumb
  EXPECT_EQ(firstDrawn(), 36000);  // 0.5 × 71999 lies halfway: to the even 36000
  EXPECT_EQ(lastDrawn(), 43999);   // the range (36000, 44000)
  EXPECT_EQ(sel().Lo, f.arTimeLine[36000]);

  f.ScrollBar1->triggerAction(QAbstractSlider::SliderSingleStepAdd);  // an arrow step
  EXPECT_EQ(f.ScrollBar1->value(), 51);
  EXPECT_EQ(firstDrawn(), 36719);  // round(0.51 × 71999)

  QTest::mouseClick(f.ButtonLess, Qt::LeftButton);
  EXPECT_EQ(firstDrawn(), 0);  // the range (0, 79999) up to its last frame
  EXPECT_EQ(lastDrawn(), 79998);
  EXPECT_EQ(T::dn(f), 80000);
  EXPECT_FALSE(f.ScrollBar1->isEnabled());
  EXPECT_FALSE(f.ButtonLess->isEnabled());
  EXPECT_EQ(f.ScrollBar1->value(), 51);  // the position stays
  EXPECT_EQ(sel().Hi, f.arTimeLine[79998]);
}

TEST_F(Commands, ZoomAndScrollPositionsRoundHalfwayCasesToEven) {
  loadCounting();
  TFrameTembrix& f = *frame;
  // Zoom: n1 = 23 with arWAVENOP − dn = 40 is position 57.5, to the even 58.
  select(23.0 / 8000, 79982.0 / 8000);  // dn = n2 − n1 + 1 = 79960
  QTest::mouseClick(f.ButtonMore, Qt::LeftButton);
  ASSERT_EQ(f.arWAVENOP - T::dn(f), 40);
  EXPECT_EQ(firstDrawn(), 23);
  EXPECT_EQ(f.ScrollBar1->value(), 58);

  // Scroll: position 81 of arWAVENOP − dn = 72050 is frame 58360.5, to the even 58360.
  QTest::mouseClick(f.ButtonLess, Qt::LeftButton);
  select(0.0, 7949.0 / 8000);
  QTest::mouseClick(f.ButtonMore, Qt::LeftButton);
  ASSERT_EQ(f.arWAVENOP - T::dn(f), 72050);
  f.ScrollBar1->setSliderPosition(81);  // a drag of the thumb
  EXPECT_EQ(firstDrawn(), 58360);
  EXPECT_EQ(lastDrawn(), 58360 + 7949 - 1);
}

TEST_F(Commands, ZoomToTheWholeRecordingKeepsTheFullViewState) {
  loadCounting(20000);
  setMode(true);
  sel().Lo = 0;
  sel().Hi = 20000.0 / 8000;
  QTest::mouseClick(frame->ButtonMore, Qt::LeftButton);
  EXPECT_EQ(T::dn(*frame), 20001);
  EXPECT_FALSE(frame->ScrollBar1->isEnabled());
  EXPECT_FALSE(frame->ButtonLess->isEnabled());
}

// --- Cut ---

TEST_F(Commands, CutMovesTheRestForwardAndKeepsTimeLineViewWidthAndScrollBar) {
  loadCounting();
  TFrameTembrix& f = *frame;
  const std::vector<double> timeLine(f.arTimeLine, f.arTimeLine + 80000);
  select(1.0, 2.0);
  QTest::mouseClick(f.ButtonSelectCut, Qt::LeftButton);
  EXPECT_EQ(f.arWAVENOP, 72000);
  EXPECT_EQ(f.arLeftCH[7999], leftOf(7999));
  EXPECT_EQ(f.arLeftCH[8000], leftOf(16000));
  EXPECT_EQ(f.arRightCH[8000], rightOf(16000));
  EXPECT_EQ(f.arLeftCH[71999], leftOf(79999));
  EXPECT_EQ(f.arRightCH[71999], rightOf(79999));
  EXPECT_EQ(std::vector<double>(f.arTimeLine, f.arTimeLine + 80000), timeLine);
  EXPECT_EQ(T::dn(f), 80000);
  EXPECT_FALSE(f.ScrollBar1->isEnabled());
  EXPECT_FALSE(f.ButtonLess->isEnabled());
  // Redrawn from the old view (frames 0 … 79999 → a = 1, b = 80000) less 8000.
  EXPECT_EQ(firstDrawn(), 1);
  EXPECT_EQ(lastDrawn(), 71999);
  EXPECT_EQ(sel().Lo, f.arTimeLine[1]);
  EXPECT_EQ(f.Series1->YValues[0], leftOf(1));
}

TEST_F(Commands, CutAtTheEndOrOfNothing) {
  loadCounting();
  TFrameTembrix& f = *frame;
  select(9.0, f.arTimeLine[79999]);  // Hi converts to exactly arWAVENOP
  QTest::mouseClick(f.ButtonSelectCut, Qt::LeftButton);
  EXPECT_EQ(f.arWAVENOP, 72000);
  EXPECT_EQ(f.arLeftCH[71999], leftOf(71999));

  select(2.0, 2.0);
  const std::int64_t before = lastDrawn();
  QTest::mouseClick(f.ButtonSelectCut, Qt::LeftButton);
  EXPECT_EQ(f.arWAVENOP, 72000);
  EXPECT_EQ(f.arLeftCH[16000], leftOf(16000));
  EXPECT_LE(lastDrawn(), before);
}

TEST_F(Commands, CutOfASelectionReachingPastTheEndRemovesOnlyExistingFrames) {
  loadCounting();
  TFrameTembrix& f = *frame;
  select(9.0, 20.0);  // frames 72000 … 160000, of which 72000 … 79999 exist
  QTest::mouseClick(f.ButtonSelectCut, Qt::LeftButton);
  EXPECT_EQ(f.arWAVENOP, 72000);
  select(50.0, 60.0);  // wholly past the end
  QTest::mouseClick(f.ButtonSelectCut, Qt::LeftButton);
  EXPECT_EQ(f.arWAVENOP, 72000);
}

// A cut that leaves nothing of the view drawn before it must not leave that
// picture on screen.
TEST_F(Commands, CutOfAZoomedViewShowsTheWholeRemainingRecording) {
  loadCounting(240000);  // 30 s
  TFrameTembrix& f = *frame;
  select(10.0, 19.8);
  QTest::mouseClick(f.ButtonMore, Qt::LeftButton);  // frames 80000 … 158399 drawn
  ASSERT_EQ(firstDrawn(), 80000);
  ASSERT_EQ(lastDrawn(), 158399);
  QTest::mouseClick(f.ButtonSelectCut, Qt::LeftButton);  // the selection is the whole view
  ASSERT_EQ(f.arWAVENOP, 240000 - 78399);
  EXPECT_EQ(firstDrawn(), 0);
  EXPECT_EQ(lastDrawn(), f.arWAVENOP - 1);
  EXPECT_EQ(f.Series2->YValues[f.Series2->Count() - 1], rightOf(239999));
  EXPECT_EQ(distinctX(*f.Series4).front(), f.arTimeLine[0]);
  EXPECT_EQ(sel().Lo, f.arTimeLine[0]);  // the selection is the new view
  EXPECT_EQ(sel().Hi, f.arTimeLine[f.arWAVENOP - 1]);
}

TEST_F(Commands, SelectingTheWholeViewReachesTheLastFrameAndCuttingItLeavesTheFirstFrameAlone) {
  loadCounting(19999);
  TFrameTembrix& f = *frame;
  setMode(true);
  EXPECT_EQ(sel().Hi, f.arTimeLine[19998]);
  QTest::mouseClick(f.ButtonSelectCut, Qt::LeftButton);
  // Frame 0 lies before the first drawn time's frame index, 1: only it is left.
  ASSERT_EQ(f.arWAVENOP, 1);
  ASSERT_EQ(f.Series1->Count(), 1);
  EXPECT_EQ(f.Series1->XValues[0], f.arTimeLine[0]);
  EXPECT_EQ(f.Series3->Count(), 0);  // a single frame has no spectrum
  EXPECT_EQ(sel().Hi, f.arTimeLine[0]);
}

TEST_F(Commands, CutOfEveryFrameEmptiesAllFourCharts) {
  loadCounting(30000);
  TFrameTembrix& f = *frame;
  select(0.0, 10.0);
  QTest::mouseClick(f.ButtonSelectCut, Qt::LeftButton);
  ASSERT_EQ(f.arWAVENOP, 0);
  for (TChartSeries* s : std::initializer_list<TChartSeries*>{f.Series1, f.Series2, f.Series3, f.Series4})
    EXPECT_EQ(s->Count(), 0);
  QTest::mouseClick(f.ButtonSelectCut, Qt::LeftButton);  // nothing left to cut
  EXPECT_EQ(f.arWAVENOP, 0);
  EXPECT_EQ(f.Series1->Count(), 0);
}

TEST_F(Commands, CutAndSaveShowTheWaitCursorOnlyWhileTheyWork) {
  loadCounting();
  WaitCursorAtPaint probe;
  select(1.0, 2.0);
  QTest::mouseClick(frame->ButtonSelectCut, Qt::LeftButton);
  EXPECT_GT(probe.paintsWithWait, 0);  // the charts were redrawn under it
  EXPECT_FALSE(QGuiApplication::overrideCursor());
  recorder.queueFileName(path("folder"));  // a folder: the writer cannot create the file
  ASSERT_TRUE(QDir().mkdir(path("folder.wav")));
  QTest::mouseClick(frame->ButtonFileSave, Qt::LeftButton);
  ASSERT_EQ(recorder.messages().size(), 1u);
  EXPECT_FALSE(QGuiApplication::overrideCursor());
}

// --- Scale of the waveform charts ---

TEST_F(Commands, FixedScaleFollowsTheBitDepthAndAutoFreesIt) {
  struct Case {
    std::uint16_t bits;
    bool known;
    double low, high;
  };
  for (const Case c : {Case{16, true, -32768, 32767}, Case{8, true, 0, 255}, Case{24, false, 0, 0}}) {
    auto f = std::make_unique<TFrameTembrix>();
    f->show();
    const QString file = path("scale.wav");
    QFile::remove(file);
    writeWav(file.toStdString(), 8000, c.bits, 2, 1000,
             [&](std::int64_t n, int) { return c.bits == 8 ? 100 + n % 50 : (n % 50) * 256; });
    f->arReportPath = file;
    f->InputWaveFile();
    ASSERT_EQ(T::arBitsPerSample(*f), c.bits);
    const double autoLow = f->Chart1->LeftAxis->Minimum(), autoHigh = f->Chart1->LeftAxis->Maximum();

    QTest::keyClick(f->ComboBoxYChart, Qt::Key_Up);  // "Авто" → "Фикс"
    ASSERT_EQ(f->ComboBoxYChart->currentText(), QStringLiteral("Фикс"));
    for (TChart* chart : {f->Chart1, f->Chart2}) {
      EXPECT_FALSE(chart->LeftAxis->Automatic());
      EXPECT_FALSE(chart->LeftAxis->AutomaticMinimum());
      EXPECT_EQ(chart->LeftAxis->Minimum(), c.known ? c.low : autoLow) << c.bits;
      EXPECT_EQ(chart->LeftAxis->Maximum(), c.known ? c.high : autoHigh) << c.bits;
    }
    EXPECT_TRUE(f->Chart3->LeftAxis->Automatic());  // spectrograms untouched

    QTest::keyClick(f->ComboBoxYChart, Qt::Key_Down);  // "Авто"
    for (TChart* chart : {f->Chart1, f->Chart2}) {
      EXPECT_TRUE(chart->LeftAxis->Automatic());
      EXPECT_EQ(chart->LeftAxis->Minimum(), autoLow);
      EXPECT_EQ(chart->LeftAxis->Maximum(), autoHigh);
    }
  }
}

TEST_F(Commands, TypedScaleTextSelectsNothingAndChangesNothing) {
  loadCounting(1000);
  QTest::keyClick(frame->ComboBoxYChart, Qt::Key_Up);  // "Фикс"
  QTest::keyClicks(frame->ComboBoxYChart->lineEdit(), QStringLiteral("x"));
  EXPECT_EQ(frame->ComboBoxYChartItemIndex(), -1);
  EXPECT_FALSE(frame->Chart1->LeftAxis->Automatic());
  EXPECT_EQ(frame->Chart1->LeftAxis->Maximum(), 32767);
}

TEST_F(Commands, TypedItemTextSelectsNothingOnEnterOrLeavingOnlyTheListSelects) {
  loadCounting(1000);
  QComboBox* box = frame->ComboBoxYChart;
  QLineEdit* edit = box->lineEdit();
  frame->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(frame.get()));
  ASSERT_EQ(frame->ComboBoxYChartItemIndex(), 1);  // "Авто"
  edit->setFocus(Qt::TabFocusReason);
  ASSERT_TRUE(edit->hasFocus());

  // Typing an item's exact text, pressing Enter and leaving the field by Tab.
  edit->selectAll();
  type(edit, QStringLiteral("Фикс"));
  EXPECT_EQ(box->currentText(), QStringLiteral("Фикс"));
  EXPECT_EQ(frame->ComboBoxYChartItemIndex(), -1);
  QTest::keyClick(edit, Qt::Key_Return);
  EXPECT_EQ(frame->ComboBoxYChartItemIndex(), -1);
  EXPECT_TRUE(frame->Chart1->LeftAxis->Automatic());
  QTest::keyClick(edit, Qt::Key_Tab);
  EXPECT_FALSE(edit->hasFocus());
  EXPECT_EQ(box->currentText(), QStringLiteral("Фикс"));
  EXPECT_EQ(frame->ComboBoxYChartItemIndex(), -1);
  EXPECT_TRUE(frame->Chart1->LeftAxis->Automatic());
  EXPECT_TRUE(frame->Chart2->LeftAxis->Automatic());

  // A partial text is not completed to an item either.
  edit->setFocus(Qt::TabFocusReason);
  edit->selectAll();
  type(edit, QStringLiteral("Ф"));
  EXPECT_EQ(box->currentText(), QStringLiteral("Ф"));
  QTest::keyClick(edit, Qt::Key_Enter);
  EXPECT_EQ(frame->ComboBoxYChartItemIndex(), -1);
  EXPECT_TRUE(frame->Chart1->LeftAxis->Automatic());

  // Choosing "Фикс" from the open list selects it and fixes the axes.
  box->showPopup();
  QAbstractItemView* list = box->view();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(list->window()));
  QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualRect(list->model()->index(0, 0)).center());
  EXPECT_EQ(frame->ComboBoxYChartItemIndex(), 0);
  EXPECT_FALSE(frame->Chart1->LeftAxis->Automatic());
  EXPECT_EQ(frame->Chart1->LeftAxis->Maximum(), 32767);
}

// --- Save ---

TEST_F(Commands, SaveRefusesRecordingsThatAreNot16Bit) {
  for (bool empty : {true, false}) {
    if (!empty) {
      writeWav(path("eight.wav").toStdString(), 8000, 8, 2, 100, [](std::int64_t, int) { return 128; });
      load(path("eight.wav"));
    }
    recorder.clear();
    recorder.queueFileName(path("never.wav"));
    QTest::mouseClick(frame->ButtonFileSave, Qt::LeftButton);
    ASSERT_EQ(recorder.messages().size(), 1u);
    EXPECT_EQ(recorder.messages()[0].text, QStringLiteral("Формат файла не соответствует Зарнит!!! Сохранение отключено!"));
    EXPECT_EQ(recorder.messages()[0].caption, QStringLiteral("Несоответствие формата"));
    EXPECT_EQ(recorder.messages()[0].icon, Dialogs::Icon::None);
    EXPECT_TRUE(recorder.dialogFilters().empty());  // no dialog opened
    EXPECT_FALSE(QFile::exists(path("never.wav")));
  }
}

TEST_F(Commands, SaveNeverReplacesAnExistingFile) {
  loadCounting(1000);
  const QString existing = path("existing.wav");
  {
    QFile out(existing);
    ASSERT_TRUE(out.open(QIODevice::WriteOnly));
    out.write("precious bytes");
  }
  const QString link = path("link.wav");
  ASSERT_TRUE(QFile::link(existing, link));
  {
    // A directory is no file: the writer is asked and says why it cannot create one.
    const QString folder = path("folder.wav");
    ASSERT_TRUE(QDir().mkdir(folder));
    recorder.queueFileName(folder);
    QTest::mouseClick(frame->ButtonFileSave, Qt::LeftButton);
    ASSERT_EQ(recorder.messages().size(), 1u);
    const QString said = recorder.messages()[0].text;
    const QString start = QStringLiteral("Cannot create file \"") + folder + QStringLiteral("\". ");
    EXPECT_TRUE(said.startsWith(start) && said.size() > start.size()) << said.toStdString();
    EXPECT_TRUE(QFileInfo(folder).isDir());
    EXPECT_TRUE(QDir(folder).isEmpty());
  }
  for (const QString& name : {existing, link}) {
    recorder.clear();
    recorder.queueFileName(name);
    QTest::mouseClick(frame->ButtonFileSave, Qt::LeftButton);  // the error reaches the default handler
    ASSERT_EQ(recorder.messages().size(), 1u);
    EXPECT_EQ(recorder.messages()[0].text, QStringLiteral("Файл уже существует. Невозможно перезаписать!"));
    EXPECT_EQ(recorder.messages()[0].icon, Dialogs::Icon::Stop);
    EXPECT_EQ(recorder.dialogFilters(), std::vector<QString>{QStringLiteral("wav|*.wav")});
  }
  recorder.queueFileName(existing);  // called directly, the error reaches the caller
  EXPECT_THROW(frame->ButtonFileSaveClick(nullptr), EFileExists);

  QFile in(existing);
  ASSERT_TRUE(in.open(QIODevice::ReadOnly));
  EXPECT_EQ(in.readAll(), QByteArray("precious bytes"));

  recorder.clear();  // cancelled dialog: nothing at all
  QTest::mouseClick(frame->ButtonFileSave, Qt::LeftButton);
  EXPECT_TRUE(recorder.messages().empty());
}

TEST_F(Commands, SavedFileHoldsTheEditedDocumentAndReopensWithTheSameSamples) {
  loadCounting();
  TFrameTembrix& f = *frame;
  select(1.0, 2.0);
  QTest::mouseClick(f.ButtonSelectCut, Qt::LeftButton);
  select(0.5, 0.75);
  QTest::mouseClick(f.ButtonSelectCut, Qt::LeftButton);
  ASSERT_EQ(f.arWAVENOP, 70000);

  recorder.queueFileName(path("edited"));  // the default extension is added
  QTest::mouseClick(f.ButtonFileSave, Qt::LeftButton);
  EXPECT_TRUE(recorder.messages().empty());
  ASSERT_EQ(std::filesystem::file_size(path("edited.wav").toStdString()), 44u + 70000u * 4);

  TFrameTembrix reopened;
  reopened.arReportPath = path("edited.wav");
  reopened.InputWaveFile();
  ASSERT_EQ(reopened.arWAVENOP, 70000);
  for (std::int32_t i = 0; i < 70000; ++i) {
    ASSERT_EQ(reopened.arLeftCH[i], f.arLeftCH[i]) << i;
    ASSERT_EQ(reopened.arRightCH[i], f.arRightCH[i]) << i;
  }
}

// --- Wheel ---

TEST_F(Commands, WheelOverTheWaveformsChangesNothing) {
  loadCounting();
  select(1.0, 2.0);
  const std::int64_t first = firstDrawn();
  for (TChart* chart : {frame->Chart1, frame->Chart2}) {
    const QPointF at(50, 30);
    QWheelEvent wheel(at, chart->mapToGlobal(at), {}, QPoint(0, 120), Qt::NoButton, Qt::NoModifier,
                      Qt::NoScrollPhase, false);
    QApplication::sendEvent(chart, &wheel);
  }
  EXPECT_EQ(frame->arWAVENOP, 80000);
  EXPECT_EQ(sel().Lo, 1.0);
  EXPECT_EQ(sel().Hi, 2.0);
  EXPECT_EQ(firstDrawn(), first);
}
