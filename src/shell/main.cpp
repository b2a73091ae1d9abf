// The program entry. It reads no command-line arguments: files are opened
// only through the menu.
#include "Application.h"
#include "BlockMove.h"
#include "CpuIdent.h"
#include "Main.h"
#include "WelcomePage.h"

#include <QSocketNotifier>

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

void closeMainWindowOnTermination(QObject* parent) {
  if (pipe(terminationPipe) != 0) return;
  auto* notifier = new QSocketNotifier(terminationPipe[0], QSocketNotifier::Read, parent);
  QObject::connect(notifier, &QSocketNotifier::activated, parent, [notifier] {
    char byte;
    [[maybe_unused]] const ssize_t got = read(terminationPipe[0], &byte, 1);
    notifier->setEnabled(false);
    if (Form1) Form1->close();
  });
  struct sigaction action = {};
  action.sa_handler = onTerminationSignal;
  sigemptyset(&action.sa_mask);
  sigaction(SIGTERM, &action, nullptr);
  sigaction(SIGINT, &action, nullptr);
}

}  // namespace

int main(int argc, char** argv) {
  // The modules' initialisation. The library binding's lock exists before any
  // code runs (a constant-initialised mutex); then the processor is identified
  // and its block move installed, before any other thread exists.
  CpuIdent::GetCPUInfo();
  BlockMove::Initialize();

  PrepareWebEngine();
  TApplication app(argc, argv);
  // The main window, a top-level window of its own, carries the taskbar entry.
  closeMainWindowOnTermination(&app);
  CreateForms();
  const int exitCode = app.exec();
  // A window closed with the loop's last event is only scheduled for deletion.
  delete Form1.data();
  return exitCode;
}
