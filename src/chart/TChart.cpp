#include "chart/TChart.h"

#include <QFontMetrics>
#include <QLinearGradient>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QPen>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

constexpr int kMargin = 4;       // around the whole chart
constexpr int kRightMargin = 12; // room for the last bottom label to centre on its tick
constexpr int kTitleGap = 3;     // between the title and the plotting area
constexpr int kLabelGap = 3;     // between an axis and its labels
constexpr int kTickLength = 4;   // inner ticks

// A crisp one-pixel line over whole pixels: through the pixel centres, so that
// on a high-density screen it covers exactly the device pixels of that pixel.
void pixelLine(QPainter& Painter, int X1, int Y1, int X2, int Y2) {
  Painter.drawLine(QPointF(X1 + 0.5, Y1 + 0.5), QPointF(X2 + 0.5, Y2 + 0.5));
}

QFont designFont(int PixelSize, bool Bold) {
  QFont font;
  // The design font, and a similar sans face where it is not installed.
  font.setFamilies({QStringLiteral("Verdana"), QStringLiteral("DejaVu Sans")});
  font.setStyleHint(QFont::SansSerif);
  font.setPixelSize(PixelSize);
  font.setBold(Bold);
  return font;
}

}  // namespace

const QColor TChart::AxisLineColor = QColor(0x40, 0x40, 0x40);
const QColor TChart::GridColor = QColor(0xA9, 0xA9, 0xA9);
const QColor TChart::GradientColor = QColor(0xEA, 0xEA, 0xEA);

TChart::TChart(QWidget* Parent)
    : QWidget(Parent),
      LeftAxis(std::make_unique<TChartAxis>(*this, TChartAxis::TOrientation::Vertical)),
      BottomAxis(std::make_unique<TChartAxis>(*this, TChartAxis::TOrientation::Horizontal)),
      titleFont_(designFont(11, true)),
      labelFont_(designFont(10, false)) {
  // Every pixel is painted from the cached picture: no background erase, so
  // nothing flickers while markers move over the chart.
  setAttribute(Qt::WA_OpaquePaintEvent);
  setFocusPolicy(Qt::NoFocus);
  // Moves without a button pressed arrive too: they decide the hover highlight.
  setMouseTracking(true);
  titleHeight_ = QFontMetrics(titleFont_).height();
  labelHeight_ = QFontMetrics(labelFont_).height();
}

TChart::~TChart() = default;

void TChart::SetTitle(const QString& Text) {
  title_ = Text;
  invalidate();
}

void TChart::rescaleAxis(TChartAxis& Axis) {
  double low = std::numeric_limits<double>::infinity();
  double high = -low;
  for (const auto& series : series_) {
    if (series->Count() == 0) continue;
    double l = 0, h = 0;
    if (Axis.Horizontal()) {
      l = series->MinXValue();
      h = series->MaxXValue();
    } else if (!series->VerticalRange(l, h)) {
      continue;
    }
    low = std::min(low, l);
    high = std::max(high, h);
  }
  Axis.AdjustToData(low, high);
}

void TChart::Refresh() {
  rescaleAxis(*BottomAxis);
  rescaleAxis(*LeftAxis);
  invalidate();
  if (isVisible()) repaint();
}

void TChart::invalidate() {
  cacheValid_ = false;
  update();
}

TChart::TLayoutKey TChart::layoutKey() const {
  TLayoutKey key;
  key.Width = width();
  key.Height = height();
  key.LeftLabels = LeftAxis->LabelsSize();
  key.BottomLabels = BottomAxis->LabelsSize();
  key.HasTitle = !title_.isEmpty();
  if (key.LeftLabels == 0) {
    key.LeftMin = LeftAxis->Minimum();
    key.LeftMax = LeftAxis->Maximum();
  }
  return key;
}

TChartRect TChart::ChartRect() const {
  const TLayoutKey key = layoutKey();
  if (!(key == layoutKey_)) {
    layout_ = computeChartRect();
    layoutKey_ = key;
  }
  return layout_;
}

TChartRect TChart::computeChartRect() const {
  TChartRect r;
  r.Top = kMargin + labelHeight_ / 2;
  if (!title_.isEmpty()) r.Top += titleHeight_ + kTitleGap;
  const int bottomLabels = BottomAxis->LabelsSize() > 0 ? BottomAxis->LabelsSize() : labelHeight_;
  r.Bottom = std::max(r.Top, height() - 1 - kMargin - bottomLabels - kLabelGap);

  int leftLabels = LeftAxis->LabelsSize();
  if (leftLabels == 0) {
    // Sized to the widest label the left axis will show at this height.
    const QFontMetrics metrics(labelFont_);
    double step = 0;
    for (double v : LeftAxis->TickValuesFor(r.Bottom - r.Top, &step))
      leftLabels = std::max(leftLabels, metrics.horizontalAdvance(LeftAxis->LabelText(v, step)));
  }
  r.Left = kMargin + leftLabels + kLabelGap;
  r.Right = std::max(r.Left, width() - 1 - kRightMargin);
  return r;
}

void TChart::paintChart(QPainter& Painter, double DevicePixelRatio) const {
  const QRect all(0, 0, width(), height());
  Painter.save();
  Painter.setRenderHint(QPainter::Antialiasing, false);

  // White panel, shading to light grey over its lower half.
  QLinearGradient gradient(0, height(), 0, 0);
  gradient.setColorAt(0, GradientColor);
  gradient.setColorAt(0.5, GradientColor);
  gradient.setColorAt(1, Qt::white);
  Painter.fillRect(all, gradient);

  if (!title_.isEmpty()) {
    Painter.setFont(titleFont_);
    Painter.setPen(Qt::black);
    const QFontMetrics metrics(titleFont_);
    const QRect titleRect(kMargin, kMargin, std::max(0, width() - 2 * kMargin), metrics.height());
    Painter.drawText(titleRect, Qt::AlignHCenter | Qt::AlignTop,
                     metrics.elidedText(title_, Qt::ElideRight, titleRect.width()));
  }

  const TChartRect r = ChartRect();
  // Grid lines first, so that the series lie over them.
  std::vector<int> columns, rows;
  double step = 0;
  for (double v : BottomAxis->TickValues(&step)) {
    const int x = BottomAxis->CalcPosValue(v);
    if (x > r.Left && x <= r.Right) columns.push_back(x);
  }
  for (double v : LeftAxis->TickValues(&step)) {
    const int y = LeftAxis->CalcPosValue(v);
    if (y >= r.Top && y < r.Bottom) rows.push_back(y);
  }
  drawGrid(Painter, DevicePixelRatio, r, columns, rows);

  Painter.save();
  Painter.setClipRect(QRectF(r.Left, r.Top, r.Width() + 1, r.Height() + 1));
  for (const auto& series : series_) series->Draw(Painter, DevicePixelRatio);
  Painter.restore();

  drawAxes(Painter, r);
  Painter.restore();
}

void TChart::drawGrid(QPainter& Painter, double DevicePixelRatio, const TChartRect& Rect,
                      const std::vector<int>& Columns, const std::vector<int>& Rows) const {
  const QPen gridPen(GridColor, 1, Qt::DotLine);
  const int scale = static_cast<int>(DevicePixelRatio);
  if (scale < 2 || scale != DevicePixelRatio) {
    Painter.setPen(gridPen);
    for (int x : Columns) pixelLine(Painter, x, Rect.Top, x, Rect.Bottom);
    for (int y : Rows) pixelLine(Painter, Rect.Left, y, Rect.Right, y);
    return;
  }
  // With a pen wider than one device pixel every dot is stroked as a shape of
  // its own, which costs far more than copying it. All vertical lines span the
  // same rows and all horizontal ones the same columns, so each direction is
  // stroked once into a transparent strip (a pixel of margin around the line
  // for the dots' caps) and the strip is laid at every line. At a whole device
  // pixel ratio a shift by whole pixels rasterises alike: the pixels are the same.
  auto strip = [&](int Width, int Height, int X2, int Y2) {
    QImage image(Width * scale, Height * scale, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    image.setDevicePixelRatio(scale);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.setPen(gridPen);
    pixelLine(painter, 1, 1, X2, Y2);
    return image;
  };
  if (!Columns.empty()) {
    const QImage vertical = strip(3, Rect.Height() + 3, 1, Rect.Height() + 1);
    for (int x : Columns) Painter.drawImage(QPointF(x - 1, Rect.Top - 1), vertical);
  }
  if (!Rows.empty()) {
    const QImage horizontal = strip(Rect.Width() + 3, 3, Rect.Width() + 1, 1);
    for (int y : Rows) Painter.drawImage(QPointF(Rect.Left - 1, y - 1), horizontal);
  }
}

void TChart::drawAxes(QPainter& Painter, const TChartRect& Rect) const {
  const QFontMetrics metrics(labelFont_);
  Painter.setFont(labelFont_);

  double step = 0;
  const std::vector<double> bottomTicks = BottomAxis->TickValues(&step);
  for (double v : bottomTicks) {
    const int x = BottomAxis->CalcPosValue(v);
    Painter.setPen(GridColor);
    pixelLine(Painter, x, Rect.Bottom - kTickLength, x, Rect.Bottom);
    const QString text = BottomAxis->LabelText(v, step);
    const int w = metrics.horizontalAdvance(text);
    const int left = std::clamp(x - w / 2, 0, std::max(0, width() - w));
    Painter.setPen(Qt::black);
    Painter.drawText(QRect(left, Rect.Bottom + kLabelGap, w, metrics.height()), Qt::AlignCenter, text);
  }
  const std::vector<double> leftTicks = LeftAxis->TickValues(&step);
  for (double v : leftTicks) {
    const int y = LeftAxis->CalcPosValue(v);
    Painter.setPen(GridColor);
    pixelLine(Painter, Rect.Left, y, Rect.Left + kTickLength, y);
    const QString text = LeftAxis->LabelText(v, step);
    const int h = metrics.height();
    const int top = std::clamp(y - h / 2, 0, std::max(0, height() - h));
    Painter.setPen(Qt::black);
    Painter.drawText(QRect(0, top, Rect.Left - kLabelGap, h), Qt::AlignRight | Qt::AlignVCenter, text);
  }

  Painter.setPen(AxisLineColor);
  pixelLine(Painter, Rect.Left, Rect.Top, Rect.Left, Rect.Bottom);
  pixelLine(Painter, Rect.Left, Rect.Bottom, Rect.Right, Rect.Bottom);
}

void TChart::paintEvent(QPaintEvent* Event) {
  const double dpr = devicePixelRatioF();
  if (!cacheValid_ || cache_.devicePixelRatio() != dpr ||
      cache_.size() != QSize(std::lround(width() * dpr), std::lround(height() * dpr))) {
    // An image of the pixmap's own format rather than a pixmap: the series may
    // write their pixels into it directly.
    cache_ = QImage(QSize(std::lround(width() * dpr), std::lround(height() * dpr)), QImage::Format_RGB32);
    cache_.setDevicePixelRatio(dpr);
    QPainter painter(&cache_);
    paintChart(painter, dpr);
    cacheValid_ = true;
  }
  QPainter painter(this);
  painter.setClipRegion(Event->region());
  painter.drawImage(0, 0, cache_);
}

void TChart::resizeEvent(QResizeEvent* Event) {
  cacheValid_ = false;
  QWidget::resizeEvent(Event);
}

void TChart::wheelEvent(QWheelEvent* Event) {
  bool handled = false;
  if (OnMouseWheel)
    OnMouseWheel(this, Event->modifiers(), Event->angleDelta().y(), Event->position().toPoint(), handled);
  // The chart neither zooms nor scrolls with the wheel, and the turn goes no
  // further up: nothing behind the chart should move either.
  Event->accept();
}

void TChart::mouseMoveEvent(QMouseEvent* Event) {
  const QPoint p = Event->position().toPoint();
  const TChartSeries* over = nullptr;
  // The series drawn last lies on top.
  for (auto it = series_.rbegin(); it != series_.rend() && !over; ++it)
    if ((*it)->HoverHighlight && (*it)->IsUnderPointer(p)) over = it->get();
  setHovered(over);
  QWidget::mouseMoveEvent(Event);
}

void TChart::leaveEvent(QEvent* Event) {
  setHovered(nullptr);
  QWidget::leaveEvent(Event);
}

void TChart::setHovered(const TChartSeries* Series) {
  if (Series == hovered_) return;
  hovered_ = Series;
  invalidate();
}

void TChart::changeEvent(QEvent* Event) {
  if (Event->type() == QEvent::FontChange || Event->type() == QEvent::StyleChange) cacheValid_ = false;
  QWidget::changeEvent(Event);
}
