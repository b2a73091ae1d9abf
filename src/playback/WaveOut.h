// Waveform-audio output: the open / prepare / write / poll / pause / reset /
// close functions the playback thread drives, with their structures and
// constants, played through the system's sound server.
//
// Contract, per device handle:
// - waveOutOpen starts the output at once (silence until a buffer is written),
//   so a written buffer is heard without start-up delay.
// - One buffer at a time: a write while a buffer is queued is refused. The
//   buffer stays queued (WHDR_INQUEUE, waveOutUnprepareHeader answers
//   WAVERR_STILLPLAYING) until its last frame has been heard, not merely
//   handed to the sound server.
// - waveOutGetPosition reports the frames heard since open or the last reset,
//   compensated for the output latency; it never moves backwards.
// - waveOutPause halts the sound at once and drops what the server still
//   buffers; the device plays no more. The buffer stays queued until
//   waveOutReset gives it back.
// - waveOutClose refuses (WAVERR_STILLPLAYING) while the buffer is queued.
// - waveOutMarkFilled lets a buffer be written while it is still being filled:
//   only its marked part is played, and past the mark the output hands over
//   silence (not counted in the position) until more is marked.
// A handle may be used from any one thread at a time, except that one other
// thread may mark the filled part meanwhile; different handles are
// independent.
#pragma once

#include <cstdint>
#include <string>

namespace WaveOut {

using UINT = std::uint32_t;
using DWORD = std::uint32_t;
using WORD = std::uint16_t;
using BYTE = std::uint8_t;
using MMRESULT = UINT;
using DWORD_PTR = std::uintptr_t;

class WaveOutDevice;
using HWAVEOUT = WaveOutDevice*;

// Results.
constexpr MMRESULT MMSYSERR_NOERROR = 0;
constexpr MMRESULT MMSYSERR_ERROR = 1;
constexpr MMRESULT MMSYSERR_BADDEVICEID = 2;
constexpr MMRESULT MMSYSERR_INVALHANDLE = 5;
constexpr MMRESULT MMSYSERR_NODRIVER = 6;
constexpr MMRESULT MMSYSERR_NOMEM = 7;
constexpr MMRESULT MMSYSERR_INVALFLAG = 10;
constexpr MMRESULT MMSYSERR_INVALPARAM = 11;
constexpr MMRESULT WAVERR_BADFORMAT = 32;
constexpr MMRESULT WAVERR_STILLPLAYING = 33;
constexpr MMRESULT WAVERR_UNPREPARED = 34;

// Device choice and open flags.
constexpr UINT WAVE_MAPPER = 0xFFFFFFFFu;
constexpr DWORD CALLBACK_NULL = 0;

// Buffer header flags.
constexpr DWORD WHDR_DONE = 0x01;
constexpr DWORD WHDR_PREPARED = 0x02;
constexpr DWORD WHDR_INQUEUE = 0x10;

// The one time format of MMTIME the device offers.
constexpr UINT TIME_SAMPLES = 0x0002;

constexpr WORD WAVE_FORMAT_PCM = 1;

struct WAVEFORMATEX {
  WORD wFormatTag;
  WORD nChannels;
  DWORD nSamplesPerSec;
  DWORD nAvgBytesPerSec;
  WORD nBlockAlign;
  WORD wBitsPerSample;
  WORD cbSize;
};

struct WAVEHDR {
  char* lpData;
  DWORD dwBufferLength;
  DWORD dwBytesRecorded;
  DWORD_PTR dwUser;
  DWORD dwFlags;
  DWORD dwLoops;
  WAVEHDR* lpNext;
  DWORD_PTR reserved;
};

// A position record. Whatever format is asked for, the position is given in
// samples (frames): wType is set to TIME_SAMPLES.
struct MMTIME {
  UINT wType;
  DWORD sample;
  BYTE reserved[4];  // the room other formats would take
};
static_assert(sizeof(MMTIME) == 12);

// Opens the default output (WAVE_MAPPER or device 0) for PCM of 8 or 16 bits.
// fdwOpen must be CALLBACK_NULL. On failure *phwo is null and LastErrorText()
// tells the reason.
MMRESULT waveOutOpen(HWAVEOUT* phwo, UINT uDeviceID, const WAVEFORMATEX* pwfx, DWORD_PTR dwCallback,
                     DWORD_PTR dwInstance, DWORD fdwOpen);
MMRESULT waveOutPrepareHeader(HWAVEOUT hwo, WAVEHDR* pwh, UINT cbwh);
MMRESULT waveOutUnprepareHeader(HWAVEOUT hwo, WAVEHDR* pwh, UINT cbwh);
MMRESULT waveOutWrite(HWAVEOUT hwo, WAVEHDR* pwh, UINT cbwh);
// Of a prepared buffer, only the first `bytes` hold their samples so far (a
// whole frame count of them; more than the buffer means all). A buffer never
// marked is whole; unpreparing it drops the mark.
MMRESULT waveOutMarkFilled(HWAVEOUT hwo, WAVEHDR* pwh, DWORD bytes);
MMRESULT waveOutGetPosition(HWAVEOUT hwo, MMTIME* pmmt, UINT cbmmt);
MMRESULT waveOutPause(HWAVEOUT hwo);
MMRESULT waveOutReset(HWAVEOUT hwo);
MMRESULT waveOutClose(HWAVEOUT hwo);

// How many times waveOutOpen has been called in this process, successful or
// not (what tests and benchmarks count device openings by).
std::uint64_t OpenCalls();

// The system's text for the last failure of a WaveOut call on this thread
// (empty when none failed yet).
std::string LastErrorText();

}  // namespace WaveOut
