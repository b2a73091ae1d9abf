#include "Main.h"

#include "Application.h"
#include "AlignLayout.h"
#include "FormFont.h"
#include "FormTembrix.h"
#include "Tembrix.h"
#include "WelcomePage.h"

#include <QAction>
#include <QApplication>
#include <QFileInfo>
#include <QMdiArea>
#include <QMenuBar>
#include <QScreen>

#include <algorithm>
#include <stdexcept>

QPointer<TForm1> Form1;

namespace {

// Lays a freshly loaded frame out once: the four charts in equal heights
// above the control panel, sized from the window as it is now. Later size
// changes move the widths only.
void LayOutFrame(TFrameTembrix& frame) {
  using namespace AlignLayout;
  SetAlign(frame.ScrollBox1, alClient);
  frame.repaint();
  SetAlign(frame.PanelDirect, alBottom);
  frame.repaint();
  SetAlign(frame.PanelDiagramms, alTop);
  // A window too small for the control panel gets an empty diagram panel.
  SetHeight(frame.PanelDiagramms, std::max(0, frame.ScrollBox1->height() - frame.PanelDirect->height()));
  frame.repaint();
  for (QWidget* chart : {frame.Chart1, frame.Chart2, frame.Chart3, frame.Chart4}) SetAlign(chart, alTop);
  for (QWidget* chart : {frame.Chart1, frame.Chart2, frame.Chart3, frame.Chart4})
    SetHeight(chart, frame.PanelDiagramms->height() / 4);
  // Its bottom edge lies below the diagram panel now, so it stacks under it.
  SetAlign(frame.PanelDirect, alTop);
  frame.repaint();
}

}  // namespace

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
  if (!OpenDialog1.Execute(this)) return;
  // Only a regular file counts (links are followed): a directory, a pipe or a
  // device would never read as a recording, and a pipe would block the reader.
  if (!QFileInfo(OpenDialog1.FileName).isFile()) throw std::runtime_error("Файл не существует!");

  Form3 = new TForm3(MdiArea);
  TFrameTembrix& frame = *Form3->FrameTembrix1;
  frame.arReportPath = OpenDialog1.FileName;
  frame.arReverse = false;
  // A reader error leaves here: the window stays open and empty.
  frame.InputWaveFile();
  LayOutFrame(frame);
  Form3->show();
  MdiArea->setActiveSubWindow(Form3);
}

void CreateForms() {
  Form1 = new TForm1;
  // Closing the main window ends the application.
  QObject::connect(Form1, &QObject::destroyed, qApp, &QCoreApplication::quit);
  Form2 = new TForm2(Form1->MdiArea);
  Form1->show();
  Form2->show();
}
