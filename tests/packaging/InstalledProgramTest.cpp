// The installed program, run from a copy of an install tree: the tree that
// `cmake --install` makes (ctest), or the contents of the Debian package
// (TEMBRIX_INSTALL_PREFIX=<dpkg -x root>/usr, from CI). The program runs
// offscreen with InstalledDriver preloaded, which works its real dialogs.
#include "WaveBuilder.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>

#include <cmath>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <map>
#include <sys/stat.h>
#include <tuple>

namespace fs = std::filesystem;

namespace {

const QStringList LibraryFiles{"ippcore-7.0.dll", "ipps-7.0.dll", "ippsw7-7.0.dll", "libiomp5md.dll"};

QString fromEnvOr(const char* name, const char* fallback) {
  const QByteArray value = qgetenv(name);
  return QString::fromUtf8(value.isEmpty() ? QByteArray(fallback) : value);
}

QString installPrefix() { return fromEnvOr("TEMBRIX_INSTALL_PREFIX", TEMBRIX_TEST_INSTALL_PREFIX); }
QString driverLibrary() { return fromEnvOr("TEMBRIX_DRIVER", TEMBRIX_TEST_DRIVER); }

// A second of a 440 Hz tone, two channels, 16 bits, 22050 samples per second.
void writeRecording(const fs::path& path) {
  constexpr std::uint32_t rate = 22050, frames = 22050;
  std::vector<std::int16_t> samples;
  for (std::uint32_t i = 0; i < frames; ++i) {
    const auto v = static_cast<std::int16_t>(std::lround(8000 * std::sin(2 * M_PI * 440 * i / rate)));
    samples.push_back(v), samples.push_back(static_cast<std::int16_t>(-v));
  }
  std::ofstream(path, std::ios::binary) << wavtest::Riff().fmt(2, rate, 16).data16(samples).bytes();
}

// Name → (kind, size, modification time) of every entry of a folder.
using Snapshot = std::map<std::string, std::tuple<bool, std::uintmax_t, fs::file_time_type>>;
Snapshot snapshot(const fs::path& dir) {
  Snapshot s;
  for (const auto& e : fs::directory_iterator(dir))
    s[e.path().filename()] = {e.is_directory(), e.is_regular_file() ? e.file_size() : 0, e.last_write_time()};
  return s;
}

struct Outcome {
  int exitCode = -1;
  QStringList log;
  bool has(const QString& line) const { return log.contains(line); }
  QStringList starting(const QString& prefix) const {
    QStringList out;
    for (const QString& l : log)
      if (l.startsWith(prefix)) out << l.mid(prefix.size());
    return out;
  }
};

// A copy of the install tree in a temporary folder, and the program started
// from it through its launcher.
class InstalledCopy : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(temp.isValid());
    const fs::path source = installPrefix().toStdString();
    ASSERT_TRUE(fs::exists(source / "bin/tembrix")) << "no install tree at " << source;
    prefix = fs::path(temp.path().toStdString()) / "prefix";
    fs::copy(source, prefix, fs::copy_options::recursive | fs::copy_options::copy_symlinks);
    privateDir = prefix / "lib/tembrix";
  }
  void TearDown() override {
    // Give the folder back its write permission so that it can be removed.
    if (fs::exists(privateDir)) fs::permissions(privateDir, fs::perms::owner_all, fs::perm_options::add);
  }

  Outcome start(const QString& recording = {}) {
    const QString log = temp.filePath(QStringLiteral("driver.log"));
    QFile::remove(log);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    env.insert("LD_PRELOAD", driverLibrary());
    env.insert("TEMBRIX_DRIVER_LOG", log);
    if (recording.isEmpty())
      env.remove("TEMBRIX_DRIVER_OPEN");
    else
      env.insert("TEMBRIX_DRIVER_OPEN", recording);
    QProcess program;
    program.setProcessEnvironment(env);
    program.setProcessChannelMode(QProcess::ForwardedChannels);
    program.start(QString::fromStdString((prefix / "bin/tembrix").string()), {});
    Outcome run;
    if (!program.waitForFinished(120000)) {
      program.kill();
      program.waitForFinished();
      ADD_FAILURE() << "the program did not end";
    } else if (program.exitStatus() == QProcess::NormalExit) {
      run.exitCode = program.exitCode();
    }
    QFile f(log);
    if (f.open(QIODevice::ReadOnly)) run.log = QString::fromUtf8(f.readAll()).split(u'\n', Qt::SkipEmptyParts);
    return run;
  }

  QString privateFile(const QString& name) const {
    return QString::fromStdString(fs::canonical(privateDir).string()) + u'/' + name;
  }

  QTemporaryDir temp;
  fs::path prefix;
  fs::path privateDir;
};

TEST(InstallTree, HoldsTheProgramBesideItsLibraryAndTheDesktopFiles) {
  const fs::path prefix = installPrefix().toStdString();
  auto mode = [](const fs::path& p) {
    struct stat st {};
    return ::stat(p.c_str(), &st) == 0 ? st.st_mode & 07777 : 0u;
  };
  EXPECT_EQ(mode(prefix / "bin/tembrix"), 0755u);
  EXPECT_EQ(mode(prefix / "lib/tembrix/tembrix"), 0755u);
  for (const QString& name : LibraryFiles)
    EXPECT_EQ(mode(prefix / "lib/tembrix" / name.toStdString()), 0644u) << name.toStdString();
  for (const char* file : {"share/applications/example.zarnit.tembrix.desktop",
                           "share/metainfo/example.zarnit.tembrix.metainfo.xml",
                           "share/icons/hicolor/scalable/apps/tembrix.svg", "share/man/man1/tembrix.1.gz",
                           "share/doc/tembrix/copyright", "share/doc/tembrix/changelog.Debian.gz"})
    EXPECT_EQ(mode(prefix / file), 0644u) << file;
}

TEST_F(InstalledCopy, LauncherStartsTheExecutableInThePrivateFolder) {
  const Outcome run = start();
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_EQ(run.starting("start "), QStringList{privateFile("tembrix")});
  EXPECT_EQ(run.starting("main-window Тембрикс").size(), 1) << run.log.join(u'\n').toStdString();
  EXPECT_TRUE(run.starting("message ").isEmpty());
}

TEST_F(InstalledCopy, OpensARecordingWithTheLibraryFromItsOwnFolderAndWritesNothing) {
  const fs::path recording = fs::path(temp.path().toStdString()) / "tone.wav";
  writeRecording(recording);
  const Snapshot before = snapshot(privateDir);

  const Outcome run = start(QString::fromStdString(recording.string()));

  EXPECT_EQ(run.exitCode, 0);
  EXPECT_TRUE(run.has(QStringLiteral("file-dialog")));
  EXPECT_TRUE(run.has(QStringLiteral("audio-window Аудио"))) << run.log.join(u'\n').toStdString();
  EXPECT_TRUE(run.starting("message ").isEmpty()) << run.log.join(u'\n').toStdString();
  QStringList expected;
  for (const QString& name : LibraryFiles) expected << privateFile(name);
  QStringList mapped = run.starting("mapped ");
  mapped.sort();
  EXPECT_EQ(mapped, expected);
  EXPECT_TRUE(snapshot(privateDir) == before) << "the program changed its installed folder";
}

// The library is gone and cannot be put back: the folder refuses the entry
// file (a folder stands at its name, which stops root as well) and, for
// anyone but root, every other file too.
TEST_F(InstalledCopy, WithoutLibraryAndUnwritableFolderShowsTheErrorAndEndsWithCode1) {
  const fs::path recording = fs::path(temp.path().toStdString()) / "tone.wav";
  writeRecording(recording);
  for (const QString& name : LibraryFiles) fs::remove(privateDir / name.toStdString());
  fs::create_directory(privateDir / "ipps-7.0.dll");
  fs::permissions(privateDir, fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                  fs::perm_options::remove);

  const Outcome run = start(QString::fromStdString(recording.string()));

  EXPECT_EQ(run.exitCode, 1);
  const QStringList messages = run.starting("message ");
  ASSERT_EQ(messages.size(), 1) << run.log.join(u'\n').toStdString();
  EXPECT_TRUE(messages[0].startsWith(QStringLiteral("stop|"))) << messages[0].toStdString();
  EXPECT_TRUE(messages[0].contains(QStringLiteral("Не удается загрузить библиотеки обработки сигнала")));
  EXPECT_TRUE(messages[0].contains(QStringLiteral("Дальнейшая работа невозможна")));
  EXPECT_FALSE(run.has(QStringLiteral("audio-window Аудио")));
  EXPECT_TRUE(run.starting("mapped ").isEmpty());
}

}  // namespace
