#include "playback/FillMark.h"

#include <algorithm>

void TFillMark::Publish(std::size_t n) {
  {
    std::lock_guard lock(mutex_);
    filled_ = std::max(filled_, n);
  }
  changed_.notify_all();
}

void TFillMark::GiveUp() {
  {
    std::lock_guard lock(mutex_);
    givenUp_ = true;
  }
  changed_.notify_all();
}

std::size_t TFillMark::WaitFor(std::size_t n) const {
  std::unique_lock lock(mutex_);
  changed_.wait(lock, [&] { return filled_ >= n || givenUp_; });
  return filled_;
}
