#include "platform/Application.h"

#include "platform/Dialogs.h"

#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

#include <stdexcept>

TApplication::TApplication(int& argc, char** argv) : QApplication(argc, argv) {
  // The program's captions are Russian on every system, so the toolkit's own
  // texts (file dialogs, standard buttons, context menus, the browser's pages)
  // are Russian too, whatever the system's locale says. The program formats
  // its numbers itself, so this changes none of its own texts.
  QLocale::setDefault(QLocale(QLocale::Russian, QLocale::Russia));
  const QString path = QLibraryInfo::path(QLibraryInfo::TranslationsPath);
  for (const QString& catalog : {QStringLiteral("qtbase_ru"), QStringLiteral("qtwebengine_ru")}) {
    auto* translator = new QTranslator(this);
    if (translator->load(catalog, path))
      installTranslator(translator);
    else
      delete translator;
  }
}

bool TApplication::notify(QObject* receiver, QEvent* event) {
  try {
    return QApplication::notify(receiver, event);
  } catch (const EExit& e) {
    QCoreApplication::exit(e.code);
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
