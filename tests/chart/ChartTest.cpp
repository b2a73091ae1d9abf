// The chart as the editor's ruler: axis scaling, pixel mapping, and what ends
// up in the pixels.
#include "chart/TChart.h"
#include "ChartRender.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QImage>
#include <QPainter>
#include <QTest>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>
#include <complex>
#include <memory>
#include <numbers>
#include <vector>

namespace {

const QRgb kLineColour = qRgb(0x44, 0x66, 0xA3);

struct WaveChart {
  std::unique_ptr<TChart> Chart = std::make_unique<TChart>();
  TFastLineSeries* Series = Chart->AddSeries<TFastLineSeries>();
  WaveChart(int Width, int Height) {
    Chart->resize(Width, Height);
    Chart->SetTitle(QStringLiteral("Левый канал."));
  }
};

// A sine over [T0, T1] with N points, as the waveform view adds them.
void addSine(TFastLineSeries& Series, double T0, double T1, int N) {
  for (int i = 0; i < N; ++i) {
    const double t = T0 + (T1 - T0) * i / (N - 1);
    Series.AddXY(t, 1000 * std::sin(t * 40));
  }
}

TEST(ChartAxes, RefreshSetsBottomAxisToFirstAndLastXExactly) {
  WaveChart w(900, 108);
  // Times that are not short decimals: no rounding to tick steps may creep in.
  const double first = 1.0 / 22050, last = 9999.0 / 22050 + 1.0 / 3;
  w.Series->AddXY(first, 5);
  addSine(*w.Series, 0.01, 0.3, 500);
  w.Series->AddXY(last, -7);
  w.Chart->Refresh();
  EXPECT_EQ(w.Chart->BottomAxis->Minimum(), first);
  EXPECT_EQ(w.Chart->BottomAxis->Maximum(), last);
  EXPECT_EQ(w.Series->MinXValue(), first);
  EXPECT_EQ(w.Series->XValues.MaxValue(), last);
  // The left axis covers the samples.
  EXPECT_LE(w.Chart->LeftAxis->Minimum(), -7);
  EXPECT_GE(w.Chart->LeftAxis->Maximum(), 5);
}

TEST(ChartAxes, AxesChangeOnlyOnRefresh) {
  WaveChart w(600, 100);
  addSine(*w.Series, 0, 1, 100);
  w.Chart->Refresh();
  w.Series->Clear();
  addSine(*w.Series, 2, 3, 100);
  EXPECT_EQ(w.Chart->BottomAxis->Maximum(), 1);  // the range drawn last
  w.Chart->Refresh();
  EXPECT_EQ(w.Chart->BottomAxis->Minimum(), 2);
  EXPECT_EQ(w.Chart->BottomAxis->Maximum(), 3);
}

TEST(ChartAxes, EmptyAndSinglePointSeries) {
  WaveChart w(600, 100);
  w.Chart->Refresh();
  EXPECT_EQ(w.Chart->BottomAxis->Minimum(), 0);
  EXPECT_EQ(w.Chart->BottomAxis->Maximum(), 0);
  EXPECT_EQ(w.Chart->LeftAxis->Minimum(), 0);
  EXPECT_EQ(w.Chart->LeftAxis->Maximum(), 0);
  EXPECT_TRUE(w.Chart->BottomAxis->TickValues().empty());
  EXPECT_EQ(w.Series->MinXValue(), 0);
  EXPECT_EQ(w.Series->MaxXValue(), 0);
  EXPECT_EQ(w.Series->XScreenToValue(300), 0);

  w.Series->AddXY(0.5, 3);
  w.Chart->Refresh();
  EXPECT_EQ(w.Chart->BottomAxis->Minimum(), 0.5);
  EXPECT_EQ(w.Chart->BottomAxis->Maximum(), 0.5);
  // A constant line is centred on a widened vertical axis.
  EXPECT_EQ(w.Chart->LeftAxis->Minimum(), 2);
  EXPECT_EQ(w.Chart->LeftAxis->Maximum(), 4);
  EXPECT_EQ(w.Series->XScreenToValue(w.Chart->ChartRect().Right), 0.5);
  EXPECT_NO_THROW(render(*w.Chart));
}

TEST(ChartAxes, FixedScaleAndRefusedInversion) {
  WaveChart w(600, 100);
  addSine(*w.Series, 0, 1, 100);
  w.Chart->Refresh();
  TChartAxis& left = *w.Chart->LeftAxis;
  left.SetAutomatic(false);
  EXPECT_FALSE(left.AutomaticMinimum());
  EXPECT_FALSE(left.AutomaticMaximum());
  left.SetMaximum(32767);
  left.SetMinimum(-32768);
  w.Chart->Refresh();
  EXPECT_EQ(left.Minimum(), -32768);
  EXPECT_EQ(left.Maximum(), 32767);

  EXPECT_THROW(left.SetMinimum(40000), EChartError);
  EXPECT_THROW(left.SetMaximum(-40000), EChartError);
  EXPECT_THROW(left.SetMinMax(2, 1), EChartError);
  EXPECT_THROW(left.SetMinimum(std::nan("")), EChartError);
  EXPECT_EQ(left.Minimum(), -32768);
  EXPECT_EQ(left.Maximum(), 32767);
  left.SetMinimum(32767);  // an empty range is allowed
  EXPECT_EQ(left.Minimum(), 32767);

  // Automatic again: rescaled to the points at once, both ends.
  left.SetAutomatic(true);
  EXPECT_TRUE(left.AutomaticMinimum());
  EXPECT_TRUE(left.AutomaticMaximum());
  EXPECT_NEAR(left.Minimum(), -1000, 5);
  EXPECT_NEAR(left.Maximum(), 1000, 5);
}

TEST(ChartAxes, OneAutomaticEndFollowsTheData) {
  WaveChart w(600, 100);
  addSine(*w.Series, 0, 1, 100);
  TChartAxis& left = *w.Chart->LeftAxis;
  left.SetAutomaticMaximum(false);
  left.SetMaximum(5000);
  w.Chart->Refresh();
  EXPECT_NEAR(left.Minimum(), -1000, 5);
  EXPECT_EQ(left.Maximum(), 5000);
  // Data entirely above the fixed maximum closes the range at that maximum.
  left.SetMinMax(-10, -5);
  w.Chart->Refresh();
  EXPECT_LE(left.Minimum(), left.Maximum());
  EXPECT_EQ(left.Maximum(), -5);
}

TEST(ChartMapping, PixelAndValueAreExactInversesAtSeveralSizes) {
  for (const QSize size : {QSize(437, 72), QSize(918, 108), QSize(1920, 270), QSize(123, 40), QSize(3000, 500)}) {
    WaveChart w(size.width(), size.height());
    addSine(*w.Series, 1.0 / 44100, 600.0 + 1.0 / 7, 10000);
    w.Chart->Refresh();
    const TChartAxis& bottom = *w.Chart->BottomAxis;
    const TChartRect r = w.Chart->ChartRect();
    ASSERT_GT(r.Width(), 0) << size.width();
    EXPECT_EQ(bottom.CalcPosValue(bottom.Minimum()), r.Left);
    EXPECT_EQ(bottom.CalcPosValue(bottom.Maximum()), r.Right);
    EXPECT_EQ(w.Series->XScreenToValue(r.Left), bottom.Minimum());
    const double pixelWidth = (bottom.Maximum() - bottom.Minimum()) / r.Width();
    for (int px = r.Left; px <= r.Right; ++px) {
      const double t = w.Series->XScreenToValue(px);
      ASSERT_EQ(bottom.CalcPosValue(t), px) << size.width() << " px " << px;
    }
    for (int i = 0; i <= 1000; ++i) {
      const double t = bottom.Minimum() + (bottom.Maximum() - bottom.Minimum()) * i / 1000;
      ASSERT_LE(std::abs(w.Series->XScreenToValue(bottom.CalcPosValue(t)) - t), pixelWidth / 2 * (1 + 1e-9));
    }
    // The left axis maps the same way, its maximum at the top.
    const TChartAxis& left = *w.Chart->LeftAxis;
    EXPECT_EQ(left.CalcPosValue(left.Maximum()), r.Top);
    EXPECT_EQ(left.CalcPosValue(left.Minimum()), r.Bottom);
    for (int py = r.Top; py <= r.Bottom; ++py) ASSERT_EQ(left.CalcPosValue(w.Series->YScreenToValue(py)), py);
  }
}

TEST(ChartMapping, LabelsSizeFixesThePlotLeftEdge) {
  // Charts of equal width with the same reserved label width start their
  // plotting areas at the same column, whatever their data.
  WaveChart a(900, 108), b(900, 80);
  a.Chart->LeftAxis->SetLabelsSize(30);
  b.Chart->LeftAxis->SetLabelsSize(a.Chart->LeftAxis->LabelsSize());
  addSine(*a.Series, 0, 1, 100);
  for (int i = 0; i < 100; ++i) b.Series->AddXY(i, i * 1e6);
  a.Chart->Refresh();
  b.Chart->Refresh();
  EXPECT_EQ(b.Chart->LeftAxis->LabelsSize(), 30);
  EXPECT_EQ(a.Chart->ChartRect().Left, b.Chart->ChartRect().Left);
  EXPECT_EQ(a.Chart->ChartRect().Right, b.Chart->ChartRect().Right);
  // Taller charts have a taller plotting area with the same top.
  EXPECT_EQ(a.Chart->ChartRect().Top, b.Chart->ChartRect().Top);
  EXPECT_GT(a.Chart->ChartRect().Bottom, b.Chart->ChartRect().Bottom);
}

TEST(ChartMapping, HugeAndNonFiniteValuesMapWithoutOverflow) {
  WaveChart w(600, 100);
  addSine(*w.Series, 0, 1, 100);
  w.Chart->Refresh();
  const TChartAxis& bottom = *w.Chart->BottomAxis;
  EXPECT_GT(bottom.CalcPosValue(1e300), 100000);
  EXPECT_LT(bottom.CalcPosValue(-1e300), -100000);
  EXPECT_EQ(bottom.CalcPosValue(std::nan("")), w.Chart->ChartRect().Left);
}

TEST(ChartTicks, StepsAreOneTwoFiveAndLabelsReadable) {
  WaveChart w(918, 108);
  w.Series->AddXY(0.0, -32768);
  w.Series->AddXY(12.345, 32767);
  w.Chart->Refresh();
  for (const TChartAxis* axis : {w.Chart->BottomAxis.get(), w.Chart->LeftAxis.get()}) {
    double step = 0;
    const std::vector<double> ticks = axis->TickValues(&step);
    ASSERT_GE(ticks.size(), 2u);
    const double mantissa = step / std::pow(10.0, std::floor(std::log10(step)));
    EXPECT_TRUE(std::abs(mantissa - 1) < 1e-9 || std::abs(mantissa - 2) < 1e-9 || std::abs(mantissa - 5) < 1e-9)
        << step;
    for (double v : ticks) {
      EXPECT_GE(v, axis->Minimum() - step * 1e-9);
      EXPECT_LE(v, axis->Maximum() + step * 1e-9);
    }
  }
  EXPECT_EQ(w.Chart->BottomAxis->LabelText(2.5, 0.5), QStringLiteral("2,5"));
  EXPECT_EQ(w.Chart->BottomAxis->LabelText(-1e-17, 0.5), QStringLiteral("0,0"));
  EXPECT_EQ(w.Chart->LeftAxis->LabelText(-30000, 10000), QStringLiteral("-30k"));
  EXPECT_EQ(w.Chart->LeftAxis->LabelText(0, 10000), QStringLiteral("0"));
  EXPECT_EQ(w.Chart->LeftAxis->LabelText(25000, 5000), QStringLiteral("25k"));
}

TEST(ChartSeries, PointsStayInAscendingXOrder) {
  WaveChart w(600, 100);
  w.Series->AddXY(1, 10);
  w.Series->AddXY(3, 30);
  w.Series->AddXY(2, 20);
  w.Series->AddXY(0, 0);
  w.Series->AddXY(2, 21);
  ASSERT_EQ(w.Series->Count(), 5);
  const std::vector<double> xs = w.Series->XValues.Values();
  const std::vector<double> ys = w.Series->YValues.Values();
  EXPECT_EQ(xs, (std::vector<double>{0, 1, 2, 2, 3}));
  EXPECT_EQ(ys, (std::vector<double>{0, 10, 20, 21, 30}));
  EXPECT_EQ(w.Series->MinXValue(), 0);
  EXPECT_EQ(w.Series->MaxXValue(), 3);
  EXPECT_THROW(w.Series->AddXY(std::nan(""), 1), EChartError);
  EXPECT_THROW(w.Series->AddXY(1, INFINITY), EChartError);
  EXPECT_EQ(w.Series->Count(), 5);
  w.Series->Clear();
  EXPECT_EQ(w.Series->Count(), 0);
  EXPECT_EQ(w.Series->XValues.MinValue(), 0);
}

TEST(ChartPixels, LinePassesThroughItsPoints) {
  WaveChart w(700, 150);
  // A triangle whose corners map to whole pixels: check the corner pixels.
  w.Series->AddXY(0, 0);
  w.Series->AddXY(50, 100);
  w.Series->AddXY(100, 0);
  w.Chart->Refresh();
  const QImage image = render(*w.Chart);
  const TChartRect r = w.Chart->ChartRect();
  const int xMid = w.Chart->BottomAxis->CalcPosValue(50);
  const int yTop = w.Chart->LeftAxis->CalcPosValue(100);
  EXPECT_EQ(yTop, r.Top);
  EXPECT_EQ(image.pixel(xMid, yTop), kLineColour);
  // Away from the line: panel or grid, never the line colour.
  EXPECT_NE(image.pixel(r.Left + 5, r.Top + 2), kLineColour);
  // The axis line runs along the bottom of the plotting area.
  EXPECT_EQ(image.pixel((r.Left + r.Right) / 2 + 3, r.Bottom), TChart::AxisLineColor.rgb());
  EXPECT_EQ(image.pixel(r.Left, (r.Top + r.Bottom) / 2 + 3), TChart::AxisLineColor.rgb());
}

TEST(ChartPixels, SparseLineLeavesNoGapsAndStaysNearItsPath) {
  WaveChart w(800, 200);
  w.Series->AddXY(0, 0);
  w.Series->AddXY(1, 3);   // shallow: one row per column or so
  w.Series->AddXY(1.02, -3);  // steep: a long run in few columns
  w.Series->AddXY(2, 0);
  // Off the axis lines, which are drawn over the series.
  w.Chart->LeftAxis->SetAutomatic(false);
  w.Chart->LeftAxis->SetMinMax(-4, 4);
  w.Chart->Refresh();
  const QImage image = render(*w.Chart);
  const TChartAxis& left = *w.Chart->LeftAxis;
  const std::vector<double>& xs = w.Series->XValues.Values();
  const std::vector<double>& ys = w.Series->YValues.Values();
  const TChartRect r = w.Chart->ChartRect();
  // The first columns hold the left axis line and its ticks, drawn over the series.
  for (int px = r.Left + 6; px <= r.Right; ++px) {
    const double t = w.Series->XScreenToValue(px);
    std::size_t k = 1;
    while (k + 1 < xs.size() && xs[k] < t) ++k;
    const double y = ys[k - 1] + (ys[k] - ys[k - 1]) * (t - xs[k - 1]) / (xs[k] - xs[k - 1]);
    const int py = left.CalcPosValue(y);
    int top = r.Bottom + 1, bottomRow = r.Top - 1;
    for (int row = r.Top; row <= r.Bottom; ++row)
      if (image.pixel(px, row) == kLineColour) {
        top = std::min(top, row);
        bottomRow = std::max(bottomRow, row);
      }
    ASSERT_LE(top, bottomRow) << "no line pixel in column " << px;
    EXPECT_LE(top, py + 1) << px;
    EXPECT_GE(bottomRow, py - 1) << px;
  }
}

TEST(ChartPixels, FixedAxisClipsTheLineToThePlottingArea) {
  WaveChart w(500, 150);
  w.Chart->LeftAxis->SetAutomatic(false);
  w.Chart->LeftAxis->SetMinMax(-10, 10);
  w.Series->AddXY(0, 0);
  w.Series->AddXY(1, 1e6);
  w.Series->AddXY(2, -1e6);
  w.Series->AddXY(3, 0);
  w.Chart->Refresh();
  const QImage image = render(*w.Chart);
  const TChartRect r = w.Chart->ChartRect();
  int inside = 0;
  for (int y = 0; y < image.height(); ++y)
    for (int x = 0; x < image.width(); ++x) {
      if (image.pixel(x, y) != kLineColour) continue;
      ASSERT_TRUE(x >= r.Left && x <= r.Right && y >= r.Top && y <= r.Bottom) << x << "," << y;
      ++inside;
    }
  EXPECT_GT(inside, r.Height());  // the falling flank crosses the whole area
}

TEST(ChartPixels, HiDpiRenderingDoublesTheDevicePixels) {
  WaveChart w(400, 100);
  w.Series->AddXY(0, 0);
  w.Series->AddXY(50, 100);
  w.Series->AddXY(100, 0);
  w.Chart->Refresh();
  const QImage image = render(*w.Chart, 2.0);
  EXPECT_EQ(image.width(), 800);
  EXPECT_EQ(image.height(), 200);
  const TChartRect r = w.Chart->ChartRect();
  // The axis line covers exactly the two device rows of its pixel row.
  const int x = 2 * ((r.Left + r.Right) / 2) + 1;
  EXPECT_NE(image.pixel(x, 2 * r.Bottom - 1), TChart::AxisLineColor.rgb());
  EXPECT_EQ(image.pixel(x, 2 * r.Bottom), TChart::AxisLineColor.rgb());
  EXPECT_EQ(image.pixel(x, 2 * r.Bottom + 1), TChart::AxisLineColor.rgb());
  EXPECT_NE(image.pixel(x, 2 * r.Bottom + 2), TChart::AxisLineColor.rgb());
  // So does the line at its peak, which lies on the top row of the plot.
  const int peak = static_cast<int>(std::floor((w.Chart->BottomAxis->Map().Pos(50) + 0.5) * 2 - 0.5));
  EXPECT_EQ(image.pixel(peak, 2 * r.Top), kLineColour);
  EXPECT_EQ(image.pixel(peak, 2 * r.Top + 1), kLineColour);
  EXPECT_NE(image.pixel(peak, 2 * r.Top - 1), kLineColour);
}

struct SpectrumChart {
  std::unique_ptr<TChart> Chart = std::make_unique<TChart>();
  TIsoSurfaceSeries* Series = Chart->AddSeries<TIsoSurfaceSeries>();
  explicit SpectrumChart(int Width = 800, int Height = 200) { Chart->resize(Width, Height); }
};

TEST(ChartSpectrogram, GridAxesCoverTimeAndFrequency) {
  SpectrumChart s;
  s.Series->NumXValues = 5;
  s.Series->NumZValues = 4;
  s.Series->IrregularGrid = true;
  for (int i = 0; i < 5; ++i)
    for (int j = 0; j < 4; ++j) s.Series->AddXYZ(0.1 + i * 0.003, i + j, j * 125.0);
  s.Chart->Refresh();
  EXPECT_EQ(s.Chart->BottomAxis->Minimum(), 0.1);
  EXPECT_EQ(s.Chart->BottomAxis->Maximum(), 0.1 + 4 * 0.003);
  EXPECT_EQ(s.Chart->LeftAxis->Minimum(), 0);
  EXPECT_EQ(s.Chart->LeftAxis->Maximum(), 375);
  EXPECT_EQ(s.Series->MinZValue(), 0);
  EXPECT_EQ(s.Series->MaxZValue(), 375);
}

TEST(ChartSpectrogram, PaletteHas32PaleStepsFromLowToHigh) {
  const std::vector<QRgb>& palette = TIsoSurfaceSeries::Palette();
  ASSERT_EQ(palette.size(), 32u);
  for (std::size_t i = 0; i < palette.size(); ++i) {
    const QColor c(palette[i]);
    EXPECT_GE(c.valueF(), 0.85) << i;       // pale: light …
    EXPECT_LE(c.hsvSaturationF(), 0.75) << i;  // … and not saturated
    if (i > 0) {
      EXPECT_NE(palette[i], palette[i - 1]) << i;
    }
  }
  SpectrumChart s;
  s.Series->AddXYZ(0, 10, 0);
  s.Series->AddXYZ(1, 42, 0);
  EXPECT_EQ(s.Series->BandOf(42), 31);
  EXPECT_EQ(s.Series->BandOf(1e9), 31);
  EXPECT_EQ(s.Series->BandOf(-1e9), 0);
}

// The band of each pixel, read back through the palette; -1 for other colours.
int bandAt(const QImage& Image, int X, int Y) {
  const std::vector<QRgb>& palette = TIsoSurfaceSeries::Palette();
  const auto it = std::find(palette.begin(), palette.end(), Image.pixel(X, Y));
  return it == palette.end() ? -1 : static_cast<int>(it - palette.begin());
}

TEST(ChartSpectrogramBands, TwoDecibelBandsCountDownFromTheLargestValue) {
  SpectrumChart s;
  const double top = 4.2e6;  // a full-scale 16-bit tone in a 64-sample window
  for (int i = 0; i < 4; ++i) s.Series->AddXYZ(i, i == 2 ? top : 1.0, 0);
  auto down = [top](double Decibels) { return top * std::pow(10.0, -Decibels / 10); };
  EXPECT_EQ(s.Series->BandOf(top), 31);
  EXPECT_EQ(s.Series->BandOf(down(1)), 31);
  EXPECT_EQ(s.Series->BandOf(down(3)), 30);
  EXPECT_EQ(s.Series->BandOf(down(41)), 11);
  EXPECT_EQ(s.Series->BandOf(down(61)), 1);
  // At or below the bottom of the 64 dB range, zero and below included.
  EXPECT_EQ(s.Series->BandOf(down(64)), 0);
  EXPECT_EQ(s.Series->BandOf(down(200)), 0);
  EXPECT_EQ(s.Series->BandOf(0), 0);
  EXPECT_EQ(s.Series->BandOf(-5), 0);
  EXPECT_EQ(s.Series->BandOf(std::nan("")), 0);
  // The scale follows the series' own largest value, not the absolute level.
  s.Series->Clear();
  s.Series->AddXYZ(0, 1e-3, 0);
  s.Series->AddXYZ(1, 1e-3 * std::pow(10.0, -4.1), 0);
  EXPECT_EQ(s.Series->BandOf(1e-3), 31);
  EXPECT_EQ(s.Series->BandOf(1e-3 * std::pow(10.0, -4.1)), 11);
}

TEST(ChartSpectrogramBands, FlatSeriesAreFirstBandEverywhere) {
  // All zero, all equal and nothing above zero: no range to spread the bands
  // over, and no logarithm of zero or division by a zero span.
  for (const double value : {0.0, 7.5, -3.0}) {
    SpectrumChart s(400, 160);
    s.Series->IrregularGrid = true;
    s.Series->BandPen.Visible = false;
    for (int i = 0; i < 6; ++i)
      for (int j = 0; j < 4; ++j) s.Series->AddXYZ(i * 0.01, value, j * 100.0);
    s.Chart->Refresh();
    EXPECT_EQ(s.Series->BandOf(value), 0) << value;
    const QImage image = render(*s.Chart);
    const TChartRect r = s.Chart->ChartRect();
    // Inside the axis lines and clear of the ticks.
    for (int y = r.Top + 1; y < r.Bottom; y += 3)
      for (int x = r.Left + 6; x < r.Right; x += 7) ASSERT_EQ(bandAt(image, x, y), 0) << value << " at " << x << "," << y;
  }
}

// Power spectra of a real 16-bit signal, as the spectrogram view computes
// them: unweighted 64-sample windows, |X[j]|² / W³ for bins 0 … 31.
std::vector<std::vector<double>> powerSpectra(const std::vector<double>& Samples, int Columns, int Step) {
  constexpr int W = 64;
  std::vector<std::vector<double>> spectra;
  for (int c = 0; c < Columns; ++c) {
    std::vector<double> column;
    for (int j = 0; j < W / 2; ++j) {
      std::complex<double> sum = 0;
      for (int m = 0; m < W; ++m)
        sum += Samples[static_cast<std::size_t>(c * Step + m)] * std::polar(1.0, -2 * std::numbers::pi * j * m / W);
      column.push_back(std::norm(sum) / (double(W) * W * W));
    }
    spectra.push_back(column);
  }
  return spectra;
}

TEST(ChartSpectrogramBands, ToneFortyDecibelsDownShowsAsItsOwnBand) {
  // A tone in bin 3 and one 41 dB lower in bin 12, both whole periods per
  // window so that no power leaks into the other bins; rounded to 16 bits.
  constexpr int columns = 40, step = 37;
  std::vector<double> samples(columns * step + 64);
  for (std::size_t m = 0; m < samples.size(); ++m) {
    const double t = 2 * std::numbers::pi * static_cast<double>(m) / 64;
    samples[m] = std::round(16000 * std::sin(3 * t) + 16000 * std::pow(10.0, -41.0 / 20) * std::sin(12 * t));
  }
  SpectrumChart s(700, 420);
  s.Series->IrregularGrid = true;
  s.Series->BandPen.Visible = false;
  s.Series->NumXValues = columns;
  s.Series->NumZValues = 32;
  const auto spectra = powerSpectra(samples, columns, step);
  for (int c = 0; c < columns; ++c)
    for (int j = 0; j < 32; ++j) s.Series->AddXYZ(c * step / 22050.0, spectra[static_cast<std::size_t>(c)][static_cast<std::size_t>(j)], j * 22050.0 / 64);
  s.Chart->Refresh();
  for (int c = 0; c < columns; ++c)
    for (int j = 0; j < 32; ++j) {
      const int expected = j == 3 ? 31 : j == 12 ? 11 : 0;
      ASSERT_EQ(s.Series->BandOf(spectra[static_cast<std::size_t>(c)][static_cast<std::size_t>(j)]), expected)
          << "column " << c << " bin " << j;
    }
  // On the screen: down a pixel column, the weak tone is a stripe of its own
  // band with the first band on both sides of it.
  const QImage image = render(*s.Chart);
  const int x = s.Chart->BottomAxis->CalcPosValue(20 * step / 22050.0);
  auto rowOf = [&](double Bin) { return s.Chart->LeftAxis->CalcPosValue(Bin * 22050.0 / 64); };
  EXPECT_EQ(bandAt(image, x, rowOf(3)), 31);
  EXPECT_EQ(bandAt(image, x, rowOf(7.5)), 0);
  EXPECT_GE(bandAt(image, x, rowOf(12)), 10);
  EXPECT_LE(bandAt(image, x, rowOf(12)), 11);
  EXPECT_EQ(bandAt(image, x, rowOf(20)), 0);
}

TEST(ChartSpectrogram, BandsOfLowestAndHighestPowerHaveThePaletteEnds) {
  SpectrumChart s(640, 220);
  s.Series->IrregularGrid = true;
  s.Series->BandPen.Visible = false;
  // 10 columns × 8 rows of zero power, and a 3 × 3 block of peak power whose
  // centre cell is all peak: its pixels must have the last palette colour.
  for (int i = 0; i < 10; ++i)
    for (int j = 0; j < 8; ++j) s.Series->AddXYZ(i * 0.01, (i >= 6 && i <= 8 && j >= 2 && j <= 4) ? 1e6 : 0.0, j * 1000.0);
  s.Chart->Refresh();
  const QImage image = render(*s.Chart);
  const TChartAxis& bottom = *s.Chart->BottomAxis;
  const TChartAxis& left = *s.Chart->LeftAxis;
  const std::vector<QRgb>& palette = TIsoSurfaceSeries::Palette();
  EXPECT_EQ(image.pixel(bottom.CalcPosValue(0.075), left.CalcPosValue(3500)), palette.back());
  EXPECT_EQ(image.pixel(bottom.CalcPosValue(0.07), left.CalcPosValue(3000)), palette.back());
  EXPECT_EQ(image.pixel(bottom.CalcPosValue(0.015), left.CalcPosValue(5500)), palette.front());
  // Left of the last column the grid fills the plotting area to its edge.
  const TChartRect r = s.Chart->ChartRect();
  EXPECT_EQ(image.pixel(r.Right - 1, r.Top + 1), palette.front());
  // On a high-density screen the edge pixels are filled to their far side.
  const QImage sharp = render(*s.Chart, 2.0);
  EXPECT_EQ(sharp.pixel(2 * r.Right + 1, 2 * r.Top), palette.front());
  EXPECT_EQ(sharp.pixel(2 * bottom.CalcPosValue(0.075) + 1, 2 * left.CalcPosValue(3500) + 1), palette.back());
}

TEST(ChartSpectrogram, BandPenOutlinesBandsOnlyWhenVisible) {
  auto countBlack = [](bool visible) {
    SpectrumChart s(400, 200);
    s.Series->IrregularGrid = true;
    s.Series->BandPen.Visible = visible;
    for (int i = 0; i < 4; ++i)
      for (int j = 0; j < 4; ++j) s.Series->AddXYZ(i, i * j, j);
    s.Chart->Refresh();
    const QImage image = render(*s.Chart);
    const TChartRect r = s.Chart->ChartRect();
    int black = 0;
    for (int y = r.Top + 1; y < r.Bottom; ++y)
      for (int x = r.Left + 1; x < r.Right; ++x) black += image.pixel(x, y) == qRgb(0, 0, 0);
    return black;
  };
  EXPECT_EQ(countBlack(false), 0);
  EXPECT_GT(countBlack(true), 100);
}

TEST(ChartSpectrogram, DegenerateGridsDrawWithoutFault) {
  // One column, one row, missing points, a regular grid, and no points.
  SpectrumChart s(300, 120);
  s.Series->IrregularGrid = true;
  s.Series->AddXYZ(1, 5, 100);
  s.Chart->Refresh();
  EXPECT_NO_THROW(render(*s.Chart));
  s.Series->AddXYZ(2, std::nan(""), 200);
  s.Series->AddXYZ(3, 7, 100);
  s.Chart->Refresh();
  EXPECT_NO_THROW(render(*s.Chart));
  EXPECT_THROW(s.Series->AddXYZ(INFINITY, 1, 1), EChartError);
  s.Series->IrregularGrid = false;
  s.Series->NumXValues = 3;
  s.Series->NumZValues = 2;
  EXPECT_NO_THROW(render(*s.Chart));
  s.Series->Clear();
  s.Series->NumZValues = 0;
  s.Chart->Refresh();
  EXPECT_NO_THROW(render(*s.Chart));
  EXPECT_EQ(s.Chart->BottomAxis->Minimum(), 0);
}

}  // namespace

namespace {

TEST(ChartWidget, ShowsNewPointsOnlyAfterRefresh) {
  WaveChart w(500, 120);
  w.Series->AddXY(0, 0);
  w.Series->AddXY(10, 0);
  w.Chart->LeftAxis->SetAutomatic(false);
  w.Chart->LeftAxis->SetMinMax(-10, 10);
  w.Chart->show();
  w.Chart->Refresh();
  const TChartRect r = w.Chart->ChartRect();
  const int y0 = w.Chart->LeftAxis->CalcPosValue(0);
  const int y5 = w.Chart->LeftAxis->CalcPosValue(5);
  const int x = w.Chart->BottomAxis->CalcPosValue(5);
  EXPECT_EQ(w.Chart->grab().toImage().pixel(x, y0), kLineColour);

  // New points without Refresh: the widget keeps the picture it had.
  w.Series->Clear();
  w.Series->AddXY(0, 5);
  w.Series->AddXY(10, 5);
  w.Chart->update();
  EXPECT_EQ(w.Chart->grab().toImage().pixel(x, y0), kLineColour);
  w.Chart->Refresh();
  const QImage after = w.Chart->grab().toImage();
  EXPECT_EQ(after.pixel(x, y5), kLineColour);
  EXPECT_NE(after.pixel(x, y0), kLineColour);
  EXPECT_EQ(r.Left, w.Chart->ChartRect().Left);
}

TEST(ChartWidget, WheelIsReportedAndChangesNothing) {
  WaveChart w(500, 120);
  addSine(*w.Series, 0, 1, 100);
  w.Chart->Refresh();
  int calls = 0, delta = 0;
  TChart* sender = nullptr;
  w.Chart->OnMouseWheel = [&](TChart* Sender, Qt::KeyboardModifiers, int WheelDelta, QPoint, bool&) {
    ++calls;
    delta = WheelDelta;
    sender = Sender;
  };
  QWheelEvent wheel(QPointF(100, 50), QPointF(100, 50), QPoint(), QPoint(0, 120), Qt::NoButton, Qt::NoModifier,
                    Qt::NoScrollPhase, false);
  QCoreApplication::sendEvent(w.Chart.get(), &wheel);
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(delta, 120);
  EXPECT_EQ(sender, w.Chart.get());
  EXPECT_EQ(w.Chart->BottomAxis->Minimum(), 0);
  EXPECT_EQ(w.Chart->BottomAxis->Maximum(), 1);
}

TEST(ChartWidget, GeometryIsTheWidgetsOwn) {
  QWidget panel;
  panel.resize(600, 400);
  auto* chart = new TChart(&panel);
  chart->setGeometry(7, 30, 437, 108);
  EXPECT_EQ(chart->Left(), 7);
  EXPECT_EQ(chart->Height(), 108);
  auto* series = chart->AddSeries<TIsoSurfaceSeries>();
  EXPECT_EQ(&series->ParentChart(), chart);
  EXPECT_EQ(chart->SeriesCount(), 1);
  EXPECT_EQ(chart->Series(0), series);
  EXPECT_GT(chart->ChartRect().Top, 0);
  EXPECT_LT(chart->ChartRect().Bottom, chart->Height());
}

}  // namespace

namespace {

// Two charts in one window, as in the editor: a waveform above a spectrogram,
// with room around them for the pointer to leave to.
struct HoverWindow {
  QWidget Window;
  TChart* Wave = new TChart(&Window);
  TChart* Spectrum = new TChart(&Window);
  TFastLineSeries* Line = Wave->AddSeries<TFastLineSeries>();
  TIsoSurfaceSeries* Grid = Spectrum->AddSeries<TIsoSurfaceSeries>();
  HoverWindow() {
    Window.resize(700, 460);
    Wave->setGeometry(20, 20, 640, 200);
    Spectrum->setGeometry(20, 230, 640, 200);
    // A flat line of 1001 points through the middle of a fixed range.
    Wave->LeftAxis->SetAutomatic(false);
    Wave->LeftAxis->SetMinMax(-100, 100);
    for (int i = 0; i <= 1000; ++i) Line->AddXY(i / 100.0, 0);
    Grid->BandPen.Visible = false;
    Grid->IrregularGrid = true;
    for (int i = 0; i < 10; ++i)
      for (int j = 0; j < 8; ++j) Grid->AddXYZ(i, i * j, j * 100.0);
    Wave->Refresh();
    Spectrum->Refresh();
    Window.show();
    EXPECT_TRUE(QTest::qWaitForWindowExposed(&Window));
  }
  // The pixel of the line at time T, in the waveform chart.
  QPoint onLine(double T) const { return {Wave->BottomAxis->CalcPosValue(T), Wave->LeftAxis->CalcPosValue(0)}; }
  // Line pixels down the column of time T: colour and how many rows it covers.
  std::pair<QRgb, int> lineAt(double T) const {
    const QImage image = Wave->grab().toImage();
    const TChartRect r = Wave->ChartRect();
    const int x = onLine(T).x();
    const QRgb colour = image.pixel(x, onLine(T).y());
    int rows = 0;
    for (int y = r.Top + 1; y < r.Bottom; ++y) rows += image.pixel(x, y) == colour;
    return {colour, rows};
  }
};

// Everything the editor reads from the chart: plot rectangle, axis ranges, a
// mapping, and the points themselves.
std::vector<double> geometry(const HoverWindow& W) {
  const TChartRect r = W.Wave->ChartRect();
  std::vector<double> g{double(r.Left), double(r.Top), double(r.Right), double(r.Bottom),
                        W.Wave->BottomAxis->Minimum(), W.Wave->BottomAxis->Maximum(),
                        W.Wave->LeftAxis->Minimum(), W.Wave->LeftAxis->Maximum(),
                        double(W.Wave->BottomAxis->CalcPosValue(3.3))};
  g.insert(g.end(), W.Line->XValues.Values().begin(), W.Line->XValues.Values().end());
  g.insert(g.end(), W.Line->YValues.Values().begin(), W.Line->YValues.Values().end());
  return g;
}

TEST(ChartHover, LineIsHighlightedWhileThePointerIsOverIt) {
  HoverWindow w;
  const std::vector<double> before = geometry(w);
  const auto [normalColour, normalRows] = w.lineAt(5);
  EXPECT_EQ(normalColour, kLineColour);

  // Onto the line (a pixel off counts), then into empty plot area above it.
  QTest::mouseMove(w.Wave, w.onLine(5) + QPoint(0, -2));
  EXPECT_EQ(w.Wave->HoveredSeries(), w.Line);
  const auto [hotColour, hotRows] = w.lineAt(5);
  EXPECT_NE(hotColour, kLineColour);
  EXPECT_GT(QColor(hotColour).valueF(), QColor(kLineColour).valueF());  // a lighter shade …
  EXPECT_GT(hotRows, normalRows);                                        // … and thicker
  EXPECT_EQ(geometry(w), before);

  QTest::mouseMove(w.Wave, w.onLine(5) + QPoint(0, -40));
  EXPECT_EQ(w.Wave->HoveredSeries(), nullptr);
  EXPECT_EQ(w.lineAt(5), std::make_pair(normalColour, normalRows));

  // Back on the line, then out of the chart altogether.
  QTest::mouseMove(w.Wave, w.onLine(2));
  EXPECT_EQ(w.Wave->HoveredSeries(), w.Line);
  QTest::mouseMove(&w.Window, QPoint(5, 5));
  EXPECT_EQ(w.Wave->HoveredSeries(), nullptr);
  EXPECT_EQ(w.lineAt(5), std::make_pair(normalColour, normalRows));
  EXPECT_EQ(geometry(w), before);
}

TEST(ChartHover, SpectrogramAndSwitchedOffSeriesAreNeverHighlighted) {
  HoverWindow w;
  EXPECT_TRUE(w.Line->HoverHighlight);
  EXPECT_FALSE(w.Grid->HoverHighlight);
  const QImage spectrum = w.Spectrum->grab().toImage();
  const TChartRect r = w.Spectrum->ChartRect();
  for (const QPoint p : {QPoint(r.Left + 40, r.Top + 20), QPoint((r.Left + r.Right) / 2, (r.Top + r.Bottom) / 2)}) {
    QTest::mouseMove(w.Spectrum, p);
    EXPECT_EQ(w.Spectrum->HoveredSeries(), nullptr);
  }
  EXPECT_EQ(w.Spectrum->grab().toImage(), spectrum);

  w.Line->HoverHighlight = false;
  const auto normal = w.lineAt(5);
  QTest::mouseMove(w.Wave, w.onLine(5));
  EXPECT_EQ(w.Wave->HoveredSeries(), nullptr);
  EXPECT_EQ(w.lineAt(5), normal);
}

TEST(ChartHover, SteepWaveformCountsAlongItsWholeRun) {
  // A dense waveform: many points per pixel column, each column a vertical run.
  HoverWindow w;
  w.Line->Clear();
  for (int i = 0; i <= 10000; ++i) w.Line->AddXY(i / 1000.0, (i % 2 ? 80 : -80) * std::sin(i / 1000.0));
  w.Wave->Refresh();
  const int x = w.Wave->BottomAxis->CalcPosValue(std::numbers::pi / 2);
  // Inside the run of a column, though far from every point's own pixel.
  QTest::mouseMove(w.Wave, QPoint(x, w.Wave->LeftAxis->CalcPosValue(30)));
  EXPECT_EQ(w.Wave->HoveredSeries(), w.Line);
  // Above the run's top (80), beyond the reach of the line.
  QTest::mouseMove(w.Wave, QPoint(x, w.Wave->LeftAxis->CalcPosValue(99)));
  EXPECT_EQ(w.Wave->HoveredSeries(), nullptr);
}

}  // namespace
