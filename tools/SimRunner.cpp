#include "tools/SimRunner.h"

#include <algorithm>
#include <cerrno>
#include <ctime>

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

namespace {

using TClock = TSimStream::TClock;

timespec Until(TClock::time_point deadline, TClock::time_point now) {
  const auto left = std::max(deadline - now, TClock::duration::zero());
  const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(left).count();
  return timespec{time_t(ns / 1'000'000'000), long(ns % 1'000'000'000)};
}

} // namespace

TSimStop::TSimStop() {
  FFd = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  if (FFd < 0) FError = errno;
}

TSimStop::~TSimStop() {
  if (FFd >= 0) ::close(FFd);
}

void TSimStop::Raise() {
  FRaised.store(true, std::memory_order_release);
  const int saved = errno; // a signal handler must leave errno as it found it
  const uint64_t one = 1;
  const ssize_t n = FFd >= 0 ? ::write(FFd, &one, sizeof one) : 0;
  (void)n; // nothing to do if it fails: the flag alone still stops the run at its next wake-up
  errno = saved;
}

TSimResult RunSimulation(int fd, TSimStream &stream, const TSimStop &stop) {
  TSimResult result;
  const int flags = ::fcntl(fd, F_GETFL);
  if (flags < 0 || ::fcntl(fd, F_SETFL, flags | O_NONBLOCK) < 0) {
    result.Error = errno;
    return result;
  }
  std::string pending;
  size_t sent = 0;
  stream.Start(TClock::now());
  for (;;) {
    if (stop.Raised()) {
      result.Stopped = true;
      break;
    }
    if (sent == pending.size()) {
      pending.clear();
      sent = 0;
      if (stream.Done()) break;
      stream.Take(TClock::now(), pending);
      result.Records = stream.Records();
    }
    if (sent < pending.size()) {
      const ssize_t n = ::write(fd, pending.data() + sent, pending.size() - sent);
      if (n > 0) {
        sent += size_t(n);
        result.Bytes += uint64_t(n);
        continue;
      }
      if (n < 0 && errno == EINTR) continue;
      if (n < 0 && errno != EAGAIN) {
        result.Error = errno;
        break;
      }
    }
    // Wait for room on the line, or else for the next record to fall due; and for the stop.
    const bool full = sent < pending.size();
    pollfd fds[2] = {{stop.Fd(), POLLIN, 0}, {fd, POLLOUT, 0}};
    timespec timeout{};
    const timespec *wait = nullptr;
    if (full && stream.End() != TClock::time_point::max()) {
      // A line nobody reads does not keep the run beyond its duration.
      const auto now = TClock::now();
      if (now >= stream.End()) break;
      timeout = Until(stream.End(), now);
      wait = &timeout;
    }
    if (!full) {
      if (stream.Done()) continue; // the last Take ended it without a byte (a duration ran out)
      const auto now = TClock::now();
      const auto deadline = stream.NextDeadline();
      if (deadline <= now) continue;
      timeout = Until(deadline, now);
      wait = &timeout;
    }
    const int ready = ::ppoll(fds, full ? 2 : 1, wait, nullptr);
    if (ready < 0 && errno != EINTR) {
      result.Error = errno;
      break;
    }
    // A hung-up line never turns writable again: report it instead of waiting on it for ever.
    if (full && (fds[1].revents & (POLLERR | POLLHUP | POLLNVAL)) && !(fds[1].revents & POLLOUT)) {
      result.Error = (fds[1].revents & POLLNVAL) ? EBADF : EIO;
      break;
    }
  }
  return result;
}

TSimulator::TSimulator(const TSimOptions &options) : FOptions(options) {}

TSimulator::~TSimulator() { Stop(); }

int TSimulator::Start(int fd) {
  if (Running()) return EBUSY;
  if (FThread.joinable()) FThread.join();
  auto stop = std::make_unique<TSimStop>();
  if (!stop->Valid()) return stop->Error();
  FStop = std::move(stop);
  FResult = {};
  FRunning.store(true, std::memory_order_release);
  FThread = std::thread([this, fd] {
    TSimStream stream(FOptions);
    const TSimResult result = RunSimulation(fd, stream, *FStop);
    FResult = result;
    if (FOnFinished) FOnFinished(result);
    FRunning.store(false, std::memory_order_release);
  });
  return 0;
}

void TSimulator::Stop() {
  if (FStop) FStop->Raise();
  Wait();
}

void TSimulator::Wait() {
  if (FThread.joinable()) FThread.join();
}
