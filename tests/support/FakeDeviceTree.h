#pragma once
// A /dev and /sys of our own in a temporary folder, laid out as the kernel and udev do for a USB
// serial adapter: class/tty/<tty>/device leads to the interface, whose parent (the USB device)
// holds idVendor, idProduct and serial; udev's by-id link leads to the node.
#include <QTemporaryDir>

#include <filesystem>
#include <fstream>
#include <string>

#include "tty/DeviceIdentity.h"

namespace testsupport {

struct TFakeAdapter {
  std::string Vendor, Product, Serial, ById; // Serial, ById empty: none
};

class TFakeDeviceTree {
public:
  TDeviceRoots Roots() const { return {Root() + "/dev", Root() + "/sys"}; }

  // The node is a link to `target` (a pty slave, for tests that open it), else an empty file.
  void Plug(const TFakeAdapter &a, const std::string &tty, const std::string &target = {}) {
    namespace fs = std::filesystem;
    const fs::path usb = Root() + "/sys/devices/usb1/1-1", port = usb / "1-1:1.0" / tty;
    const fs::path entry = Root() + "/sys/class/tty/" + tty, node = Root() + "/dev/" + tty;
    fs::create_directories(port);
    fs::create_directories(entry);
    fs::create_directories(Root() + "/dev/serial/by-id");
    std::ofstream(usb / "idVendor") << a.Vendor;
    std::ofstream(usb / "idProduct") << a.Product;
    if (!a.Serial.empty()) std::ofstream(usb / "serial") << a.Serial << "\n";
    fs::create_directory_symlink(fs::relative(port, entry), entry / "device");
    if (!a.ById.empty()) fs::create_symlink("../../" + tty, Root() + "/dev/serial/by-id/" + a.ById);
    if (target.empty()) std::ofstream(node).close();
    else fs::create_symlink(target, node);
  }
  // Node, by-id link and sysfs entries go, as with a real unplug.
  void Unplug(const std::string &tty) {
    namespace fs = std::filesystem;
    fs::remove(Root() + "/dev/" + tty);
    fs::remove_all(Root() + "/dev/serial/by-id");
    fs::remove_all(Root() + "/sys");
  }

private:
  std::string Root() const { return FDir.path().toStdString(); }
  QTemporaryDir FDir;
};

} // namespace testsupport
