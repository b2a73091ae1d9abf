#include "platform/Application.h"
#include "platform/Dialogs.h"

#include <gtest/gtest.h>

#include <QPushButton>
#include <QTest>

#include <stdexcept>

namespace {

struct RecorderInstalled : testing::Test {
  Dialogs::Recorder recorder;
  void SetUp() override { Dialogs::setResponder(&recorder); }
  void TearDown() override { Dialogs::setResponder(nullptr); }
};

using DialogsTest = RecorderInstalled;

// An object whose event handler fails with the editor's own message.
class FailingReceiver : public QObject {
 public:
  int events = 0;
  bool event(QEvent* e) override {
    if (e->type() != QEvent::User) return QObject::event(e);
    ++events;
    throw std::runtime_error("Файл уже существует. Невозможно перезаписать!");
  }
};

TEST_F(DialogsTest, ExceptionEscapingAnEventHandlerIsShownAndTheProgramGoesOn) {
  FailingReceiver receiver;
  QEvent first(QEvent::User), second(QEvent::User);
  QCoreApplication::sendEvent(&receiver, &first);
  QCoreApplication::sendEvent(&receiver, &second);
  EXPECT_EQ(receiver.events, 2);
  const auto messages = recorder.messages();
  ASSERT_EQ(messages.size(), 2u);
  EXPECT_EQ(messages[0].text, QStringLiteral("Файл уже существует. Невозможно перезаписать!"));
  EXPECT_EQ(messages[0].icon, Dialogs::Icon::Stop);
  EXPECT_EQ(messages[0].caption, TApplication::Title());
  EXPECT_FALSE(messages[0].hasOwner);
}

TEST_F(DialogsTest, GuardedClickHandlerShowsItsExceptionLikeTheDefaultHandler) {
  QPushButton button;
  int clicks = 0;
  QObject::connect(&button, &QPushButton::clicked, [&] {
    TApplication::Guard([&] {
      ++clicks;
      throw std::runtime_error("Файл не существует!");
    });
  });
  button.show();
  QTest::mouseClick(&button, Qt::LeftButton);
  QTest::mouseClick(&button, Qt::LeftButton);
  EXPECT_EQ(clicks, 2);
  const auto messages = recorder.messages();
  ASSERT_EQ(messages.size(), 2u);
  EXPECT_EQ(messages[1].text, QStringLiteral("Файл не существует!"));
  EXPECT_EQ(messages[1].icon, Dialogs::Icon::Stop);
}

TEST_F(DialogsTest, FileDialogAppendsTheDefaultExtensionOnlyWhenTheNameHasNone) {
  Dialogs::TFileDialog save(Dialogs::FileDialogKind::Save);
  save.Filter = QStringLiteral("wav|*.wav");
  save.DefaultExt = QStringLiteral("wav");
  recorder.queueFileName(QStringLiteral("/tmp/out"));
  recorder.queueFileName(QStringLiteral("/tmp/out.raw"));
  recorder.queueFileName(std::nullopt);
  ASSERT_TRUE(save.Execute(nullptr));
  EXPECT_EQ(save.FileName, QStringLiteral("/tmp/out.wav"));
  ASSERT_TRUE(save.Execute(nullptr));
  EXPECT_EQ(save.FileName, QStringLiteral("/tmp/out.raw"));
  EXPECT_FALSE(save.Execute(nullptr));
  EXPECT_EQ(save.FileName, QStringLiteral("/tmp/out.raw"));
  EXPECT_EQ(recorder.dialogFilters().size(), 3u);
}

}  // namespace
