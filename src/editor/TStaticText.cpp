#include "editor/TStaticText.h"

#include <QMouseEvent>
#include <QPalette>

namespace {

TShiftState shiftOf(Qt::KeyboardModifiers modifiers, Qt::MouseButtons buttons) {
  TShiftState s = 0;
  if (modifiers & Qt::ShiftModifier) s |= ssShift;
  if (modifiers & Qt::AltModifier) s |= ssAlt;
  if (modifiers & Qt::ControlModifier) s |= ssCtrl;
  if (buttons & Qt::LeftButton) s |= ssLeft;
  if (buttons & Qt::RightButton) s |= ssRight;
  if (buttons & Qt::MiddleButton) s |= ssMiddle;
  return s;
}

TMouseButton buttonOf(Qt::MouseButton button) {
  switch (button) {
    case Qt::RightButton: return TMouseButton::mbRight;
    case Qt::MiddleButton: return TMouseButton::mbMiddle;
    default: return TMouseButton::mbLeft;
  }
}

}  // namespace

TStaticText::TStaticText(QWidget* parent) : QLabel(parent) { setAutoFillBackground(true); }

void TStaticText::SetColor(const QColor& color) {
  QPalette p = palette();
  p.setColor(QPalette::Window, color);
  setPalette(p);
}

QColor TStaticText::Color() const { return palette().color(QPalette::Window); }

void TStaticText::SetOnMouseMove(TMouseMoveEvent handler) {
  OnMouseMove = std::move(handler);
  setMouseTracking(static_cast<bool>(OnMouseMove));
}

void TStaticText::mousePressEvent(QMouseEvent* event) {
  if (OnMouseDown) {
    const QPoint p = event->position().toPoint();
    OnMouseDown(this, buttonOf(event->button()), shiftOf(event->modifiers(), event->buttons()), p.x(), p.y());
  }
  event->accept();  // keeps the implicit grab: the moves until release come here
}

void TStaticText::mouseMoveEvent(QMouseEvent* event) {
  if (OnMouseMove) {
    const QPoint p = event->position().toPoint();
    OnMouseMove(this, shiftOf(event->modifiers(), event->buttons()), p.x(), p.y());
  }
  event->accept();
}

void TStaticText::mouseReleaseEvent(QMouseEvent* event) {
  if (OnMouseUp) {
    const QPoint p = event->position().toPoint();
    // Like the toolkit's, the release reports the buttons still held after it.
    OnMouseUp(this, buttonOf(event->button()), shiftOf(event->modifiers(), event->buttons()), p.x(), p.y());
  }
  event->accept();
}

void TStaticText::leaveEvent(QEvent* event) {
  if (OnMouseLeave) OnMouseLeave(this);
  QLabel::leaveEvent(event);
}

void TLabel::changeEvent(QEvent* event) {
  QLabel::changeEvent(event);
  if (event->type() == QEvent::FontChange) adjustSize();
}
