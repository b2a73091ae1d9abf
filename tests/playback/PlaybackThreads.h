// Whether playbacks are still under way, seen from outside the playback code.
#pragma once

#include "playback/SoundPlayThread.h"

#include <QCoreApplication>

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

// Whether a playback has not finished. A thread is named as it starts, so a
// moment after Play this sees it. Once none runs, what they posted to the GUI
// thread (the controls given back) is run before the answer.
inline bool PlaybackUnderWay() {
  if (SoundPlayThread::Sound1.Channels || PlaybackThreadsRunning()) return true;
  QCoreApplication::sendPostedEvents();
  return false;
}
