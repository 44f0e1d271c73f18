#include "tty/PseudoTerminal.h"

#include <algorithm>
#include <cerrno>
#include <climits>

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

using TClock = std::chrono::steady_clock;

namespace {

int MakeRaw(int fd) {
  termios t{};
  if (tcgetattr(fd, &t) != 0)
    return errno;
  cfmakeraw(&t);
  t.c_cflag |= CLOCAL | CREAD;
  return tcsetattr(fd, TCSANOW, &t) == 0 ? 0 : errno;
}

int MillisecondsUntil(TClock::time_point deadline) {
  auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - TClock::now()).count();
  return int(std::clamp<long long>(left, 0, INT_MAX));
}

} // namespace

TPseudoTerminal::~TPseudoTerminal() { Close(); }

int TPseudoTerminal::Open() {
  Close();
  const int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (master < 0)
    return errno;
  auto fail = [master](int error) {
    ::close(master);
    return error;
  };
  if (grantpt(master) != 0 || unlockpt(master) != 0)
    return fail(errno);
  char path[128];
  if (int e = ptsname_r(master, path, sizeof path))
    return fail(e);
  const int slave = ::open(path, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (slave < 0)
    return fail(errno);
  int e = MakeRaw(slave);
  if (e == 0)
    e = MakeRaw(master);
  if (e == 0 && fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK) != 0)
    e = errno;
  if (e != 0) {
    ::close(slave);
    return fail(e);
  }
  FMaster = master;
  FSlaveKeeper = slave;
  FSlavePath = path;
  return 0;
}

void TPseudoTerminal::Close() {
  CloseMaster();
  if (FSlaveKeeper >= 0)
    ::close(FSlaveKeeper);
  FSlaveKeeper = -1;
}

void TPseudoTerminal::CloseMaster() {
  if (FMaster >= 0)
    ::close(FMaster);
  FMaster = -1;
}

size_t TPseudoTerminal::Send(std::string_view data, std::chrono::milliseconds timeout) const {
  const auto deadline = TClock::now() + timeout;
  size_t done = 0;
  while (FMaster >= 0 && done < data.size()) {
    const ssize_t n = ::write(FMaster, data.data() + done, data.size() - done);
    if (n > 0) {
      done += size_t(n);
      continue;
    }
    if (n < 0 && errno == EINTR)
      continue;
    if (n < 0 && errno != EAGAIN)
      break;
    pollfd fd{FMaster, POLLOUT, 0};
    if (::poll(&fd, 1, MillisecondsUntil(deadline)) == 0)
      break;
  }
  return done;
}

std::string TPseudoTerminal::Receive(size_t count, std::chrono::milliseconds timeout) const {
  const auto deadline = TClock::now() + timeout;
  std::string got;
  char chunk[4096];
  while (FMaster >= 0 && got.size() < count) {
    const ssize_t n = ::read(FMaster, chunk, std::min(sizeof chunk, count - got.size()));
    if (n > 0) {
      got.append(chunk, size_t(n));
      continue;
    }
    if (n < 0 && errno == EINTR)
      continue;
    if (n == 0 || errno != EAGAIN)
      break;
    pollfd fd{FMaster, POLLIN, 0};
    if (::poll(&fd, 1, MillisecondsUntil(deadline)) == 0)
      break;
  }
  return got;
}

int TPseudoTerminal::Pending() const {
  int n = 0;
  return ::ioctl(FMaster, FIONREAD, &n) == 0 ? n : -1;
}
