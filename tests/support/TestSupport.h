#pragma once
// Waiting helpers shared by the threaded tests: never a sleep, always an event with a deadline.
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <mutex>
#include <thread>

namespace testsupport {

inline constexpr std::chrono::seconds Deadline{10};

// Runs the event loop until `done` holds or the deadline passes. The loop wakes at least every
// `tick`, so conditions that other threads change without posting an event are seen too.
inline bool RunLoopUntil(const std::function<bool()> &done, std::chrono::milliseconds limit = Deadline,
                         std::chrono::milliseconds tick = std::chrono::milliseconds(100)) {
  QDeadlineTimer deadline(limit);
  QTimer wake; // wakes the wait for more events now and then to look at the deadline
  wake.setTimerType(Qt::PreciseTimer);
  wake.start(std::min(limit, tick));
  while (!done()) {
    if (deadline.hasExpired()) return false;
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
  }
  return true;
}

// Ends the run if the guarded scope hangs: a join that never returns would stall the suite.
class TWatchdog {
public:
  explicit TWatchdog(const char *what)
      : FThread([this, what] {
          std::unique_lock lock(FMutex);
          if (!FChanged.wait_for(lock, Deadline, [&] { return FDone; })) {
            std::fprintf(stderr, "hang: %s\n", what);
            std::abort();
          }
        }) {}
  ~TWatchdog() {
    {
      std::lock_guard lock(FMutex);
      FDone = true;
    }
    FChanged.notify_all();
    FThread.join();
  }
  TWatchdog(const TWatchdog &) = delete;
  TWatchdog &operator=(const TWatchdog &) = delete;

private:
  std::mutex FMutex;
  std::condition_variable FChanged;
  bool FDone = false;
  std::thread FThread;
};

} // namespace testsupport
