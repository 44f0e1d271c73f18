#pragma once
// Who a serial device is, beyond the name it happens to have: an adapter unplugged as ttyUSB0 may
// come back as ttyUSB1, and only its udev link name or its USB descriptor says it is the same one.
#include <string>

// Where /dev and sysfs are; tests point both at a tree of their own.
struct TDeviceRoots {
  std::string Dev = "/dev";
  std::string Sys = "/sys";
};

struct TDeviceIdentity {
  std::string ById;    // name of the /dev/serial/by-id link that leads to the device
  std::string Vendor;  // USB idVendor, idProduct and serial of the device behind the tty
  std::string Product;
  std::string Serial;

  bool Empty() const { return ById.empty() && Vendor.empty(); }
  // Same link name, or same vendor, product and serial. Without a serial number two adapters of
  // one make cannot be told apart, so vendor and product alone never match.
  bool SameDevice(const TDeviceIdentity &other) const;
};

// The identity of the tty that `path` (a device node or a link to one) leads to; empty when the
// tty has no USB device and no by-id link behind it.
TDeviceIdentity IdentifyDevice(const std::string &path, const TDeviceRoots &roots = {});

// The device node, below roots.Dev, of the tty that has `identity` now; empty when none has.
std::string FindDevice(const TDeviceIdentity &identity, const TDeviceRoots &roots = {});
