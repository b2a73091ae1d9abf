// Drawing shortcuts must not change a pixel: the dotted grid on a high-density
// screen is laid from strips stroked once per direction, and the waveform is
// written straight into an image where it can be, blended in elsewhere.
#include "chart/TChart.h"
#include "ChartRender.h"

#include <gtest/gtest.h>

#include <QImage>
#include <QPainter>
#include <QPen>
#include <QPixmap>

#include <cmath>

#include <vector>

namespace {

// The grid positions of one axis strictly inside the plotting area.
std::vector<int> inner(const TChartAxis& Axis, int Low, int High) {
  std::vector<int> at;
  for (double v : Axis.TickValues()) {
    const int p = Axis.CalcPosValue(v);
    if (p > Low + 6 && p < High - 6) at.push_back(p);
  }
  return at;
}

// A dotted line from (X1, Y1) to (X2, Y2), stroked alone at a ratio of 2.
QImage strokedAlone(QSize Size, int X1, int Y1, int X2, int Y2) {
  QImage image(Size, QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::transparent);
  image.setDevicePixelRatio(2);
  QPainter painter(&image);
  painter.setRenderHint(QPainter::Antialiasing, false);
  painter.setPen(QPen(TChart::GridColor, 1, Qt::DotLine));
  painter.drawLine(QPointF(X1 + 0.5, Y1 + 0.5), QPointF(X2 + 0.5, Y2 + 0.5));
  return image;
}

TEST(ChartGrid, HighDensityGridLinesHaveTheDotsOfStrokedLines) {
  for (const QSize size : {QSize(700, 200), QSize(1250, 230), QSize(333, 121)}) {
    TChart chart;
    chart.resize(size);
    chart.SetTitle(QStringLiteral("Правый канал."));
    chart.LeftAxis->SetAutomatic(false);
    chart.BottomAxis->SetAutomatic(false);
    chart.LeftAxis->SetMinMax(0, 100);
    chart.BottomAxis->SetMinMax(0, 10);
    chart.Refresh();
    const QImage image = render(chart, 2);
    const TChartRect r = chart.ChartRect();
    const std::vector<int> columns = inner(*chart.BottomAxis, r.Left, r.Right);
    const std::vector<int> rows = inner(*chart.LeftAxis, r.Top, r.Bottom);
    ASSERT_FALSE(columns.empty());
    ASSERT_FALSE(rows.empty());
    auto nearGrid = [](const std::vector<int>& at, int device) {
      for (int p : at)
        if (device >= 2 * p - 2 && device <= 2 * p + 3) return true;
      return false;
    };
    const QRgb grid = TChart::GridColor.rgb();
    // Along each line, away from the axes and from crossing lines: a grid pixel
    // exactly where the stroked line has a dot, the panel everywhere else.
    for (int y : rows) {
      const QImage alone = strokedAlone(image.size(), r.Left, y, r.Right, y);
      for (int dy = 2 * y; dy < 2 * y + 2; ++dy)
        for (int dx = 2 * (r.Left + 6); dx < 2 * (r.Right - 1); ++dx) {
          if (nearGrid(columns, dx)) continue;
          const bool dot = qAlpha(alone.pixel(dx, dy)) == 255;
          EXPECT_EQ(image.pixel(dx, dy) == grid, dot) << size.width() << " row " << dy << " column " << dx;
        }
    }
    for (int x : columns) {
      const QImage alone = strokedAlone(image.size(), x, r.Top, x, r.Bottom);
      for (int dx = 2 * x; dx < 2 * x + 2; ++dx)
        for (int dy = 2 * r.Top; dy < 2 * (r.Bottom - 6); ++dy) {
          if (nearGrid(rows, dy)) continue;
          const bool dot = qAlpha(alone.pixel(dx, dy)) == 255;
          EXPECT_EQ(image.pixel(dx, dy) == grid, dot) << size.width() << " column " << dx << " row " << dy;
        }
    }
  }
}

TEST(ChartWaveform, LineWrittenIntoAnImageEqualsTheLineBlendedOntoAPixmap) {
  for (const double dpr : {1.0, 2.0}) {
    TChart chart;
    chart.resize(640, 150);
    chart.SetTitle(QStringLiteral("Левый канал."));
    TFastLineSeries* series = chart.AddSeries<TFastLineSeries>();
    for (int i = 0; i < 5000; ++i) series->AddXY(i / 8000.0, 12000 * std::sin(i * 0.07) * std::sin(i * 0.001));
    chart.Refresh();
    const QImage written = render(chart, dpr).convertToFormat(QImage::Format_ARGB32);
    QPixmap pixmap(written.size());
    pixmap.setDevicePixelRatio(dpr);
    {
      QPainter painter(&pixmap);
      chart.paintChart(painter, dpr);
    }
    EXPECT_TRUE(pixmap.toImage().convertToFormat(QImage::Format_ARGB32) == written) << "ratio " << dpr;
  }
}

}  // namespace
