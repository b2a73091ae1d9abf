#include "platform/Application.h"
#include "platform/Dialogs.h"
#include "shell/WelcomePage.h"
#include "ShellTestSupport.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QMdiSubWindow>
#include <QTemporaryDir>
#include <QWebEngineView>

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

}  // namespace
