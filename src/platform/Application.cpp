#include "Application.h"

#include "Dialogs.h"

#include <stdexcept>

TApplication::TApplication(int& argc, char** argv) : QApplication(argc, argv) {}

bool TApplication::notify(QObject* receiver, QEvent* event) {
  try {
    return QApplication::notify(receiver, event);
  } catch (const std::exception& e) {
    ShowException(e);
  } catch (...) {
    ShowUnknownException();
  }
  return true;
}

QString TApplication::Title() {
  const QString display = QApplication::applicationDisplayName();
  return display.isEmpty() ? QCoreApplication::applicationName() : display;
}

void TApplication::ShowException(const std::exception& e) {
  Dialogs::ShowMessage(nullptr, QString::fromUtf8(e.what()), Title(), Dialogs::Icon::Stop);
}

void TApplication::ShowUnknownException() { ShowException(std::runtime_error("Unknown exception")); }
