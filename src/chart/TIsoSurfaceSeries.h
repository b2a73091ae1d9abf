// A grid series drawn flat: X runs along the bottom axis, Z along the left axis,
// and Y picks the colour. The grid is filled with colour bands: the surface is
// interpolated on the band scale between neighbouring grid points, and every
// value falls into one of PaletteSteps bands spaced evenly in decibels below
// the largest Y.
#pragma once

#include "chart/TChartSeries.h"

#include <QRgb>

#include <vector>

class TIsoSurfaceSeries : public TChartSeries {
 public:
  // Created through TChart::AddSeries<TIsoSurfaceSeries>().
  explicit TIsoSurfaceSeries(TChart& ParentChart);

  void Clear() override;
  // Adds a grid point: X horizontal, Z vertical, Y the value that picks the
  // colour. Non-finite X or Z is refused with EChartError; a non-finite Y
  // leaves its grid point empty.
  void AddXYZ(double X, double Y, double Z);

  // Grid size. With IrregularGrid the columns and rows are the distinct X and
  // Z values of the points, at whatever spacing; the counts only size the
  // storage. Without it the grid has NumXValues × NumZValues evenly spaced
  // nodes over the points' range and each point goes to its nearest node.
  int NumXValues = 10;
  int NumZValues = 10;
  bool IrregularGrid = false;

  // Outlines between colour bands, and the lines of the grid itself.
  TChartPen BandPen;
  TChartPen Pen{false, Qt::black};

  TChartValueList ZValues;
  double MinZValue() const { return ZValues.MinValue(); }
  double MaxZValue() const { return ZValues.MaxValue(); }

  // The pale palette, lowest band first.
  static constexpr int PaletteSteps = 32;
  static const std::vector<QRgb>& Palette();
  // Each band spans BandDecibels (10·log10 of the value), counted down from
  // the largest Y: the last band holds the top BandDecibels, the first band
  // everything at or below RangeDecibels under the largest Y, zero and
  // negative values included. A series whose values are all equal, or whose
  // largest value is not positive, is in the first band everywhere.
  // 64 dB in all: wide enough for the weak parts of speech and for a tone
  // 40 dB under another, narrow enough that the background noise of an
  // ordinary recording (65 dB and more under its loudest bin) leaves the
  // pauses in the first band.
  static constexpr double BandDecibels = 2.0;
  static constexpr double RangeDecibels = PaletteSteps * BandDecibels;
  // The band (0 … PaletteSteps − 1) of value Y with the current points' range.
  int BandOf(double Y) const;

  bool VerticalRange(double& Low, double& High) const override;
  void Draw(QPainter& Painter, double DevicePixelRatio) const override;

 private:
  // The points arranged as a grid: column coordinates, row coordinates and the
  // values' levels row by row (NaN where no point lies). Built when drawn, so
  // each point's level is worked out once and not per pixel.
  struct TGrid {
    std::vector<double> Xs, Zs, Levels;
    bool Irregular = false;
    int NumX = 0, NumZ = 0;
    bool Valid = false;
  };
  const TGrid& grid() const;
  void drawGridLines(QPainter& Painter, const TGrid& Grid) const;

  mutable TGrid grid_;
};
