#include "editor/Tembrix.h"
#include "platform/AlignLayout.h"
#include "platform/Application.h"
#include "platform/Dialogs.h"
#include "shell/FormTembrix.h"
#include "ShellTestSupport.h"
#include "WaveBuilder.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QDialogButtonBox>
#include <QPushButton>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QLineEdit>
#include <QMdiSubWindow>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QTimer>

#include <cmath>
#include <cstdint>
#include <vector>

namespace {

// A PCM WAV file of `frames` two-channel 16-bit frames: a tone on the left, a
// lower one on the right. `channels` is written into the format as given.
QString writeWav(const QString& path, int frames, std::uint16_t channels = 2) {
  std::vector<std::int16_t> samples;
  for (int i = 0; i < frames; ++i) {
    samples.push_back(std::int16_t(8000 * std::sin(i * 0.3)));
    samples.push_back(std::int16_t(6000 * std::sin(i * 0.05)));
  }
  const std::string b = wavtest::Riff().fmt(channels, 8000, 16).data16(samples).bytes();
  QFile file(path);
  if (!file.open(QIODevice::WriteOnly) || file.write(b.data(), qint64(b.size())) != qint64(b.size()))
    ADD_FAILURE() << "cannot write " << path.toStdString();
  return path;
}

class OpenFlowTest : public testing::Test {
 protected:
  void SetUp() override {
    Dialogs::setResponder(&recorder);
    CreateForms();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(Form1.data()));
    wav = writeWav(dir.filePath(QStringLiteral("запись.wav")), 4000);
  }
  void TearDown() override {
    CloseMainWindow();
    Dialogs::setResponder(nullptr);
  }
  TForm3* open(const QString& name) {
    recorder.queueFileName(name);
    ClickOpen();
    return Form3;
  }
  int windowCount() const { return static_cast<int>(Form1->MdiArea->subWindowList().size()); }
  // Makes the main window just tall enough for a frame `height` pixels high.
  void setFrameHeight(int height) {
    TForm3* probe = open(wav);
    ASSERT_TRUE(probe);
    const int delta = height - probe->FrameTembrix1->ScrollBox1->height();
    probe->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    Form1->resize(Form1->width(), Form1->height() + delta);
    QCoreApplication::processEvents();
  }

  Dialogs::Recorder recorder;
  QTemporaryDir dir;
  QString wav;
};

TEST_F(OpenFlowTest, ValidFileGivesMaximizedLaidOutAudioWindow) {
  setFrameHeight(584);
  TForm3* form = open(wav);
  ASSERT_TRUE(form);
  EXPECT_TRUE(recorder.messages().empty());
  EXPECT_EQ(windowCount(), 2);
  EXPECT_EQ(form->windowTitle(), QStringLiteral("Аудио"));
  EXPECT_TRUE(form->isVisible());
  EXPECT_TRUE(form->isMaximized());
  EXPECT_EQ(Form1->MdiArea->activeSubWindow(), form);

  TFrameTembrix& f = *form->FrameTembrix1;
  EXPECT_EQ(f.arReportPath, wav);
  EXPECT_FALSE(f.arReverse);
  EXPECT_EQ(f.arWAVENOP, 4000);
  ASSERT_EQ(f.ScrollBox1->height(), 584);
  ASSERT_EQ(f.PanelDirect->height(), 150);
  EXPECT_EQ(f.PanelDiagramms->height(), 434);
  EXPECT_EQ(f.PanelDiagramms->y(), f.ScrollBox1->contentsRect().top());
  // Top to bottom: Chart1, Chart3, Chart2, Chart4, a quarter each, then the panel.
  int y = f.Chart1->y();
  for (QWidget* chart : {f.Chart1, f.Chart3, f.Chart2, f.Chart4}) {
    EXPECT_EQ(chart->height(), 108);
    EXPECT_EQ(chart->y(), y);
    y += 108;
  }
  EXPECT_EQ(f.PanelDirect->y(), f.PanelDiagramms->geometry().bottom() + 1);
  EXPECT_EQ(AlignLayout::Align(f.PanelDirect), AlignLayout::alTop);
}

TEST_F(OpenFlowTest, ResizingChangesWidthsOnly) {
  TForm3* form = open(wav);
  ASSERT_TRUE(form);
  TFrameTembrix& f = *form->FrameTembrix1;
  const int diagrams = f.PanelDiagramms->height();
  const int chart = f.Chart4->height();
  const int width = f.Chart4->width();
  ASSERT_GT(chart, 0);

  Form1->resize(Form1->width() + 200, Form1->height() + 150);
  QCoreApplication::processEvents();
  EXPECT_EQ(f.Chart4->width(), width + 200);
  EXPECT_EQ(f.PanelDirect->width(), f.PanelDiagramms->width());
  EXPECT_EQ(f.PanelDiagramms->height(), diagrams);
  EXPECT_EQ(f.Chart4->height(), chart);
  EXPECT_EQ(f.PanelDirect->height(), 150);
}

TEST_F(OpenFlowTest, TwoOpensGiveTwoWindowsAndTheFirstKeepsWorking) {
  TForm3* first = open(wav);
  TForm3* second = open(wav);  // the same file opens more than once
  ASSERT_TRUE(first && second);
  EXPECT_NE(first, second);
  EXPECT_EQ(Form3, second);
  EXPECT_EQ(windowCount(), 3);
  EXPECT_TRUE(second->isMaximized());
  EXPECT_EQ(Form1->MdiArea->activeSubWindow(), second);
  EXPECT_EQ(second->FrameTembrix1->arWAVENOP, 4000);

  // Closing the second leaves the first able to load and draw spectrograms.
  second->close();
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_FALSE(Form3);
  EXPECT_TRUE(first->isVisible());
  first->FrameTembrix1->arReportPath = writeWav(dir.filePath(QStringLiteral("second.wav")), 3000);
  first->FrameTembrix1->InputWaveFile();
  EXPECT_EQ(first->FrameTembrix1->arWAVENOP, 3000);
  EXPECT_TRUE(recorder.messages().empty());
}

TEST_F(OpenFlowTest, ReaderErrorLeavesEmptyWindowAndShowsMessage) {
  const QString bad = writeWav(dir.filePath(QStringLiteral("no-channels.wav")), 100, 0);
  TForm3* form = open(bad);
  ASSERT_TRUE(form);
  EXPECT_EQ(windowCount(), 2);
  EXPECT_TRUE(form->isVisible());
  const auto messages = recorder.messages();
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_FALSE(messages[0].text.isEmpty());
  EXPECT_EQ(messages[0].icon, Dialogs::Icon::Stop);
  // The layout did not run for it.
  EXPECT_EQ(AlignLayout::Align(form->FrameTembrix1->PanelDiagramms), AlignLayout::alClient);
  EXPECT_EQ(AlignLayout::Align(form->FrameTembrix1->PanelDirect), AlignLayout::alBottom);

  // The program goes on: the next open works.
  recorder.clear();
  EXPECT_EQ(open(wav)->FrameTembrix1->arWAVENOP, 4000);
  EXPECT_TRUE(recorder.messages().empty());
}

TEST_F(OpenFlowTest, FileTheReaderDoesNotAcceptGivesLaidOutEmptyWindowAndSaysWhy) {
  const QString text = dir.filePath(QStringLiteral("notes.wav"));
  QFile file(text);
  ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  file.write("not a recording at all");
  file.close();
  TForm3* form = open(text);
  ASSERT_TRUE(form);
  EXPECT_EQ(form->FrameTembrix1->arWAVENOP, 0);
  EXPECT_EQ(AlignLayout::Align(form->FrameTembrix1->PanelDirect), AlignLayout::alTop);
  EXPECT_TRUE(form->isVisible());
  EXPECT_EQ(Form1->MdiArea->activeSubWindow(), form);
  const auto messages = recorder.messages();
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0].text, QStringLiteral("Запись не загружена.\nФайл не является файлом WAV."));
  EXPECT_EQ(messages[0].caption, QStringLiteral("Тембрикс"));
  EXPECT_EQ(messages[0].icon, Dialogs::Icon::Information);
}

TEST_F(OpenFlowTest, EachFileThatLoadsNothingSaysWhatItHolds) {
  using wavtest::Riff;
  const QString opened = QStringLiteral(" Открываются записи PCM WAV с отсчётами по 8–32 бит.");
  const std::string pcm = Riff().fmt(2, 8000, 16).data16({1, 2}).bytes();
  const struct {
    std::string bytes;
    QString reason;
  } cases[] = {
      {Riff().fmt(2, 8000, 32, 3).data16({1, 2}).bytes(), "Отсчёты с плавающей точкой (формат 3)." + opened},
      {Riff().fmtExtensible(2, 8000, 32, 32, 3).data16({1, 2}).bytes(),
       "Отсчёты с плавающей точкой (формат 3)." + opened},
      {Riff().fmt(2, 8000, 4, 2).data16({1, 2}).bytes(), "Сжатый звук (формат 2)." + opened},
      {Riff().fmt(2, 8000, 16, 0).data16({1, 2}).bytes(), "Неизвестный формат звука (формат 0)." + opened},
      {Riff().fmt(2, 8000, 16).chunk("LIST", "INFO").bytes(), QStringLiteral("В файле нет звуковых данных.")},
      {Riff().fmt(2, 8000, 16).data16({1}).bytes(), QStringLiteral("В файле нет звуковых данных.")},
      {Riff().data16({1, 2}).bytes(), QStringLiteral("В файле нет описания формата звука.")},
      {Riff().fmt(2, 0, 16).data16({1, 2}).bytes(), QStringLiteral("В файле указана частота дискретизации 0 Гц.")},
      {Riff().fmtAligned(2, 8000, 12, 3).data16({1, 2}).bytes(),
       "Размеры отсчёта и кадра не согласованы (бит в отсчёте: 12, каналов: 2, байт в кадре: 3)." + opened},
      {"RIFX" + pcm.substr(4), QStringLiteral("Файл WAV с обратным порядком байтов (RIFX). Открываются файлы WAV "
                                              "с прямым порядком байтов (RIFF).")},
      {"RF64" + pcm.substr(4),
       QStringLiteral("Файл WAV с 64-битными размерами (RF64). Открываются файлы WAV размером до 4 ГБ (RIFF).")},
      {"RIFF" + pcm.substr(4, 4) + "AVI " + pcm.substr(12), QStringLiteral("Файл не является файлом WAV.")},
      {"", QStringLiteral("Файл не является файлом WAV.")},
  };
  for (const auto& c : cases) {
    const QString path = dir.filePath(QStringLiteral("case.wav"));
    QFile::remove(path);
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(c.bytes.data(), qint64(c.bytes.size()));
    file.close();
    recorder.clear();
    TForm3* form = open(path);
    ASSERT_TRUE(form);
    EXPECT_TRUE(form->isVisible());
    const auto messages = recorder.messages();
    ASSERT_EQ(messages.size(), 1u) << c.reason.toStdString();
    EXPECT_EQ(messages[0].text, QStringLiteral("Запись не загружена.\n") + c.reason);
  }
}

TEST_F(OpenFlowTest, WindowTooSmallForTheControlPanelGetsEmptyDiagramPanel) {
  setFrameHeight(100);
  TForm3* form = open(wav);
  ASSERT_TRUE(form);
  TFrameTembrix& f = *form->FrameTembrix1;
  ASSERT_LT(f.ScrollBox1->height(), f.PanelDirect->height());
  EXPECT_EQ(f.PanelDiagramms->height(), 0);
  for (QWidget* chart : {f.Chart1, f.Chart2, f.Chart3, f.Chart4}) EXPECT_EQ(chart->height(), 0);
  EXPECT_EQ(f.PanelDirect->y(), f.ScrollBox1->contentsRect().top());
}

// The real open dialog, as a person uses it: a name typed into it that does not
// exist comes back from the dialog, and the program refuses it with its own
// message in the error box. No window is created.
TEST(OpenFlowRealDialog, TypedMissingNameGetsTheProgramsOwnMessage) {
  ASSERT_EQ(Dialogs::responder(), nullptr);
  CreateForms();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(Form1.data()));
  // Typed key by key, so in plain ASCII (the default folder carries the
  // application's name).
  QTemporaryDir dir(QDir::tempPath() + QStringLiteral("/tembrix-open-XXXXXX"));
  const QString missing = dir.filePath(QStringLiteral("no-such-recording.wav"));

  int dialogs = 0;
  QStringList boxes;  // caption|text of every message box, in order
  QMessageBox::Icon icon = QMessageBox::NoIcon;
  QTimer person;
  QObject::connect(&person, &QTimer::timeout, [&] {
    QWidget* modal = QApplication::activeModalWidget();
    if (auto* dialog = qobject_cast<QFileDialog*>(modal)) {
      if (++dialogs > 1) {  // the dialog did not accept the name: give up
        dialog->reject();
        return;
      }
      auto* name = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
      ASSERT_TRUE(name);
      // A person types into the focused name field of the active dialog.
      QApplication::setActiveWindow(dialog);
      name->setFocus();
      QTest::keyClicks(name, missing);
      auto* buttons = dialog->findChild<QDialogButtonBox*>();
      ASSERT_TRUE(buttons && buttons->button(QDialogButtonBox::Open));
      ASSERT_TRUE(buttons->button(QDialogButtonBox::Open)->isEnabled());
      QTest::mouseClick(buttons->button(QDialogButtonBox::Open), Qt::LeftButton);
    } else if (auto* box = qobject_cast<QMessageBox*>(modal)) {
      boxes << box->windowTitle() + u'|' + box->text();
      icon = box->icon();
      box->button(QMessageBox::Ok)->click();
    }
  });
  person.start(10);
  ClickOpen();  // returns when the dialog and the box are done
  person.stop();

  EXPECT_EQ(dialogs, 1);
  EXPECT_EQ(boxes, QStringList({TApplication::Title() + QStringLiteral("|Файл не существует!")}));
  EXPECT_EQ(icon, QMessageBox::Critical);
  EXPECT_FALSE(Form3);
  EXPECT_EQ(Form1->MdiArea->subWindowList().size(), 1);
  EXPECT_FALSE(QFileInfo::exists(missing));
  CloseMainWindow();
}

// Not a fixture: the event loop itself must end when the main window closes.
TEST(ApplicationEnd, ClosingMainWindowFreesEveryWindowAndEndsWithCodeZero) {
  QTemporaryDir dir;
  const QString wav = writeWav(dir.filePath(QStringLiteral("a.wav")), 2000);
  Dialogs::Recorder recorder;
  Dialogs::setResponder(&recorder);
  CreateForms();
  recorder.queueFileName(wav);
  Form1->N1Click();
  QPointer<TForm3> first = Form3;
  recorder.queueFileName(wav);
  Form1->N1Click();
  ASSERT_TRUE(first && Form3 && first != Form3);
  QPointer<TFrameTembrix> frame = Form3->FrameTembrix1;

  QTimer::singleShot(100, [] { Form1->close(); });
  QTimer::singleShot(20000, [] { QCoreApplication::exit(99); });  // guards against a loop that never ends
  EXPECT_EQ(QCoreApplication::exec(), 0);
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_FALSE(Form1);
  EXPECT_FALSE(first);
  EXPECT_FALSE(Form3);
  EXPECT_FALSE(frame);
  EXPECT_TRUE(recorder.messages().empty());
  Dialogs::setResponder(nullptr);
}

}  // namespace
