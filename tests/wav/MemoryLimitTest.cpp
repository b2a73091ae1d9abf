#include "wav/AvailableMemory.h"
#include "WaveTestSupport.h"

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <limits>

using namespace wavtest;

namespace {

::testing::Environment* const library = ::testing::AddGlobalTestEnvironment(new LibraryEnvironment);

constexpr std::uint64_t MiB = 1024 * 1024;

// A stereo 16-bit file whose "data" chunk declares `dataBytes`, all of them present
// but never written: the file system keeps it sparse.
std::string sparseRecording(const TempDir& dir, const std::string& name, std::uint32_t dataBytes) {
  std::string path = dir.write(name, Riff().fmt(2, 44100, 16).chunkDeclaring("data", dataBytes, "").bytes());
  std::filesystem::resize_file(path, 44 + std::uint64_t(dataBytes));
  return path;
}

// Puts a small figure in place of the system's for one test.
class WaveMemory : public ::testing::Test {
 protected:
  TempDir dir;
  ~WaveMemory() override { WaveFile::AvailableMemory = WaveFile::SystemAvailableMemory; }
};

TEST_F(WaveMemory, ARecordingLargerThanTheMemoryAvailableIsRefusedBeforeAnythingIsAllocated) {
  Buffers b;
  TDateTime date;
  ASSERT_TRUE(WaveFile::GetWaveInfo(dir.write("small.wav", Riff().fmt(2, 8000, 16).data16({1, 2, 3, 4}).bytes()), date));
  ASSERT_EQ(WaveFile::LoadWaveData("", false, b.time, b.left, b.right), 2);
  const pDoubleArray before[3] = {b.time, b.left, b.right};

  // 400 MB of declared samples want 3 x 2^27 doubles, 3 GiB, in a 1 GiB machine.
  WaveFile::AvailableMemory = [] { return 1024 * MiB; };
  ASSERT_TRUE(WaveFile::GetWaveInfo(sparseRecording(dir, "huge.wav", 400000000u), date));
  try {
    WaveFile::LoadWaveData("", false, b.time, b.left, b.right);
    FAIL() << "loaded";
  } catch (const WaveFile::EOutOfMemory& e) {
    EXPECT_STREQ(e.what(), "Not enough memory for a recording of 100000000 frames");
  }
  EXPECT_EQ(b.time, before[0]);
  EXPECT_EQ(b.left, before[1]);
  EXPECT_EQ(b.right, before[2]);
  EXPECT_EQ(b.right[1], 4);

  // The figure counts all three buffers at their full length: 100000 frames take
  // 3 x 131072 x 8 bytes.
  const std::string path = dir.write("mid.wav", Riff().fmt(1, 8000, 16).data16(std::vector<std::int16_t>(100000, 5)).bytes());
  WaveFile::AvailableMemory = [] { return 3 * 131072 * 8 - std::uint64_t(1); };
  ASSERT_TRUE(WaveFile::GetWaveInfo(path, date));
  EXPECT_THROW(WaveFile::LoadWaveData("", false, b.time, b.left, b.right), WaveFile::EOutOfMemory);
  WaveFile::AvailableMemory = [] { return 3 * 131072 * std::uint64_t(8); };
  ASSERT_TRUE(WaveFile::GetWaveInfo(path, date));
  EXPECT_EQ(WaveFile::LoadWaveData("", false, b.time, b.left, b.right), 100000);
}

// A file tree standing for /proc and /sys/fs/cgroup.
class FakeSystem {
 public:
  void put(const std::string& relative, const std::string& text) const {
    std::filesystem::path p = dir_.path() / relative;
    std::filesystem::create_directories(p.parent_path());
    std::ofstream(p) << text;
  }
  std::uint64_t available(std::uint64_t addressSpaceLimit = std::numeric_limits<std::uint64_t>::max()) const {
    return WaveFile::AvailableMemoryUnder(dir_.path().string(), addressSpaceLimit);
  }

 private:
  TempDir dir_;
};

TEST(WaveAvailableMemory, TheLeastOfTheSystemTheControlGroupsAndTheAddressSpace) {
  FakeSystem sys;
  EXPECT_EQ(sys.available(), std::numeric_limits<std::uint64_t>::max());  // nothing to read

  sys.put("proc/meminfo", "MemTotal:       24683728 kB\nMemFree:  1 kB\nMemAvailable:    8000000 kB\n");
  EXPECT_EQ(sys.available(), 8000000 * std::uint64_t(1024));

  // cgroup v1: the group's limit minus its usage without the inactive file cache,
  // and each group above it; the root's "no limit" is a huge number.
  sys.put("proc/self/cgroup", "5:cpu,cpuacct:/x\n4:memory:/a/b\n0::/\n");
  sys.put("sys/fs/cgroup/memory/a/b/memory.limit_in_bytes", std::to_string(1024 * MiB));
  sys.put("sys/fs/cgroup/memory/a/b/memory.usage_in_bytes", std::to_string(900 * MiB));
  sys.put("sys/fs/cgroup/memory/a/b/memory.stat", "cache 1\ninactive_file 7\ntotal_inactive_file " + std::to_string(300 * MiB) + "\n");
  sys.put("sys/fs/cgroup/memory/memory.limit_in_bytes", "9223372036854771712\n");
  sys.put("sys/fs/cgroup/memory/memory.usage_in_bytes", std::to_string(5000 * MiB));
  EXPECT_EQ(sys.available(), 424 * MiB);
  sys.put("sys/fs/cgroup/memory/a/memory.limit_in_bytes", std::to_string(500 * MiB));
  sys.put("sys/fs/cgroup/memory/a/memory.usage_in_bytes", std::to_string(200 * MiB));
  EXPECT_EQ(sys.available(), 300 * MiB);
  sys.put("sys/fs/cgroup/memory/a/memory.usage_in_bytes", std::to_string(600 * MiB));
  EXPECT_EQ(sys.available(), 0u);  // a group already above its limit

  // cgroup v2: "max" sets no limit; the parent's does.
  sys.put("proc/self/cgroup", "0::/user/app\n");
  sys.put("sys/fs/cgroup/user/app/memory.max", "max\n");
  sys.put("sys/fs/cgroup/user/app/memory.current", "123\n");
  sys.put("sys/fs/cgroup/user/memory.max", std::to_string(2048 * MiB));
  sys.put("sys/fs/cgroup/user/memory.current", std::to_string(1600 * MiB));
  sys.put("sys/fs/cgroup/user/memory.stat", "anon 5\ninactive_file " + std::to_string(64 * MiB) + "\n");
  EXPECT_EQ(sys.available(), 512 * MiB);

  // The address-space limit leaves what the process has not mapped yet.
  sys.put("proc/self/status", "Name:\tx\nVmPeak:\t  999999 kB\nVmSize:\t  102400 kB\n");
  EXPECT_EQ(sys.available(100 * MiB + 5 * MiB), 5 * MiB);
  EXPECT_EQ(sys.available(50 * MiB), 0u);
}

TEST(WaveAvailableMemory, TheRunningSystemsFigureIsWithinItsMemory) {
  std::uint64_t totalKiB = 0;
  std::ifstream meminfo("/proc/meminfo");
  std::string key;
  while (meminfo >> key && key != "MemTotal:") {}
  meminfo >> totalKiB;
  const std::uint64_t available = WaveFile::SystemAvailableMemory();
  EXPECT_GT(available, 0u);
  EXPECT_LE(available, totalKiB * 1024);
}

// The process's own memory group (cgroup v1), or "" when there is none to use.
std::string ownMemoryGroup() {
  std::ifstream in("/proc/self/cgroup");
  std::string line;
  while (std::getline(in, line)) {
    const std::size_t colon = line.find(':');
    if (line.compare(colon + 1, 8, "memory:/") == 0) return "/sys/fs/cgroup/memory" + line.substr(colon + 8);
  }
  return "";
}

bool writeText(const std::string& path, const std::string& text) {
  std::ofstream out(path);
  out << text;
  out.flush();
  return static_cast<bool>(out);
}

// A real memory group of 64 MiB: a process in it that opens a recording wanting
// 800 MB gets the message, where it used to be killed while filling the buffers.
TEST(WaveAvailableMemory, AProcessInASmallMemoryGroupIsRefusedAndSurvives) {
  const std::string parent = ownMemoryGroup();
  if (parent.empty() || !std::filesystem::exists(parent + "/memory.limit_in_bytes"))
    GTEST_SKIP() << "no cgroup v1 memory group";
  const std::string group = parent + "/tembrix-wav-test-" + std::to_string(::getpid());
  if (::mkdir(group.c_str(), 0755) != 0) GTEST_SKIP() << "memory groups are not writable: " << std::strerror(errno);
  struct Remove {
    std::string path;
    ~Remove() {
      for (int i = 0; i < 50 && ::rmdir(path.c_str()) != 0 && errno == EBUSY; ++i) ::usleep(20000);
    }
  } remove{group};
  const std::string limit = std::to_string(64 * MiB);
  ASSERT_TRUE(writeText(group + "/memory.limit_in_bytes", limit));
  if (std::filesystem::exists(group + "/memory.memsw.limit_in_bytes"))  // no swapping instead
    writeText(group + "/memory.memsw.limit_in_bytes", limit);

  TempDir dir;
  const std::string path = sparseRecording(dir, "big.wav", 100000000u);  // 25 M frames
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    if (!writeText(group + "/cgroup.procs", std::to_string(::getpid()))) ::_exit(3);
    if (WaveFile::SystemAvailableMemory() > 64 * MiB) ::_exit(4);
    pDoubleArray t = nullptr, l = nullptr, r = nullptr;
    try {
      TDateTime date;
      if (!WaveFile::GetWaveInfo(path, date)) ::_exit(5);
      WaveFile::LoadWaveData(path, false, t, l, r);
      ::_exit(1);
    } catch (const WaveFile::EOutOfMemory& e) {
      ::_exit(std::string(e.what()) == "Not enough memory for a recording of 25000000 frames" ? 0 : 6);
    } catch (...) {
      ::_exit(2);
    }
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status)) << "killed by signal " << WTERMSIG(status);
  EXPECT_EQ(WEXITSTATUS(status), 0);
}

}  // namespace
