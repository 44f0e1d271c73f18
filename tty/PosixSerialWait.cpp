// The event mask and the wait for events, and the loop a blocked wait can be woken from.
#include "tty/PosixSerialShared.h"

using namespace posix_tty;

namespace {

void OnWakeSignal(int) {}

// The signal that interrupts a blocked loop step, or 0 when the process handles it itself.
int WakeSignal() {
  static const int sig = [] {
    const int s = SIGRTMIN + 4;
    struct sigaction old {};
    if (::sigaction(s, nullptr, &old) != 0)
      return 0;
    if (!(old.sa_flags & SA_SIGINFO) && old.sa_handler == OnWakeSignal)
      return s;
    if ((old.sa_flags & SA_SIGINFO) || old.sa_handler != SIG_DFL)
      return 0;
    struct sigaction sa {};
    sa.sa_handler = OnWakeSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = 0; // no SA_RESTART: the blocked call must come back with EINTR
    return ::sigaction(s, &sa, nullptr) == 0 ? s : 0;
  }();
  return sig;
}

} // namespace

// ---------------------------------------------------------------------------------------------
// TInterruptibleLoop

TInterruptibleLoop::~TInterruptibleLoop() { Stop(); }

bool TInterruptibleLoop::Start(std::function<bool()> step) {
  const int sig = WakeSignal();
  if (sig == 0)
    return false;
  {
    std::lock_guard lock(FMutex);
    if (FRunning)
      return false;
  }
  if (FThread.joinable())
    FThread.join(); // a loop that ended by itself
  FStop = false;
  {
    std::lock_guard lock(FMutex);
    FRunning = true;
  }
  FThread = std::thread([this, sig, step = std::move(step)] {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, sig);
    pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
    while (!FStop.load() && step()) {
    }
    std::lock_guard lock(FMutex);
    FRunning = false;
    FEnded.notify_all();
  });
  return true;
}

void TInterruptibleLoop::Stop() {
  if (!FThread.joinable())
    return;
  FStop = true;
  {
    std::unique_lock lock(FMutex);
    // The signal may land just before the step blocks; send it again until the loop has ended.
    while (FRunning) {
      pthread_kill(FThread.native_handle(), WakeSignal());
      FEnded.wait_for(lock, std::chrono::milliseconds(2));
    }
  }
  FThread.join();
}

bool TInterruptibleLoop::Running() const {
  std::lock_guard lock(FMutex);
  return FRunning;
}

int TPosixSerialDevice::DoSetCommMask(uint32_t mask) {
  TUse use(*this);
  if (!use)
    return EBADF;
  {
    std::lock_guard lock(FMutex);
    FMask = mask;
    FLatched = 0;
    ++FMaskGen;
    if (FWaiting)
      Signal(FWaitWake);
  }
  UpdateModemWatch();
  return 0;
}

int TPosixSerialDevice::DoGetCommMask(uint32_t &mask) {
  TUse use(*this);
  if (!use)
    return EBADF;
  std::lock_guard lock(FMutex);
  mask = FMask;
  return 0;
}

int TPosixSerialDevice::DoCancelWait() {
  std::lock_guard lock(FMutex);
  if (FFd < 0 || FClosing)
    return EBADF;
  FCancelled = true;
  Signal(FWaitWake);
  return 0;
}

int TPosixSerialDevice::DoTakeCommEvents(uint32_t &mask) {
  TUse use(*this);
  if (!use)
    return EBADF;
  std::lock_guard lock(FMutex);
  if (FClosing || FCancelled)
    return ECANCELED;
  // What the kernel holds now is what a wait would have been woken for.
  if (FMask & RxEvents)
    FillLocked();
  mask = FLatched & FMask;
  FLatched &= ~mask;
  return 0;
}

void TPosixSerialDevice::LatchLocked(uint32_t events) {
  FLatched |= events & FMask;
  if (FLatched && FWaitBlocked)
    Signal(FWaitWake);
}

void TPosixSerialDevice::MarkHungUpLocked(int error) {
  if (FHungUp)
    return;
  FHungUp = true;
  FHangupError = error;
  if (FWaitBlocked)
    Signal(FWaitWake);
}

// The poll timeout while written bytes drain, or -2 when the queue is empty now.
int TPosixSerialDevice::TxEmptyTimeoutLocked() {
  int queued = 0;
  if (::ioctl(FFd, TIOCOUTQ, &queued) != 0 || queued <= 0) {
    FTxPending = false;
    FDrainWaitMs = 0;
    return -2;
  }
  // No kernel event tells when the last bytes have left, so wait for the time they take on the
  // line; each wait that finds them still queued doubles the next (flow control may hold them),
  // up to one check a second.
  const uint64_t bits = 1u + FDcb.ByteSize + (FDcb.Parity != NOPARITY ? 1u : 0u) +
                        (FDcb.StopBits == ONESTOPBIT ? 1u : 2u);
  const uint64_t baud = std::max<uint32_t>(FDcb.BaudRate, 1);
  const int lineMs = int(std::min<uint64_t>(uint64_t(queued) * bits * 1000 / baud + 1, MaxDrainWaitMs));
  return std::max(lineMs, FDrainWaitMs);
}

int TPosixSerialDevice::DoWaitCommEvent(uint32_t &mask, int timeoutMs) {
  TUse use(*this);
  if (!use)
    return EBADF;
  uint64_t gen;
  {
    std::lock_guard lock(FMutex);
    if (FWaiting)
      return EBUSY;
    FWaiting = true;
    gen = FMaskGen;
  }
  struct TLeave {
    TPosixSerialDevice &D;
    ~TLeave() {
      std::lock_guard lock(D.FMutex);
      D.FWaiting = D.FWaitBlocked = D.FWaiterStarved = false;
    }
  } leave{*this};

  const auto deadline = TClock::now() + std::chrono::milliseconds(std::max(timeoutMs, 0));
  for (;;) {
    pollfd fds[2] = {};
    int timeout = -1;
    int limit = -1; // what is left of the caller's time
    {
      std::lock_guard lock(FMutex);
      if (FClosing || FCancelled)
        return ECANCELED;
      if (FMaskGen != gen)
        return 0; // the mask changed: the pending wait ends with no events
      if (FTxPending && (FMask & EV_TXEMPTY) && !FHungUp) {
        const int drain = TxEmptyTimeoutLocked();
        if (drain == -2)
          LatchLocked(EV_TXEMPTY);
        else
          timeout = drain;
      }
      if (const uint32_t events = FLatched & FMask) {
        FLatched = 0;
        mask = events;
        return 0;
      }
      if (FHungUp)
        return FHangupError;
      if (timeoutMs >= 0) {
        limit = MillisecondsUntil(deadline);
        if (limit == 0)
          return ETIMEDOUT;
        timeout = timeout < 0 ? limit : std::min(timeout, limit);
      }
      const bool wantRx = (FMask & RxEvents) != 0;
      const bool room = Buffered() < InputCapacity();
      fds[0].fd = FFd;
      fds[0].events = (wantRx && room) ? POLLIN : 0; // POLLHUP and POLLERR come regardless
      fds[1].fd = FWaitWake;
      fds[1].events = POLLIN;
      FWaitBlocked = true;
      FWaiterStarved = wantRx && !room;
    }
    const int r = ::poll(fds, 2, timeout);
    const int pollError = errno;
    ++FWakeups;
    if (fds[1].revents & POLLIN)
      Drain(FWaitWake);
    std::lock_guard lock(FMutex);
    FWaitBlocked = FWaiterStarved = false;
    if (r < 0) {
      if (pollError == EINTR)
        continue;
      return pollError;
    }
    if (r == 0 && timeout > 0 && timeout != limit)
      FDrainWaitMs = std::min(timeout * 2, MaxDrainWaitMs);
    const short got = fds[0].revents;
    if (got & POLLIN)
      FillLocked();
    if (got & (POLLHUP | POLLERR | POLLNVAL)) {
      // Keep what the line still delivers; the hangup is reported after it.
      FillLocked();
      MarkHungUpLocked(got & POLLNVAL ? EBADF : EIO);
    }
  }
}
