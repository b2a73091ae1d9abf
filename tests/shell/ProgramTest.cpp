// Starts the real program as a user would and ends it as the session would.
#include <gtest/gtest.h>

#include <QProcess>
#include <QProcessEnvironment>
#include <QThread>

#include <csignal>

TEST(Program, StartsOffscreenAndEndsCleanlyOnTermination) {
  QProcess program;
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
  // The web engine's own code deletes objects with mismatched sizes; under the
  // sanitizer build that must not count against ours. Leaks are still checked.
  env.insert(QStringLiteral("ASAN_OPTIONS"),
             env.value(QStringLiteral("ASAN_OPTIONS"), QStringLiteral("detect_leaks=1")) +
                 QStringLiteral(":new_delete_type_mismatch=0"));
  program.setProcessEnvironment(env);
  program.setProcessChannelMode(QProcess::ForwardedChannels);
  program.start(QStringLiteral(TEMBRIX_BINARY), {});
  ASSERT_TRUE(program.waitForStarted(10000));
  // Give it time to build its windows and start the web engine.
  EXPECT_FALSE(program.waitForFinished(3000)) << "the program ended by itself";
  ASSERT_EQ(program.state(), QProcess::Running);
  ::kill(static_cast<pid_t>(program.processId()), SIGTERM);
  ASSERT_TRUE(program.waitForFinished(30000));
  EXPECT_EQ(program.exitStatus(), QProcess::NormalExit);
  EXPECT_EQ(program.exitCode(), 0);
}
