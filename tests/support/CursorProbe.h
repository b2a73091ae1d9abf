// Watches what pointer the user sees while a command works: the application's
// wait cursor, looked at whenever a widget paints (the charts repaint at once
// while a command redraws them).
#pragma once

#include <QCoreApplication>
#include <QCursor>
#include <QEvent>
#include <QGuiApplication>
#include <QObject>

class WaitCursorAtPaint : public QObject {
 public:
  WaitCursorAtPaint() { QCoreApplication::instance()->installEventFilter(this); }
  ~WaitCursorAtPaint() override { QCoreApplication::instance()->removeEventFilter(this); }

  int paintsWithWait = 0;
  int paintsWithout = 0;

  // Whether the wait cursor is up now.
  static bool waiting() {
    const QCursor* c = QGuiApplication::overrideCursor();
    return c && c->shape() == Qt::WaitCursor;
  }

 protected:
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() == QEvent::Paint) ++(waiting() ? paintsWithWait : paintsWithout);
    return false;
  }
};
