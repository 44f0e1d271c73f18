#include "platform/CloseSignals.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

#include <QSocketNotifier>

namespace {

int PipeFds[2] = {-1, -1};
std::atomic<int> Pending{0};
constexpr int Signals[] = {SIGTERM, SIGINT, SIGHUP};

void OnSignal(int sig) {
  if (Pending.fetch_add(1) > 0) {
    // Nobody took the first one: the loop is stuck. Let the signal do what it does by default.
    std::signal(sig, SIG_DFL);
    raise(sig);
    return;
  }
  const int saved = errno;
  const unsigned char byte = static_cast<unsigned char>(sig);
  [[maybe_unused]] const ssize_t n = write(PipeFds[1], &byte, 1);
  errno = saved;
}

} // namespace

bool InstallCloseSignals(QObject *parent, std::function<void(int)> onSignal) {
  if (PipeFds[0] < 0 && pipe2(PipeFds, O_CLOEXEC | O_NONBLOCK) != 0) return false;
  auto *notifier = new QSocketNotifier(PipeFds[0], QSocketNotifier::Read, parent);
  QObject::connect(notifier, &QSocketNotifier::activated, notifier, [handler = std::move(onSignal)] {
    unsigned char byte = 0;
    while (read(PipeFds[0], &byte, 1) == 1) {
      Pending.store(0);
      if (handler) handler(byte);
    }
  });
  struct sigaction sa {};
  sa.sa_handler = OnSignal;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = SA_RESTART;
  for (int sig : Signals)
    if (sigaction(sig, &sa, nullptr) != 0) return false;
  return true;
}
