// What every series of a chart has: its value lists, its parent chart, and the
// screen mapping of its axes.
#pragma once

#include <QColor>
#include <QImage>
#include <QPoint>

#include <cstddef>
#include <vector>

class QPainter;
class TChart;

// A list of the values of one coordinate of a series' points, with their
// smallest and largest finite value kept up to date.
class TChartValueList {
 public:
  int Count() const { return static_cast<int>(values_.size()); }
  double Value(int Index) const { return values_.at(static_cast<std::size_t>(Index)); }
  double operator[](int Index) const { return Value(Index); }
  const std::vector<double>& Values() const { return values_; }
  // 0 for an empty list.
  double MinValue() const { return values_.empty() ? 0 : min_; }
  double MaxValue() const { return values_.empty() ? 0 : max_; }

 private:
  friend class TChartSeries;
  friend class TFastLineSeries;
  friend class TIsoSurfaceSeries;
  void append(double Value);
  void insert(std::size_t Position, double Value);
  void clear();
  void reserve(std::size_t Count) { values_.reserve(Count); }

  std::vector<double> values_;
  double min_ = 0;
  double max_ = 0;
  bool anyFinite_ = false;
};

// A pen that can be hidden: BandPen.Visible := false.
struct TChartPen {
  bool Visible = true;
  QColor Color = Qt::black;
};

class TChartSeries {
 public:
  virtual ~TChartSeries() = default;
  TChartSeries(const TChartSeries&) = delete;
  TChartSeries& operator=(const TChartSeries&) = delete;

  TChart& ParentChart() const { return chart_; }

  // Removes all points. The chart shows the change on its next Refresh.
  virtual void Clear();
  int Count() const { return XValues.Count(); }

  // The smallest and largest X among the points (0 when there are none).
  double MinXValue() const { return XValues.MinValue(); }
  double MaxXValue() const { return XValues.MaxValue(); }
  // The largest Y among the points (0 when there are none).
  double MaxYValue() const { return YValues.MaxValue(); }

  // The X value shown at pixel column Px of the parent chart (bottom axis),
  // and the Y value at pixel row Py (left axis).
  double XScreenToValue(int Px) const;
  double YScreenToValue(int Py) const;

  QColor SeriesColor;
  // Drawn highlighted while the mouse pointer is over the series' line.
  bool HoverHighlight = false;

  TChartValueList XValues;
  TChartValueList YValues;

  // For the chart: the range this series needs on the left (vertical) axis;
  // false when it has no points.
  virtual bool VerticalRange(double& Low, double& High) const;
  // For the chart: draws the series into its plotting area.
  virtual void Draw(QPainter& Painter, double DevicePixelRatio) const = 0;
  // For the chart: whether chart pixel P lies on (or within a few pixels of)
  // what the series draws. Only series that can be highlighted answer.
  virtual bool IsUnderPointer(QPoint P) const;

 protected:
  TChartSeries(TChart& ParentChart, QColor Color);
  // An image of Width × Height device pixels for drawing the series into,
  // kept from one paint to the next: fresh pages cost more to touch than
  // the drawing itself. Its contents are left over from the last paint.
  QImage& rasterImage(int Width, int Height) const;

 private:
  TChart& chart_;
  mutable QImage raster_;
};
