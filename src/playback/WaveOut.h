// Waveform-audio output: the functions the playback thread drives, with their
// structures and constants, played through the system's sound server. Per
// device handle (used from one thread at a time):
// - One buffer at a time. It stays queued (WHDR_INQUEUE) until its last frame
//   has been heard, until reset, or once the output has not called for sound
//   for over a second (the server went away).
// - Pause halts the sound at once. Once pause or reset has returned, the
//   output reads the buffer no more.
// - A call that needs the sound server gives up after 2 s: the device is lost
//   (later calls fail, close succeeds) and never plays when the server comes
//   back, and while such a call still waits every open fails at once.
#pragma once

#include <cstdint>
#include <string>

namespace WaveOut {

typedef std::uint32_t UINT, DWORD, MMRESULT;
typedef std::uint16_t WORD;
typedef std::uintptr_t DWORD_PTR;

class WaveOutDevice;
using HWAVEOUT = WaveOutDevice*;

constexpr MMRESULT MMSYSERR_NOERROR = 0, MMSYSERR_ERROR = 1, MMSYSERR_BADDEVICEID = 2, MMSYSERR_INVALHANDLE = 5,
                   MMSYSERR_NODRIVER = 6, MMSYSERR_INVALFLAG = 10, MMSYSERR_INVALPARAM = 11;
constexpr MMRESULT WAVERR_BADFORMAT = 32, WAVERR_STILLPLAYING = 33, WAVERR_UNPREPARED = 34;
constexpr UINT WAVE_MAPPER = 0xFFFFFFFFu;
constexpr DWORD CALLBACK_NULL = 0;
constexpr DWORD WHDR_DONE = 0x01, WHDR_PREPARED = 0x02, WHDR_INQUEUE = 0x10;
constexpr UINT TIME_SAMPLES = 0x0002;  // the one time format the device offers
constexpr WORD WAVE_FORMAT_PCM = 1;

struct WAVEFORMATEX {
  WORD wFormatTag, nChannels;
  DWORD nSamplesPerSec, nAvgBytesPerSec;
  WORD nBlockAlign, wBitsPerSample, cbSize;
};

struct WAVEHDR {
  char* lpData;
  DWORD dwBufferLength, dwBytesRecorded;
  DWORD_PTR dwUser;
  DWORD dwFlags, dwLoops;
  WAVEHDR* lpNext;
  DWORD_PTR reserved;  // the bytes filled so far: all once prepared, then as marked
};

// Whatever format is asked for, the position is given in samples (frames).
struct MMTIME {
  UINT wType;
  DWORD sample;
  std::uint8_t reserved[4];  // the room other formats would take
};
static_assert(sizeof(MMTIME) == 12);

// Opens the default output (WAVE_MAPPER or device 0) for PCM of 8 or 16 bits,
// fdwOpen CALLBACK_NULL. On failure *phwo is null; LastErrorText() says why.
MMRESULT waveOutOpen(HWAVEOUT* phwo, UINT uDeviceID, const WAVEFORMATEX* pwfx, DWORD_PTR dwCallback,
                     DWORD_PTR dwInstance, DWORD fdwOpen);
MMRESULT waveOutPrepareHeader(HWAVEOUT hwo, WAVEHDR* pwh, UINT cbwh);
MMRESULT waveOutUnprepareHeader(HWAVEOUT hwo, WAVEHDR* pwh, UINT cbwh);
MMRESULT waveOutWrite(HWAVEOUT hwo, WAVEHDR* pwh, UINT cbwh);
// Of a prepared buffer, only the first `bytes` hold their samples so far
// (more than the buffer means all): it can be written while it is still being
// filled, and past the mark the output plays silence, not counted in the
// position. A buffer never marked is whole.
MMRESULT waveOutMarkFilled(HWAVEOUT hwo, WAVEHDR* pwh, DWORD bytes);
// The frames heard since the last reset, compensated for the output latency;
// never moves backwards.
MMRESULT waveOutGetPosition(HWAVEOUT hwo, MMTIME* pmmt, UINT cbmmt);
MMRESULT waveOutPause(HWAVEOUT hwo);
MMRESULT waveOutReset(HWAVEOUT hwo);
MMRESULT waveOutClose(HWAVEOUT hwo);

// The system's text for the last failure of a WaveOut call on this thread.
std::string LastErrorText();

}  // namespace WaveOut
