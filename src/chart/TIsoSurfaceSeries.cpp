#include "chart/TIsoSurfaceSeries.h"

#include "chart/TChart.h"

#include <QColor>
#include <QImage>
#include <QPainter>
#include <QPen>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <limits>

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
// A grid larger than this is not drawn: scattered points with few shared
// coordinates would otherwise ask for a grid of gigabytes.
constexpr std::size_t kMaxCells = std::size_t{1} << 22;

std::vector<QRgb> makePalePalette() {
  // Cool to warm at low saturation: blue, cyan, green, yellow, red, all pale
  // enough that the axis lines and titles stay the strongest marks.
  std::vector<QRgb> palette;
  for (int s = 0; s < TIsoSurfaceSeries::PaletteSteps; ++s) {
    const float t = static_cast<float>(s) / (TIsoSurfaceSeries::PaletteSteps - 1);
    palette.push_back(QColor::fromHsvF((2.0f / 3.0f) * (1 - t), 0.16f + 0.50f * t, 1.0f - 0.10f * t).rgb());
  }
  return palette;
}

// Where a coordinate falls in the sorted grid coordinates Cs: between nodes
// I0 and I1, a fraction T of the way. Values up to Tolerance outside the grid
// count as its edge; beyond that the point is outside.
struct TCell {
  int I0 = 0, I1 = 0;
  double T = 0;
  bool Inside = false;
};

TCell locate(const std::vector<double>& Cs, double V, double Tolerance) {
  TCell cell;
  if (Cs.empty() || std::isnan(V) || V < Cs.front() - Tolerance || V > Cs.back() + Tolerance) return cell;
  cell.Inside = true;
  if (Cs.size() == 1 || V <= Cs.front()) return cell;
  const int last = static_cast<int>(Cs.size()) - 1;
  if (V >= Cs.back()) {
    cell.I0 = cell.I1 = last;
    return cell;
  }
  const int i = static_cast<int>(std::upper_bound(Cs.begin(), Cs.end(), V) - Cs.begin()) - 1;
  cell.I0 = std::clamp(i, 0, last - 1);
  cell.I1 = cell.I0 + 1;
  const double span = Cs[static_cast<std::size_t>(cell.I1)] - Cs[static_cast<std::size_t>(cell.I0)];
  cell.T = std::clamp((V - Cs[static_cast<std::size_t>(cell.I0)]) / span, 0.0, 1.0);
  return cell;
}

// Linear interpolation that does not bring in a missing neighbour at its ends.
double lerp(double A, double B, double T) {
  if (T == 0) return A;
  if (T == 1) return B;
  return A + (B - A) * T;
}

std::vector<double> uniqueSorted(std::vector<double> Values) {
  std::sort(Values.begin(), Values.end());
  Values.erase(std::unique(Values.begin(), Values.end()), Values.end());
  return Values;
}

std::vector<double> evenNodes(double Low, double High, int Count) {
  if (Count < 2 || !(High > Low)) return {Low};
  std::vector<double> nodes(static_cast<std::size_t>(Count));
  for (int i = 0; i < Count; ++i) nodes[static_cast<std::size_t>(i)] = Low + (High - Low) * i / (Count - 1);
  nodes.back() = High;
  return nodes;
}

std::size_t nodeIndex(const std::vector<double>& Nodes, double V, bool Irregular) {
  if (Irregular)
    return static_cast<std::size_t>(std::lower_bound(Nodes.begin(), Nodes.end(), V) - Nodes.begin());
  if (Nodes.size() < 2) return 0;
  const double f = (V - Nodes.front()) / (Nodes.back() - Nodes.front()) * static_cast<double>(Nodes.size() - 1);
  return static_cast<std::size_t>(std::clamp(std::nearbyint(f), 0.0, static_cast<double>(Nodes.size() - 1)));
}

// Where a value lies on the band scale of a series whose values run from Low
// to High: 0 at or below the bottom of the decibel range, PaletteSteps at High,
// NaN for NaN. Its integer part, capped at PaletteSteps − 1, is the band.
// The band comes from comparisons with the bands' lower edges, worked out
// once, and not from a logarithm per value; within a band the level rises
// linearly with the value, which is continuous and exact at every edge.
class TBandScale {
 public:
  static constexpr int Steps = TIsoSurfaceSeries::PaletteSteps;

  TBandScale(double Low, double High)
      // All equal (all zero included), or nothing above zero: no range to spread over.
      : flat_(!(High > Low) || !(High > 0)) {
    for (int b = 0; b < Steps; ++b)
      edges_[static_cast<std::size_t>(b)] = High * std::pow(10.0, -(Steps - b) * TIsoSurfaceSeries::BandDecibels / 10);
    edges_[Steps] = High;
  }

  double Level(double Y) const {
    if (std::isnan(Y)) return Y;
    // Zero and negative values are at or below the bottom edge.
    if (flat_ || !(Y > edges_[0])) return 0;
    if (Y >= edges_[Steps]) return Steps;
    // edges_[b] <= Y < edges_[b + 1]
    const auto above = std::upper_bound(edges_.begin(), edges_.end(), Y);
    const std::size_t b = static_cast<std::size_t>(above - edges_.begin()) - 1;
    return static_cast<double>(b) + (Y - edges_[b]) / (edges_[b + 1] - edges_[b]);
  }

 private:
  bool flat_;
  // edges_[b]: the lowest value of band b (for band 0, the bottom of the
  // range); edges_[Steps]: the largest value.
  std::array<double, Steps + 1> edges_{};
};

}  // namespace

TIsoSurfaceSeries::TIsoSurfaceSeries(TChart& ParentChart) : TChartSeries(ParentChart, QColor(0x00, 0x00, 0xA0)) {}

const std::vector<QRgb>& TIsoSurfaceSeries::Palette() {
  static const std::vector<QRgb> palette = makePalePalette();
  return palette;
}

void TIsoSurfaceSeries::Clear() {
  TChartSeries::Clear();
  ZValues.clear();
  grid_.Valid = false;
}

void TIsoSurfaceSeries::AddXYZ(double X, double Y, double Z) {
  if (!std::isfinite(X) || !std::isfinite(Z)) throw EChartError("Недопустимое значение точки графика");
  XValues.append(X);
  YValues.append(std::isfinite(Y) ? Y : kNaN);
  ZValues.append(Z);
  grid_.Valid = false;
}

int TIsoSurfaceSeries::BandOf(double Y) const {
  const double level = TBandScale(YValues.MinValue(), YValues.MaxValue()).Level(Y);
  if (std::isnan(level)) return 0;
  return std::min(static_cast<int>(level), TIsoSurfaceSeries::PaletteSteps - 1);
}

bool TIsoSurfaceSeries::VerticalRange(double& Low, double& High) const {
  if (Count() == 0) return false;
  Low = ZValues.MinValue();
  High = ZValues.MaxValue();
  return true;
}

const TIsoSurfaceSeries::TGrid& TIsoSurfaceSeries::grid() const {
  TGrid& g = grid_;
  if (g.Valid && g.Irregular == IrregularGrid && g.NumX == NumXValues && g.NumZ == NumZValues) return g;
  g = TGrid{};
  g.Irregular = IrregularGrid;
  g.NumX = NumXValues;
  g.NumZ = NumZValues;
  g.Valid = true;
  if (Count() == 0) return g;

  if (IrregularGrid) {
    g.Xs = uniqueSorted(XValues.Values());
    g.Zs = uniqueSorted(ZValues.Values());
  } else {
    g.Xs = evenNodes(XValues.MinValue(), XValues.MaxValue(), NumXValues);
    g.Zs = evenNodes(ZValues.MinValue(), ZValues.MaxValue(), NumZValues);
  }
  const std::size_t nx = g.Xs.size();
  const std::size_t nz = g.Zs.size();
  if (nx * nz > kMaxCells || nx > kMaxCells || nz > kMaxCells) {
    g.Xs.clear();
    g.Zs.clear();
    return g;
  }
  g.Levels.assign(nx * nz, kNaN);
  const std::vector<double>& xs = XValues.Values();
  const std::vector<double>& ys = YValues.Values();
  const std::vector<double>& zs = ZValues.Values();
  const TBandScale scale(YValues.MinValue(), YValues.MaxValue());
  for (std::size_t p = 0; p < xs.size(); ++p) {
    const std::size_t i = nodeIndex(g.Xs, xs[p], IrregularGrid);
    const std::size_t j = nodeIndex(g.Zs, zs[p], IrregularGrid);
    g.Levels[j * nx + i] = scale.Level(ys[p]);
  }
  return g;
}

void TIsoSurfaceSeries::Draw(QPainter& Painter, double DevicePixelRatio) const {
  const TGrid& g = grid();
  if (g.Xs.empty() || g.Zs.empty()) return;
  const TChart& chart = ParentChart();
  const TChartRect r = chart.ChartRect();
  const TChartAxis::TMap mx = chart.BottomAxis->Map();
  const TChartAxis::TMap mz = chart.LeftAxis->Map();
  const double dpr = DevicePixelRatio > 0 ? DevicePixelRatio : 1.0;

  // One image pixel per device pixel over the plotting area, edge pixels
  // included (each is dpr device pixels wide).
  const int w = static_cast<int>(std::lround((r.Width() + 1) * dpr));
  const int h = static_cast<int>(std::lround((r.Height() + 1) * dpr));
  QImage& image = rasterImage(w, h);
  if (image.isNull()) return;

  // The edge pixels are filled to their far side: device pixels up to the end
  // of the pixel of an outer node count as that node.
  auto tolerance = [dpr](double scale) {
    return scale == 0 ? std::numeric_limits<double>::infinity() : (1 - 0.5 / dpr) / std::abs(scale);
  };
  const std::size_t nx = g.Xs.size();
  // Per image column: the grid columns on either side and the weight of the
  // right one. Columns outside the grid point at an extra, empty slot.
  std::vector<std::uint32_t> left(static_cast<std::size_t>(w)), right(left.size());
  std::vector<double> weight(left.size());
  for (std::size_t c = 0; c < left.size(); ++c) {
    const TCell cell = locate(g.Xs, mx.ValueAt(r.Left + static_cast<double>(c) / dpr), tolerance(mx.Scale));
    left[c] = static_cast<std::uint32_t>(cell.Inside ? static_cast<std::size_t>(cell.I0) : nx);
    right[c] = static_cast<std::uint32_t>(cell.Inside ? static_cast<std::size_t>(cell.I1) : nx);
    weight[c] = cell.T;
  }

  // Colours by band, and one more for "no value".
  constexpr int empty = PaletteSteps;
  std::vector<QRgb> colours = Palette();
  colours.push_back(0);
  constexpr double lastBand = PaletteSteps - 1;

  const bool outlines = BandPen.Visible;
  const QRgb outline = BandPen.Color.rgba();
  std::vector<int> bands(static_cast<std::size_t>(w), empty), previousBands(bands.size(), empty);
  // One row of the surface on the band scale.
  std::vector<double> rowValues(nx + 1, kNaN);
  uchar* bits = image.bits();
  const qsizetype stride = image.bytesPerLine();
  bool anyEmpty = false;

  for (int y = 0; y < h; ++y) {
    auto* line = reinterpret_cast<QRgb*>(bits + y * stride);
    const TCell row = locate(g.Zs, mz.ValueAt(r.Top + y / dpr), tolerance(mz.Scale));
    std::swap(bands, previousBands);
    if (!row.Inside) {
      anyEmpty = true;
      std::fill(line, line + w, QRgb{0});
      std::fill(bands.begin(), bands.end(), empty);
      continue;
    }
    const double* v0 = &g.Levels[static_cast<std::size_t>(row.I0) * nx];
    const double* v1 = &g.Levels[static_cast<std::size_t>(row.I1) * nx];
    for (std::size_t i = 0; i < nx; ++i) rowValues[i] = lerp(v0[i], v1[i], row.T);

    for (std::size_t c = 0; c < bands.size(); ++c) {
      // A value beside an empty grid point is empty too (NaN spreads).
      const double a = rowValues[left[c]];
      const double v = a + (rowValues[right[c]] - a) * weight[c];
      const int band = v >= 0 ? (v < lastBand ? static_cast<int>(v) : PaletteSteps - 1) : (v < 0 ? 0 : empty);
      bands[c] = band;
      line[c] = colours[static_cast<std::size_t>(band)];
      anyEmpty |= band == empty;
    }
    if (outlines) {
      for (std::size_t c = 0; c < bands.size(); ++c) {
        const int band = bands[c];
        if (band == empty) continue;
        const int before = c > 0 ? bands[c - 1] : empty;
        const int above = previousBands[c];
        if ((before != empty && before != band) || (above != empty && above != band)) line[c] = outline;
      }
    }
  }
  // A grid without holes is copied rather than blended.
  if (!anyEmpty) image.reinterpretAsFormat(QImage::Format_RGB32);
  image.setDevicePixelRatio(dpr);
  Painter.drawImage(QPointF(r.Left, r.Top), image);
  if (Pen.Visible) drawGridLines(Painter, g);
}

void TIsoSurfaceSeries::drawGridLines(QPainter& Painter, const TGrid& Grid) const {
  const TChart& chart = ParentChart();
  const TChartRect r = chart.ChartRect();
  const TChartAxis::TMap mx = chart.BottomAxis->Map();
  const TChartAxis::TMap mz = chart.LeftAxis->Map();
  Painter.setPen(QPen(Pen.Color, 1));
  for (double x : Grid.Xs) Painter.drawLine(QPointF(mx.Pos(x) + 0.5, r.Top + 0.5), QPointF(mx.Pos(x) + 0.5, r.Bottom + 0.5));
  for (double z : Grid.Zs) Painter.drawLine(QPointF(r.Left + 0.5, mz.Pos(z) + 0.5), QPointF(r.Right + 0.5, mz.Pos(z) + 0.5));
}
