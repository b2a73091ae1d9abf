#include "shell/Program.h"

#include "blockmove/BlockMove.h"
#include "blockmove/CpuIdent.h"
#include "platform/Application.h"
#include "shell/Main.h"
#include "shell/WelcomePage.h"

#include <QApplication>
#include <QDialog>
#include <QSocketNotifier>
#include <QThread>
#include <QTimer>

#include <csignal>
#include <unistd.h>

namespace {

// A termination request (the session ending, `kill`) closes the main window
// the way the user would, so every window is freed and the exit code is 0.
// The signal handler only writes one byte; the event loop does the rest.
int terminationPipe[2] = {-1, -1};

void onTerminationSignal(int) {
  const char byte = 1;
  [[maybe_unused]] const ssize_t written = write(terminationPipe[1], &byte, 1);
}

// The signal may arrive while a dialog, a message box or a pop-up menu runs an
// event loop of its own, with its owner's code waiting below it on the stack.
// Closing the main window there would free those windows under that code's
// feet. So every pop-up is closed and every dialog cancelled first, which ends
// their loops; the main window closes once control is back in the
// application's own loop. Until then this tries again a little later.
void endRun() {
  for (int i = 0; i < 100 && QApplication::activePopupWidget(); ++i) QApplication::activePopupWidget()->close();
  for (QWidget* window : QApplication::topLevelWidgets())
    if (auto* dialog = qobject_cast<QDialog*>(window); dialog && dialog->isVisible()) dialog->reject();
  if (QThread::currentThread()->loopLevel() > 1) {
    QTimer::singleShot(20, qApp, endRun);
    return;
  }
  if (Form1) Form1->CloseWithoutAsking();  // nobody is there to answer a question
}

void endRunOnTermination(QObject* parent) {
  if (pipe(terminationPipe) != 0) return;
  auto* notifier = new QSocketNotifier(terminationPipe[0], QSocketNotifier::Read, parent);
  QObject::connect(notifier, &QSocketNotifier::activated, parent, [notifier] {
    char byte;
    [[maybe_unused]] const ssize_t got = read(terminationPipe[0], &byte, 1);
    notifier->setEnabled(false);
    endRun();
  });
  struct sigaction action = {};
  action.sa_handler = onTerminationSignal;
  sigemptyset(&action.sa_mask);
  sigaction(SIGTERM, &action, nullptr);
  sigaction(SIGINT, &action, nullptr);
}

}  // namespace

int RunProgram(int& argc, char** argv) {
  // The modules' initialisation. The library binding's lock exists before any
  // code runs (a constant-initialised mutex); then the processor is identified
  // and its block move installed, before any other thread exists.
  CpuIdent::GetCPUInfo();
  BlockMove::Initialize();

  PrepareWebEngine();
  TApplication app(argc, argv);
  // The main window, a top-level window of its own, carries the taskbar entry.
  endRunOnTermination(&app);
  CreateForms();
  const int exitCode = app.exec();
  // A window closed with the loop's last event is only scheduled for deletion.
  delete Form1.data();
  return exitCode;
}
