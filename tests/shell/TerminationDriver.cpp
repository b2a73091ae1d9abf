// A test driver: the program's own run (RunProgram) with a person's first steps
// played in. It brings one modal window up, reports it on standard output as
//   modal <class>|<caption>
// and leaves it open for the termination signal the test then sends. After
// the run it reports "ended <exit code>".
//
//   tembrix_termination_driver open           "Открыть файл": the open dialog
//   tembrix_termination_driver save <wav>     opens <wav>, then the save dialog
//   tembrix_termination_driver play <wav>     opens <wav>, then Play (on an
//                                             8-bit file: its message box)
//   tembrix_termination_driver close <wav>    opens <wav>, cuts the whole view,
//                                             then closes the main window: the
//                                             question about the edits
#include "editor/Tembrix.h"
#include "platform/Dialogs.h"
#include "shell/FormTembrix.h"
#include "shell/Main.h"
#include "shell/Program.h"

#include <QAction>
#include <QApplication>
#include <QMetaObject>
#include <QPushButton>
#include <QTimer>
#include <QToolButton>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

namespace {

QString step, file;

void say(const QString& line) {
  std::printf("%s\n", line.toUtf8().constData());
  std::fflush(stdout);
}

// Opens `file` through the menu command, the open dialog answered at once.
bool openFile() {
  Dialogs::Recorder answers;
  answers.queueFileName(file);
  Dialogs::setResponder(&answers);
  Form1->N1->trigger();
  Dialogs::setResponder(nullptr);
  return Form3 && answers.messages().empty();
}

void poll() {
  static bool started = false, reported = false;
  static int elapsedMs = 0;
  if ((elapsedMs += 20) > 60000) {
    say(QStringLiteral("timeout"));
    _exit(3);
  }
  if (QWidget* modal = QApplication::activeModalWidget()) {
    if (!reported) say(QStringLiteral("modal %1|%2").arg(modal->metaObject()->className(), modal->windowTitle()));
    reported = true;
    return;
  }
  if (started || !Form1 || !Form1->isVisible()) return;
  started = true;
  // Queued: each runs a modal loop of its own, in which polling goes on.
  if (step == QStringLiteral("open")) {
    QMetaObject::invokeMethod(Form1->N1, &QAction::trigger, Qt::QueuedConnection);
    return;
  }
  if (!openFile()) {
    say(QStringLiteral("cannot open ") + file);
    _exit(3);
  }
  TFrameTembrix& frame = *Form3->FrameTembrix1;
  if (step == QStringLiteral("close")) {
    frame.SpeedButtonSelect->click();
    frame.ButtonSelectCut->click();
    QMetaObject::invokeMethod(Form1, &QWidget::close, Qt::QueuedConnection);
    return;
  }
  QPushButton* button = frame.ButtonFileSave;
  if (step == QStringLiteral("play")) {
    frame.SpeedButtonSelect->click();  // the selection mode makes Play usable
    button = frame.Button1;
  }
  QMetaObject::invokeMethod(button, &QPushButton::click, Qt::QueuedConnection);
}

void startDriver() {
  auto* timer = new QTimer(qApp);
  QObject::connect(timer, &QTimer::timeout, poll);
  timer->start(20);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  step = QString::fromUtf8(argv[1]);
  if (argc > 2) file = QString::fromUtf8(argv[2]);
  int programArgc = 1;  // the program reads no arguments
  qAddPreRoutine(startDriver);
  const int code = RunProgram(programArgc, argv);
  say(QStringLiteral("ended %1").arg(code));
  return code;
}
