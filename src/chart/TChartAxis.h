// One axis of a chart: its shown range, automatic scaling, and the mapping
// between values and the chart's pixels.
#pragma once

#include <stdexcept>
#include <vector>

class QString;
class TChart;

// A refused axis or series setting. what() is the message shown to the user.
class EChartError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class TChartAxis {
 public:
  enum class TOrientation { Horizontal, Vertical };

  TChartAxis(TChart& ParentChart, TOrientation Orientation);
  TChartAxis(const TChartAxis&) = delete;
  TChartAxis& operator=(const TChartAxis&) = delete;

  bool Horizontal() const { return orientation_ == TOrientation::Horizontal; }

  // Automatic scaling: on a refresh an automatic end of the axis is set to the
  // smallest (or largest) value of the series drawn against it. Setting
  // Automatic sets AutomaticMinimum and AutomaticMaximum to the same value.
  bool Automatic() const { return automaticMinimum_ && automaticMaximum_; }
  void SetAutomatic(bool Value);
  bool AutomaticMinimum() const { return automaticMinimum_; }
  void SetAutomaticMinimum(bool Value);
  bool AutomaticMaximum() const { return automaticMaximum_; }
  void SetAutomaticMaximum(bool Value);

  // The range shown: the range of the last refresh, or the fixed one written.
  // A minimum above the current maximum, a maximum below the current minimum,
  // or a value that is not finite, is refused with EChartError.
  double Minimum() const { return minimum_; }
  double Maximum() const { return maximum_; }
  void SetMinimum(double Value);
  void SetMaximum(double Value);
  void SetMinMax(double AMinimum, double AMaximum);

  // Pixels reserved for the labels beside the axis; 0 sizes them to the text.
  int LabelsSize() const { return labelsSize_; }
  void SetLabelsSize(int Value);

  // Value -> pixel column (horizontal axis) or pixel row (vertical axis), in
  // the chart's own coordinates. The axis' Minimum lies on ChartRect's left
  // (bottom) edge and its Maximum on the right (top) edge.
  int CalcPosValue(double Value) const;
  // Pixel -> value: the exact inverse of CalcPosValue over ChartRect; for every
  // pixel p of the plotting area CalcPosValue(CalcPosPoint(p)) == p.
  double CalcPosPoint(int Pixel) const;

  // The linear map behind CalcPosValue: pixel = Start + (value − Min) × Scale.
  struct TMap {
    double Start = 0, Min = 0, Scale = 0;
    double Pos(double Value) const { return Start + (Value - Min) * Scale; }
    double ValueAt(double Pixel) const { return Scale == 0 ? Min : Min + (Pixel - Start) / Scale; }
  };
  TMap Map() const;

  // Tick values for the current range and pixel extent (1-2-5 steps), the
  // step itself and the label of a tick. Used for drawing and by tests.
  std::vector<double> TickValues(double* Step = nullptr) const;
  // The same for an axis PixelLength pixels long.
  std::vector<double> TickValuesFor(double PixelLength, double* Step) const;
  QString LabelText(double Value, double Step) const;

  // Applies automatic scaling with the data range [DataMin, DataMax]; called
  // by the chart on Refresh. Empty data (DataMin > DataMax) gives 0 … 0.
  // A vertical axis whose data (one value at least) has no extent is widened
  // by 1 on each side so that a constant line runs through the middle; a
  // horizontal one stays exact.
  void AdjustToData(double DataMin, double DataMax);

 private:
  // Pixel positions of Minimum and Maximum along the axis.
  double startPos() const;
  double endPos() const;
  void changed();

  TChart& chart_;
  TOrientation orientation_;
  bool automaticMinimum_ = true;
  bool automaticMaximum_ = true;
  double minimum_ = 0;
  double maximum_ = 0;
  int labelsSize_ = 0;
};
