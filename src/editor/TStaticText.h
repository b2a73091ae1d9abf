// A static text that reports the mouse to handlers of its owner: press, move,
// release and leave. A press grabs the mouse (Qt does so for the pressed widget),
// so a control pressed with the left button keeps receiving moves until release,
// even when the pointer leaves it. Used for the selection markers and the
// play-position line.
#pragma once

#include <QLabel>

#include <functional>

// Modifier keys and mouse buttons held during a mouse event.
using TShiftState = unsigned;
constexpr TShiftState ssShift = 1u << 0;
constexpr TShiftState ssAlt = 1u << 1;
constexpr TShiftState ssCtrl = 1u << 2;
constexpr TShiftState ssLeft = 1u << 3;
constexpr TShiftState ssRight = 1u << 4;
constexpr TShiftState ssMiddle = 1u << 5;

enum class TMouseButton { mbLeft, mbRight, mbMiddle };

class TStaticText : public QLabel {
 public:
  explicit TStaticText(QWidget* parent = nullptr);

  // Background colour; the control paints it itself (never transparent).
  void SetColor(const QColor& color);
  QColor Color() const;

  using TMouseEvent = std::function<void(QObject* Sender, TMouseButton Button, TShiftState Shift, int X, int Y)>;
  using TMouseMoveEvent = std::function<void(QObject* Sender, TShiftState Shift, int X, int Y)>;
  using TNotifyEvent = std::function<void(QObject* Sender)>;

  TMouseEvent OnMouseDown;
  TMouseEvent OnMouseUp;
  // Setting it through SetOnMouseMove also reports moves with no button held.
  TMouseMoveEvent OnMouseMove;
  TNotifyEvent OnMouseLeave;
  void SetOnMouseMove(TMouseMoveEvent handler);

 protected:
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void leaveEvent(QEvent* event) override;
};

// A label that keeps itself as large as its text in the current font (the
// design's labels size themselves; the form's font is set after construction).
class TLabel : public QLabel {
 public:
  TLabel(const QString& text, QWidget* parent) : QLabel(text, parent) { adjustSize(); }

 protected:
  void changeEvent(QEvent* event) override;
};
