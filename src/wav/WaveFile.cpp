#include "wav/WaveFile.h"

#include "blockmove/BlockMove.h"
#include "dsp/IPPDynamic.h"
#include "wav/AvailableMemory.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <bit>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <limits>
#include <random>
#include <utility>
#include <vector>

static_assert(std::endian::native == std::endian::little,
              "the header and the sample conversion assume a little-endian machine");

namespace WaveFile {

using IPPDynamic::IppBuffer;

bool IsWave = false;
std::uint32_t FileLen = 0;
std::uint32_t DataPos = 0;
std::uint32_t DataLen = 0;
std::uint16_t FormatTag = 0;
std::uint16_t Channels = 0;
std::uint32_t SampleRate = 0;
std::uint32_t BytesPerSecond = 0;
std::uint16_t BlockAlign = 0;
std::uint16_t BitsPerSample = 0;
std::unique_ptr<TMemoryStream> Buffer;
TSaveWay SaveWay = TSaveWay::LinkDescriptor;
void (*BeforeSaveStep)() = nullptr;

namespace {

// Whether the file GetWaveInfo read last has a "fmt " and a "data" chunk: without
// either it loads nothing, since its format or its samples would be another file's.
bool formatFound = false;
bool dataFound = false;
// Its "data" chunk declared no size and no chunk follows it: a recording whose writer
// never came back to fill in the size, whose samples run to the end of the file.
bool dataToEnd = false;

// Why the last read loaded no frames, for NothingLoadedReason.
enum class Refusal { None, NotRiff, NotWave, Format, NoFormat, NoData, Layout, NoRate };
Refusal refusal = Refusal::None;
std::uint32_t refusedId = 0;      // the first four bytes of a file that is not RIFF
std::uint16_t refusedFormat = 0;  // the sample format of the first "fmt " refused

constexpr std::uint32_t fourCC(const char (&id)[5]) {
  return std::uint32_t(std::uint8_t(id[0])) | std::uint32_t(std::uint8_t(id[1])) << 8 |
         std::uint32_t(std::uint8_t(id[2])) << 16 | std::uint32_t(std::uint8_t(id[3])) << 24;
}

constexpr std::uint32_t idRIFF = fourCC("RIFF");
constexpr std::uint32_t idWAVE = fourCC("WAVE");
constexpr std::uint32_t idFmt = fourCC("fmt ");
constexpr std::uint32_t idData = fourCC("data");
constexpr std::uint32_t idVctr = fourCC("vctr");

constexpr std::uint16_t formatPcm = 1;
constexpr std::uint16_t formatFloat = 3;
// A "fmt " of at least 40 bytes whose sample format is a GUID at offset 24; a format
// tag T stands there as T followed by these 14 bytes.
constexpr std::uint16_t formatExtensible = 0xFFFE;
constexpr std::size_t extensibleBytes = 40;
constexpr std::uint8_t guidTail[14] = {0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80,
                                       0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};

// Every position the chunk walk records is a 32-bit offset, so the reader keeps at
// most this many bytes of a file; a RIFF file cannot address more.
constexpr std::size_t maxFileBytes = std::numeric_limits<std::uint32_t>::max();

// The piece of the file ByteAt keeps, and the window the samples pass through: small
// enough to stay in the processor's cache while they are converted.
constexpr std::size_t blockBytes = 4096;
constexpr std::size_t windowBytes = 128 * 1024;

// The writer's file goes out in pieces of this size rather than as one file-sized
// buffer, whose fresh pages would cost more than the writing itself.
constexpr std::size_t writeChunkBytes = 64 * 1024;

constexpr std::int32_t defaultWriteRate = 22050;

std::string systemError(int error) { return std::strerror(error); }

std::string openError(const std::string& fileName, const std::string& reason) {
  return "Cannot open file \"" + fileName + "\". " + reason;
}

bool isLeapYear(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int daysInMonth(int year, int month) {
  static constexpr int days[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && isLeapYear(year) ? 29 : days[month - 1];
}

// The modification time of the file in local time, or 0 when it cannot be had.
TDateTime modificationDate(const std::string& fileName) {
  struct stat info {};
  if (::stat(fileName.c_str(), &info) != 0) return 0;
  std::tm local{};
  time_t seconds = info.st_mtime;
  if (::localtime_r(&seconds, &local) == nullptr) return 0;
  return EncodeDateTime(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour,
                        local.tm_min, local.tm_sec);
}

// The "vctr" contents: 3 unused bytes, then minute, hour, day, month, year - 2000.
TDateTime readRecordingDate() {
  Buffer->Position += 3;
  int minute = ReadBT();
  int hour = ReadBT();
  int day = ReadBT();
  int month = ReadBT();
  int year = 2000 + ReadBT();
  if (month < 1 || month > 12 || day < 1 || day > daysInMonth(year, month) || hour > 23 ||
      minute > 59) {
    char shown[64];
    std::snprintf(shown, sizeof shown, "%04d-%02d-%02d %02d:%02d:00.000", year, month, day, hour,
                  minute);
    throw EConvertError(std::string("'") + shown + "' is not a valid date and time");
  }
  return EncodeDateTime(year, month, day, hour, minute, 0);
}

// The sample format a "fmt " chunk of S bytes at `start` declares: its format tag,
// or for the extensible wrapper the tag its GUID stands for (formatExtensible when
// the chunk is too short for one or the GUID stands for no tag).
std::uint16_t sampleFormat(std::size_t start, std::uint32_t S) {
  if (FormatTag != formatExtensible || S < extensibleBytes) return FormatTag;
  Buffer->Position = start + 24;
  const std::uint16_t tag = ReadWD();
  for (std::uint8_t expected : guidTail)
    if (ReadBT() != expected) return formatExtensible;
  return tag;
}

// The id of a chunk header that can start at `at`: eight bytes inside the file, the
// first four of them printable ASCII characters. 0 where there is none.
std::uint32_t headerAt(std::size_t at) {
  if (at > Buffer->Size() || Buffer->Size() - at < 8) return 0;
  std::uint32_t id = 0;
  for (std::size_t k = 0; k < 4; ++k) {
    const std::uint8_t c = Buffer->ByteAt(at + k);
    if (c < 0x20 || c > 0x7E) return 0;
    id |= std::uint32_t(c) << (8 * k);
  }
  return id;
}

bool isTakenId(std::uint32_t id) { return id == idFmt || id == idData || id == idVctr; }

// Whether a whole chunk stands at `at`: a header whose contents fit in the file. Quiet
// 8-bit samples read as printable letters too, but not as a size that fits.
bool chunkAt(std::size_t at) {
  if (headerAt(at) == 0) return false;
  Buffer->Position = at + 4;
  return ReadDW() <= Buffer->Size() - at - 8;
}

// Where the chunk after S bytes of contents at `start` begins: past the pad byte that
// follows an odd size, unless its writer left the pad out. That shows as a chunk
// header right after the contents and, one byte on, none, or only the tail of that
// id and its size, which can be printable too (for "data", when its size's low byte
// is); so a chunk this reader takes right after the contents wins over one it does
// not take past the pad.
std::size_t nextChunk(std::size_t start, std::uint32_t S) {
  const std::size_t end = start + S;
  if (S % 2 == 0) return end;
  const std::uint32_t padded = headerAt(end + 1), unpadded = headerAt(end);
  const bool padLeftOut = unpadded != 0 && (padded == 0 || (isTakenId(unpadded) && !isTakenId(padded)));
  return padLeftOut ? end : end + 1;
}

// A sample of `width` bytes as the signed 16-bit holder takes it: one byte gives
// its unsigned value 0…255, two or more give the most significant 16 bits.
template <int Width>
std::int16_t sampleAt(const std::uint8_t* p, unsigned width) {
  if constexpr (Width == 1) {
    return p[0];
  } else {
    unsigned w = Width > 0 ? unsigned(Width) : width;
    return static_cast<std::int16_t>(p[w - 2] | p[w - 1] << 8);
  }
}

// Fills the two channels from n frames at src. `frameBytes` is the step from one
// frame to the next; the second channel lies `secondOffset` bytes into a frame (0
// for mono, so both channels get the same value).
template <int Width>
void convertFrames(const std::uint8_t* src, std::size_t n, std::size_t frameBytes,
                   std::size_t secondOffset, unsigned width, double* first, double* second) {
  for (std::size_t j = 0; j < n; ++j, src += frameBytes) {
    first[j] = sampleAt<Width>(src, width);
    second[j] = sampleAt<Width>(src + secondOffset, width);
  }
}

void convertFrames(const std::uint8_t* src, std::size_t n, std::size_t frameBytes,
                   std::size_t secondOffset, unsigned width, double* first, double* second) {
  switch (width) {
    case 1: return convertFrames<1>(src, n, frameBytes, secondOffset, width, first, second);
    case 2: return convertFrames<2>(src, n, frameBytes, secondOffset, width, first, second);
    default: return convertFrames<0>(src, n, frameBytes, secondOffset, width, first, second);
  }
}

// Converts the F frames of "data" through a small window into the three buffers
// and returns how many frames the file still held (F unless it shrank meanwhile).
std::size_t readFrames(TMemoryStream& file, std::size_t F, unsigned width, bool Reverse,
                       double* time, double* left, double* right) {
  const std::size_t frameBytes = std::size_t(Channels) * width;
  const std::size_t secondOffset = Channels == 1 ? 0 : width;
  // The bytes of a frame that are read: up to the end of its second channel.
  const std::size_t used = secondOffset + width;
  // Whole frames per window; a frame larger than the window is read one at a time,
  // and only its used bytes (at most 2 x 8191).
  const std::size_t perWindow = std::max<std::size_t>(1, windowBytes / frameBytes);
  std::vector<std::uint8_t> window(std::max(windowBytes, used));
  double* first = Reverse ? right : left;
  double* second = Reverse ? left : right;

  std::size_t done = 0;
  while (done < F) {
    std::size_t n = std::min(perWindow, F - done);
    const std::size_t span = (n - 1) * frameBytes + used;
    const std::size_t got = file.Read(DataPos + done * frameBytes, window.data(), span);
    if (got < span) n = got < used ? 0 : (got - used) / frameBytes + 1;
    convertFrames(window.data(), n, frameBytes, secondOffset, width, first + done, second + done);
    FillTimeLine(time + done, done, n, SampleRate);
    done += n;
    if (got < span) break;
  }
  return done;
}

// The bytes each sample of the last file read takes: BitsPerSample / 8 as declared,
// or, when that is no whole byte or BlockAlign leaves room beyond it, the container
// that BlockAlign gives each channel, which holds the sample at its top. A
// BlockAlign too small for the declared samples is ignored as in any tag-1 file (its
// 16 bits cannot hold a frame of many wide channels). 0 when the container cannot
// hold the declared bits, or is wider than 8 bytes. Channels must not be 0.
unsigned sampleBytes() {
  const unsigned declared = BitsPerSample / 8;
  if (BitsPerSample % 8 == 0 && declared > 0 && BlockAlign <= std::size_t(Channels) * declared) return declared;
  const unsigned container = BlockAlign / Channels;
  const bool fits = BlockAlign % Channels == 0 && container >= 1 && container <= 8 && BitsPerSample > 0 &&
                    BitsPerSample <= 8 * container;
  return fits ? container : 0;
}

// The time line and the two channels, as LoadWaveData hands them out.
using Channels3 = std::array<IppBuffer<double>, 3>;

// Reads the samples of the file GetWaveInfo accepted into `fresh` and returns how
// many frames it holds; 0, with `fresh` empty, when the file has none. It throws
// on failure; what it allocated goes back with `fresh`.
std::size_t readRecording(bool Reverse, Channels3& fresh) {
  const auto nothing = [](Refusal why) {
    refusal = why;
    return std::size_t{0};
  };
  if (!formatFound) return nothing(Refusal::NoFormat);
  if (!dataFound) return nothing(Refusal::NoData);
  if (Channels == 0) throw EDivByZero("Division by zero");
  const unsigned width = sampleBytes();
  if (width == 0) return nothing(Refusal::Layout);

  // Only whole frames that the file really holds are read, whatever "data" declares.
  std::size_t available = 0;
  if (Buffer && DataPos < Buffer->Size()) available = Buffer->Size() - DataPos;
  const std::size_t dataBytes = dataToEnd ? available : std::min<std::size_t>(DataLen, available);
  const std::size_t F = (dataBytes / Channels) / width;
  if (F == 0) return nothing(Refusal::NoData);
  if (SampleRate == 0) return nothing(Refusal::NoRate);

  const std::uint64_t L = BufferLength(F);
  // Asked before allocating: the allocator promises far more than the machine or
  // the process's limits can give, and filling such buffers gets the process killed.
  const bool fits = L <= std::uint64_t(std::numeric_limits<int>::max()) &&
                    3 * L * sizeof(double) <= AvailableMemory();
  if (fits) {
    for (IppBuffer<double>& p : fresh) p.reset(IPPDynamic::IIPP_MallocDouble(static_cast<int>(L)));
  }
  if (!fresh[0] || !fresh[1] || !fresh[2])
    throw EOutOfMemory("Not enough memory for a recording of " + std::to_string(F) + " frames");
  const std::size_t read = readFrames(*Buffer, F, width, Reverse, fresh[0].get(), fresh[1].get(), fresh[2].get());
  if (read == 0) {  // the file lost its samples since GetWaveInfo
    for (IppBuffer<double>& p : fresh) p.reset();
    refusal = Refusal::NoData;
  }
  return read;
}

[[noreturn]] void createFailed(const std::string& fileName, int error) {
  throw EFCreateError("Cannot create file \"" + fileName + "\". " + systemError(error));
}

[[noreturn]] void writeFailed(const std::string& fileName, int error) {
  throw EWriteError("Cannot write file \"" + fileName + "\". " + systemError(error));
}

// Hidden temporary names of the writer: this prefix and six letters or digits. While
// a save uses one it holds a lock on the file, so a name whose file nobody locks was
// left by a save that never finished.
constexpr char hiddenPrefix[] = ".tembrix-save-";
constexpr std::size_t hiddenNameLength = sizeof hiddenPrefix - 1 + 6;

// The folder of a path, and the name in it.
std::pair<std::string, std::string> splitPath(const std::string& path) {
  const std::size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return {".", path};
  return {slash == 0 ? "/" : path.substr(0, slash), path.substr(slash + 1)};
}

// Removes the hidden temporary files in `folder` that no running save holds.
void removeStaleTemporaries(const std::string& folder) {
  DIR* dir = ::opendir(folder.c_str());
  if (dir == nullptr) return;
  while (const dirent* entry = ::readdir(dir)) {
    const std::string name = entry->d_name;
    if (name.size() != hiddenNameLength || name.compare(0, sizeof hiddenPrefix - 1, hiddenPrefix) != 0)
      continue;
    int fd = ::openat(::dirfd(dir), name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) continue;
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0) ::unlinkat(::dirfd(dir), name.c_str(), 0);
    ::close(fd);
  }
  ::closedir(dir);
}

// The file being saved, which is not under its name until it is complete: an unnamed
// file in the target's folder or, where the file system has no unnamed files, a
// hidden temporary one there. Whatever is left of it when it goes is removed.
class NewFile {
 public:
  explicit NewFile(const std::string& name) : name_(name) {
    const auto [folder, base] = splitPath(name);
    folder_ = folder;
    // The name is checked now, so that a taken one is reported before any writing;
    // linking checks again at the end and never replaces.
    struct stat info {};
    if (base.empty()) createFailed(name, EISDIR);
    if (::lstat(name.c_str(), &info) == 0) createFailed(name, EEXIST);
    if (errno != ENOENT) createFailed(name, errno);
    if (SaveWay != TSaveWay::HiddenName) {
      // The mode as for any new file: the kernel takes the umask off it.
      fd_ = ::open(folder_.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
      if (fd_ >= 0) return;
      if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) createFailed(name, errno);
    }
    removeStaleTemporaries(folder_);
    createHidden();
  }
  ~NewFile() {
    if (fd_ >= 0) ::close(fd_);
    if (!hidden_.empty()) ::unlink(hidden_.c_str());
  }
  NewFile(const NewFile&) = delete;
  NewFile& operator=(const NewFile&) = delete;

  void write(const std::uint8_t* bytes, std::size_t count) {
    while (count > 0) {
      if (BeforeSaveStep != nullptr) BeforeSaveStep();
      ssize_t n = ::write(fd_, bytes, count);
      if (n < 0) {
        if (errno == EINTR) continue;
        writeFailed(name_, errno);
      }
      bytes += n;
      count -= static_cast<std::size_t>(n);
    }
  }

  // Flushes the file to disk and gives it its name, unless the name was taken meanwhile.
  void publish() {
    if (::fsync(fd_) != 0) writeFailed(name_, errno);
    if (BeforeSaveStep != nullptr) BeforeSaveStep();
    int linked;
    if (hidden_.empty()) {
      // Linking the descriptor itself needs a capability that ordinary users lack;
      // its name under /proc does the same without one.
      linked = SaveWay == TSaveWay::LinkDescriptor ? ::linkat(fd_, "", AT_FDCWD, name_.c_str(), AT_EMPTY_PATH) : -1;
      if (linked != 0 && (SaveWay != TSaveWay::LinkDescriptor || errno != EEXIST)) {
        const std::string self = "/proc/self/fd/" + std::to_string(fd_);
        linked = ::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, name_.c_str(), AT_SYMLINK_FOLLOW);
      }
    } else {
      linked = ::link(hidden_.c_str(), name_.c_str());
    }
    if (linked != 0) createFailed(name_, errno);
    // Flushed already: closing can lose nothing, and the file is under its name now.
    ::close(fd_);
    fd_ = -1;
    if (!hidden_.empty()) {
      ::unlink(hidden_.c_str());
      hidden_.clear();
    }
    // The new name itself reaches the disk with the folder.
    const int folder = ::open(folder_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder >= 0) {
      ::fsync(folder);
      ::close(folder);
    }
  }

 private:
  void createHidden() {
    static constexpr char letters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    std::random_device random;
    for (int attempt = 0; attempt < 100; ++attempt) {
      std::string name = hiddenPrefix;
      for (int k = 0; k < 6; ++k) name += letters[random() % (sizeof letters - 1)];
      const std::string path = (folder_ == "/" ? "" : folder_) + "/" + name;
      int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
      if (fd < 0) {
        if (errno == EEXIST) continue;
        createFailed(name_, errno);
      }
      // Another save may have taken it for a stale one before the lock: then it is
      // no longer under that name, and another name is tried.
      struct stat mine {}, named {};
      if (::flock(fd, LOCK_EX) == 0 && ::fstat(fd, &mine) == 0 && ::lstat(path.c_str(), &named) == 0 &&
          mine.st_ino == named.st_ino && mine.st_dev == named.st_dev) {
        fd_ = fd;
        hidden_ = path;
        return;
      }
      ::close(fd);
    }
    createFailed(name_, EEXIST);
  }

  const std::string& name_;
  std::string folder_;
  std::string hidden_;  // empty for an unnamed file
  int fd_ = -1;
};

// The rate the recording was loaded with: the time line starts at one sample period.
std::int32_t rateFromTimeLine(const pDoubleArray timeLine, std::int32_t frames) {
  if (timeLine == nullptr || frames <= 0) return defaultWriteRate;
  double period = timeLine[0];
  if (!(period > 0) || !std::isfinite(period)) return defaultWriteRate;
  long double rate = std::nearbyint(1.0L / period);
  if (rate < 1 || rate > std::numeric_limits<std::int32_t>::max() / 4) return defaultWriteRate;
  return static_cast<std::int32_t>(rate);
}

void putSample(std::uint8_t* p, double value) {
  auto low = static_cast<std::uint16_t>(static_cast<std::uint64_t>(Round(value)));
  p[0] = static_cast<std::uint8_t>(low);
  p[1] = static_cast<std::uint8_t>(low >> 8);
}

// n frames of the two channels as 16-bit little-endian pairs, left first.
void putFrames(std::uint8_t* out, const double* left, const double* right, std::size_t n) {
  for (std::size_t i = 0; i < n; ++i, out += 4) {
    putSample(out, left[i]);
    putSample(out + 2, right[i]);
  }
}

}  // namespace

TMemoryStream::TMemoryStream(const std::string& fileName) : name_(fileName) {
  // Non-blocking so that a named pipe cannot hang the open; it is refused below.
  fd_ = ::open(fileName.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd_ < 0) throw EFOpenError(openError(fileName, systemError(errno)));
  struct stat info {};
  int error = ::fstat(fd_, &info) != 0 ? errno : 0;
  std::string reason = error != 0              ? systemError(error)
                       : S_ISDIR(info.st_mode) ? systemError(EISDIR)
                       : !S_ISREG(info.st_mode) ? "Not a regular file"
                                                : "";
  if (!reason.empty()) {
    ::close(fd_);
    throw EFOpenError(openError(fileName, reason));
  }
  size_ = std::min<std::uint64_t>(static_cast<std::uint64_t>(info.st_size), maxFileBytes);
  block_ = std::make_unique<std::uint8_t[]>(blockBytes);
}

TMemoryStream::~TMemoryStream() { ::close(fd_); }

std::uint8_t TMemoryStream::ByteAt(std::size_t at) {
  if (at >= size_) return 0;
  if (at < blockStart_ || at - blockStart_ >= blockLength_) {
    blockLength_ = 0;  // forgotten first, in case the read throws
    blockStart_ = at - at % blockBytes;
    blockLength_ = Read(blockStart_, block_.get(), std::min(blockBytes, size_ - blockStart_));
  }
  return at - blockStart_ < blockLength_ ? block_[at - blockStart_] : 0;
}

std::size_t TMemoryStream::Read(std::size_t at, std::uint8_t* to, std::size_t count) {
  if (at >= size_) return 0;
  count = std::min(count, size_ - at);
  std::size_t got = 0;
  while (got < count) {
    ssize_t n = ::pread(fd_, to + got, count - got, static_cast<off_t>(at + got));
    if (n < 0) {
      if (errno == EINTR || errno == EAGAIN) continue;
      throw EFOpenError(openError(name_, systemError(errno)));
    }
    if (n == 0) break;  // the file shrank since it was opened
    got += static_cast<std::size_t>(n);
  }
  return got;
}

std::uint32_t ReadDW() {
  std::uint32_t lo = ReadWD();
  return lo | std::uint32_t(ReadWD()) << 16;
}

std::uint16_t ReadWD() {
  std::uint16_t lo = ReadBT();
  return static_cast<std::uint16_t>(lo | ReadBT() << 8);
}

std::uint8_t ReadBT() {
  if (!Buffer) return 0;
  return Buffer->ByteAt(Buffer->Position++);
}

std::uint64_t BufferLength(std::uint64_t F) {
  // The count is taken in single precision, but its logarithm in extended precision:
  // near a half-way exponent (741455 is just below 2^19.5) single precision would
  // round onto the half and then to the even neighbour.
  const float frames = static_cast<float>(F);
  int e = static_cast<int>(std::nearbyint(std::log2(static_cast<long double>(frames))));
  std::uint64_t L = std::uint64_t(1) << e;
  return L < F ? F : L;
}

TDateTime EncodeDateTime(int year, int month, int day, int hour, int minute, int second) {
  using namespace std::chrono;
  auto date = sys_days(std::chrono::year(year) / month / day);
  double days = (date - sys_days(1899y / December / 30)).count();
  double fraction = (hour * 3600.0 + minute * 60.0 + second) / 86400.0;
  // Before the epoch the whole days count backwards but the time of day does not.
  return days >= 0 ? days + fraction : days - fraction;
}

bool GetWaveInfo(const std::string& FileName, TDateTime& RecordDate) {
  IsWave = true;
  // Nothing of the previous file may describe this one.
  FileLen = DataPos = DataLen = SampleRate = BytesPerSecond = 0;
  FormatTag = Channels = BlockAlign = BitsPerSample = 0;
  formatFound = dataFound = dataToEnd = false;
  refusal = Refusal::None;
  RecordDate = modificationDate(FileName);
  Buffer.reset();
  Buffer = std::make_unique<TMemoryStream>(FileName);

  const auto refuse = [](Refusal why) {
    refusal = why;
    return IsWave = false;
  };
  if ((refusedId = ReadDW()) != idRIFF) return refuse(Refusal::NotRiff);
  FileLen = ReadDW() + 8;
  if (ReadDW() != idWAVE) return refuse(Refusal::NotWave);

  const std::size_t size = Buffer->Size();
  while (Buffer->Position < size) {
    if (size - Buffer->Position < 8) break;  // a chunk header cut off by the end
    std::uint32_t id = ReadDW();
    std::uint32_t S = ReadDW();
    const std::size_t start = Buffer->Position;
    if (id == idFmt) {
      formatFound = true;
      FormatTag = ReadWD();
      Channels = ReadWD();
      SampleRate = ReadDW();
      BytesPerSecond = ReadDW();
      BlockAlign = ReadWD();
      BitsPerSample = ReadWD();
      const std::uint16_t format = sampleFormat(start, S);
      if (format != formatPcm && IsWave) {
        refusedFormat = format;
        refuse(Refusal::Format);
      }
    } else if (id == idData) {
      dataFound = true;
      DataLen = S;
      DataPos = static_cast<std::uint32_t>(start);
      dataToEnd = S == 0 && !chunkAt(start);
      if (dataToEnd) break;
    } else if (id == idVctr) {
      RecordDate = readRecordingDate();
    }
    if (S > size - start) break;  // the chunk claims more than the file holds
    Buffer->Position = nextChunk(start, S);
  }
  return IsWave;
}

std::int32_t LoadWaveData(const std::string& /*FileName*/, bool Reverse, pDoubleArray& LWTime,
                          pDoubleArray& LWLeftCH, pDoubleArray& LWRightCH) {
  Channels3 fresh;
  const std::size_t read = readRecording(Reverse, fresh);
  // The previous buffers go only now, when the new ones hold the recording.
  const Channels3 previous = {IppBuffer<double>(LWTime), IppBuffer<double>(LWLeftCH), IppBuffer<double>(LWRightCH)};
  LWTime = fresh[0].release();
  LWLeftCH = fresh[1].release();
  LWRightCH = fresh[2].release();
  Buffer.reset();
  return static_cast<std::int32_t>(read);
}

std::string NothingLoadedReason() {
  const std::string opened = " Открываются записи PCM WAV с отсчётами по 8–32 бит.";
  const std::string format = "(формат " + std::to_string(refusedFormat) + ").";
  switch (refusal) {
    case Refusal::NotRiff:
      if (refusedId == fourCC("RIFX"))
        return "Файл WAV с обратным порядком байтов (RIFX). Открываются файлы WAV с прямым порядком байтов (RIFF).";
      if (refusedId == fourCC("RF64") || refusedId == fourCC("BW64"))
        return "Файл WAV с 64-битными размерами (" + std::string(reinterpret_cast<const char*>(&refusedId), 4) +
               "). Открываются файлы WAV размером до 4 ГБ (RIFF).";
      return "Файл не является файлом WAV.";
    case Refusal::NotWave:
      return "Файл не является файлом WAV.";
    case Refusal::Format:
      if (refusedFormat == formatFloat) return "Отсчёты с плавающей точкой " + format + opened;
      if (refusedFormat == 0 || refusedFormat == formatExtensible) return "Неизвестный формат звука " + format + opened;
      return "Сжатый звук " + format + opened;
    case Refusal::NoFormat:
      return "В файле нет описания формата звука.";
    case Refusal::Layout:
      return "Размеры отсчёта и кадра не согласованы (бит в отсчёте: " + std::to_string(BitsPerSample) +
             ", каналов: " + std::to_string(Channels) + ", байт в кадре: " + std::to_string(BlockAlign) + ")." +
             opened;
    case Refusal::NoRate:
      return "В файле указана частота дискретизации 0 Гц.";
    case Refusal::None:
    case Refusal::NoData:
      break;
  }
  return "В файле нет звуковых данных.";
}

void SaveDataToWavFile(const std::string& FileName, bool /*Reverse*/, pDoubleArray& LWTime,
                       pDoubleArray& LWLeftCH, pDoubleArray& LWRightCH, std::int32_t SizeF) {
  Buffer.reset();
  const std::int32_t frames = std::max<std::int32_t>(SizeF, 0);
  // The header's sizes are signed 32-bit fields.
  if (frames > (std::numeric_limits<std::int32_t>::max() - 36) / 4)
    throw EOutOfMemory("Cannot write \"" + FileName + "\": " + std::to_string(frames) +
                       " frames are more than a WAV file can hold");

  const std::int32_t rate = rateFromTimeLine(LWTime, frames);
  TWaveHeader header{};
  BlockMove::Move("RIFF", header.idRiff, 4);
  BlockMove::Move("WAVE", header.idWave, 4);
  BlockMove::Move("fmt ", header.idFmt, 4);
  BlockMove::Move("data", header.idData, 4);
  header.InfoLen = 16;
  header.FormatTag = 1;
  header.Channels = 2;
  header.BitsPerSample = 16;
  header.BlockAlign = static_cast<std::uint16_t>(header.BitsPerSample / 8 * header.Channels);
  header.Freq = rate;
  header.BytesPerSec = header.BlockAlign * rate;
  header.DataBytes = header.BlockAlign * frames;
  header.RiffLen = header.DataBytes + 36;

  std::vector<std::uint8_t> chunk(writeChunkBytes);  // before creating, so nothing is left on failure
  NewFile file(FileName);
  BlockMove::Move(&header, chunk.data(), sizeof header);
  std::size_t used = sizeof header;
  for (std::size_t i = 0; i < std::size_t(frames);) {
    const std::size_t n = std::min((chunk.size() - used) / 4, std::size_t(frames) - i);
    putFrames(chunk.data() + used, LWLeftCH + i, LWRightCH + i, n);
    used += 4 * n;
    i += n;
    if (used + 4 > chunk.size()) {
      file.write(chunk.data(), used);
      used = 0;
    }
  }
  if (used > 0) file.write(chunk.data(), used);
  file.publish();
}

}  // namespace WaveFile
