#include "platform/Application.h"
#include "platform/Dialogs.h"
#include "platform/WaitCursor.h"

#include <gtest/gtest.h>

#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <functional>
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

// Runs `act` on the message box as soon as it is up and waiting.
void whenBoxUp(std::function<void(QMessageBox&)> act) {
  auto* timer = new QTimer;
  QObject::connect(timer, &QTimer::timeout, [timer, act] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (!box) return;
    timer->stop();
    timer->deleteLater();
    act(*box);
  });
  timer->start(10);
}

TEST(QuestionBox, AnswersTheChosenButtonEscapeTheLastAndShowsTheArrowMeanwhile) {
  const QStringList buttons{QStringLiteral("Сохранить"), QStringLiteral("Не сохранять"), QStringLiteral("Отмена")};
  const TWaitCursor busy;
  QStringList shown;
  Qt::CursorShape pointer = Qt::BlankCursor;
  whenBoxUp([&](QMessageBox& box) {
    for (QAbstractButton* b : box.buttons()) shown << b->text();
    EXPECT_EQ(box.defaultButton(), box.buttons().front());
    pointer = QGuiApplication::overrideCursor()->shape();
    box.buttons()[1]->click();
  });
  EXPECT_EQ(Dialogs::Ask(nullptr, QStringLiteral("?"), QStringLiteral("Тембрикс"), buttons), 1);
  EXPECT_EQ(shown, buttons);
  EXPECT_EQ(pointer, Qt::ArrowCursor);

  whenBoxUp([](QMessageBox& box) { QTest::keyClick(&box, Qt::Key_Escape); });
  EXPECT_EQ(Dialogs::Ask(nullptr, QStringLiteral("?"), QStringLiteral("Тембрикс"), buttons), 2);
  EXPECT_EQ(QGuiApplication::overrideCursor()->shape(), Qt::WaitCursor);  // back once the box is gone
}

}  // namespace
