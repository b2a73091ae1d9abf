#include "MonitorCapture.h"

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <cmath>
#include <cstring>
#include <numbers>
#include <stdexcept>

extern char** environ;

MonitorCapture::MonitorCapture() {
  int pipeFds[2];
  if (pipe(pipeFds) != 0) throw std::runtime_error("pipe failed");
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);
  posix_spawn_file_actions_addclose(&actions, pipeFds[0]);
  posix_spawn_file_actions_addclose(&actions, pipeFds[1]);
  char arg0[] = "parec", dev[] = "--device=test_sink.monitor", rate[] = "--rate=48000", ch[] = "--channels=2",
       fmt[] = "--format=s16le", lat[] = "--latency-msec=5", raw[] = "--raw";
  char* argv[] = {arg0, dev, rate, ch, fmt, lat, raw, nullptr};
  const int rc = posix_spawnp(&pid_, "parec", &actions, nullptr, argv, environ);
  posix_spawn_file_actions_destroy(&actions);
  close(pipeFds[1]);
  if (rc != 0) {
    close(pipeFds[0]);
    throw std::runtime_error("cannot start parec");
  }
  fd_ = pipeFds[0];
  reader_ = std::thread([this] { readLoop(); });

  // Data flows once the sink answers in small blocks: wait for 100 ms of it
  // after the first arrival.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  std::size_t firstFrames = 0;
  while (std::chrono::steady_clock::now() < deadline) {
    const std::size_t n = frames();
    if (firstFrames == 0 && n > 0) firstFrames = n;
    if (firstFrames > 0 && n >= firstFrames + kCaptureRate / 10) return;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  throw std::runtime_error("the sink's monitor delivers no data");
}

MonitorCapture::~MonitorCapture() {
  if (pid_ > 0) {
    kill(pid_, SIGTERM);
    waitpid(pid_, nullptr, 0);
  }
  if (reader_.joinable()) reader_.join();
  if (fd_ >= 0) close(fd_);
}

void MonitorCapture::readLoop() {
  std::vector<char> block(1 << 14);
  std::size_t carried = 0;  // bytes of an incomplete sample left from the last read
  for (;;) {
    const ssize_t n = read(fd_, block.data() + carried, block.size() - carried);
    if (n <= 0) return;
    const auto now = std::chrono::steady_clock::now();
    const std::size_t bytes = carried + std::size_t(n);
    const std::size_t whole = bytes / 4 * 4;
    std::lock_guard lock(mutex_);
    const std::size_t before = samples_.size();
    samples_.resize(before + whole / 2);
    for (std::size_t i = 0; i < whole / 2; ++i)
      samples_[before + i] = std::int16_t(std::uint8_t(block[2 * i]) | (std::uint8_t(block[2 * i + 1]) << 8));
    const auto span = std::chrono::duration_cast<SteadyTime::duration>(
        std::chrono::duration<double>(double(samples_.size() / 2) / kCaptureRate));
    // A frame was played no later than it arrived, so each read bounds the
    // capture's origin from above; the smallest bound is the closest.
    const SteadyTime origin = now - span;
    if (!origin_ || origin < *origin_) origin_ = origin;
    carried = bytes - whole;
    for (std::size_t i = 0; i < carried; ++i) block[i] = block[whole + i];
  }
}

std::vector<std::int16_t> MonitorCapture::samples() const {
  std::lock_guard lock(mutex_);
  return samples_;
}

std::size_t MonitorCapture::frames() const {
  std::lock_guard lock(mutex_);
  return samples_.size() / 2;
}

SteadyTime MonitorCapture::frameTime(double frame) const {
  std::lock_guard lock(mutex_);
  return *origin_ +
         std::chrono::duration_cast<SteadyTime::duration>(std::chrono::duration<double>(frame / kCaptureRate));
}

double MonitorCapture::frameAt(SteadyTime t) const {
  std::lock_guard lock(mutex_);
  return std::chrono::duration<double>(t - *origin_).count() * kCaptureRate;
}

void MonitorCapture::waitUntilCaptured(SteadyTime t) const {
  const double wanted = frameAt(t) + 0.05 * kCaptureRate;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (double(frames()) < wanted && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
}

std::optional<std::size_t> findExact(const std::vector<std::int16_t>& captured,
                                     const std::vector<std::int16_t>& played) {
  const std::size_t cFrames = captured.size() / 2, pFrames = played.size() / 2;
  auto firstLoud = [](const std::vector<std::int16_t>& s) -> std::optional<std::size_t> {
    for (std::size_t i = 0; i < s.size(); ++i)
      if (s[i] != 0) return i / 2;
    return std::nullopt;
  };
  const auto c0 = firstLoud(captured), p0 = firstLoud(played);
  if (!c0 || !p0 || *c0 < *p0) return std::nullopt;
  const long guess = long(*c0 - *p0);
  // Peak of the left channel's cross-correlation within ±256 frames of the guess.
  const std::size_t window = std::min<std::size_t>(2048, pFrames - *p0);
  long best = -1;
  double bestScore = -1;
  for (long lag = std::max(0L, guess - 256); lag <= guess + 256; ++lag) {
    if (std::size_t(lag) + *p0 + window > cFrames) break;
    double score = 0;
    for (std::size_t i = *p0; i < *p0 + window; ++i)
      score += double(played[2 * i]) * captured[2 * (std::size_t(lag) + i)];
    if (score > bestScore) {
      bestScore = score;
      best = lag;
    }
  }
  auto exactAt = [&](std::size_t at) {
    if (at + pFrames > cFrames) return false;
    for (std::size_t i = 0; i < played.size(); ++i)
      if (captured[2 * at + i] != played[i]) return false;
    return true;
  };
  if (best >= 0 && exactAt(std::size_t(best))) return std::size_t(best);
  // Something else was heard before (another playback): look everywhere.
  for (std::size_t at = 0; at + pFrames <= cFrames; ++at)
    if (captured[2 * (at + *p0)] == played[2 * *p0] && captured[2 * (at + *p0) + 1] == played[2 * *p0 + 1] &&
        exactAt(at))
      return at;
  return std::nullopt;
}

std::optional<std::size_t> lastLoudFrame(const std::vector<std::int16_t>& captured, int threshold) {
  for (std::size_t i = captured.size(); i-- > 0;)
    if (std::abs(int(captured[i])) > threshold) return i / 2;
  return std::nullopt;
}

std::vector<std::int16_t> stereoTones(std::size_t frames, double leftHz, double rightHz, double amplitude) {
  std::vector<std::int16_t> s(frames * 2);
  for (std::size_t i = 0; i < frames; ++i) {
    const double t = double(i) / kCaptureRate;
    s[2 * i] = std::int16_t(std::lround(amplitude * std::sin(2 * std::numbers::pi * leftHz * t + 0.5)));
    s[2 * i + 1] = std::int16_t(std::lround(amplitude * std::sin(2 * std::numbers::pi * rightHz * t + 0.5)));
  }
  return s;
}

bool runsWithoutServer() { return std::getenv("TEMBRIX_REAL_PULSE_SERVER") != nullptr; }

std::string realPulseServer() {
  const char* s = std::getenv("TEMBRIX_REAL_PULSE_SERVER");
  return s ? s : "";
}

int runCurrentTestWithoutServer() {
  const testing::TestInfo* test = testing::UnitTest::GetInstance()->current_test_info();
  std::string filter = std::string("--gtest_filter=") + test->test_suite_name() + "." + test->name();
  const char* server = std::getenv("PULSE_SERVER");
  std::string real = std::string("TEMBRIX_REAL_PULSE_SERVER=") + (server ? server : "");
  std::string nowhere = "PULSE_SERVER=unix:/nonexistent/pulse/native";
  const char* asan = std::getenv("ASAN_OPTIONS");
  std::string noLeaks = std::string("ASAN_OPTIONS=") + (asan ? std::string(asan) + ":" : "") + "detect_leaks=0";
  std::vector<char*> env;
  for (char** e = environ; *e; ++e)
    if (std::strncmp(*e, "PULSE_SERVER=", 13) != 0 && std::strncmp(*e, "ASAN_OPTIONS=", 13) != 0) env.push_back(*e);
  env.push_back(real.data());
  env.push_back(nowhere.data());
  env.push_back(noLeaks.data());
  env.push_back(nullptr);
  char self[] = "/proc/self/exe";
  char* argv[] = {self, filter.data(), nullptr};
  pid_t pid = -1;
  if (posix_spawn(&pid, self, nullptr, nullptr, argv, env.data()) != 0) return -1;
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}
