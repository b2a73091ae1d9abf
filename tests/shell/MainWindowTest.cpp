#include "CursorProbe.h"
#include "editor/Tembrix.h"
#include "platform/Application.h"
#include "platform/Dialogs.h"
#include "shell/FormTembrix.h"
#include "shell/WelcomePage.h"
#include "ShellTestSupport.h"
#include "WaveBuilder.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMdiSubWindow>
#include <QPointer>
#include <QPushButton>
#include <QTemporaryDir>
#include <QToolButton>
#include <QWebEngineView>

#include <cstdint>
#include <vector>

#include <sys/stat.h>

namespace {

class MainWindowTest : public testing::Test {
 protected:
  void SetUp() override {
    Dialogs::setResponder(&recorder);
    CreateForms();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(Form1.data()));
  }
  void TearDown() override {
    if (Form1) Form1->CloseWithoutAsking();  // edits a test left behind ask nothing
    CloseMainWindow();
    Dialogs::setResponder(nullptr);
  }
  int windowCount() const { return static_cast<int>(Form1->MdiArea->subWindowList().size()); }

  Dialogs::Recorder recorder;
  QTemporaryDir dir;
};

TEST_F(MainWindowTest, StartUpShowsMainAndMaximizedWelcomeWindow) {
  // A maximized child adds its caption in brackets, as MDI parents do.
  EXPECT_EQ(Form1->windowTitle(), QStringLiteral("Тембрикс - [WelcomPage]"));
  EXPECT_TRUE(Form1->isVisible());
  EXPECT_EQ(Form1->font().pixelSize(), 11);
  ASSERT_TRUE(Form2);
  EXPECT_EQ(Form2->windowTitle(), QStringLiteral("WelcomPage"));
  EXPECT_TRUE(Form2->isVisible());
  EXPECT_TRUE(Form2->isMaximized());
  EXPECT_EQ(Form2->mdiArea(), Form1->MdiArea);
  // Loading started at construction; it ends (here with the browser's own
  // error page: no network) without any call of ours.
  EXPECT_TRUE(QTest::qWaitFor([] { return Form2->WebBrowser1->url() == NewsPageUrl; }, 30000));
  EXPECT_EQ(NewsPageUrl.path(), QStringLiteral("/news/"));
  EXPECT_EQ(windowCount(), 1);
}

TEST_F(MainWindowTest, MenuHoldsExactlyOneCommand) {
  const QList<QAction*> actions = Form1->MainMenu1->actions();
  ASSERT_EQ(actions.size(), 1);
  EXPECT_EQ(actions[0], Form1->N1);
  EXPECT_EQ(actions[0]->text(), QStringLiteral("Открыть файл"));
  EXPECT_EQ(actions[0]->menu(), nullptr);
  EXPECT_TRUE(actions[0]->shortcut().isEmpty());
  // The open dialog keeps every default.
  EXPECT_TRUE(Form1->OpenDialog1.Filter.isEmpty());
  EXPECT_TRUE(Form1->OpenDialog1.DefaultExt.isEmpty());
}

TEST_F(MainWindowTest, CancelledOpenChangesNothing) {
  ClickOpen();  // the recorder's empty queue answers "cancel"
  EXPECT_EQ(recorder.dialogFilters().size(), 1u);
  EXPECT_TRUE(recorder.messages().empty());
  EXPECT_EQ(windowCount(), 1);
}

TEST_F(MainWindowTest, NamesThatAreNoFileAreRefusedWithoutWindow) {
  const QString missing = dir.filePath(QStringLiteral("нет такого.wav"));
  const QString folder = dir.filePath(QStringLiteral("folder.wav"));
  const QString pipe = dir.filePath(QStringLiteral("pipe.wav"));
  const QString dangling = dir.filePath(QStringLiteral("dangling.wav"));
  ASSERT_TRUE(QDir().mkdir(folder));
  ASSERT_EQ(mkfifo(QFile::encodeName(pipe).constData(), 0600), 0);
  ASSERT_TRUE(QFile::link(missing, dangling));

  const QString device = QStringLiteral("/dev/null");
  for (const QString& name : {missing, folder, pipe, dangling, device}) {
    SCOPED_TRACE(name.toStdString());
    recorder.clear();
    recorder.queueFileName(name);
    ClickOpen();
    const auto messages = recorder.messages();
    ASSERT_EQ(messages.size(), 1u);
    // A pipe or a device exists, but is no regular file.
    const bool exists = name == pipe || name == device;
    EXPECT_EQ(messages[0].text,
              exists ? QStringLiteral("Это не обычный файл.") : QStringLiteral("Файл не существует!"));
    EXPECT_EQ(messages[0].icon, Dialogs::Icon::Stop);
    EXPECT_EQ(messages[0].caption, TApplication::Title());
    EXPECT_EQ(windowCount(), 1);
  }
  // The program goes on: the command still works.
  recorder.clear();
  ClickOpen();
  EXPECT_EQ(recorder.dialogFilters().size(), 1u);
}

TEST_F(MainWindowTest, ClosingTheWelcomeWindowLeavesTheMainWindow) {
  Form2->close();
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_FALSE(Form2);
  ASSERT_TRUE(Form1);
  EXPECT_TRUE(Form1->isVisible());
  EXPECT_EQ(windowCount(), 0);
}

enum Answer { Save, DontSave, Cancel };

// Closing an audio window or the main window while a recording holds edits
// that no file has.
class EditsOnClose : public MainWindowTest {
 protected:
  QString path(const QString& name) const { return dir.filePath(name); }
  QString writeRecording(const QString& name, const std::string& bytes) {
    QFile file(path(name));
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes.data(), qint64(bytes.size())) != qint64(bytes.size()))
      ADD_FAILURE() << "cannot write " << name.toStdString();
    return path(name);
  }
  // One second at 8000 frames per second.
  QString writeRecording(const QString& name) {
    const std::vector<std::int16_t> samples(16000, 1000);
    return writeRecording(name, wavtest::Riff().fmt(2, 8000, 16).data16(samples).bytes());
  }
  QPointer<TForm3> open(const QString& name) {
    recorder.queueFileName(writeRecording(name));
    ClickOpen();
    return Form3;
  }
  // Selects the whole view and cuts it, with the frame's own buttons.
  static void cut(TForm3* form) {
    TFrameTembrix& frame = *form->FrameTembrix1;
    QTest::mouseClick(frame.SpeedButtonSelect, Qt::LeftButton);
    QTest::mouseClick(frame.ButtonSelectCut, Qt::LeftButton);
    ASSERT_TRUE(frame.isModified());
  }
  static QString questionFor(const QString& file) {
    return QStringLiteral("Запись «%1» изменена. Сохранить изменения?").arg(file);
  }
  static void deleteClosed() { QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete); }
};

TEST_F(EditsOnClose, WindowWithoutEditsOrSavedClosesWithoutAQuestion) {
  EXPECT_TRUE(open(QStringLiteral("plain.wav"))->close());
  QPointer<TForm3> saved = open(QStringLiteral("saved.wav"));
  cut(saved);
  recorder.queueFileName(path(QStringLiteral("saved-edit.wav")));
  QTest::mouseClick(saved->FrameTembrix1->ButtonFileSave, Qt::LeftButton);
  EXPECT_TRUE(saved->close());
  EXPECT_TRUE(recorder.questions().empty());
  EXPECT_TRUE(recorder.messages().empty());
}

TEST_F(EditsOnClose, EachAnswerOfTheAudioWindowsQuestion) {
  QPointer<TForm3> form = open(QStringLiteral("запись.wav"));
  cut(form);

  recorder.queueAnswer(Cancel);
  EXPECT_FALSE(form->close());
  ASSERT_EQ(recorder.questions().size(), 1u);
  const Dialogs::Question q = recorder.questions()[0];
  EXPECT_EQ(q.caption, QStringLiteral("Тембрикс"));
  EXPECT_EQ(q.text, questionFor(QStringLiteral("запись.wav")));
  EXPECT_EQ(q.buttons, (QStringList{QStringLiteral("Сохранить"), QStringLiteral("Не сохранять"), QStringLiteral("Отмена")}));
  EXPECT_TRUE(q.hasOwner);

  // "Сохранить" whose save fails (the name exists): the error is shown, the window stays.
  recorder.queueAnswer(Save);
  recorder.queueFileName(writeRecording(QStringLiteral("taken.wav")));
  EXPECT_FALSE(form->close());
  ASSERT_EQ(recorder.messages().size(), 1u);
  EXPECT_EQ(recorder.messages()[0].text, QStringLiteral("Файл уже существует. Невозможно перезаписать!"));
  // "Сохранить" whose dialog is cancelled: nothing saved, the window stays.
  recorder.queueAnswer(Save);
  EXPECT_FALSE(form->close());
  EXPECT_TRUE(form && form->FrameTembrix1->isModified());

  // "Сохранить" that saves: the file holds the edited recording and the window goes.
  recorder.queueAnswer(Save);
  recorder.queueFileName(path(QStringLiteral("edited.wav")));
  EXPECT_TRUE(form->close());
  deleteClosed();
  EXPECT_FALSE(form);
  EXPECT_EQ(QFileInfo(path(QStringLiteral("edited.wav"))).size(), 44 + 4);  // the first frame is left
  EXPECT_EQ(recorder.questions().size(), 4u);

  // "Не сохранять": the window goes and nothing is written.
  QPointer<TForm3> other = open(QStringLiteral("other.wav"));
  cut(other);
  recorder.queueAnswer(DontSave);
  EXPECT_TRUE(other->close());
  deleteClosed();
  EXPECT_FALSE(other);
  EXPECT_EQ(recorder.questions().size(), 5u);
  EXPECT_EQ(recorder.dialogFilters().size(), 5u);  // two opens and three saves: nothing written
}

TEST_F(EditsOnClose, MainWindowAsksForEachEditedWindowInTurnAndStopsAtCancel) {
  QPointer<TForm3> a = open(QStringLiteral("a.wav"));
  cut(a);
  QPointer<TForm3> plain = open(QStringLiteral("plain.wav"));
  QPointer<TForm3> b = open(QStringLiteral("b.wav"));
  cut(b);

  // "Не сохранять" for a, "Отмена" for b: nothing closes, a keeps its edits.
  recorder.queueAnswer(DontSave);
  recorder.queueAnswer(Cancel);
  EXPECT_FALSE(Form1->close());
  deleteClosed();
  ASSERT_TRUE(Form1 && a && b && plain);
  ASSERT_EQ(recorder.questions().size(), 2u);
  EXPECT_EQ(recorder.questions()[0].text, questionFor(QStringLiteral("a.wav")));
  EXPECT_EQ(recorder.questions()[1].text, questionFor(QStringLiteral("b.wav")));
  EXPECT_TRUE(a->FrameTembrix1->isModified());

  // "Отмена" for a stops at once: b is not asked.
  recorder.clear();
  recorder.queueAnswer(Cancel);
  EXPECT_FALSE(Form1->close());
  EXPECT_EQ(recorder.questions().size(), 1u);

  // "Сохранить" for a, "Не сохранять" for b: a is saved and everything closes.
  recorder.clear();
  recorder.queueAnswer(Save);
  recorder.queueFileName(path(QStringLiteral("a-edited.wav")));
  recorder.queueAnswer(DontSave);
  EXPECT_TRUE(Form1->close());
  deleteClosed();
  EXPECT_FALSE(Form1 || a || b || plain);
  EXPECT_EQ(recorder.questions().size(), 2u);  // once each, not again as the windows go
  EXPECT_TRUE(QFileInfo::exists(path(QStringLiteral("a-edited.wav"))));
}

TEST_F(EditsOnClose, OpenShowsTheWaitCursorWhileItWorksAndRestoresItAfterAnError) {
  WaitCursorAtPaint probe;
  ASSERT_TRUE(open(QStringLiteral("a.wav")));
  EXPECT_GT(probe.paintsWithWait, 0);
  EXPECT_FALSE(QGuiApplication::overrideCursor());

  // 31 February: the reader throws in the middle of the open.
  const std::vector<std::int16_t> samples(200, 0);
  recorder.queueFileName(writeRecording(QStringLiteral("bad-date.wav"),
                                        wavtest::Riff().fmt(2, 8000, 16).vctr(0, 12, 31, 2, 20).data16(samples).bytes()));
  ClickOpen();
  ASSERT_EQ(recorder.messages().size(), 1u);
  EXPECT_EQ(recorder.messages()[0].icon, Dialogs::Icon::Stop);
  EXPECT_FALSE(QGuiApplication::overrideCursor());
}

}  // namespace
