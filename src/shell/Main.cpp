#include "shell/Main.h"

#include "editor/Tembrix.h"
#include "platform/Application.h"
#include "platform/WaitCursor.h"
#include "shell/FormFont.h"
#include "shell/FormTembrix.h"
#include "shell/FrameLayout.h"
#include "shell/WelcomePage.h"
#include "wav/WaveFile.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QFileInfo>
#include <QMdiArea>
#include <QMenuBar>
#include <QScreen>

#include <stdexcept>

QPointer<TForm1> Form1;

TForm1::TForm1() {
  setAttribute(Qt::WA_DeleteOnClose);  // FormClose: closing frees the window
  setWindowTitle(QStringLiteral("Тембрикс"));
  setFont(FormFont());

  MdiArea = new QMdiArea;
  setCentralWidget(MdiArea);

  MainMenu1 = menuBar();
  N1 = MainMenu1->addAction(QStringLiteral("Открыть файл"));
  // An exception must not unwind through the toolkit's own code, so the menu's
  // connection hands it to the default error handler right here.
  connect(N1, &QAction::triggered, this, [this] { TApplication::Guard([this] { N1Click(); }); });

  // The window fills the desktop's work area.
  resize(783, 486);
  if (QScreen* screen = QApplication::primaryScreen()) setGeometry(screen->availableGeometry());
}

void TForm1::N1Click() {
  const TWaitCursor busy;  // reading and drawing a long recording take a while; dialogs keep the arrow
  if (!OpenDialog1.Execute(this)) return;
  // Only a regular file counts (links are followed): a pipe or a device would never
  // read as a recording, and a pipe would block the reader.
  const QFileInfo chosen(OpenDialog1.FileName);
  if (!chosen.isFile())
    throw std::runtime_error(chosen.exists() && !chosen.isDir() ? "Это не обычный файл." : "Файл не существует!");

  Form3 = new TForm3(MdiArea);
  TFrameTembrix& frame = *Form3->FrameTembrix1;
  frame.arReportPath = OpenDialog1.FileName;
  frame.arReverse = false;
  // A reader error leaves here: the window stays open and empty.
  frame.InputWaveFile();
  LayOutFrame(frame);
  Form3->show();
  MdiArea->setActiveSubWindow(Form3);
  if (frame.arWAVENOP <= 0) {
    const QString why = QString::fromStdString(WaveFile::NothingLoadedReason());
    Dialogs::ShowMessage(this, "Запись не загружена.\n" + why, QStringLiteral("Тембрикс"), Dialogs::Icon::Information);
  }
}

void TForm1::CloseWithoutAsking() {
  askAboutEdits_ = false;
  close();
  askAboutEdits_ = true;  // a close refused for another reason asks again next time
}

void TForm1::closeEvent(QCloseEvent* event) {
  // The audio windows go with the main window without a close of their own,
  // so each is asked here, in the order they were opened.
  if (askAboutEdits_)
    for (QMdiSubWindow* child : MdiArea->subWindowList()) {
      auto* audio = qobject_cast<TForm3*>(child);
      if (!audio || !audio->FrameTembrix1->isModified()) continue;
      MdiArea->setActiveSubWindow(audio);  // the user sees the recording asked about
      if (!audio->MayClose()) {
        event->ignore();
        return;
      }
    }
  QMainWindow::closeEvent(event);
}

void CreateForms() {
  Form1 = new TForm1;
  // Closing the main window ends the application.
  QObject::connect(Form1, &QObject::destroyed, qApp, &QCoreApplication::quit);
  Form2 = new TForm2(Form1->MdiArea);
  Form1->show();
  Form2->show();
}
