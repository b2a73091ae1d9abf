// main() of the GUI test programs: the real application object on the offscreen
// platform. Test discovery runs the binary without the test's environment, so
// the platform is chosen here when nothing else asked for one.
#include "platform/Application.h"

#include <gtest/gtest.h>

#include <QDir>

#include <cstdlib>
#include <sys/stat.h>

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  if (!getenv("XDG_RUNTIME_DIR")) {
    const QByteArray dir = QDir::tempPath().toUtf8() + "/tembrix-test-runtime";
    mkdir(dir.constData(), 0700);
    chmod(dir.constData(), 0700);
    setenv("XDG_RUNTIME_DIR", dir.constData(), 1);
  }
  testing::InitGoogleTest(&argc, argv);
  TApplication app(argc, argv);
  TApplication::setApplicationName(QStringLiteral("Тембрикс"));
  return RUN_ALL_TESTS();
}
