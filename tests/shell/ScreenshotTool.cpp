// Opens the given recordings in the real program, as a user would through
// "Открыть файл", waits until everything is drawn, and then takes a picture of
// the whole screen with `import -window root`. Used under Xvfb to make the
// README's screenshot: tembrix_screenshot OUT.png FILE.wav...
#include "platform/Application.h"
#include "platform/Dialogs.h"
#include "shell/Main.h"
#include "shell/WelcomePage.h"

#include <QProcess>
#include <QTimer>

#include <cstdio>

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: %s OUT.png FILE.wav...\n", argv[0]);
    return 2;
  }
  PrepareWebEngine();
  TApplication app(argc, argv);
  Dialogs::Recorder answers;
  Dialogs::setResponder(&answers);
  CreateForms();
  const QString out = QString::fromLocal8Bit(argv[1]);
  QStringList files;
  for (int i = 2; i < argc; ++i) files << QString::fromLocal8Bit(argv[i]);

  int exitCode = 0;
  QTimer::singleShot(1500, [&] {
    for (const QString& file : files) {
      answers.queueFileName(file);
      Form1->N1->trigger();
    }
    for (const auto& m : answers.messages()) std::fprintf(stderr, "message: %s\n", qPrintable(m.text));
    QTimer::singleShot(2500, [&] {
      exitCode = QProcess::execute(QStringLiteral("import"), {QStringLiteral("-window"), QStringLiteral("root"), out});
      Form1->close();
    });
  });
  const int loopCode = app.exec();
  delete Form1.data();
  Dialogs::setResponder(nullptr);
  return exitCode != 0 ? exitCode : loopCode;
}
