#include "Application.h"

#include <QMainWindow>

int main(int argc, char** argv) {
  TApplication app(argc, argv);
  QMainWindow window;
  window.setWindowTitle(QStringLiteral("Тембрикс"));
  window.show();
  return app.exec();
}
