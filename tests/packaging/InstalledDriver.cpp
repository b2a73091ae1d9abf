// A test driver loaded into the installed program with LD_PRELOAD. It stands in
// for the person at the screen, through the program's real dialogs: it answers
// the open dialog with the file named in TEMBRIX_DRIVER_OPEN, acknowledges every
// message box, and closes the main window once a recording is shown (or, when
// there is nothing to open, as soon as the main window is up). It writes what it
// saw to the file named in TEMBRIX_DRIVER_LOG, one event per line:
//
//   start <executable>            the program started from this file
//   main-window <caption>         the main window is on the screen
//   file-dialog                   an open dialog was answered
//   message <icon>|<caption>|<text>
//   audio-window <caption>        a window showing the recording appeared
//   mapped <file>                 a file of the signal-processing library is loaded
//   close                         the driver closed the main window
//   timeout                       nothing expected happened for 60 s; exit code 3
//
// The program itself is not changed in any way.
#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QLineEdit>
#include <QMainWindow>
#include <QMenuBar>
#include <QMessageBox>
#include <QMetaObject>
#include <QSet>
#include <QTimer>

#include <cstdio>
#include <cstdlib>
#include <unistd.h>

namespace {

constexpr int PollMs = 50;
constexpr int GiveUpMs = 60000;

struct Driver {
  QString log;
  QString open;  // empty: only start and close the program
  bool opened = false;
  bool closing = false;
  int elapsedMs = 0;
};

// Lives as long as the process: the program may end with exit() at any moment.
Driver& driver() {
  static Driver d;
  return d;
}

// One event per line: line breaks inside a message are written as \r and \n.
void record(QString line) {
  line.replace(u'\r', QStringLiteral("\\r")).replace(u'\n', QStringLiteral("\\n"));
  QFile f(driver().log);
  if (f.open(QIODevice::Append)) f.write(line.toUtf8() + '\n');
}

QString iconName(QMessageBox::Icon icon) {
  switch (icon) {
    case QMessageBox::Information: return QStringLiteral("information");
    case QMessageBox::Warning: return QStringLiteral("warning");
    case QMessageBox::Critical: return QStringLiteral("stop");
    case QMessageBox::Question: return QStringLiteral("question");
    case QMessageBox::NoIcon: break;
  }
  return QStringLiteral("none");
}

void recordLibraryMappings() {
  QFile maps(QStringLiteral("/proc/self/maps"));
  if (!maps.open(QIODevice::ReadOnly | QIODevice::Text)) return;
  QSet<QString> seen;
  for (const QByteArray& line : maps.readAll().split('\n')) {
    const int slash = line.indexOf('/');
    if (slash < 0) continue;
    const QString path = QString::fromUtf8(line.mid(slash));
    if (path.endsWith(QStringLiteral(".dll")) && !seen.contains(path)) {
      seen.insert(path);
      record(QStringLiteral("mapped ") + path);
    }
  }
}

QMainWindow* mainWindow() {
  for (QWidget* w : QApplication::topLevelWidgets())
    if (auto* m = qobject_cast<QMainWindow*>(w); m && m->isVisible()) return m;
  return nullptr;
}

QWidget* audioWindow(QMainWindow* main) {
  for (QWidget* w : main->findChildren<QWidget*>())
    if (w->isVisible() && w->windowTitle() == QStringLiteral("Аудио")) return w;
  return nullptr;
}

void closeMainWindow(QMainWindow* main) {
  driver().closing = true;
  record(QStringLiteral("close"));
  main->close();
}

void poll() {
  driver().elapsedMs += PollMs;
  if (driver().elapsedMs > GiveUpMs) {
    record(QStringLiteral("timeout"));
    _exit(3);
  }
  if (QWidget* modal = QApplication::activeModalWidget()) {
    if (auto* box = qobject_cast<QMessageBox*>(modal)) {
      record(QStringLiteral("message %1|%2|%3").arg(iconName(box->icon()), box->windowTitle(), box->text()));
      box->accept();
    } else if (auto* dialog = qobject_cast<QFileDialog*>(modal)) {
      // Types the name as a person would: selectFile() leaves a focused name
      // field alone, and the dialog has focus as soon as the window is active.
      auto* name = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
      record(name ? QStringLiteral("file-dialog") : QStringLiteral("file-dialog without a name field"));
      if (!name) {
        dialog->reject();
        return;
      }
      name->setText(driver().open);
      static_cast<QDialog*>(dialog)->accept();  // as the dialog's own Open button does
    }
    return;
  }
  QMainWindow* main = mainWindow();
  if (!main || driver().closing) return;
  if (!driver().opened) {
    driver().opened = true;
    record(QStringLiteral("main-window ") + main->windowTitle());
    if (driver().open.isEmpty()) {
      closeMainWindow(main);
      return;
    }
    for (QAction* action : main->menuBar()->actions()) {
      if (action->text() == QStringLiteral("Открыть файл")) {
        // Queued: the dialog runs a modal loop of its own, in which polling goes on.
        QMetaObject::invokeMethod(action, &QAction::trigger, Qt::QueuedConnection);
        return;
      }
    }
    record(QStringLiteral("no open command"));
    closeMainWindow(main);
    return;
  }
  if (QWidget* audio = audioWindow(main)) {
    record(QStringLiteral("audio-window ") + audio->windowTitle());
    recordLibraryMappings();
    closeMainWindow(main);
  }
}

// Runs inside the application object's constructor; the polling starts with its loop.
void startDriver() {
  auto* timer = new QTimer(qApp);
  QObject::connect(timer, &QTimer::timeout, poll);
  timer->start(PollMs);
}

// Acts only in the program itself, not in the launcher's shell and tools, and
// keeps itself out of the processes the program starts.
__attribute__((constructor)) void install() {
  char exe[4096];
  const ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
  if (n <= 0) return;
  exe[n] = '\0';
  const QString path = QString::fromUtf8(exe);
  if (QFileInfo(path).fileName() != QStringLiteral("tembrix")) return;
  const char* log = std::getenv("TEMBRIX_DRIVER_LOG");
  if (!log) return;
  unsetenv("LD_PRELOAD");
  driver().log = QString::fromUtf8(log);
  if (const char* open = std::getenv("TEMBRIX_DRIVER_OPEN")) driver().open = QString::fromUtf8(open);
  record(QStringLiteral("start ") + path);
  qAddPreRoutine(startDriver);
}

}  // namespace
