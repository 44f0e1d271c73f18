// The by-id links are udev's; the USB descriptor is read from sysfs by walking up from the tty's
// `device` link to the first folder that carries idVendor (the USB device, above its interface).
#include "tty/DeviceIdentity.h"

#include <filesystem>
#include <fstream>
#include <system_error>

namespace fs = std::filesystem;

namespace {

std::string FirstLine(const fs::path &file) {
  std::ifstream in(file);
  std::string line;
  std::getline(in, line);
  while (!line.empty() && (line.back() == '\r' || line.back() == ' ' || line.back() == '\n'))
    line.pop_back();
  return line;
}

// The path with every link resolved; empty when it leads nowhere.
fs::path Resolved(const fs::path &path) {
  std::error_code ec;
  fs::path p = fs::canonical(path, ec);
  return ec ? fs::path() : p;
}

// The node in roots.Dev that `path` leads to, following links only until one is reached (a node
// there may itself be a link, as in a test tree); elsewhere the final target. Empty: leads nowhere.
fs::path DevNode(const fs::path &path, const TDeviceRoots &roots) {
  const fs::path dev = fs::path(roots.Dev).lexically_normal();
  std::error_code ec;
  fs::path p = fs::absolute(path, ec).lexically_normal();
  for (int hops = 0; hops < 40; ++hops) {
    if (!fs::exists(p, ec))
      return {};
    if (p.parent_path() == dev || !fs::is_symlink(p, ec))
      return p;
    const fs::path target = fs::read_symlink(p, ec);
    if (ec)
      return {};
    p = (target.is_absolute() ? target : p.parent_path() / target).lexically_normal();
  }
  return {};
}

void ReadUsbDescriptor(const std::string &ttyName, const TDeviceRoots &roots, TDeviceIdentity &id) {
  fs::path dir = Resolved(fs::path(roots.Sys) / "class" / "tty" / ttyName / "device");
  const fs::path sysRoot = Resolved(roots.Sys);
  if (dir.empty() || sysRoot.empty())
    return;
  std::error_code ec;
  for (; dir.has_relative_path() && dir != sysRoot; dir = dir.parent_path()) {
    if (fs::exists(dir / "idVendor", ec)) {
      id.Vendor = FirstLine(dir / "idVendor");
      id.Product = FirstLine(dir / "idProduct");
      id.Serial = FirstLine(dir / "serial");
      return;
    }
  }
}

// The by-id link whose target is `node`; empty when there is none.
std::string ByIdName(const fs::path &node, const TDeviceRoots &roots) {
  std::error_code ec;
  for (fs::directory_iterator it(fs::path(roots.Dev) / "serial" / "by-id", ec), end; !ec && it != end;
       it.increment(ec))
    if (DevNode(it->path(), roots) == node)
      return it->path().filename().string();
  return {};
}

} // namespace

bool TDeviceIdentity::SameDevice(const TDeviceIdentity &other) const {
  if (!ById.empty() && ById == other.ById)
    return true;
  return !Vendor.empty() && !Serial.empty() && Vendor == other.Vendor && Product == other.Product &&
         Serial == other.Serial;
}

TDeviceIdentity IdentifyDevice(const std::string &path, const TDeviceRoots &roots) {
  TDeviceIdentity id;
  const fs::path node = DevNode(path, roots);
  if (node.empty())
    return id;
  id.ById = ByIdName(node, roots);
  ReadUsbDescriptor(node.filename().string(), roots, id);
  return id;
}

std::string FindDevice(const TDeviceIdentity &identity, const TDeviceRoots &roots) {
  if (identity.Empty())
    return {};
  std::error_code ec;
  if (!identity.ById.empty()) {
    const fs::path node = DevNode(fs::path(roots.Dev) / "serial" / "by-id" / identity.ById, roots);
    if (!node.empty())
      return node.string();
  }
  for (fs::directory_iterator it(fs::path(roots.Sys) / "class" / "tty", ec), end; !ec && it != end;
       it.increment(ec)) {
    const std::string name = it->path().filename().string();
    const fs::path node = fs::path(roots.Dev) / name;
    if (!fs::exists(node, ec))
      continue; // sysfs knows the tty before udev has made its node
    TDeviceIdentity candidate;
    ReadUsbDescriptor(name, roots, candidate);
    if (identity.SameDevice(candidate))
      return node.string();
  }
  return {};
}
