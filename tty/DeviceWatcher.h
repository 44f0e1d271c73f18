#pragma once
// Tells when something appears in the folders where a serial device could come back: the folder
// of the port's path, /dev, /dev/serial and /dev/serial/by-id. It only wakes the caller; whether
// the device is back is for the caller to look at. Waiting costs nothing: inotify, no polling.
#include <string>
#include <vector>

#include "tty/DeviceIdentity.h"

class TDeviceWatcher {
public:
  explicit TDeviceWatcher(TDeviceRoots roots = {});
  ~TDeviceWatcher();
  TDeviceWatcher(const TDeviceWatcher &) = delete;
  TDeviceWatcher &operator=(const TDeviceWatcher &) = delete;

  // Watches for `path` (as the port names it, links not followed) and its kin; 0 or errno. A
  // watch already running is replaced.
  int Watch(const std::string &path);
  void Stop();
  bool Watching() const { return FFd >= 0; }
  // Readable when something happened; -1 while not watching. Non-blocking.
  int Fd() const { return FFd; }
  // Takes every pending event; true when there was any. Folders that appeared meanwhile (udev
  // makes /dev/serial/by-id with the first adapter) are watched from now on.
  bool ReadEvents();

private:
  void AddWatches();
  TDeviceRoots FRoots;
  std::vector<std::string> FFolders;
  int FFd = -1;
};
