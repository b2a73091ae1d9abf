#include "shell/FormTembrix.h"

#include "editor/Tembrix.h"
#include "platform/Application.h"
#include "platform/Dialogs.h"
#include "shell/FormFont.h"

#include <QCloseEvent>
#include <QFileInfo>
#include <QMdiArea>
#include <QPushButton>

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

bool TForm3::MayClose() {
  TFrameTembrix& frame = *FrameTembrix1;
  if (!frame.isModified()) return true;
  enum { Save, DontSave, Cancel };
  const QString name = QFileInfo(frame.arReportPath).fileName();
  const int answer = Dialogs::Ask(this, QStringLiteral("Запись «%1» изменена. Сохранить изменения?").arg(name),
                                  QStringLiteral("Тембрикс"),
                                  {QStringLiteral("Сохранить"), QStringLiteral("Не сохранять"), QStringLiteral("Отмена")});
  if (answer == DontSave) return true;
  if (answer != Save) return false;
  // The save command as its button runs it: a refusal or an error is shown, and
  // the edits are still not in any file.
  TApplication::Guard([&] { frame.ButtonFileSaveClick(frame.ButtonFileSave); });
  return !frame.isModified();
}

void TForm3::closeEvent(QCloseEvent* event) {
  if (!MayClose()) {
    event->ignore();
    return;
  }
  QMdiSubWindow::closeEvent(event);
}
