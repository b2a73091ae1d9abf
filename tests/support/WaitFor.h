// Waiting on the GUI thread for something another thread or the event loop
// brings about. Needs Qt6::Test.
#pragma once

#include <QTest>

#include <chrono>
#include <functional>

// Processes GUI events until `done` holds or the time is up; whether it held.
inline bool waitFor(const std::function<bool()>& done,
                    std::chrono::milliseconds timeout = std::chrono::milliseconds(10000)) {
  const auto end = std::chrono::steady_clock::now() + timeout;
  while (!done()) {
    if (std::chrono::steady_clock::now() > end) return false;
    QTest::qWait(1);
  }
  return true;
}
