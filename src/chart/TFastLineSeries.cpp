#include "chart/TFastLineSeries.h"

#include "chart/TChart.h"

#include <QImage>
#include <QPainter>

#include <algorithm>
#include <cmath>
#include <iterator>
#include <limits>
#include <vector>

namespace {

// How far from the line, in pixels, the pointer still counts as over it.
constexpr double kHoverReach = 3;

double distanceToSegment(QPointF P, QPointF A, QPointF B) {
  const QPointF ab = B - A;
  const double length2 = QPointF::dotProduct(ab, ab);
  const double t = length2 > 0 ? std::clamp(QPointF::dotProduct(P - A, ab) / length2, 0.0, 1.0) : 0.0;
  const QPointF d = P - (A + t * ab);
  return std::hypot(d.x(), d.y());
}

}  // namespace

TFastLineSeries::TFastLineSeries(TChart& ParentChart) : TChartSeries(ParentChart, QColor(0x44, 0x66, 0xA3)) {
  HoverHighlight = true;
}

void TFastLineSeries::AddXY(double X, double Y) {
  if (!std::isfinite(X) || !std::isfinite(Y)) throw EChartError("Недопустимое значение точки графика");
  const std::vector<double>& xs = XValues.Values();
  std::size_t at = xs.size();
  if (!xs.empty() && X < xs.back())
    at = static_cast<std::size_t>(std::distance(xs.begin(), std::upper_bound(xs.begin(), xs.end(), X)));
  XValues.insert(at, X);
  YValues.insert(at, Y);
}

// The polyline is rasterised column by column: for every device pixel column
// the rows its segments pass through form one vertical span, filled in one go.
// A waveform has several points per column whose segments run the whole
// height; stroking them one by one would touch each pixel many times over.
void TFastLineSeries::Draw(QPainter& Painter, double DevicePixelRatio) const {
  const int n = Count();
  if (n == 0) return;
  const TChart& chart = ParentChart();
  const TChartRect r = chart.ChartRect();
  const TChartAxis::TMap mx = chart.BottomAxis->Map();
  const TChartAxis::TMap my = chart.LeftAxis->Map();
  const double dpr = DevicePixelRatio > 0 ? DevicePixelRatio : 1.0;
  // The line is one pixel wide: dpr device pixels on a high-density screen;
  // two while highlighted.
  const bool highlighted = HoverHighlight && chart.HoveredSeries() == this;
  const int thickness = std::max(1, static_cast<int>(std::lround(dpr))) * (highlighted ? 2 : 1);

  // Device columns of the plotting area, edges included. A value maps to the
  // pixel CalcPosValue names: its device position is taken at the pixel centre.
  const int firstColumn = static_cast<int>(std::floor(r.Left * dpr));
  const int lastColumn = static_cast<int>(std::floor((r.Right + 1) * dpr)) - 1;
  const int columns = lastColumn - firstColumn + 1;
  if (columns <= 0) return;
  constexpr double inf = std::numeric_limits<double>::infinity();
  std::vector<double> low(static_cast<std::size_t>(columns), inf), high(static_cast<std::size_t>(columns), -inf);

  // Far outside a fixed range the positions are pulled in: the visible part
  // of a line keeps its slope to well below a pixel.
  constexpr double limit = 1e7;
  // A line of `thickness` device pixels is centred on the point: the pixel it
  // starts at is the one holding the point moved back by half the excess.
  const double shift = 0.5 - thickness / 2.0;
  auto devX = [&](double x) { return std::clamp((mx.Pos(x) + 0.5) * dpr + shift, -limit, limit); };
  auto devY = [&](double y) { return std::clamp((my.Pos(y) + 0.5) * dpr + shift, -limit, limit); };
  auto cover = [&](int column, double y0, double y1) {
    if (column < firstColumn || column > lastColumn) return;
    const std::size_t c = static_cast<std::size_t>(column - firstColumn);
    low[c] = std::min({low[c], y0, y1});
    high[c] = std::max({high[c], y0, y1});
  };

  const std::vector<double>& xs = XValues.Values();
  const std::vector<double>& ys = YValues.Values();
  double x0 = devX(xs[0]), y0 = devY(ys[0]);
  cover(static_cast<int>(std::floor(x0)), y0, y0);
  for (int i = 1; i < n; ++i) {
    const double x1 = devX(xs[static_cast<std::size_t>(i)]), y1 = devY(ys[static_cast<std::size_t>(i)]);
    const int c0 = static_cast<int>(std::floor(x0)), c1 = static_cast<int>(std::floor(x1));
    if (c0 == c1) {
      cover(c0, y0, y1);
    } else {
      // Only the columns inside the plotting area are visited.
      const double slope = (y1 - y0) / (x1 - x0);
      for (int c = std::max(c0, firstColumn - 1); c <= std::min(c1, lastColumn); ++c) {
        const double xa = std::max(x0, static_cast<double>(c));
        const double xb = std::min(x1, static_cast<double>(c + 1));
        cover(c, y0 + (xa - x0) * slope, y0 + (xb - x0) * slope);
      }
    }
    x0 = x1;
    y0 = y1;
  }

  // The spans go into an image of the plotting area, written row by row and
  // then laid over the chart in one blend. A column of a thick line (high
  // density screens) also covers the columns to its right and the rows below.
  const int topRow = static_cast<int>(std::floor(r.Top * dpr));
  const int rows = static_cast<int>(std::floor((r.Bottom + 1) * dpr)) - topRow + thickness;
  const int width = columns + thickness - 1;
  std::vector<int> first(static_cast<std::size_t>(width), rows), last(static_cast<std::size_t>(width), -1);
  for (int i = 0; i < columns; ++i) {
    const double lo = low[static_cast<std::size_t>(i)], hi = high[static_cast<std::size_t>(i)];
    if (!(lo <= hi)) continue;
    const int a = static_cast<int>(std::clamp(std::floor(lo) - topRow, -1.0, double(rows)));
    const int b = static_cast<int>(std::clamp(std::floor(hi) - topRow + thickness - 1, -1.0, double(rows)));
    for (int t = 0; t < thickness; ++t) {
      const std::size_t j = static_cast<std::size_t>(i + t);
      first[j] = std::min(first[j], a);
      last[j] = std::max(last[j], b);
    }
  }
  const QRgb colour = (highlighted ? SeriesColor.lighter(130) : SeriesColor).rgba();
  // Writes the spans into Target, whose pixel (0, 0) is device pixel
  // (Left, Top), keeping to the columns and rows of Bounds (target pixels).
  auto writeSpans = [&](QImage& Target, int Left, int Top, const QRect& Bounds) {
    uchar* bits = Target.bits();
    const qsizetype stride = Target.bytesPerLine();
    for (int j = std::max(0, Bounds.left() - Left); j < std::min(width, Bounds.right() + 1 - Left); ++j) {
      const int a = std::max({first[static_cast<std::size_t>(j)], 0, Bounds.top() - Top});
      const int b = std::min({last[static_cast<std::size_t>(j)], rows - 1, Bounds.bottom() - Top});
      uchar* at = bits + static_cast<qsizetype>(Left + j) * static_cast<qsizetype>(sizeof(QRgb));
      for (int y = a; y <= b; ++y) *reinterpret_cast<QRgb*>(at + (Top + y) * stride) = colour;
    }
  };

  // Painting into an image at whole device pixels, with the plotting area as
  // its clip (as the chart paints), the opaque line's pixels are written
  // straight into that image: nothing else would change there.
  QPaintDevice* device = Painter.device();
  const QTransform toDevice = Painter.deviceTransform();
  const QRectF clip = Painter.hasClipping() ? toDevice.mapRect(Painter.clipBoundingRect()) : QRectF();
  const bool whole = toDevice.type() <= QTransform::TxScale && toDevice.m11() == dpr && toDevice.m22() == dpr &&
                     toDevice.dx() == std::floor(toDevice.dx()) && toDevice.dy() == std::floor(toDevice.dy()) &&
                     clip.isValid() && clip == QRectF(clip.toRect());
  if (device != nullptr && device->devType() == QInternal::Image && whole && qAlpha(colour) == 255 &&
      Painter.compositionMode() == QPainter::CompositionMode_SourceOver && Painter.opacity() == 1.0 &&
      Painter.clipRegion().rectCount() == 1) {
    auto* target = static_cast<QImage*>(device);
    if (target->format() == QImage::Format_ARGB32_Premultiplied || target->format() == QImage::Format_RGB32) {
      writeSpans(*target, firstColumn + static_cast<int>(toDevice.dx()), topRow + static_cast<int>(toDevice.dy()),
                 clip.toRect() & target->rect());
      return;
    }
  }

  // Elsewhere the spans go into an image of their own, laid over the chart in one blend.
  QImage& image = rasterImage(width, rows);
  if (image.isNull()) return;
  // Cleared row by row, then each column's span written down the rows: only the
  // line's pixels are visited, and the rows a few columns touch stay in cache.
  for (int y = 0; y < rows; ++y) std::fill_n(reinterpret_cast<QRgb*>(image.bits() + y * image.bytesPerLine()), width, QRgb{0});
  writeSpans(image, 0, 0, image.rect());
  image.setDevicePixelRatio(dpr);
  Painter.drawImage(QPointF(firstColumn / dpr, topRow / dpr), image);
}

bool TFastLineSeries::IsUnderPointer(QPoint P) const {
  const TChart& chart = ParentChart();
  const TChartRect r = chart.ChartRect();
  if (Count() == 0 || P.x() < r.Left || P.x() > r.Right || P.y() < r.Top || P.y() > r.Bottom) return false;
  const TChartAxis::TMap mx = chart.BottomAxis->Map();
  const TChartAxis::TMap my = chart.LeftAxis->Map();
  const std::vector<double>& xs = XValues.Values();
  const std::vector<double>& ys = YValues.Values();
  // The X values are ascending: only the points near the pointer's column,
  // and one more on either side, make segments that can come near it.
  const auto from = std::lower_bound(xs.begin(), xs.end(), mx.ValueAt(P.x() - kHoverReach - 1));
  const auto to = std::upper_bound(from, xs.end(), mx.ValueAt(P.x() + kHoverReach + 1));
  const std::size_t first = static_cast<std::size_t>(std::max<std::ptrdiff_t>(from - xs.begin() - 1, 0));
  const std::size_t last = std::min(static_cast<std::size_t>(to - xs.begin()), xs.size() - 1);
  // Pixel positions as drawn, pulled in from far outside like the drawing does.
  constexpr double limit = 1e7;
  auto at = [&](std::size_t i) {
    return QPointF(std::clamp(mx.Pos(xs[i]), -limit, limit), std::clamp(my.Pos(ys[i]), -limit, limit));
  };
  const QPointF p(P);
  if (first == last) return distanceToSegment(p, at(first), at(first)) <= kHoverReach;
  for (std::size_t i = first; i < last; ++i)
    if (distanceToSegment(p, at(i), at(i + 1)) <= kHoverReach) return true;
  return false;
}
