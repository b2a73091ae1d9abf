// The application object. Its notify() is the toolkit's default error handler:
// an exception that escapes an event handler is shown in a box with a stop icon
// and one OK button, captioned with the application's title, and the program
// goes on running.
#pragma once

#include <QApplication>

#include <exception>
#include <utility>

class TApplication : public QApplication {
 public:
  TApplication(int& argc, char** argv);
  bool notify(QObject* receiver, QEvent* event) override;
  // Shows the message of `e` as the default error handler does.
  static void ShowException(const std::exception& e);
  // The caption of the error box.
  static QString Title();

  // Thrown from an event handler to end the program with `code`: the handler's
  // work unwinds, the event loop ends, and the program shuts down as on any
  // other exit (its windows and the browser first, then the modules' clean-up).
  // Ending the process from inside the handler instead would run that clean-up
  // while the browser's threads still work.
  struct EExit {
    int code;
  };

  // Runs an event handler and shows whatever it throws, as notify() would, but
  // without unwinding through the toolkit's own frames, which are not
  // exception-safe (they leak the event being delivered). Connect handlers
  // through it: connect(b, &QPushButton::clicked, this, [this] { Guard([this] { X(); }); }).
  template <class Handler>
  static void Guard(Handler&& handler) {
    try {
      std::forward<Handler>(handler)();
    } catch (const EExit& e) {
      QCoreApplication::exit(e.code);
    } catch (const std::exception& e) {
      ShowException(e);
    } catch (...) {
      ShowUnknownException();
    }
  }
  static void ShowUnknownException();
};
