// The application object. Its notify() is the toolkit's default error handler:
// an exception that escapes an event handler is shown in a box with a stop icon
// and one OK button, captioned with the application's title, and the program
// goes on running.
#pragma once

#include <QApplication>

#include <exception>

class TApplication : public QApplication {
 public:
  TApplication(int& argc, char** argv);
  bool notify(QObject* receiver, QEvent* event) override;
  // Shows the message of `e` as the default error handler does.
  static void ShowException(const std::exception& e);
  // The caption of the error box.
  static QString Title();
};
