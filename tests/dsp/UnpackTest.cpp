// Unpacking the library beside an executable: a copy of the probe program is
// run in a fresh folder, so "the executable's folder" is a folder we control.
#include "dsp/FileFunctions.h"
#include "dsp/ResourceFunctions.h"
#include "DspTestSupport.h"

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace fs = std::filesystem;
using namespace ResourceFunctions;

namespace {

struct LibraryFile {
  const char* resource;
  const char* file;
};
constexpr std::array<LibraryFile, 4> LibraryFiles = {{{"IPPDLL_Core", "ippcore-7.0.dll"},
                                                      {"IPPDLL_Header", "ipps-7.0.dll"},
                                                      {"IPPDLL", "ippsw7-7.0.dll"},
                                                      {"IPPDLL_MP", "libiomp5md.dll"}}};

std::string readFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

void writeFile(const fs::path& path, const std::string& contents) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << contents;
}

std::string resourceBytes(const char* name) {
  for (const TResource& r : LocalModule()->Resources) {
    if (std::string(r.Name) == name) return {reinterpret_cast<const char*>(r.Data), r.Size};
  }
  return {};
}

class UnpackFolder : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "tembrix-unpack-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    dir = pattern;
    fs::copy_file(TEMBRIX_UNPACK_PROBE, dir / "probe");
  }
  void TearDown() override { fs::remove_all(dir); }

  // Runs the copied probe in its folder and returns its exit status.
  int runProbe(const char* mode = "load") const {
    const std::string exe = (dir / "probe").string();
    const pid_t pid = fork();
    if (pid == 0) {
      execl(exe.c_str(), exe.c_str(), mode, static_cast<char*>(nullptr));
      _exit(127);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

  void unpackAll() const {
    for (const auto& f : LibraryFiles) ASSERT_TRUE(SaveLocalResourceToFile(f.resource, (dir / f.file).string(), false));
  }

  fs::path dir;
};

}  // namespace

TEST_F(UnpackFolder, FirstRunWritesAllFourFilesAndLoadsThem) {
  ASSERT_EQ(runProbe(), 0);
  std::array<ino_t, 4> inodes{};
  for (std::size_t i = 0; i < LibraryFiles.size(); ++i) {
    const fs::path file = dir / LibraryFiles[i].file;
    EXPECT_EQ(readFile(file), resourceBytes(LibraryFiles[i].resource)) << file;
    struct stat st {};
    stat(file.c_str(), &st);
    inodes[i] = st.st_ino;
  }
  // Once loadable, later runs neither write nor replace anything.
  ASSERT_EQ(runProbe(), 0);
  for (std::size_t i = 0; i < LibraryFiles.size(); ++i) {
    struct stat st {};
    stat((dir / LibraryFiles[i].file).c_str(), &st);
    EXPECT_EQ(st.st_ino, inodes[i]);
  }
  // Nothing but the four files and the program is left in the folder.
  EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 5);
}

TEST_F(UnpackFolder, FileOfTheSameSizeIsLeftAloneEvenWithOtherContents) {
  unpackAll();
  const fs::path runtime = dir / "libiomp5md.dll";
  const std::string zeros(fs::file_size(runtime), '\0');
  writeFile(runtime, zeros);
  EXPECT_EQ(runProbe(), 1);
  EXPECT_EQ(readFile(runtime), zeros);

  // Forced rewriting ignores the size rule.
  EXPECT_TRUE(SaveLocalResourceToFile("IPPDLL_MP", runtime.string(), true));
  EXPECT_EQ(readFile(runtime), resourceBytes("IPPDLL_MP"));
}

TEST_F(UnpackFolder, FileOfAnotherSizeIsOverwritten) {
  unpackAll();
  writeFile(dir / "ipps-7.0.dll", "not a library");
  EXPECT_EQ(runProbe(), 0);
  EXPECT_EQ(readFile(dir / "ipps-7.0.dll"), resourceBytes("IPPDLL_Header"));
}

TEST_F(UnpackFolder, TargetThatCannotBeCreatedFailsQuietlyAndTheOthersAreStillWritten) {
  fs::create_directory(dir / "ippsw7-7.0.dll");
  EXPECT_FALSE(SaveLocalResourceToFile("IPPDLL", (dir / "ippsw7-7.0.dll").string(), false));
  EXPECT_EQ(runProbe(), 1);
  EXPECT_TRUE(fs::is_directory(dir / "ippsw7-7.0.dll"));
  for (const auto& f : LibraryFiles) {
    if (std::string(f.file) != "ippsw7-7.0.dll") {
      EXPECT_EQ(readFile(dir / f.file), resourceBytes(f.resource));
    }
  }
  // No temporary file is left behind by the failed writes.
  EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 5);
}

TEST_F(UnpackFolder, EntryFileDoesNotLoadWhenAnyOtherFileIsMissing) {
  unpackAll();
  EXPECT_EQ(runProbe("bind"), 0);
  for (const auto& f : LibraryFiles) {
    if (std::string(f.file) == "ipps-7.0.dll") continue;
    fs::rename(dir / f.file, dir / "aside");
    EXPECT_EQ(runProbe("bind"), 1) << f.file;
    fs::rename(dir / "aside", dir / f.file);
  }
}

TEST_F(UnpackFolder, MissingResourceGivesFalseAndWritesNothing) {
  static const unsigned char bytes[] = {1, 2, 3};
  const TResource only[] = {{"Present", bytes, sizeof bytes}};
  const TResourceModule module{only};
  EXPECT_FALSE(SaveResourceToFile(&module, "Absent", (dir / "absent").string(), true));
  EXPECT_FALSE(fs::exists(dir / "absent"));
  EXPECT_TRUE(SaveResourceToFile(&module, "PRESENT", (dir / "present").string(), false));
  EXPECT_EQ(readFile(dir / "present"), std::string("\1\2\3"));
  EXPECT_FALSE(SaveLocalResourceToFile("IPPDLL_Nothing", (dir / "x").string(), false));
}

TEST(Resources, NamesMatchWithoutRegardToCase) {
  EXPECT_TRUE(ResourceExists(LocalModule(), "ippdll_core"));
  EXPECT_TRUE(ResourceExists(LocalModule(), "IpPdLl"));
  EXPECT_FALSE(ResourceExists(LocalModule(), "IPPDLL_Cor"));
  EXPECT_FALSE(ResourceExists(LocalModule(), "IPPDLL_Core2"));
  EXPECT_FALSE(ResourceExists(nullptr, "IPPDLL"));
}

TEST(FileSize, MissingNameGivesMinusOneAndAFileItsSize) {
  EXPECT_EQ(FileFunctions::GetFileSize("/nonexistent/tembrix/file.dll"), -1);
  const fs::path path = fs::temp_directory_path() / ("tembrix-size-" + std::to_string(getpid()));
  writeFile(path, "12345");
  EXPECT_EQ(FileFunctions::GetFileSize(path.string()), 5);
  fs::remove(path);
}

TEST(LoadCount, LibraryStaysLoadedUntilTheLastUseIsGivenBack) {
  ASSERT_TRUE(LoadExternal::LoadDynamicIIPP());
  ASSERT_TRUE(LoadExternal::LoadDynamicIIPP());
  LoadExternal::FreeDynamicIIPP();
  EXPECT_TRUE(IPPDynamic::LibIntelIPP_Loaded);
  double* d = IPPDynamic::IIPP_MallocDouble(10);
  ASSERT_NE(d, nullptr);
  IPPDynamic::IIPP_Free(d);

  LoadExternal::FreeDynamicIIPP();
  EXPECT_FALSE(IPPDynamic::LibIntelIPP_Loaded);
  EXPECT_EQ(IPPDynamic::IIPP_MallocDouble, nullptr);
  LoadExternal::FreeDynamicIIPP();  // no use held: nothing happens
  EXPECT_FALSE(IPPDynamic::LibIntelIPP_Loaded);

  ASSERT_TRUE(LoadExternal::LoadDynamicIIPP());  // loads again after a full unload
  EXPECT_NE(IPPDynamic::IIPP_MallocDouble, nullptr);
  LoadExternal::FreeDynamicIIPP();
}
