// A line series: the points joined in X order by a thin polyline. It is
// highlighted (thicker, in a lighter shade) while the pointer is over it.
#pragma once

#include "chart/TChartSeries.h"

class TFastLineSeries : public TChartSeries {
 public:
  // Created through TChart::AddSeries<TFastLineSeries>().
  explicit TFastLineSeries(TChart& ParentChart);

  // Appends a point; X is kept in ascending order, so a point whose X is
  // below the last one is inserted after the points with X not above it.
  // Non-finite X or Y is refused with EChartError.
  void AddXY(double X, double Y);

  void Draw(QPainter& Painter, double DevicePixelRatio) const override;
  bool IsUnderPointer(QPoint P) const override;
};
