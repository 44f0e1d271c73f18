#pragma once
// Facts about a serial device that would not open, gathered for the message that tells the user
// what to do: who holds a busy line, and who may open a device that refused us.
#include <string>
#include <vector>

struct TDeviceHolder {
  int Pid = 0;
  std::string Name; // the process's command name (/proc/<pid>/comm)
};

// Processes other than this one that have `path` open, found as fuser does through
// /proc/<pid>/fd; sorted by pid. Processes whose descriptors we may not read are missed.
std::vector<TDeviceHolder> FindDeviceHolders(const std::string &path);

struct TDeviceAccess {
  std::string Owner; // user name, or the number when the name is unknown
  std::string Group;
  bool OwnerIsMe = false;
  bool GroupMayReadWrite = false;
  bool InGroup = false; // this process carries the device's group (primary or supplementary)
  bool PseudoTerminal = false;
  unsigned Mode = 0; // the permission bits
};

// False when `path` cannot be examined.
bool InspectDeviceAccess(const std::string &path, TDeviceAccess &access);

// The multiplexer /dev/ptmx (also /dev/pts/ptmx): opening it makes a new, empty pseudo-terminal,
// which is never the device the user meant.
bool IsPtyMultiplexer(unsigned long long rdev);
