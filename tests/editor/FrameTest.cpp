// The editor frame: construction, the document and loading, the waveform view
// and the spectrogram view.
#include "EditorTestSupport.h"
#include "FrameFixture.h"

#include "dsp/IPPDynamic.h"

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QProcess>
#include <QPushButton>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QToolButton>

#include <cmath>
#include <filesystem>
#include <memory>
#include <set>

using T = TembrixTestAccess;

namespace {

class Frame : public FrameFixture {
 protected:
  Frame() : FrameFixture(Shown::No) {}

  // A counting recording of `frames` frames at `rate`, loaded.
  void loadCounting(std::int64_t frames, std::uint32_t rate = 8000) {
    writeCountingWav(path("counting.wav").toStdString(), rate, frames);
    load(path("counting.wav"));
  }
  // Frame index of each waveform point, from its time.
  std::vector<std::int64_t> drawnFrames() const {
    std::vector<std::int64_t> out;
    for (double x : frame->Series1->XValues.Values()) out.push_back(std::llround(x * T::arSampRate(*frame)) - 1);
    return out;
  }
};

}  // namespace

// --- Construction ---

TEST_F(Frame, FreshFrameOffersOnlySelectScaleAndSave) {
  TFrameTembrix& f = *frame;
  EXPECT_TRUE(f.SpeedButtonSelect->isEnabled());
  EXPECT_FALSE(f.SpeedButtonSelect->isChecked());
  EXPECT_TRUE(f.SpeedButtonSelect->isCheckable());
  EXPECT_TRUE(f.ComboBoxYChart->isEnabled());
  EXPECT_EQ(f.ComboBoxYChart->currentText(), QStringLiteral("Авто"));
  EXPECT_EQ(f.ComboBoxYChartItemIndex(), 1);
  EXPECT_TRUE(f.ButtonFileSave->isEnabled());
  for (QWidget* w : std::initializer_list<QWidget*>{f.ButtonSelectCut, f.ButtonMore, f.ButtonLess, f.Button1,
                                                    f.ButtonStop, f.CheckBoxChannel1, f.CheckBoxChannel2,
                                                    f.ScrollBar1})
    EXPECT_FALSE(w->isEnabled()) << w->metaObject()->className();
  EXPECT_TRUE(f.CheckBoxChannel1->isChecked());
  EXPECT_TRUE(f.CheckBoxChannel2->isChecked());
  EXPECT_EQ(f.ScrollBar1->minimum(), 0);
  EXPECT_EQ(f.ScrollBar1->maximum(), 100);
  EXPECT_EQ(f.ScrollBar1->value(), 0);
  EXPECT_EQ(f.SaveDialog1.Filter, QStringLiteral("wav|*.wav"));
  EXPECT_EQ(f.SaveDialog1.DefaultExt, QStringLiteral("wav"));
  EXPECT_FALSE(f.StaticTextPlayPosition->isVisibleTo(&f));
  EXPECT_EQ(f.StaticTextPlayPosition->Color(), QColor(Qt::red));

  // The captions the user reads.
  EXPECT_EQ(f.ButtonSelectCut->text(), QStringLiteral("Вырезать"));
  EXPECT_EQ(f.ButtonMore->text(), QStringLiteral("Увеличить"));
  EXPECT_EQ(f.ButtonLess->text(), QStringLiteral("Сброс"));
  EXPECT_EQ(f.SpeedButtonSelect->text(), QStringLiteral("Выделить"));
  EXPECT_EQ(f.ButtonFileSave->text(), QStringLiteral("Сохранить в файл"));
  EXPECT_EQ(f.GroupBoxChannels->title(), QStringLiteral("Выбор каналов"));
  EXPECT_EQ(f.CheckBoxChannel1->text(), QStringLiteral("Левый"));
  EXPECT_EQ(f.CheckBoxChannel2->text(), QStringLiteral("Правый"));
  EXPECT_EQ(f.Chart3->Title(), QStringLiteral("Левый канал. График частотного спектра."));
}

TEST_F(Frame, MarkersAreHiddenOrangeAndAboveEverythingElse) {
  TTimeSelect& ts = T::TimeSelect(*frame);
  const QColor orange(0xFF, 0x6A, 0x00);
  for (TStaticText* line : {ts.LoTimeLine, ts.HiTimeLine}) {
    ASSERT_NE(line, nullptr);
    EXPECT_EQ(line->parentWidget(), frame->PanelDiagramms);
    EXPECT_FALSE(line->isVisibleTo(frame.get()));
    EXPECT_TRUE(line->isEnabled());
    EXPECT_EQ(line->width(), 1);
    EXPECT_EQ(line->Color(), orange);
    EXPECT_EQ(line->cursor().shape(), Qt::SizeHorCursor);
    EXPECT_TRUE(line->OnMouseMove && line->OnMouseLeave && line->OnMouseDown && line->OnMouseUp);
  }
  ASSERT_NE(ts.ColorLabel, nullptr);
  EXPECT_EQ(ts.ColorLabel->parentWidget(), frame->PanelDiagramms);
  EXPECT_FALSE(ts.ColorLabel->isVisibleTo(frame.get()));
  EXPECT_EQ(ts.ColorLabel->height(), 10);
  EXPECT_EQ(ts.ColorLabel->Color(), orange);
  EXPECT_FALSE(ts.ColorLabel->OnMouseMove || ts.ColorLabel->OnMouseDown);

  // Stacking: the last three children of the panel, ColorLabel topmost.
  QList<QWidget*> order;
  for (QObject* o : frame->PanelDiagramms->children())
    if (auto* w = qobject_cast<QWidget*>(o)) order.append(w);
  ASSERT_GE(order.size(), 3);
  EXPECT_EQ(order.at(order.size() - 3), ts.LoTimeLine);
  EXPECT_EQ(order.at(order.size() - 2), ts.HiTimeLine);
  EXPECT_EQ(order.at(order.size() - 1), ts.ColorLabel);
}

TEST_F(Frame, ChartsShareTheLabelRoomAndStackLeftWaveLeftSpectrumRightWaveRightSpectrum) {
  frame->resize(924, 584);
  LayOutFrame(*frame);
  for (TChart* c : {frame->Chart1, frame->Chart2, frame->Chart3, frame->Chart4}) {
    EXPECT_EQ(c->LeftAxis->LabelsSize(), 30);
    EXPECT_EQ(c->ChartRect().Left, frame->Chart1->ChartRect().Left);
  }
  EXPECT_LT(frame->Chart1->y(), frame->Chart3->y());
  EXPECT_LT(frame->Chart3->y(), frame->Chart2->y());
  EXPECT_LT(frame->Chart2->y(), frame->Chart4->y());
  EXPECT_FALSE(frame->Series3->BandPen.Visible);
  EXPECT_FALSE(frame->Series4->BandPen.Visible);
  // Outer heights: 584 − 150 = 434 for the diagrams, 434 div 4 per chart.
  EXPECT_EQ(frame->PanelDiagramms->height(), 434);
  EXPECT_EQ(frame->Chart4->height(), 108);
  EXPECT_EQ(frame->PanelDirect->y(), frame->PanelDiagramms->y() + 434);
}

TEST(FrameLifetime, ClosingOneOfTwoFramesLeavesTheOtherDrawingSpectrograms) {
  QTemporaryDir dir;
  const std::string file = (dir.path() + QStringLiteral("/two.wav")).toStdString();
  writeCountingWav(file, 8000, 2000);
  auto first = std::make_unique<TFrameTembrix>();
  auto second = std::make_unique<TFrameTembrix>();
  first->arReportPath = second->arReportPath = QString::fromStdString(file);
  first->InputWaveFile();
  second->InputWaveFile();
  first.reset();

  ASSERT_TRUE(IPPDynamic::LibIntelIPP_Loaded);
  second->Series3->Clear();
  T::RepaintDiagramms(*second, 0, 1000);
  EXPECT_EQ(second->Series3->Count(), 300 * 32);
}

// The real program path: a folder where the library can neither be loaded nor
// unpacked (a directory stands at its name). The frame shows the two-line error
// and the process ends with exit code 1.
TEST(FrameLifetime, UnloadableLibraryShowsTheErrorAndExitsWithCodeOne) {
  QTemporaryDir dir;
  namespace fs = std::filesystem;
  const fs::path folder = dir.path().toStdString();
  const fs::path program = folder / "frame_without_library";
  fs::copy_file(TEMBRIX_FRAME_PROBE, program);
  fs::create_directory(folder / "ipps-7.0.dll");

  QProcess p;
  p.start(QString::fromStdString(program.string()), {});
  ASSERT_TRUE(p.waitForFinished(60000));
  EXPECT_EQ(p.exitStatus(), QProcess::NormalExit);
  EXPECT_EQ(p.exitCode(), 1);
  const QString out = QString::fromUtf8(p.readAllStandardOutput());
  EXPECT_EQ(out, QStringLiteral("message|Не удается загрузить библиотеки обработки сигнала\rДальнейшая работа "
                                "невозможна|Ошибка|error\nclean-up\n"));
}

// --- The document and loading ---

TEST_F(Frame, LoadingFillsTheDocumentAndDrawsTheWholeRecording) {
  loadCounting(5000, 8000);
  TFrameTembrix& f = *frame;
  EXPECT_EQ(f.arWAVENOP, 5000);
  EXPECT_EQ(T::dn(f), 5000);
  EXPECT_EQ(T::arSampRate(f), 8000u);
  EXPECT_EQ(T::arBitsPerSample(f), 16);
  EXPECT_DOUBLE_EQ(f.arTimeLine[0], 1.0 / 8000);
  EXPECT_DOUBLE_EQ(f.arTimeLine[4999], 5000.0 / 8000);
  EXPECT_EQ(f.arLeftCH[1234], 1234);
  EXPECT_EQ(f.arRightCH[1234], -1234);
  // The range 0 … 5000: every frame, the last one included.
  ASSERT_EQ(f.Series1->Count(), 5000);
  ASSERT_EQ(f.Series2->Count(), 5000);
  EXPECT_DOUBLE_EQ(f.Series1->XValues[4999], f.arTimeLine[4999]);
  EXPECT_EQ(f.Series1->YValues[4999], 4999);
  EXPECT_EQ(f.Series2->YValues[4999], -4999);
  EXPECT_DOUBLE_EQ(f.Chart1->BottomAxis->Minimum(), f.arTimeLine[0]);
  EXPECT_DOUBLE_EQ(f.Chart1->BottomAxis->Maximum(), f.arTimeLine[4999]);
  EXPECT_GT(f.Series3->Count(), 0);
  EXPECT_GT(f.Series4->Count(), 0);
  // Loading does not touch the selection.
  EXPECT_FALSE(f.SpeedButtonSelect->isChecked());
  EXPECT_FALSE(f.ButtonMore->isEnabled());
}

TEST_F(Frame, RejectedFileLeavesEverythingEmpty) {
  const std::string file = path("not-a-wave.wav").toStdString();
  std::ofstream(file) << "this is not a RIFF file at all, just some text";
  load(QString::fromStdString(file));
  TFrameTembrix& f = *frame;
  EXPECT_EQ(f.arWAVENOP, 0);
  EXPECT_EQ(T::dn(f), 0);
  EXPECT_EQ(T::arSampRate(f), 0u);
  EXPECT_EQ(T::arBitsPerSample(f), 0);
  for (TChartSeries* s : std::initializer_list<TChartSeries*>{f.Series1, f.Series2, f.Series3, f.Series4})
    EXPECT_EQ(s->Count(), 0);
}

TEST_F(Frame, TimeConvertsToFrameByRoundingHalfToEven) {
  loadCounting(8000, 8000);
  TFrameTembrix& f = *frame;
  EXPECT_EQ(f.timeToFrame(0.5), 4000);
  EXPECT_EQ(f.timeToFrame(f.arTimeLine[3999]), 4000);  // the time of frame i gives i + 1
  EXPECT_EQ(f.timeToFrame(0.0078125), 62);   // 62.5 exactly: to the even neighbour
  EXPECT_EQ(f.timeToFrame(0.0234375), 188);  // 187.5 exactly
  EXPECT_EQ(f.timeToFrame(1e30), INT32_MAX);  // saturates instead of overflowing
  EXPECT_EQ(f.timeToFrame(-1e30), INT32_MIN);
  EXPECT_EQ(f.timeToFrame(std::nan("")), INT32_MIN);

  // A span's length subtracts in extended precision as well: these two times
  // lie 145818.5 frames apart, which a subtraction in double turns into a
  // value just above the half.
  EXPECT_EQ(f.spanToFrames(0.0070180625, 18.2343305625), 145818);
  EXPECT_EQ(f.spanToFrames(0.0, 0.0078125), 62);
  EXPECT_EQ(f.spanToFrames(-1e30, 1e30), INT32_MAX);
  EXPECT_EQ(f.spanToFrames(0.0, std::nan("")), INT32_MIN);
}

// --- Waveform view ---

TEST_F(Frame, WaveformThinsLongRangesToAtMostTenThousandPointsEndingAtTheLastFrame) {
  loadCounting(60000);
  TFrameTembrix& f = *frame;
  struct Case {
    std::int32_t n1, n2, step;
    std::size_t points;
  };
  for (const Case c : {Case{1000, 11000, 1, 10000},   // exactly 10 000: all of them
                       Case{1000, 11001, 2, 5001},    // 10 001: every second frame lands on the last
                       Case{1000, 20999, 2, 10000},   // 19 999: the same, 10 000 points
                       Case{1000, 21000, 3, 6668},    // 20 000: the last frame added after the steps
                       Case{1000, 21001, 3, 6668},    // 20 001: likewise
                       Case{0, 25000, 3, 8334}}) {    // 25 000: the steps land on frame 24 999
    SCOPED_TRACE(testing::Message() << c.n1 << ".." << c.n2);
    T::RepaintDiagramms(f, c.n1, c.n2);
    const std::vector<std::int64_t> drawn = drawnFrames();
    ASSERT_EQ(drawn.size(), c.points);
    EXPECT_EQ(drawn.front(), c.n1);
    EXPECT_EQ(drawn.back(), c.n2 - 1);
    for (std::size_t i = 1; i + 1 < drawn.size(); ++i) ASSERT_EQ(drawn[i], c.n1 + std::int64_t(i) * c.step) << i;
    EXPECT_GT(drawn.back(), drawn[drawn.size() - 2]);
    EXPECT_LE(drawn.back() - drawn[drawn.size() - 2], c.step);
    EXPECT_EQ(f.Series1->YValues[c.points - 1], leftOf(c.n2 - 1));
    EXPECT_EQ(f.Series2->YValues[c.points - 1], rightOf(c.n2 - 1));
    EXPECT_DOUBLE_EQ(f.Chart1->BottomAxis->Maximum(), f.arTimeLine[c.n2 - 1]);
  }
}

TEST_F(Frame, ViewsClampTheRangeAndKeepTheirPictureForAnEmptyOne) {
  loadCounting(3000);
  TFrameTembrix& f = *frame;
  T::RepaintDiagramms(f, -50, 99999);  // treated as 0 … 3000
  EXPECT_EQ(drawnFrames().front(), 0);
  EXPECT_EQ(drawnFrames().back(), 2999);

  T::RepaintDiagramms(f, 100, 200);
  const int waveCount = f.Series1->Count();
  const int spectrumCount = f.Series3->Count();
  const double firstX = f.Series1->XValues[0];
  for (auto [n1, n2] : {std::pair{500, 500}, {2000, 1000}, {3000, 4000}, {-10, 0}}) {
    T::RepaintDiagramms(f, n1, n2);
    EXPECT_EQ(f.Series1->Count(), waveCount);
    EXPECT_EQ(f.Series3->Count(), spectrumCount);
    EXPECT_EQ(f.Series1->XValues[0], firstX);
  }
}

TEST_F(Frame, EmptyDocumentDrawsNothing) {
  T::RepaintDiagramms(*frame, 0, 100);
  T::RepaintDiagramms(*frame, -5, 5);
  EXPECT_EQ(frame->Series1->Count(), 0);
  EXPECT_EQ(frame->Series3->Count(), 0);
}

// --- Spectrogram view ---

TEST_F(Frame, SpectrogramColumnsAndStepsFollowTheSpan) {
  loadCounting(150000);
  TFrameTembrix& f = *frame;
  struct Case {
    std::int32_t span;
    std::size_t columns;
    std::int32_t step;
  };
  for (const Case c : {Case{300, 300, 1}, Case{301, 300, 1}, Case{600, 300, 2}, Case{100000, 300, 333},
                       Case{100, 100, 1}}) {
    const std::int32_t n1 = 20000;
    T::RepaintDiagramms(f, n1, n1 + c.span);
    const std::vector<double> columns = distinctX(*f.Series3);
    ASSERT_EQ(columns.size(), c.columns) << c.span;
    EXPECT_DOUBLE_EQ(columns.front(), f.arTimeLine[n1]);
    EXPECT_DOUBLE_EQ(columns[1], f.arTimeLine[n1 + c.step]);
    EXPECT_DOUBLE_EQ(columns.back(), f.arTimeLine[n1 + (c.columns - 1) * c.step]);
    EXPECT_EQ(f.Series3->Count(), static_cast<int>(c.columns * 32));
    EXPECT_EQ(f.Series4->Count(), static_cast<int>(c.columns * 32));
    EXPECT_EQ(f.Series3->NumXValues, static_cast<int>(c.columns));
    EXPECT_EQ(f.Series3->NumZValues, 32);
    EXPECT_TRUE(f.Series3->IrregularGrid);
  }
}

TEST_F(Frame, SpectrogramShowsBinsUpToJustBelowHalfTheRate) {
  // Left: a 1000 Hz cosine of amplitude 8000; right: silence.
  const std::string file = path("tone.wav").toStdString();
  writeWav(file, 8000, 16, 2, 8000, [](std::int64_t n, int c) {
    return c == 0 ? std::llround(8000 * std::cos(2 * M_PI * 1000 * n / 8000.0)) : 0;
  });
  load(QString::fromStdString(file));
  TFrameTembrix& f = *frame;
  std::set<double> bins(f.Series3->ZValues.Values().begin(), f.Series3->ZValues.Values().end());
  ASSERT_EQ(bins.size(), 32u);
  EXPECT_EQ(*bins.begin(), 0);
  EXPECT_EQ(*bins.rbegin(), 3875);
  // First column, points added by rising frequency: bin 8 is 1000 Hz, A²/(4·64).
  EXPECT_EQ(f.Series3->ZValues[8], 1000);
  EXPECT_NEAR(f.Series3->YValues[8], 8000.0 * 8000 / 256, 50);  // samples are rounded to integers
  EXPECT_NEAR(f.Series3->YValues[3], 0, 1e-3);
  EXPECT_EQ(f.Series4->MaxYValue(), 0);
}

TEST_F(Frame, WindowDependsOnRecordingLengthAndEndsWithZerosPastTheLastFrame) {
  // 100 frames of a constant: W = 32, 16 bins, one column per frame.
  const std::string file = path("short.wav").toStdString();
  writeWav(file, 8000, 16, 2, 100, [](std::int64_t, int) { return 1000; });
  load(QString::fromStdString(file));
  TFrameTembrix& f = *frame;
  EXPECT_EQ(distinctX(*f.Series3).size(), 100u);
  EXPECT_EQ(f.Series3->Count(), 100 * 16);
  // Column 90 holds 10 real frames and 22 zeros: bin 0 = (10·1000)² / 32³.
  const int column90 = 90 * 16;
  EXPECT_DOUBLE_EQ(f.Series3->XValues[column90], f.arTimeLine[90]);
  EXPECT_NEAR(f.Series3->YValues[column90], 1e8 / 32768, 1e-6);
  // A full window of the constant: A² · 32² / 32³ = A² / 32.
  EXPECT_NEAR(f.Series3->YValues[0], 1e6 / 32, 1e-6);
}

TEST_F(Frame, TinyRecordingsDrawNoSpectrogramAndDoNotCrash) {
  for (int frames : {1, 2, 3}) {
    auto fresh = std::make_unique<TFrameTembrix>();
    const std::string file = path("tiny.wav").toStdString();
    std::filesystem::remove(file);
    writeCountingWav(file, 8000, frames);
    fresh->arReportPath = QString::fromStdString(file);
    fresh->InputWaveFile();
    EXPECT_EQ(fresh->arWAVENOP, frames);
    EXPECT_EQ(fresh->Series1->Count(), frames);
    EXPECT_EQ(fresh->Series3->Count(), 0);
    EXPECT_EQ(fresh->Series4->Count(), 0);
    EXPECT_EQ(fresh->Series3->NumZValues, 0);
  }
}

// --- Hover highlight ---

namespace {
class ShownFrame : public FrameFixture {};
}  // namespace

TEST_F(ShownFrame, WaveformLinesAreHighlightedUnderThePointerAndSpectrogramsNever) {
  writeCountingWav(path("counting.wav").toStdString(), 8000, 4000);
  load(path("counting.wav"));
  frame->repaint();
  auto pointOf = [](TChart* chart, TChartSeries* series, std::size_t i) {
    return QPoint(chart->BottomAxis->CalcPosValue(series->XValues.Values()[i]),
                  chart->LeftAxis->CalcPosValue(series->YValues.Values()[i]));
  };
  for (auto [chart, series] : {std::pair{frame->Chart1, frame->Series1}, std::pair{frame->Chart2, frame->Series2}}) {
    const std::size_t middle = series->XValues.Values().size() / 2;
    QTest::mouseMove(chart, pointOf(chart, series, middle));
    EXPECT_EQ(chart->HoveredSeries(), series) << chart->objectName().toStdString();
    QTest::mouseMove(frame->Chart3, frame->Chart3->rect().center());
    EXPECT_EQ(chart->HoveredSeries(), nullptr) << "the highlight goes when the pointer leaves";
  }
  for (TChart* chart : {frame->Chart3, frame->Chart4}) {
    for (QPoint p : {chart->rect().center(), chart->rect().center() + QPoint(0, 10)}) {
      QTest::mouseMove(chart, p);
      EXPECT_EQ(chart->HoveredSeries(), nullptr);
    }
  }
}
