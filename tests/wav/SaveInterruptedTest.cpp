#include "WaveTestSupport.h"

#include <fcntl.h>
#include <linux/capability.h>
#include <sys/file.h>
#include <sys/syscall.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <set>

using namespace wavtest;

namespace {

::testing::Environment* const library = ::testing::AddGlobalTestEnvironment(new LibraryEnvironment);

using WaveFile::TSaveWay;
const TSaveWay allWays[] = {TSaveWay::LinkDescriptor, TSaveWay::LinkThroughProc, TSaveWay::HiddenName};

std::set<std::string> listing(const TempDir& dir) {
  std::set<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(dir.path())) names.insert(entry.path().filename());
  return names;
}

bool isHidden(const std::string& name) { return name.rfind(".tembrix-save-", 0) == 0; }

// The state the step hook works on: it counts the steps of a save and, at `stepToStop`,
// kills the process or runs `atStep`.
int stepsTaken = 0;
int stepToStop = 0;
void (*atStep)() = nullptr;
void countStep() {
  if (++stepsTaken == stepToStop) atStep != nullptr ? atStep() : void(::raise(SIGKILL));
}

class WaveSave : public ::testing::Test {
 protected:
  static constexpr int frames = 50000;  // four writes of the file's bytes
  TempDir dir;
  Buffers b;

  WaveSave() {
    b.time = IPPDynamic::IIPP_MallocDouble(frames);
    b.left = IPPDynamic::IIPP_MallocDouble(frames);
    b.right = IPPDynamic::IIPP_MallocDouble(frames);
    for (int j = 0; j < frames; ++j) {
      b.time[j] = (j + 1) / 8000.0;
      b.left[j] = j % 30000;
      b.right[j] = -(j % 20000);
    }
  }
  ~WaveSave() override {
    WaveFile::SaveWay = TSaveWay::LinkDescriptor;
    WaveFile::BeforeSaveStep = nullptr;
    atStep = nullptr;
  }
  void save(const std::string& path) { WaveFile::SaveDataToWavFile(path, false, b.time, b.left, b.right, frames); }
  void expectComplete(const std::string& path) {
    Loaded r = load(path);
    ASSERT_TRUE(r.isWave);
    ASSERT_EQ(r.frames, frames);
    EXPECT_EQ(r.left.back(), b.left[frames - 1]);
    EXPECT_EQ(r.right.back(), b.right[frames - 1]);
  }
  // Saves `path` in a child process that is killed at the given step of the save.
  void saveKilledAt(TSaveWay way, const std::string& path, int step) {
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      WaveFile::SaveWay = way;
      WaveFile::BeforeSaveStep = countStep;
      stepsTaken = 0;
      stepToStop = step;
      try {
        save(path);
      } catch (...) {
      }
      ::_exit(0);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << "step " << step;
  }
};

TEST_F(WaveSave, KilledAtAnyStepLeavesNoFileUnderTheNameAndNothingElseNew) {
  const std::string target = dir.file("out.wav");
  dir.write("other.wav", "keep");
  WaveFile::BeforeSaveStep = countStep;
  stepsTaken = 0;
  save(dir.file("count.wav"));
  std::filesystem::remove(dir.file("count.wav"));
  const int steps = stepsTaken;
  ASSERT_EQ(steps, 5);  // four writes and the link

  for (TSaveWay way : allWays) {
    SCOPED_TRACE(int(way));
    for (int step = 1; step <= steps; ++step) {
      saveKilledAt(way, target, step);
      std::set<std::string> left = listing(dir);
      EXPECT_EQ(left.count("out.wav"), 0u) << "step " << step;
      left.erase("other.wav");
      if (way == TSaveWay::HiddenName) {
        // At most the hidden file of the killed save, which the next save removes.
        ASSERT_LE(left.size(), 1u);
        for (const std::string& name : left) EXPECT_TRUE(isHidden(name)) << name;
        WaveFile::SaveWay = way;
        save(dir.file("next.wav"));
        EXPECT_EQ(listing(dir), (std::set<std::string>{"other.wav", "next.wav"}));
        std::filesystem::remove(dir.file("next.wav"));
      } else {
        EXPECT_TRUE(left.empty()) << "step " << step << ": " << left.size() << " new";
      }
    }
  }
  WaveFile::SaveWay = TSaveWay::LinkDescriptor;
  WaveFile::BeforeSaveStep = nullptr;
  save(target);
  expectComplete(target);
  EXPECT_EQ(readFile(dir.file("other.wav")), "keep");
}

TEST_F(WaveSave, EveryWayWritesTheSameFileWithTheUsualPermissions) {
  std::string first;
  for (mode_t mask : {022, 077}) {
    for (TSaveWay way : allWays) {
      SCOPED_TRACE(int(way));
      WaveFile::SaveWay = way;
      const std::string path = dir.file("out.wav");
      const mode_t saved = ::umask(mask);
      save(path);
      ::umask(saved);
      struct stat info {};
      ASSERT_EQ(::stat(path.c_str(), &info), 0);
      EXPECT_EQ(info.st_mode & 07777, 0666 & ~mask);
      EXPECT_EQ(info.st_nlink, 1u);
      EXPECT_EQ(listing(dir), std::set<std::string>{"out.wav"});
      const std::string bytes = readFile(path);
      if (first.empty()) first = bytes;
      EXPECT_EQ(bytes, first);
      std::filesystem::remove(path);
    }
  }
  EXPECT_EQ(first.size(), 44u + 4 * frames);
}

// An ordinary user cannot link a descriptor itself: the save then takes the
// descriptor's name under /proc, with the same result.
TEST_F(WaveSave, WithoutTheCapabilityToLinkADescriptorTheSaveStillSucceeds) {
  const std::string path = dir.file("out.wav");
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct caps[2]{};
    if (::syscall(SYS_capget, &header, caps) != 0) ::_exit(3);
    caps[CAP_TO_INDEX(CAP_DAC_READ_SEARCH)].effective &= ~CAP_TO_MASK(CAP_DAC_READ_SEARCH);
    if (::syscall(SYS_capset, &header, caps) != 0) ::_exit(4);
    try {
      save(path);
    } catch (...) {
      ::_exit(1);
    }
    ::_exit(0);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  ASSERT_EQ(WEXITSTATUS(status), 0);
  EXPECT_EQ(listing(dir), std::set<std::string>{"out.wav"});
  expectComplete(path);
}

std::string takenName;
void takeTheName() { std::ofstream(takenName) << "precious"; }

TEST_F(WaveSave, ANameTakenWhileWritingIsNeverReplaced) {
  takenName = dir.file("out.wav");
  for (TSaveWay way : allWays) {
    SCOPED_TRACE(int(way));
    WaveFile::SaveWay = way;
    WaveFile::BeforeSaveStep = countStep;
    stepsTaken = 0;
    stepToStop = 5;  // just before the link
    atStep = takeTheName;
    try {
      save(takenName);
      FAIL() << "saved";
    } catch (const WaveFile::EFCreateError& e) {
      EXPECT_EQ(std::string(e.what()), "Cannot create file \"" + takenName + "\". File exists");
    }
    EXPECT_EQ(readFile(takenName), "precious");
    EXPECT_EQ(listing(dir), std::set<std::string>{"out.wav"});
    std::filesystem::remove(takenName);
  }
}

TEST_F(WaveSave, TheNextSaveRemovesStaleHiddenFilesButNotOnesInUse) {
  dir.write(".tembrix-save-ab12cd", "left by a save that was killed");
  dir.write(".tembrix-save-notours", "a name of another length");
  dir.write(".tembrix-save-zz99zz", "a save in progress");
  const int inUse = ::open(dir.file(".tembrix-save-zz99zz").c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_GE(inUse, 0);
  ASSERT_EQ(::flock(inUse, LOCK_EX), 0);
  WaveFile::SaveWay = TSaveWay::HiddenName;
  save(dir.file("out.wav"));
  ::close(inUse);
  EXPECT_EQ(listing(dir), (std::set<std::string>{".tembrix-save-notours", ".tembrix-save-zz99zz", "out.wav"}));
  expectComplete(dir.file("out.wav"));
}

}  // namespace
