// telmora-sim: a microcontroller on a pseudo-terminal, speaking the measurement protocol.
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include "tty/PseudoTerminal.h"
#include "platform/Version.h"
#include "tools/SimCommandLine.h"
#include "tools/SimRunner.h"

namespace {

using namespace std::chrono_literals;

// Closing the line discards what the other end has not read, so the last records wait this long
// for a reader at most.
constexpr auto Linger = 5s;
// How often the unread bytes are looked at meanwhile. The first look comes only after one step,
// when the kernel has surely moved the last write over to the reading side.
constexpr auto LingerStep = 20ms;

TSimStop *StopSignal = nullptr;

void OnSignal(int) {
  if (StopSignal) StopSignal->Raise();
}

void InstallSignals(TSimStop &stop) {
  StopSignal = &stop;
  struct sigaction sa {};
  sa.sa_handler = OnSignal;
  sigemptyset(&sa.sa_mask);
  sigaction(SIGINT, &sa, nullptr);
  sigaction(SIGTERM, &sa, nullptr);
  sa.sa_handler = SIG_IGN;
  sigaction(SIGPIPE, &sa, nullptr);
}

int Fail(const std::string &message) {
  std::cerr << "telmora-sim: " << message << "\n";
  return 1;
}

// Bytes still waiting for the reader; 0 when the line cannot say.
int Unread(int fd, unsigned long request) {
  int n = 0;
  return fd >= 0 && ::ioctl(fd, request, &n) == 0 ? n : 0;
}

void WaitForReader(int fd, unsigned long request, const TSimStop &stop) {
  const auto deadline = std::chrono::steady_clock::now() + Linger;
  const timespec step{0, std::chrono::nanoseconds(LingerStep).count()};
  while (!stop.Raised() && std::chrono::steady_clock::now() < deadline) {
    pollfd p{stop.Fd(), POLLIN, 0};
    ::ppoll(&p, 1, &step, nullptr);
    if (Unread(fd, request) == 0) break;
  }
}

} // namespace

int main(int argc, char **argv) {
  const TSimCommandLine cl = ParseSimCommandLine(std::vector<std::string>(argv + 1, argv + argc));
  if (!cl.Error.empty()) {
    std::cerr << "telmora-sim: " << cl.Error << "\nTry 'telmora-sim --help' for more information.\n";
    return 2;
  }
  if (cl.Help) {
    std::cout << SimUsageText();
    return 0;
  }
  if (cl.Version) {
    std::cout << "telmora-sim " << TELMORA_VERSION << "\n";
    return 0;
  }

  TSimStop stop;
  if (!stop.Valid()) return Fail(std::string("cannot create the stop signal: ") + std::strerror(stop.Error()));
  InstallSignals(stop);

  TPseudoTerminal pty;
  int fd = -1;
  std::string path;
  // Where the unread bytes can be asked for: our own look at the pty's reading side, or the
  // device's output queue.
  int unreadFd = -1;
  unsigned long unreadRequest = FIONREAD;
  if (cl.Device.empty()) {
    if (const int e = pty.Open()) return Fail(std::string("cannot create a pseudo-terminal: ") + std::strerror(e));
    fd = pty.MasterFd();
    path = pty.SlavePath();
    unreadFd = ::open(path.c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  } else {
    path = cl.Device;
    fd = ::open(path.c_str(), O_WRONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return Fail("cannot open '" + path + "': " + std::strerror(errno));
    termios t{};
    if (::tcgetattr(fd, &t) == 0) {
      // The protocol is raw bytes: no newline translation, no echo. The speed stays as set.
      ::cfmakeraw(&t);
      t.c_cflag |= CLOCAL;
      ::tcsetattr(fd, TCSANOW, &t);
    }
    unreadFd = fd;
    unreadRequest = TIOCOUTQ;
  }
  std::cout << path << std::endl;

  TSimStream stream(cl.Options);
  const auto started = std::chrono::steady_clock::now();
  const TSimResult result = RunSimulation(fd, stream, stop);
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  if (!result.Stopped && result.Error == 0) WaitForReader(unreadFd, unreadRequest, stop);
  if (unreadFd >= 0 && unreadFd != fd) ::close(unreadFd);
  if (!cl.Device.empty()) ::close(fd);
  if (result.Error != 0) return Fail("writing to '" + path + "' failed: " + std::strerror(result.Error));
  std::fprintf(stderr, "telmora-sim: %llu records, %llu bytes in %.3f s\n", (unsigned long long)result.Records,
               (unsigned long long)result.Bytes, seconds);
  return 0;
}
