// Records what the test sound server's null sink plays (its monitor), 48 kHz,
// two channels, 16 bit, and maps captured frames to steady-clock time so the
// tests can compare reported play positions with the sound actually heard.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

constexpr int kCaptureRate = 48000;

// Timing limits of the tests are multiplied by this: sanitizer builds run
// several times slower, and they check memory and threads, not timing.
#if defined(__SANITIZE_THREAD__) || defined(__SANITIZE_ADDRESS__)
constexpr double kSlowdown = 4.0;
#else
constexpr double kSlowdown = 1.0;
#endif

using SteadyTime = std::chrono::steady_clock::time_point;

class MonitorCapture {
 public:
  // Starts the recorder and returns once captured data flows (the idle sink
  // first delivers in large blocks). Throws std::runtime_error on failure.
  MonitorCapture();
  ~MonitorCapture();
  MonitorCapture(const MonitorCapture&) = delete;
  MonitorCapture& operator=(const MonitorCapture&) = delete;

  // Interleaved left/right frames captured so far.
  std::vector<std::int16_t> samples() const;
  std::size_t frames() const;
  // When captured frame `frame` was played, on the steady clock (estimated
  // from the earliest arrival of each block, which carries the least delay).
  SteadyTime frameTime(double frame) const;
  // The captured frame being played at `t`.
  double frameAt(SteadyTime t) const;
  // Waits until frames played up to `t` (plus the capture latency) arrived.
  void waitUntilCaptured(SteadyTime t) const;

 private:
  void readLoop();

  pid_t pid_ = -1;
  int fd_ = -1;
  std::thread reader_;
  mutable std::mutex mutex_;
  std::vector<std::int16_t> samples_;
  std::optional<SteadyTime> origin_;  // estimated play time of captured frame 0
};

// Index of the frame from which `played` (interleaved stereo) occurs in
// `captured` exactly: first tried at the peak of the left channel's
// cross-correlation near the first non-silent frame, then anywhere (when
// other sound came first); nullopt when it is not there sample for sample.
std::optional<std::size_t> findExact(const std::vector<std::int16_t>& captured,
                                     const std::vector<std::int16_t>& played);

// Last captured frame whose left or right sample exceeds `threshold` in size.
std::optional<std::size_t> lastLoudFrame(const std::vector<std::int16_t>& captured, int threshold);

// Tests that take the sound server away run their body in a child process of
// the test program: the audio library's shutdown after a failed open unloads
// sound plug-ins whose start-up allocations the leak checker would report.
// True in that child, where PULSE_SERVER points nowhere and realPulseServer()
// names the test server.
bool runsWithoutServer();
std::string realPulseServer();
// Runs the current test again in such a child; returns its exit status.
int runCurrentTestWithoutServer();

// Interleaved stereo: a sine of `leftHz` on the left and `rightHz` on the right.
std::vector<std::int16_t> stereoTones(std::size_t frames, double leftHz, double rightHz, double amplitude = 8000);
