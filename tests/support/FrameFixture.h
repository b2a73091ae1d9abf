// The fixture of the editor's and the playback's frame tests: a fresh audio
// frame with a temporary folder for its files, and the dialogs answered by a
// recorder. A fixture made with Shown::Yes lays the frame out as the open flow
// does and shows it before each test.
#pragma once

#include "editor/Tembrix.h"
#include "platform/Dialogs.h"
#include "shell/FrameLayout.h"
#include "WaitFor.h"

#include <gtest/gtest.h>

#include <QString>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

class FrameFixture : public ::testing::Test {
 protected:
  enum class Shown { No, Yes };
  explicit FrameFixture(Shown shown = Shown::Yes) : shown_(shown) {}

  void SetUp() override {
    Dialogs::setResponder(&recorder);
    frame = std::make_unique<TFrameTembrix>();
    if (shown_ == Shown::No) return;
    frame->resize(1000, 700);
    LayOutFrame(*frame);
    frame->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(frame.get()));
  }
  void TearDown() override {
    frame.reset();
    Dialogs::setResponder(nullptr);
  }

  // A file in the temporary folder.
  QString path(const char* name) const { return dir.path() + u'/' + QString::fromUtf8(name); }
  // Opens `file` in the frame as the open flow does.
  void load(const QString& file) {
    frame->arReportPath = file;
    frame->arReverse = false;
    frame->InputWaveFile();
  }

  QTemporaryDir dir;
  Dialogs::Recorder recorder;
  std::unique_ptr<TFrameTembrix> frame;

 private:
  Shown shown_;
};
