// The main window: an MDI parent with the single menu command "Открыть файл",
// which opens a recording in a new audio window.
#pragma once

#include "platform/Dialogs.h"

#include <QMainWindow>
#include <QPointer>

class QAction;
class QMdiArea;
class QMenuBar;

class TForm1 : public QMainWindow {
  Q_OBJECT
 public:
  TForm1();

  QMenuBar* MainMenu1;
  QAction* N1;  // "Открыть файл"
  Dialogs::TFileDialog OpenDialog1{Dialogs::FileDialogKind::Open};
  // The client area that holds the MDI children.
  QMdiArea* MdiArea;

  // The open flow. Errors leave it as exceptions for the default error handler.
  void N1Click();

  // Closes the main window, and with it the program, without asking about
  // unsaved edits: for a termination request, when nobody is there to answer.
  void CloseWithoutAsking();

 protected:
  // Asks, window by window, about each audio window with unsaved edits, and
  // stays open at the first that may not close.
  void closeEvent(QCloseEvent* event) override;

 private:
  bool askAboutEdits_ = true;
};

extern QPointer<TForm1> Form1;

// Start-up after the application object exists: creates Form1 (the main
// window, whose end ends the event loop) and Form2, and shows both.
void CreateForms();
