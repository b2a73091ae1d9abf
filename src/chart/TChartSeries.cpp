#include "chart/TChartSeries.h"

#include "chart/TChart.h"

#include <algorithm>
#include <cmath>
#include <iterator>

void TChartValueList::append(double Value) { insert(values_.size(), Value); }

void TChartValueList::insert(std::size_t Position, double Value) {
  values_.insert(values_.begin() + static_cast<std::ptrdiff_t>(Position), Value);
  if (!std::isfinite(Value)) return;
  if (!anyFinite_) {
    min_ = max_ = Value;
    anyFinite_ = true;
  } else {
    min_ = std::min(min_, Value);
    max_ = std::max(max_, Value);
  }
}

void TChartValueList::clear() {
  values_.clear();
  min_ = max_ = 0;
  anyFinite_ = false;
}

TChartSeries::TChartSeries(TChart& ParentChart, QColor Color) : SeriesColor(Color), chart_(ParentChart) {}

void TChartSeries::Clear() {
  XValues.clear();
  YValues.clear();
}

double TChartSeries::XScreenToValue(int Px) const { return chart_.BottomAxis->CalcPosPoint(Px); }

double TChartSeries::YScreenToValue(int Py) const { return chart_.LeftAxis->CalcPosPoint(Py); }

bool TChartSeries::VerticalRange(double& Low, double& High) const {
  if (Count() == 0) return false;
  Low = YValues.MinValue();
  High = YValues.MaxValue();
  return true;
}

bool TChartSeries::IsUnderPointer(QPoint) const { return false; }

QImage& TChartSeries::rasterImage(int Width, int Height) const {
  if (raster_.width() != Width || raster_.height() != Height)
    raster_ = QImage(Width, Height, QImage::Format_ARGB32_Premultiplied);
  else
    raster_.reinterpretAsFormat(QImage::Format_ARGB32_Premultiplied);
  return raster_;
}
