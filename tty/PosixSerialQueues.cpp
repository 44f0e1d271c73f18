// The input and output queues: their sizes, reading and writing through them, errors and purging.
#include "tty/PosixSerialShared.h"

using namespace posix_tty;

// ---------------------------------------------------------------------------------------------
// TInputFilter

void TInputFilter::Configure(bool marked, bool replace, char errorChar, bool discardNull) {
  if (!marked)
    FState = 0;
  FMarked = marked;
  FReplace = replace;
  FErrorChar = errorChar;
  FDiscardNull = discardNull;
}

void TInputFilter::Emit(char *data, size_t &out, char c) const {
  if (FDiscardNull && c == 0)
    return;
  data[out++] = c;
}

size_t TInputFilter::Apply(char *data, size_t count) {
  if (!Active())
    return count;
  size_t out = 0;
  for (size_t i = 0; i < count; ++i) {
    const char c = data[i];
    switch (FState) {
    case 0:
      if (FMarked && c == '\xff')
        FState = 1;
      else
        Emit(data, out, c);
      break;
    case 1:
      if (c == '\xff') {
        Emit(data, out, c);
        FState = 0;
      } else if (c == 0) {
        FState = 2;
      } else {
        // Not a mark the kernel writes (marking was switched on mid-stream): keep the byte.
        Emit(data, out, c);
        FState = 0;
      }
      break;
    default:
      Emit(data, out, FReplace ? FErrorChar : c);
      FState = 0;
      break;
    }
  }
  return out;
}

int TPosixSerialDevice::DoSetupComm(uint32_t inQueue, uint32_t outQueue) {
  TUse use(*this);
  if (!use)
    return EBADF;
  std::lock_guard lock(FMutex);
  FInQueue = inQueue;
  FOutQueue = outQueue;
  if (FWaiterStarved && Buffered() < InputCapacity())
    Signal(FWaitWake);
  return 0;
}

// The device reads ahead beyond the queue size it was given, as a driver buffers more than an
// application asks for: the event thread can then take in a whole frame's worth of a fast line
// while the GUI thread is busy, and the kernel's own small buffer never fills. The queue size
// still decides what "80 % full" means.
size_t TPosixSerialDevice::InputCapacity() const {
  return std::min<size_t>(std::max<size_t>(FInQueue ? FInQueue : DefaultInputSize, ReadAheadSize), MaxInputSize);
}

uint64_t TPosixSerialDevice::BytesReceived() const {
  std::lock_guard lock(FMutex);
  return FReceived;
}

// Moves what the kernel holds into the device's queue, as far as there is room.
void TPosixSerialDevice::FillLocked() {
  const size_t capacity = InputCapacity();
  if (FHungUp || Buffered() >= capacity)
    return;
  if (FInHead > 0) {
    FIn.erase(FIn.begin(), FIn.begin() + std::ptrdiff_t(FInHead));
    FInHead = 0;
  }
  const size_t old = FIn.size();
  // Read through a chunk on the stack: growing the queue by the most a read may bring would
  // zero that much every time, while a line such as a pseudo-terminal brings a few KiB a read.
  char chunk[65536];
  const size_t want = std::min<size_t>(capacity - old, sizeof chunk);
  ssize_t n;
  do
    n = ::read(FFd, chunk, want);
  while (n < 0 && errno == EINTR);
  const int error = errno;
  size_t kept = n > 0 ? FFilter.Apply(chunk, size_t(n)) : 0;
  FIn.insert(FIn.end(), chunk, chunk + kept);
  FReceived += kept;
  if (n == 0)
    MarkHungUpLocked(EIO); // readable but nothing to read: the line is gone
  else if (n < 0 && error != EAGAIN)
    MarkHungUpLocked(error);
  if (kept > 0) {
    // A read that got less than it asked for emptied the kernel's queue.
    NoteArrivalLocked(FIn.data() + old, kept, size_t(n) < want);
    if (FReaderBlocked)
      Signal(FReadWake);
  }
}

void TPosixSerialDevice::NoteArrivalLocked(const char *data, size_t count, bool drained) {
  uint32_t events = EV_RXCHAR;
  if ((FMask & EV_RXFLAG) && std::memchr(data, FDcb.EvtChar, count) != nullptr)
    events |= EV_RXFLAG;
  if (FMask & EV_RX80FULL) {
    int pending = 0;
    if (!drained && ::ioctl(FFd, FIONREAD, &pending) != 0)
      pending = 0;
    const size_t size = FInQueue ? FInQueue : DefaultInputSize;
    if ((Buffered() + size_t(pending)) * 5 >= size * 4)
      events |= EV_RX80FULL;
  }
  TCounters now;
  if ((FMask & (EV_ERR | EV_BREAK)) && FHasCounters && ReadCounters(now)) {
    const TCounters &was = FEventCounters;
    if (now.Frame != was.Frame || now.Overrun != was.Overrun || now.Parity != was.Parity ||
        now.BufOverrun != was.BufOverrun)
      events |= EV_ERR;
    if (now.Brk != was.Brk)
      events |= EV_BREAK;
    FEventCounters = now;
  }
  LatchLocked(events);
}

// Takes from the device's queue, then straight from the kernel; returns the bytes taken.
size_t TPosixSerialDevice::TakeLocked(char *dst, size_t count) {
  size_t done = std::min(Buffered(), count);
  if (done > 0) {
    std::memcpy(dst, FIn.data() + FInHead, done);
    FInHead += done;
    if (FInHead == FIn.size()) {
      FIn.clear();
      FInHead = 0;
    }
    if (FWaiterStarved)
      Signal(FWaitWake);
  }
  while (done < count && !FHungUp) {
    const ssize_t n = ::read(FFd, dst + done, count - done);
    if (n > 0) {
      const size_t kept = FFilter.Apply(dst + done, size_t(n));
      done += kept;
      FReceived += kept;
    } else if (n == 0) {
      MarkHungUpLocked(EIO);
    } else if (errno != EINTR) {
      if (errno != EAGAIN)
        MarkHungUpLocked(errno);
      break;
    }
  }
  return done;
}

int TPosixSerialDevice::DoRead(void *buffer, uint32_t count, uint32_t &done) {
  TUse use(*this);
  if (!use)
    return EBADF;
  std::lock_guard serial(FReadMutex);
  char *dst = static_cast<char *>(buffer);
  const auto start = TClock::now();
  COMMTIMEOUTS t;
  uint64_t gen;
  {
    std::lock_guard lock(FMutex);
    t = FTimeouts;
    gen = FReadAbortGen;
    done = uint32_t(TakeLocked(dst, count));
  }
  const bool immediate =
      t.ReadIntervalTimeout == MAXDWORD && t.ReadTotalTimeoutMultiplier == 0 && t.ReadTotalTimeoutConstant == 0;
  // Wait up to the constant for a first byte, then return with what is there.
  const bool firstByte = t.ReadIntervalTimeout == MAXDWORD && t.ReadTotalTimeoutMultiplier == MAXDWORD &&
                         t.ReadTotalTimeoutConstant != 0 && t.ReadTotalTimeoutConstant != MAXDWORD;
  const bool hasTotal = !firstByte && (t.ReadTotalTimeoutMultiplier != 0 || t.ReadTotalTimeoutConstant != 0);
  const auto total = std::chrono::milliseconds(
      firstByte ? uint64_t(t.ReadTotalTimeoutConstant)
                : uint64_t(t.ReadTotalTimeoutMultiplier) * count + t.ReadTotalTimeoutConstant);
  const bool hasInterval = !firstByte && t.ReadIntervalTimeout != 0;
  const auto interval = std::chrono::milliseconds(t.ReadIntervalTimeout);
  auto lastByte = start;

  for (;;) {
    bool hungUp;
    int hangupError;
    {
      std::lock_guard lock(FMutex);
      hungUp = FHungUp;
      hangupError = FHangupError;
    }
    if (done == count || immediate || (firstByte && done > 0))
      return (done == 0 && hungUp && count > 0) ? hangupError : 0;
    if (hungUp)
      return done > 0 ? 0 : hangupError;
    int timeout = -1;
    if (hasTotal || firstByte)
      timeout = MillisecondsUntil(start + total);
    if (hasInterval && done > 0) {
      const int gap = MillisecondsUntil(lastByte + interval);
      timeout = timeout < 0 ? gap : std::min(timeout, gap);
    }
    if (timeout == 0)
      return 0; // timed out: not a failure
    pollfd fds[2] = {{FFd, POLLIN, 0}, {FReadWake, POLLIN, 0}};
    {
      std::lock_guard lock(FMutex);
      FReaderBlocked = true;
      // Bytes the event wait moved into the queue since the last take.
      if (Buffered() > 0)
        timeout = 0;
    }
    const int r = ::poll(fds, 2, timeout);
    const int pollError = errno;
    if (fds[1].revents & POLLIN)
      Drain(FReadWake);
    std::lock_guard lock(FMutex);
    FReaderBlocked = false;
    if (FClosing || FReadAbortGen != gen)
      return ECANCELED;
    if (r < 0 && pollError != EINTR)
      return pollError;
    const size_t got = TakeLocked(dst + done, count - done);
    if (got > 0) {
      done += uint32_t(got);
      lastByte = TClock::now();
    }
  }
}

int TPosixSerialDevice::DoWrite(const void *buffer, uint32_t count, uint32_t &done) {
  TUse use(*this);
  if (!use)
    return EBADF;
  std::lock_guard serial(FWriteMutex);
  const char *src = static_cast<const char *>(buffer);
  const auto start = TClock::now();
  COMMTIMEOUTS t;
  uint64_t gen;
  {
    std::lock_guard lock(FMutex);
    if (FHungUp)
      return FHangupError;
    t = FTimeouts;
    gen = FWriteAbortGen;
  }
  const bool hasTotal = t.WriteTotalTimeoutMultiplier != 0 || t.WriteTotalTimeoutConstant != 0;
  const auto deadline =
      start + std::chrono::milliseconds(uint64_t(t.WriteTotalTimeoutMultiplier) * count + t.WriteTotalTimeoutConstant);
  int result = 0;
  while (done < count) {
    const ssize_t n = ::write(FFd, src + done, count - done);
    if (n > 0) {
      done += uint32_t(n);
      continue;
    }
    if (n < 0 && errno == EINTR)
      continue;
    if (n < 0 && errno != EAGAIN) {
      result = errno;
      if (LineGone(result)) {
        std::lock_guard lock(FMutex);
        MarkHungUpLocked(result);
      }
      break;
    }
    const int timeout = hasTotal ? MillisecondsUntil(deadline) : -1;
    if (timeout == 0)
      break; // timed out: not a failure, `done` tells how far it got
    pollfd fds[2] = {{FFd, POLLOUT, 0}, {FWriteWake, POLLIN, 0}};
    {
      std::lock_guard lock(FMutex);
      FWriterBlocked = true;
    }
    const int r = ::poll(fds, 2, timeout);
    const int pollError = errno;
    if (fds[1].revents & POLLIN)
      Drain(FWriteWake);
    std::lock_guard lock(FMutex);
    FWriterBlocked = false;
    if (FClosing || FWriteAbortGen != gen) {
      result = ECANCELED;
      break;
    }
    if (r < 0 && pollError != EINTR) {
      result = pollError;
      break;
    }
  }
  if (done > 0) {
    std::lock_guard lock(FMutex);
    FTxPending = true;
    FOutQueued = true;
    FDrainWaitMs = 0;
    if (FWaitBlocked && (FMask & EV_TXEMPTY))
      Signal(FWaitWake);
  }
  return result;
}

int TPosixSerialDevice::DoClearCommError(uint32_t &errors, COMSTAT &stat) {
  TUse use(*this);
  if (!use)
    return EBADF;
  std::lock_guard lock(FMutex);
  stat.cbInQue = uint32_t(Buffered());
  if (FHungUp)
    return 0; // what was received before the hangup can still be read
  TCounters now;
  if (FHasCounters && ReadCounters(now)) {
    const TCounters &was = FErrorCounters;
    if (now.Frame != was.Frame)
      errors |= CE_FRAME;
    if (now.Parity != was.Parity)
      errors |= CE_RXPARITY;
    if (now.Overrun != was.Overrun)
      errors |= CE_OVERRUN;
    if (now.BufOverrun != was.BufOverrun)
      errors |= CE_RXOVER;
    if (now.Brk != was.Brk)
      errors |= CE_BREAK;
    FErrorCounters = now;
  }
  // While an event wait watches the line, bytes still in the kernel are moved into the queue and
  // reported by that wait, as a driver reports what its UART has handed over; counting them here
  // too would cost a system call per receive batch.
  if (!(FMask & RxEvents)) {
    int pending = 0;
    if (::ioctl(FFd, FIONREAD, &pending) != 0) {
      const int error = errno;
      if (!LineGone(error))
        return error;
      // The hangup is reported once, by the event wait; the bytes already queued stay readable.
      MarkHungUpLocked(error);
      return 0;
    }
    stat.cbInQue += uint32_t(std::max(pending, 0));
  }
  // Only written bytes can be queued for output: ask the kernel only after a write.
  if (FOutQueued) {
    int queued = 0;
    if (::ioctl(FFd, TIOCOUTQ, &queued) == 0 && queued > 0)
      stat.cbOutQue = uint32_t(queued);
    else
      FOutQueued = false;
  }
  return 0;
}

int TPosixSerialDevice::DoPurgeComm(uint32_t flags) {
  TUse use(*this);
  if (!use)
    return EBADF;
  std::lock_guard lock(FMutex);
  if (flags & PURGE_RXABORT) {
    ++FReadAbortGen;
    Signal(FReadWake);
  }
  if (flags & PURGE_TXABORT) {
    ++FWriteAbortGen;
    Signal(FWriteWake);
  }
  int result = 0;
  // A hung-up line has nothing left to discard.
  if ((flags & PURGE_RXCLEAR)) {
    FIn.clear();
    FInHead = 0;
    FFilter.Reset();
    if (FWaiterStarved)
      Signal(FWaitWake);
    if (!FHungUp && ::tcflush(FFd, TCIFLUSH) != 0 && !LineGone(errno))
      result = errno;
  }
  if (flags & PURGE_TXCLEAR) {
    FTxPending = false;
    FOutQueued = false;
    if (!FHungUp && ::tcflush(FFd, TCOFLUSH) != 0 && !LineGone(errno))
      result = errno;
  }
  return result;
}
