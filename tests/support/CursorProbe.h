// Watches what pointer the user sees while a command works: counts the paints
// (the charts repaint at once while a command redraws them) under the wait cursor.
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

 protected:
  bool eventFilter(QObject*, QEvent* event) override {
    const QCursor* c = QGuiApplication::overrideCursor();
    if (event->type() == QEvent::Paint && c && c->shape() == Qt::WaitCursor) ++paintsWithWait;
    return false;
  }
};
