#include "TFastLineSeries.h"

#include "TChart.h"

#include <QPainter>
#include <QPen>
#include <QPointF>

#include <algorithm>
#include <cmath>
#include <iterator>
#include <vector>

TFastLineSeries::TFastLineSeries(TChart& ParentChart) : TChartSeries(ParentChart, QColor(0x44, 0x66, 0xA3)) {}

void TFastLineSeries::AddXY(double X, double Y) {
  if (!std::isfinite(X) || !std::isfinite(Y)) throw EChartError("Недопустимое значение точки графика");
  const std::vector<double>& xs = XValues.Values();
  std::size_t at = xs.size();
  if (!xs.empty() && X < xs.back())
    at = static_cast<std::size_t>(std::distance(xs.begin(), std::upper_bound(xs.begin(), xs.end(), X)));
  XValues.insert(at, X);
  YValues.insert(at, Y);
}

void TFastLineSeries::Draw(QPainter& Painter, double /*DevicePixelRatio*/) const {
  const int n = Count();
  if (n == 0) return;
  const TChartAxis::TMap mx = ParentChart().BottomAxis->Map();
  const TChartAxis::TMap my = ParentChart().LeftAxis->Map();
  const std::vector<double>& xs = XValues.Values();
  const std::vector<double>& ys = YValues.Values();

  // A line through pixel centres (+0.5) lights the very pixel CalcPosValue
  // names, on high-density screens too.
  // Points far outside a fixed axis range are pulled in to where the
  // rasteriser still works exactly; the visible part of a line keeps its slope
  // to well below a pixel.
  constexpr double limit = 1e7;
  std::vector<QPointF> points(static_cast<std::size_t>(n));
  for (std::size_t i = 0; i < points.size(); ++i)
    points[i] = QPointF(std::clamp(mx.Pos(xs[i]), -limit, limit) + 0.5, std::clamp(my.Pos(ys[i]), -limit, limit) + 0.5);

  Painter.setRenderHint(QPainter::Antialiasing, false);
  Painter.setPen(QPen(SeriesColor, 1));
  if (n == 1)
    Painter.drawPoint(points[0]);
  else
    Painter.drawPolyline(points.data(), n);
}
