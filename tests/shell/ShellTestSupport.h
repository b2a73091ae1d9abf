// Helpers for driving the shell as a user does.
#pragma once

#include "shell/Main.h"

#include <QAction>
#include <QApplication>
#include <QCoreApplication>
#include <QMdiArea>
#include <QMenuBar>
#include <QTest>

// Clicks "Открыть файл" in the main window's menu bar.
inline void ClickOpen() {
  QMenuBar* bar = Form1->MainMenu1;
  QTest::mouseClick(bar, Qt::LeftButton, {}, bar->actionGeometry(Form1->N1).center());
  QCoreApplication::processEvents();
}

// Closes the main window and lets its deletion run, as the event loop would.
inline void CloseMainWindow() {
  if (Form1) Form1->close();
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  QCoreApplication::processEvents();
}
