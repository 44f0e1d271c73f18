#pragma once
// A /dev and /sys of our own in a temporary folder, with USB serial adapters as the kernel and
// udev lay them out: class/tty/<name>/device leads to the adapter's interface, whose parent
// folder (the USB device) holds idVendor, idProduct and serial; udev adds the by-id link.
#include <QTemporaryDir>

#include <filesystem>
#include <fstream>
#include <string>

#include "tty/DeviceIdentity.h"

namespace testsupport {

struct TFakeAdapter {
  std::string Vendor, Product, Serial; // Serial empty: the adapter has none
  std::string Usb;                     // USB device folder name, e.g. "1-1"
  std::string ById;                    // by-id link name; empty: no udev link
};

class TFakeDeviceTree {
public:
  TFakeDeviceTree() {
    std::filesystem::create_directories(Dev());
    std::filesystem::create_directories(std::string(Sys()) + "/class/tty");
  }
  std::string Dev() const { return FDir.path().toStdString() + "/dev"; }
  std::string Sys() const { return FDir.path().toStdString() + "/sys"; }
  TDeviceRoots Roots() const { return {Dev(), Sys()}; }

  // Plugs `adapter` in as `tty`; the node in dev is a link to `target` (a pty slave in tests that
  // open it) or, with no target, an empty file.
  void Plug(const TFakeAdapter &adapter, const std::string &tty, const std::string &target = {}) {
    namespace fs = std::filesystem;
    const fs::path usb = fs::path(Sys()) / "devices" / "usb1" / adapter.Usb;
    const fs::path port = usb / (adapter.Usb + ":1.0") / tty;
    fs::create_directories(port);
    Write(usb / "idVendor", adapter.Vendor);
    Write(usb / "idProduct", adapter.Product);
    if (!adapter.Serial.empty()) Write(usb / "serial", adapter.Serial);
    const fs::path entry = fs::path(Sys()) / "class" / "tty" / tty;
    fs::create_directories(entry);
    fs::create_directory_symlink(fs::relative(port, entry), entry / "device");
    if (target.empty())
      Write(fs::path(Dev()) / tty, "");
    else
      fs::create_symlink(target, fs::path(Dev()) / tty);
    if (!adapter.ById.empty()) {
      fs::create_directories(fs::path(Dev()) / "serial" / "by-id");
      fs::create_symlink("../../" + tty, fs::path(Dev()) / "serial" / "by-id" / adapter.ById);
    }
  }

  // Takes the adapter away as the kernel and udev do: node, link and sysfs entries go.
  void Unplug(const TFakeAdapter &adapter, const std::string &tty) {
    namespace fs = std::filesystem;
    fs::remove(fs::path(Dev()) / tty);
    if (!adapter.ById.empty()) fs::remove(fs::path(Dev()) / "serial" / "by-id" / adapter.ById);
    fs::remove_all(fs::path(Sys()) / "class" / "tty" / tty);
    fs::remove_all(fs::path(Sys()) / "devices" / "usb1" / adapter.Usb);
  }

private:
  static void Write(const std::filesystem::path &file, const std::string &text) {
    std::ofstream(file) << text << "\n";
  }
  QTemporaryDir FDir;
};

} // namespace testsupport
