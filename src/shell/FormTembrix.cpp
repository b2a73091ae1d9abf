#include "shell/FormTembrix.h"

#include "editor/Tembrix.h"
#include "shell/FormFont.h"

#include <QMdiArea>

QPointer<TForm3> Form3;

TForm3::TForm3(QMdiArea* mdiArea) : QMdiSubWindow(nullptr) {
  setAttribute(Qt::WA_DeleteOnClose);  // FormClose: closing frees the window, its frame and its data
  setWindowTitle(QStringLiteral("Аудио"));
  setFont(FormFont());
  resize(924, 584);
  FrameTembrix1 = new TFrameTembrix(this);
  setWidget(FrameTembrix1);
  mdiArea->addSubWindow(this);
  showMaximized();
}
