// Reading and writing recordings.
//
// A read is two calls on the user-interface thread: GetWaveInfo opens the file as
// Buffer, walks its RIFF chunks ("fmt ", "data" and the time-stamp chunk "vctr";
// everything else is skipped) and fills the globals below; LoadWaveData then turns
// the "data" bytes into three buffers from the signal-processing library's
// allocator (time line, left, right) and releases Buffer. SaveDataToWavFile writes
// a 16-bit stereo PCM file with a fixed 44-byte header and never replaces a file.
//
// A chunk of odd size is followed by a pad byte; where a writer left it out (a chunk
// header right after the contents, and past the pad none or only one the reader does
// not take) the walk goes on unpadded.
// Nothing is read outside the file's bytes: a chunk header cut off by the end of the
// file ends the walk, and a "data" chunk that claims more bytes than the file holds
// yields the whole frames that are really there. A "data" chunk that declares 0
// bytes and is followed by no chunk header is a recording whose writer never filled
// in the size: its samples run to the end of the file.
#pragma once

#include "common/SharedTypes.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>

namespace WaveFile {

// The file cannot be opened or read: "Cannot open file "<name>". <reason>".
struct EFOpenError : std::runtime_error {
  using std::runtime_error::runtime_error;
};
// The file to write cannot be created: "Cannot create file "<name>". <reason>".
struct EFCreateError : std::runtime_error {
  using std::runtime_error::runtime_error;
};
// The file was created but could not be written completely; it has been removed.
struct EWriteError : std::runtime_error {
  using std::runtime_error::runtime_error;
};
// A "vctr" chunk that holds no valid date: "'<date>' is not a valid date and time".
struct EConvertError : std::runtime_error {
  using std::runtime_error::runtime_error;
};
// "Division by zero": a format with no channels or samples narrower than a byte.
struct EDivByZero : std::runtime_error {
  using std::runtime_error::runtime_error;
};
// The sample buffers do not fit in the memory the process can be given (see
// AvailableMemory) or the allocator refused them, or a recording is too long to write.
struct EOutOfMemory : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// The file being read, with a read position. The file stays open from GetWaveInfo
// to the end of LoadWaveData, so renaming or deleting it in between changes nothing.
// Its bytes are fetched in small pieces as they are needed rather than copied whole
// into memory: the chunk walk touches a few of them, and the samples pass through
// a small reused window on their way into the three buffers, so a load costs no
// file-sized memory and no fresh page per 4 KiB of file.
class TMemoryStream {
 public:
  // Opens a regular file; throws EFOpenError naming it and the reason.
  explicit TMemoryStream(const std::string& fileName);
  ~TMemoryStream();
  TMemoryStream(const TMemoryStream&) = delete;
  TMemoryStream& operator=(const TMemoryStream&) = delete;

  // The file's size when it was opened (at most 4 GiB - 1, all a RIFF file addresses).
  std::size_t Size() const { return size_; }
  // The byte at `at`; 0 past the end, or where the file has shrunk since it was opened.
  std::uint8_t ByteAt(std::size_t at);
  // Copies up to `count` bytes from `at` into `to` and returns how many there were:
  // fewer only at the end of the file. Throws EFOpenError when the system fails.
  std::size_t Read(std::size_t at, std::uint8_t* to, std::size_t count);
  const std::string& FileName() const { return name_; }
  // May stand past the end after a read that ran out of bytes.
  std::size_t Position = 0;

 private:
  std::string name_;
  int fd_ = -1;
  std::size_t size_ = 0;
  std::unique_ptr<std::uint8_t[]> block_;  // the piece around the last ByteAt
  std::size_t blockStart_ = 0;
  std::size_t blockLength_ = 0;
};

// State carried from GetWaveInfo to LoadWaveData and to the editor. Each GetWaveInfo
// starts from zero, so a field whose chunk a file lacks is 0, never the value of
// an earlier file.
extern bool IsWave;                   // the last file read is a usable PCM WAV file
extern std::uint32_t FileLen;         // RIFF size field + 8
extern std::uint32_t DataPos;         // offset of the first byte of the "data" contents
extern std::uint32_t DataLen;         // "data" size field, in bytes, as declared
extern std::uint16_t FormatTag;       // as read: 1 = PCM, 0xFFFE = the extensible wrapper
extern std::uint16_t Channels;
extern std::uint32_t SampleRate;      // frames per second
extern std::uint32_t BytesPerSecond;
extern std::uint16_t BlockAlign;
extern std::uint16_t BitsPerSample;
extern std::unique_ptr<TMemoryStream> Buffer;  // the file being read, or null

// The header at the start of every file the writer produces (little-endian).
struct TWaveHeader {
  char idRiff[4];
  std::int32_t RiffLen;
  char idWave[4];
  char idFmt[4];
  std::int32_t InfoLen;
  std::uint16_t FormatTag;
  std::uint16_t Channels;
  std::int32_t Freq;
  std::int32_t BytesPerSec;
  std::uint16_t BlockAlign;
  std::uint16_t BitsPerSample;
  char idData[4];
  std::int32_t DataBytes;
};
static_assert(sizeof(TWaveHeader) == 44);

// Opens FileName as Buffer and walks its chunks. RecordDate becomes the file's
// modification time in local time, or the "vctr" date when the file has one.
// Returns IsWave: true for a RIFF/WAVE file whose "fmt " chunks all say PCM, by
// format tag 1 or by the extensible wrapper (tag 0xFFFE, at least 40 bytes) with
// the PCM sub-format.
bool GetWaveInfo(const std::string& FileName, TDateTime& RecordDate);

// Converts the "data" samples of the file read by GetWaveInfo into three new
// buffers of equal length (see BufferLength) and returns the number of frames.
// Time line: (j + 1) / SampleRate seconds. A sample takes BitsPerSample / 8 bytes,
// or BlockAlign / Channels where that container is wider or the bits are no whole
// byte (a container that cannot hold them, or wider than 8 bytes, loads nothing).
// One byte gives 0…255, two their signed value, wider ones their most significant
// 16 bits. Reverse swaps the channels; with more than two channels the first two
// of each frame are read. No channels at all is "Division by zero".
// The previous buffers are released once the new ones are filled. Buffers that do
// not fit in the memory available (checked before anything is allocated), a refused
// allocation or a failing read throw and leave them as they were. A file that
// shrank since GetWaveInfo yields the whole frames it still holds. A file without a
// "fmt " or a "data" chunk, a frame count or a sample rate of 0 loads nothing: the
// buffers are released and set to null, and the result is 0.
std::int32_t LoadWaveData(const std::string& FileName, bool Reverse, pDoubleArray& LWTime,
                          pDoubleArray& LWLeftCH, pDoubleArray& LWRightCH);

// Why the last GetWaveInfo and LoadWaveData loaded no frames from a file they could
// read, in one sentence or two for the person who chose it: what the file holds
// and, where its format is the reason, what the program opens. Russian, UTF-8.
std::string NothingLoadedReason();

// Creates FileName (never replacing an existing file) and writes SizeF frames of
// LWLeftCH/LWRightCH as 16-bit stereo PCM, each sample rounded ties-to-even and
// keeping its low 16 bits. The declared rate is the recording's own, taken from the
// time line (LWTime[0] is one sample period); 22050 when there is none. The file
// appears under its name only when it is complete and flushed to disk: it is written
// unnamed in the target's folder and then linked to the name, which fails rather
// than replaces when the name was taken meanwhile. Where the file system has no
// unnamed files, a hidden temporary name in the same folder stands in for it; one
// left by a save that was cut short is removed by the next save there. On any
// failure nothing new remains.
void SaveDataToWavFile(const std::string& FileName, bool Reverse, pDoubleArray& LWTime,
                       pDoubleArray& LWLeftCH, pDoubleArray& LWRightCH, std::int32_t SizeF);

// How the writer gives the finished file its name. It starts with the first way and
// moves on to the next where the system does not offer one: linking the unnamed
// file's descriptor, linking it through its name under /proc, and a hidden
// temporary name. Tests start further down the list.
enum class TSaveWay { LinkDescriptor, LinkThroughProc, HiddenName };
extern TSaveWay SaveWay;
// Called, when set, before each write of the file's bytes and before the finished
// file is linked to its name; tests interrupt a save there.
extern void (*BeforeSaveStep)();

// Little-endian reads from Buffer at its position; each advances the position by
// its width. Bytes past the end of Buffer read as 0.
std::uint32_t ReadDW();
std::uint16_t ReadWD();
std::uint8_t ReadBT();

// The length of the three buffers for F frames: the power of two nearest to F on a
// logarithmic scale when it is at least F, otherwise F (1000 -> 1024, 1400 -> 1400,
// 1449 -> 2048). F must be at least 1.
std::uint64_t BufferLength(std::uint64_t F);

// Fills line[0 … count) with entries first … first + count - 1 of the time line:
// entry j is (j + 1) / rate seconds, divided in extended precision and rounded to
// double. rate must be > 0.
void FillTimeLine(double* line, std::size_t first, std::size_t count, std::uint32_t rate);

// Days since 1899-12-30 for a calendar date and time of day, as the editor shows
// dates. No validation.
TDateTime EncodeDateTime(int year, int month, int day, int hour, int minute, int second);

}  // namespace WaveFile
