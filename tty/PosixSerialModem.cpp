// The modem lines and the error counters, and the helper thread that waits for line changes.
#include "tty/PosixSerialShared.h"

using namespace posix_tty;

bool TPosixSerialDevice::ReadCounters(TCounters &c) const {
  serial_icounter_struct k{};
  if (::ioctl(FFd, TIOCGICOUNT, &k) != 0)
    return false;
  c = TCounters{k.cts, k.dsr, k.rng, k.dcd, k.frame, k.overrun, k.parity, k.brk, k.buf_overrun};
  return true;
}

int TPosixSerialDevice::DoGetCommModemStatus(uint32_t &status) {
  TUse use(*this);
  if (!use)
    return EBADF;
  int lines = 0;
  if (::ioctl(Fd(), TIOCMGET, &lines) != 0)
    return Unsupported(errno) ? 0 : errno; // no modem lines: all off
  if (lines & TIOCM_CTS)
    status |= MS_CTS_ON;
  if (lines & TIOCM_DSR)
    status |= MS_DSR_ON;
  if (lines & TIOCM_RNG)
    status |= MS_RING_ON;
  if (lines & TIOCM_CAR)
    status |= MS_RLSD_ON;
  return 0;
}

// ---------------------------------------------------------------------------------------------
// Modem-line events: TIOCMIWAIT blocks outside poll, so a helper thread waits in it and latches
// what changed. Devices without modem lines never start it.

void TPosixSerialDevice::UpdateModemWatch() {
  std::lock_guard watch(FWatchMutex);
  bool want;
  int fd;
  {
    std::lock_guard lock(FMutex);
    want = FHasModemLines && !FModemWatchFailed && (FMask & ModemEvents) != 0 && FFd >= 0 && !FClosing;
    fd = FFd;
    if (want && !FModemWatch.Running()) {
      ::ioctl(fd, TIOCMGET, &FModemLines);
      if (FHasCounters)
        ReadCounters(FModemCounters);
    }
  }
  if (!want)
    FModemWatch.Stop();
  else if (!FModemWatch.Running())
    FModemWatch.Start([this, fd] { return WatchModemStep(fd); });
}

bool TPosixSerialDevice::WatchModemStep(int fd) {
  if (::ioctl(fd, TIOCMIWAIT, TIOCM_CTS | TIOCM_DSR | TIOCM_CAR | TIOCM_RNG) != 0) {
    if (errno == EINTR)
      return true; // Stop's signal, or another one: the loop checks whether to go on
    std::lock_guard lock(FMutex);
    FModemWatchFailed = true;
    return false;
  }
  int lines = 0;
  if (::ioctl(fd, TIOCMGET, &lines) != 0)
    return false;
  std::lock_guard lock(FMutex);
  uint32_t events = 0;
  const int changed = lines ^ FModemLines;
  TCounters now;
  if (FHasCounters && ReadCounters(now)) {
    // The counters also see a line that went and came back before we looked.
    const TCounters &was = FModemCounters;
    if (now.Cts != was.Cts)
      events |= EV_CTS;
    if (now.Dsr != was.Dsr)
      events |= EV_DSR;
    if (now.Dcd != was.Dcd)
      events |= EV_RLSD;
    if (now.Rng != was.Rng)
      events |= EV_RING;
    FModemCounters = now;
  } else {
    if (changed & TIOCM_CTS)
      events |= EV_CTS;
    if (changed & TIOCM_DSR)
      events |= EV_DSR;
    if (changed & TIOCM_CAR)
      events |= EV_RLSD;
    if ((changed & TIOCM_RNG) && !(lines & TIOCM_RNG))
      events |= EV_RING; // the trailing edge of a ring, as the UART drivers count it
  }
  FModemLines = lines;
  LatchLocked(events);
  return true;
}
