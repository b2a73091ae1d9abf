// Shows the wait cursor over the whole application for as long as it lives:
// a command whose work takes a noticeable time holds one while it works.
// The cursor comes back on every path out, errors included. Dialogs shown
// meanwhile have the arrow (Dialogs.h).
#pragma once

#include <QGuiApplication>

class TWaitCursor {
 public:
  TWaitCursor() { QGuiApplication::setOverrideCursor(Qt::WaitCursor); }
  ~TWaitCursor() { QGuiApplication::restoreOverrideCursor(); }
  TWaitCursor(const TWaitCursor&) = delete;
  TWaitCursor& operator=(const TWaitCursor&) = delete;
};
