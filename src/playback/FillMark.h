// How far one thread has filled an array that other threads read while it is
// still being filled. The filler writes elements, then publishes their count;
// a reader that has waited for n elements may read the first n. Play works
// this way on a long span: its start is heard while the rest is still being
// converted and interleaved.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <mutex>

class TFillMark {
 public:
  explicit TFillMark(std::size_t total) : total_(total) {}
  TFillMark(const TFillMark&) = delete;
  TFillMark& operator=(const TFillMark&) = delete;

  // The elements there are to fill.
  std::size_t Total() const { return total_; }

  // The filler: the first n elements are written. The count only grows.
  void Publish(std::size_t n);
  // The filler stops early: waiters wake, and the count stays where it is.
  void GiveUp();

  // Waits until at least n elements are filled, or the filler has given up;
  // returns the count filled then.
  std::size_t WaitFor(std::size_t n) const;
  // Waits until every element is filled (or the filler has given up).
  void WaitAll() const { WaitFor(total_); }

 private:
  const std::size_t total_;
  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
  std::size_t filled_ = 0;
  bool givenUp_ = false;
};
