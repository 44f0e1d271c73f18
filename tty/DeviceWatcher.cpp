#include "tty/DeviceWatcher.h"

#include <cerrno>
#include <filesystem>
#include <utility>

#include <sys/inotify.h>
#include <unistd.h>

TDeviceWatcher::TDeviceWatcher(TDeviceRoots roots) : FRoots(std::move(roots)) {}

TDeviceWatcher::~TDeviceWatcher() { Stop(); }

int TDeviceWatcher::Watch(const std::string &path) {
  Stop();
  FFd = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  if (FFd < 0)
    return errno;
  const std::filesystem::path named = std::filesystem::path(path).lexically_normal();
  FFolders = {named.parent_path().string(), FRoots.Dev, FRoots.Dev + "/serial", FRoots.Dev + "/serial/by-id"};
  AddWatches();
  return 0;
}

void TDeviceWatcher::Stop() {
  if (FFd >= 0)
    ::close(FFd);
  FFd = -1;
  FFolders.clear();
}

// A folder that does not exist yet is skipped; adding one watched already keeps its watch.
void TDeviceWatcher::AddWatches() {
  constexpr uint32_t mask = IN_CREATE | IN_MOVED_TO | IN_ATTRIB | IN_ONLYDIR;
  for (const std::string &folder : FFolders)
    if (!folder.empty())
      inotify_add_watch(FFd, folder.c_str(), mask);
}

bool TDeviceWatcher::ReadEvents() {
  if (FFd < 0)
    return false;
  alignas(inotify_event) char buffer[4096];
  bool any = false;
  for (;;) {
    const ssize_t n = ::read(FFd, buffer, sizeof buffer);
    if (n > 0) {
      any = true;
      continue;
    }
    if (n < 0 && errno == EINTR)
      continue;
    break; // EAGAIN: drained
  }
  if (any)
    AddWatches();
  return any;
}
