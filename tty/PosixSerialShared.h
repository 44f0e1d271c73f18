#pragma once
// What the files of the POSIX device share: the wake-ups, the error classes and the guard
// that admits a call while the device is open.
#include "tty/PosixSerialDevice.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstring>

#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace posix_tty {

using TClock = std::chrono::steady_clock;

inline constexpr uint32_t RxEvents = EV_RXCHAR | EV_RXFLAG | EV_RX80FULL | EV_ERR | EV_BREAK;
inline constexpr uint32_t ModemEvents = EV_CTS | EV_DSR | EV_RLSD | EV_RING;
inline constexpr size_t DefaultInputSize = 4096;
inline constexpr size_t MaxInputSize = size_t(1) << 20;
inline constexpr size_t ReadAheadSize = 256 * 1024;
inline constexpr int MaxDrainWaitMs = 1000;

inline void Signal(int fd) {
  const uint64_t one = 1;
  // Only fails when the counter is saturated, and then the reader is woken anyway.
  [[maybe_unused]] ssize_t r = ::write(fd, &one, sizeof one);
}

inline void Drain(int fd) {
  uint64_t value = 0;
  [[maybe_unused]] ssize_t r = ::read(fd, &value, sizeof value);
}

inline int NewWake() { return ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK); }

inline void CloseFd(int &fd) {
  if (fd >= 0)
    ::close(fd);
  fd = -1;
}

// Devices without modem lines or counters answer these; that is not a failure.
inline bool Unsupported(int error) { return error == ENOTTY || error == EINVAL; }

// A tty whose line is gone fails reads, writes and ioctls with one of these.
inline bool LineGone(int error) { return error == EIO || error == ENXIO || error == ENODEV; }

inline int MillisecondsUntil(TClock::time_point deadline) {
  auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - TClock::now()).count();
  return int(std::clamp<long long>(left, 0, INT_MAX));
}

// Raises or lowers modem output lines; a device without them (a pseudo-terminal) ignores this.
inline int SetLine(int fd, int line, bool on) {
  if (::ioctl(fd, on ? TIOCMBIS : TIOCMBIC, &line) == 0 || Unsupported(errno))
    return 0;
  return errno;
}

} // namespace posix_tty

// Admits a call while the device is open and not closing; Close waits until all have left.
class TPosixSerialDevice::TUse {
public:
  explicit TUse(TPosixSerialDevice &device) : FDevice(device) {
    std::lock_guard lock(device.FMutex);
    FAdmitted = device.FFd >= 0 && !device.FClosing;
    if (FAdmitted)
      ++device.FInside;
  }
  ~TUse() {
    if (!FAdmitted)
      return;
    std::lock_guard lock(FDevice.FMutex);
    if (--FDevice.FInside == 0)
      FDevice.FLeft.notify_all();
  }
  explicit operator bool() const { return FAdmitted; }

private:
  TPosixSerialDevice &FDevice;
  bool FAdmitted = false;
};
