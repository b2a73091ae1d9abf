// Starts the real program as a user would and ends it as the session would.
#include "WaveBuilder.h"

#include <gtest/gtest.h>

#include <QByteArray>
#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>
#include <QThread>

#include <csignal>
#include <cstdint>

namespace {

// The environment of a program under test: offscreen, and under the sanitizer
// build the web engine's own mismatched deletes do not count against ours.
QProcessEnvironment programEnvironment() {
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
  env.insert(QStringLiteral("ASAN_OPTIONS"),
             env.value(QStringLiteral("ASAN_OPTIONS"), QStringLiteral("detect_leaks=1")) +
                 QStringLiteral(":new_delete_type_mismatch=0"));
  return env;
}

// One second of a two-channel PCM recording at 8000 frames per second.
QString writeWav(const QString& path, std::uint16_t bits) {
  const std::string silence(std::size_t(8000 * 2 * bits / 8), bits == 8 ? char(128) : char(0));
  const std::string b = wavtest::Riff().fmt(2, 8000, bits).chunk("data", silence).bytes();
  QFile f(path);
  if (!f.open(QIODevice::WriteOnly) || f.write(b.data(), qint64(b.size())) != qint64(b.size()))
    ADD_FAILURE() << "cannot write " << path.toStdString();
  return path;
}

}  // namespace

TEST(Program, StartsOffscreenAndEndsCleanlyOnTermination) {
  QProcess program;
  program.setProcessEnvironment(programEnvironment());
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

namespace {

// A termination signal while a dialog or a message box of the program is up
// ends the run as closing the main window does: every window freed, exit 0.
struct TerminationCase {
  const char* name;
  QStringList arguments;  // of the driver; "%1" stands for the folder
  QString modal;          // what the driver reports as up
};
void PrintTo(const TerminationCase& c, std::ostream* out) { *out << c.name; }

class TerminationWithModalUp : public testing::TestWithParam<TerminationCase> {};

}  // namespace

TEST_P(TerminationWithModalUp, EndsCleanlyWithCodeZero) {
  QTemporaryDir dir;
  writeWav(dir.filePath(QStringLiteral("16.wav")), 16);
  writeWav(dir.filePath(QStringLiteral("8.wav")), 8);
  QStringList arguments = GetParam().arguments;
  for (QString& a : arguments) a = a.arg(dir.path());

  QProcess driver;
  driver.setProcessEnvironment(programEnvironment());
  driver.setProcessChannelMode(QProcess::SeparateChannels);
  driver.setReadChannel(QProcess::StandardOutput);
  driver.start(QStringLiteral(TEMBRIX_TERMINATION_DRIVER), arguments);
  ASSERT_TRUE(driver.waitForStarted(10000));
  QString reported;
  while (reported.isEmpty() && driver.state() == QProcess::Running) {
    if (!driver.canReadLine() && !driver.waitForReadyRead(60000)) break;
    while (driver.canReadLine()) {
      const QString line = QString::fromUtf8(driver.readLine()).trimmed();
      if (line.startsWith(QStringLiteral("modal "))) reported = line.mid(6);
    }
  }
  ASSERT_EQ(reported, GetParam().modal) << driver.readAllStandardError().toStdString();
  // The modal loop is running now.
  QThread::msleep(300);
  ::kill(static_cast<pid_t>(driver.processId()), SIGTERM);
  ASSERT_TRUE(driver.waitForFinished(30000));
  const QString rest = QString::fromUtf8(driver.readAllStandardOutput());
  const std::string errors = driver.readAllStandardError().toStdString();
  EXPECT_EQ(driver.exitStatus(), QProcess::NormalExit) << errors;
  EXPECT_EQ(driver.exitCode(), 0) << errors;
  EXPECT_TRUE(rest.contains(QStringLiteral("ended 0"))) << rest.toStdString() << errors;
}

INSTANTIATE_TEST_SUITE_P(
    Program, TerminationWithModalUp,
    testing::Values(TerminationCase{"OpenDialog", {QStringLiteral("open")}, QStringLiteral("QFileDialog|Открыть")},
                    TerminationCase{"SaveDialog",
                                    {QStringLiteral("save"), QStringLiteral("%1/16.wav")},
                                    QStringLiteral("QFileDialog|Сохранить как")},
                    TerminationCase{"PlayFormatMismatchBox",
                                    {QStringLiteral("play"), QStringLiteral("%1/8.wav")},
                                    QStringLiteral("QMessageBox|Несоответствие формата")},
                    TerminationCase{"QuestionAboutEdits",
                                    {QStringLiteral("close"), QStringLiteral("%1/16.wav")},
                                    QStringLiteral("QMessageBox|Тембрикс")}),
    [](const testing::TestParamInfo<TerminationCase>& info) { return std::string(info.param.name); });
