// Whether playbacks are still under way, seen from outside the playback code.
#pragma once

#include "playback/SoundPlayThread.h"

#include <filesystem>
#include <fstream>
#include <string>

// Whether a playback thread of this process has not ended yet. The toolkit
// names every thread after its class, and the system keeps 15 characters of
// the name.
inline bool PlaybackThreadsRunning() {
  const std::string name = std::string("TSoundPlayThread").substr(0, 15);
  std::error_code error;
  for (const auto& task : std::filesystem::directory_iterator("/proc/self/task", error)) {
    std::ifstream comm(task.path() / "comm");
    std::string line;
    if (std::getline(comm, line) && line == name) return true;
  }
  return false;
}

// Whether the last Play request has not finished: its samples still wait in
// Sound1 for its thread (which covers the moment before a just-started thread
// has its name), or a playback thread runs. Playbacks run one after another,
// so this is whether any has not finished.
inline bool PlaybackUnderWay() {
  return !SoundPlayThread::Sound1.Channels.empty() || PlaybackThreadsRunning();
}
