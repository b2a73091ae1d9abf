// The chart component: a widget with a one-line title, a left and a bottom
// axis and the series drawn against them. It is also the editor's ruler: the
// selection markers and the play line are placed only through it.
//
// Contract for the code that uses it (all on the GUI thread):
//   Chart1 = new TChart(PanelDiagramms);            // QWidget, owned by its parent
//   Chart1->SetTitle("Левый канал.");
//   Series1 = Chart1->AddSeries<TFastLineSeries>();  // the chart owns its series
//   Series3 = Chart3->AddSeries<TIsoSurfaceSeries>();
//   Series1->Clear(); Series1->AddXY(x, y); ...; Chart1->Refresh();
//   Series3->Clear(); Series3->NumXValues = n; Series3->NumZValues = m;
//   Series3->IrregularGrid = true; Series3->AddXYZ(x, y, z); Chart3->Refresh();
//   Series3->BandPen.Visible = false;  Series3->Pen.Visible = false;
//   Chart1->BottomAxis->Minimum() / Maximum()       // range of the last Refresh
//   Chart1->BottomAxis->CalcPosValue(t)              // pixel column of time t
//   Series1->XScreenToValue(px)                      // time at pixel column px
//   Series1->MinXValue(), Series1->XValues.MinValue() (and the Max… pair)
//   Chart1->ChartRect().Top / .Bottom, Chart1->Height(), Chart1->Left()
//   Chart1->LeftAxis->SetLabelsSize(30); Chart1->LeftAxis->LabelsSize()
//   Chart1->LeftAxis->SetAutomatic(false); SetAutomaticMaximum(false);
//   Chart1->LeftAxis->SetMaximum(32767); SetMinimum(-32768)   // EChartError if
//                                                   // it would invert the range
//   Chart1->OnMouseWheel = [this](TChart* Sender, Qt::KeyboardModifiers Shift,
//                                 int WheelDelta, QPoint MousePos, bool& Handled) {…};
// Properties are methods: the getter has the property's name, the setter Set…;
// plain settings of a series that only take effect on the next Refresh are
// public fields (NumXValues, NumZValues, IrregularGrid, BandPen, Pen, SeriesColor).
// Adding points never repaints; Refresh rescales the automatic axes to the
// points and repaints at once (switching an axis back to automatic rescales
// it at once too). After a Refresh the bottom axis' Minimum and
// Maximum are exactly the smallest and largest X of the series, without padding.
// A series with HoverHighlight (line series have it) is drawn highlighted while
// the mouse pointer is over its line; that changes no point, axis or mapping.
// Pixels are in the chart's own coordinates, x counted from its left edge.
// CalcPosValue and XScreenToValue are exact inverses over ChartRect.
#pragma once

#include "chart/TChartAxis.h"
#include "chart/TChartSeries.h"
#include "chart/TFastLineSeries.h"
#include "chart/TIsoSurfaceSeries.h"

#include <QFont>
#include <QPixmap>
#include <QWidget>

#include <functional>
#include <memory>
#include <vector>

// The plotting area in pixels, edges included: the axis' Minimum maps to Left
// (bottom axis) or Bottom (left axis), its Maximum to Right or Top.
struct TChartRect {
  int Left = 0;
  int Top = 0;
  int Right = 0;
  int Bottom = 0;
  int Width() const { return Right - Left; }
  int Height() const { return Bottom - Top; }
};

class TChart : public QWidget {
  Q_OBJECT

 public:
  explicit TChart(QWidget* Parent = nullptr);
  ~TChart() override;

  // The axes, owned by the chart for its whole life.
  const std::unique_ptr<TChartAxis> LeftAxis;
  const std::unique_ptr<TChartAxis> BottomAxis;

  // Creates a series of type T drawn on this chart; the chart owns it.
  template <class T>
  T* AddSeries() {
    auto series = std::make_unique<T>(*this);
    T* raw = series.get();
    series_.push_back(std::move(series));
    return raw;
  }
  int SeriesCount() const { return static_cast<int>(series_.size()); }
  TChartSeries* Series(int Index) const { return series_.at(static_cast<std::size_t>(Index)).get(); }

  // The one-line title above the plotting area.
  QString Title() const { return title_; }
  void SetTitle(const QString& Text);

  // Rescales the automatic axes to the points and repaints now.
  void Refresh();
  // Rescales the automatic ends of one axis to the points, without painting.
  void rescaleAxis(TChartAxis& Axis);

  TChartRect ChartRect() const;
  int Height() const { return height(); }
  int Width() const { return width(); }
  int Left() const { return x(); }
  int Top() const { return y(); }

  // The mouse wheel over the chart: reported here, otherwise ignored (the
  // chart neither zooms nor pans).
  std::function<void(TChart* Sender, Qt::KeyboardModifiers Shift, int WheelDelta,
                     QPoint MousePos, bool& Handled)>
      OnMouseWheel;

  // Paints the whole chart at its current size into Painter, whose origin is
  // the chart's top-left corner.
  void paintChart(QPainter& Painter, double DevicePixelRatio = 1.0) const;

  // Fonts and colours of the design.
  const QFont& titleFont() const { return titleFont_; }
  const QFont& labelFont() const { return labelFont_; }
  static const QColor AxisLineColor;
  static const QColor GridColor;
  static const QColor GradientColor;

  // The series drawn highlighted because the mouse pointer is over its line
  // (only series with HoverHighlight), or null.
  const TChartSeries* HoveredSeries() const { return hovered_; }

  // Tells the chart that something it shows has changed; it repaints when Qt
  // next paints it.
  void invalidate();

 protected:
  void paintEvent(QPaintEvent* Event) override;
  void resizeEvent(QResizeEvent* Event) override;
  void wheelEvent(QWheelEvent* Event) override;
  void changeEvent(QEvent* Event) override;
  void mouseMoveEvent(QMouseEvent* Event) override;
  void leaveEvent(QEvent* Event) override;

 private:
  void drawAxes(QPainter& Painter, const TChartRect& Rect) const;
  void setHovered(const TChartSeries* Series);
  // The dotted grid lines at the given pixel columns and rows of the plotting area.
  void drawGrid(QPainter& Painter, double DevicePixelRatio, const TChartRect& Rect, const std::vector<int>& Columns,
                const std::vector<int>& Rows) const;

  QString title_;
  QFont titleFont_;
  QFont labelFont_;
  std::vector<std::unique_ptr<TChartSeries>> series_;
  const TChartSeries* hovered_ = nullptr;
  // The last picture painted, reused while nothing it shows has changed
  // (markers moving over the chart only expose parts of it).
  QImage cache_;
  bool cacheValid_ = false;
  // ChartRect depends on the size, the title, the reserved label sizes and,
  // with labels sized to their text, on the left axis' range. It is asked for
  // at every mapping, so the last answer is kept with what it depended on.
  struct TLayoutKey {
    int Width = -1, Height = -1, LeftLabels = -1, BottomLabels = -1;
    bool HasTitle = false;
    double LeftMin = 0, LeftMax = 0;
    bool operator==(const TLayoutKey&) const = default;
  };
  TLayoutKey layoutKey() const;
  TChartRect computeChartRect() const;
  mutable TLayoutKey layoutKey_;
  mutable TChartRect layout_;
  int titleHeight_ = 0;
  int labelHeight_ = 0;
};
