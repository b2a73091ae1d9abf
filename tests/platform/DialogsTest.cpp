#include "Application.h"
#include "Dialogs.h"

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

TEST_F(DialogsTest, ExceptionEscapingAHandlerIsShownAndTheProgramGoesOn) {
  QPushButton button;
  int clicks = 0;
  QObject::connect(&button, &QPushButton::clicked, [&] {
    ++clicks;
    throw std::runtime_error("Файл уже существует. Невозможно перезаписать!");
  });
  button.show();
  QTest::mouseClick(&button, Qt::LeftButton);
  QTest::mouseClick(&button, Qt::LeftButton);
  EXPECT_EQ(clicks, 2);
  const auto messages = recorder.messages();
  ASSERT_EQ(messages.size(), 2u);
  EXPECT_EQ(messages[0].text, QStringLiteral("Файл уже существует. Невозможно перезаписать!"));
  EXPECT_EQ(messages[0].icon, Dialogs::Icon::Stop);
  EXPECT_EQ(messages[0].caption, TApplication::Title());
  EXPECT_FALSE(messages[0].hasOwner);
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
