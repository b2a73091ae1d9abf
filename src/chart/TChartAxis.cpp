#include "chart/TChartAxis.h"

#include "chart/TChart.h"

#include <QFontMetrics>
#include <QString>

#include <algorithm>
#include <cmath>

namespace {

// Far beyond any widget, yet safely inside the range of int.
constexpr double kPixelLimit = 1e9;
// More ticks than this means a range too narrow for doubles to label.
constexpr int kMaxTicks = 1000;

// The smallest step of the 1-2-5 series not below Raw.
double niceStep(double Raw) {
  const double base = std::pow(10.0, std::floor(std::log10(Raw)));
  for (double m : {1.0, 2.0, 5.0, 10.0}) {
    if (m * base >= Raw * (1 - 1e-12)) return m * base;
  }
  return 10 * base;
}

double nextNiceStep(double Step) {
  const double base = std::pow(10.0, std::floor(std::log10(Step) + 1e-9));
  const double m = Step / base;
  if (m < 1.5) return 2 * base;
  if (m < 3.5) return 5 * base;
  return 10 * base;
}

int decimalsFor(double Step) {
  if (Step >= 1) return 0;
  return std::clamp(static_cast<int>(std::ceil(-std::log10(Step) - 1e-9)), 0, 15);
}

}  // namespace

TChartAxis::TChartAxis(TChart& ParentChart, TOrientation Orientation)
    : chart_(ParentChart), orientation_(Orientation) {}

void TChartAxis::SetAutomatic(bool Value) {
  automaticMinimum_ = Value;
  automaticMaximum_ = Value;
  if (Value) chart_.rescaleAxis(*this);
  changed();
}

void TChartAxis::SetAutomaticMinimum(bool Value) {
  automaticMinimum_ = Value;
  if (Value) chart_.rescaleAxis(*this);
  changed();
}

void TChartAxis::SetAutomaticMaximum(bool Value) {
  automaticMaximum_ = Value;
  if (Value) chart_.rescaleAxis(*this);
  changed();
}

void TChartAxis::SetMinimum(double Value) {
  if (!std::isfinite(Value)) throw EChartError("Недопустимое значение минимума оси");
  if (Value > maximum_) throw EChartError("Минимум оси не может быть больше её максимума");
  minimum_ = Value;
  changed();
}

void TChartAxis::SetMaximum(double Value) {
  if (!std::isfinite(Value)) throw EChartError("Недопустимое значение максимума оси");
  if (Value < minimum_) throw EChartError("Максимум оси не может быть меньше её минимума");
  maximum_ = Value;
  changed();
}

void TChartAxis::SetMinMax(double AMinimum, double AMaximum) {
  if (!std::isfinite(AMinimum) || !std::isfinite(AMaximum))
    throw EChartError("Недопустимое значение границы оси");
  if (AMinimum > AMaximum) throw EChartError("Минимум оси не может быть больше её максимума");
  minimum_ = AMinimum;
  maximum_ = AMaximum;
  changed();
}

void TChartAxis::SetLabelsSize(int Value) {
  labelsSize_ = std::max(0, Value);
  changed();
}

void TChartAxis::AdjustToData(double DataMin, double DataMax) {
  if (!automaticMinimum_ && !automaticMaximum_) return;
  const bool empty = !(DataMin <= DataMax);
  if (empty) DataMin = DataMax = 0;
  double lo = automaticMinimum_ ? DataMin : minimum_;
  double hi = automaticMaximum_ ? DataMax : maximum_;
  if (automaticMinimum_ && automaticMaximum_ && lo == hi && !Horizontal() && !empty) {
    lo -= 1;
    hi += 1;
  }
  // One end fixed, the other following the data past it: the range closes up
  // at the fixed end rather than turning over.
  if (lo > hi) {
    if (automaticMinimum_) lo = hi; else hi = lo;
  }
  minimum_ = lo;
  maximum_ = hi;
}

double TChartAxis::startPos() const {
  const TChartRect r = chart_.ChartRect();
  return Horizontal() ? r.Left : r.Bottom;
}

double TChartAxis::endPos() const {
  const TChartRect r = chart_.ChartRect();
  return Horizontal() ? r.Right : r.Top;
}

TChartAxis::TMap TChartAxis::Map() const {
  TMap map;
  map.Start = startPos();
  map.Min = minimum_;
  const double range = maximum_ - minimum_;
  map.Scale = range > 0 ? (endPos() - map.Start) / range : 0;
  if (!std::isfinite(map.Scale)) map.Scale = 0;
  return map;
}

int TChartAxis::CalcPosValue(double Value) const {
  const TMap map = Map();
  double pos = map.Pos(Value);
  if (std::isnan(pos)) pos = map.Start;
  pos = std::clamp(pos, -kPixelLimit, kPixelLimit);
  return static_cast<int>(std::nearbyint(pos));
}

double TChartAxis::CalcPosPoint(int Pixel) const { return Map().ValueAt(Pixel); }

std::vector<double> TChartAxis::TickValues(double* Step) const {
  return TickValuesFor(std::abs(endPos() - startPos()), Step);
}

std::vector<double> TChartAxis::TickValuesFor(double PixelLength, double* Step) const {
  std::vector<double> ticks;
  if (Step) *Step = 0;
  const double range = maximum_ - minimum_;
  if (!(range > 0) || !std::isfinite(range) || PixelLength < 1) return ticks;

  const QFontMetrics metrics(chart_.labelFont());
  // Vertical labels need their height between ticks, horizontal ones the
  // width of the widest label and a gap.
  auto minSpacing = [&](double step) {
    if (!Horizontal()) return metrics.height() + 6.0;
    const int w = std::max(metrics.horizontalAdvance(LabelText(minimum_, step)),
                           metrics.horizontalAdvance(LabelText(maximum_, step)));
    return w + 16.0;
  };
  // The smallest 1-2-5 step whose labels do not crowd each other.
  double step = niceStep(range * 10.0 / PixelLength);
  for (int i = 0; i < 60 && step / range * PixelLength < minSpacing(step); ++i) step = nextNiceStep(step);
  if (range / step > kMaxTicks) return ticks;

  const double first = std::ceil(minimum_ / step - 1e-9);
  // Counted, so that a range far from zero, where first + 1 == first, ends too.
  for (int k = 0; k <= kMaxTicks + 1; ++k) {
    double v = (first + k) * step;
    if (v > maximum_ + step * 1e-9) break;
    if (std::abs(v) < step * 1e-9) v = 0;
    ticks.push_back(v);
  }
  if (Step) *Step = step;
  return ticks;
}

QString TChartAxis::LabelText(double Value, double Step) const {
  if (!(Step > 0)) Step = 1;
  QString suffix;
  // Large values on a vertical axis are shown in thousands, so that they fit
  // the few pixels reserved for the labels beside it.
  const double largest = std::max(std::abs(minimum_), std::abs(maximum_));
  if (!Horizontal() && largest >= 10000 && Step >= 1000 && Value != 0) {
    Value /= 1000;
    Step /= 1000;
    suffix = QStringLiteral("k");
  }
  QString text = QString::number(Value, 'f', decimalsFor(Step));
  if (text.startsWith(u'-') && text.count(u'0') + text.count(u'.') + 1 == text.size()) text.remove(0, 1);
  text.replace(u'.', u',');
  return text + suffix;
}

void TChartAxis::changed() { chart_.invalidate(); }
