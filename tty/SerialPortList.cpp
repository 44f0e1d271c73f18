// Serial ports from sysfs. A tty with real hardware has a `device` link to its parent device;
// virtual terminals, pseudo-terminals and the console have none. A serial-core port also has a
// `type` attribute: 0 (PORT_UNKNOWN) marks a UART slot that probing found empty, such as the
// ttyS0…ttyS31 the 8250 driver registers on every PC. Its driver alone decides nothing: a real
// legacy UART hangs off the same serial8250 platform device as the empty slots.
#include "tty/SerialPortList.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <system_error>

namespace fs = std::filesystem;

namespace {

// The first line of a sysfs attribute; false when it cannot be read.
bool ReadFirstLine(const fs::path &file, std::string &line) {
  std::ifstream in(file);
  if (!in)
    return false;
  line.clear();
  std::getline(in, line);
  return !in.bad();
}

bool IsPlaceholderUart(const fs::path &tty) {
  std::string type;
  if (!ReadFirstLine(tty / "type", type))
    return false; // not a serial-core port (USB serial, CDC-ACM …): nothing to probe
  const auto first = type.find_first_not_of(" \t");
  const auto last = type.find_last_not_of(" \t\r");
  return first != std::string::npos && type.substr(first, last - first + 1) == "0";
}

// The name below /dev: DEVNAME of the uevent when given (it may hold a sub-directory), otherwise
// the class entry's name, where the kernel writes '/' as '!'.
std::string DeviceName(const fs::path &tty) {
  std::ifstream in(tty / "uevent");
  for (std::string line; std::getline(in, line);)
    if (line.rfind("DEVNAME=", 0) == 0 && line.size() > 8)
      return line.substr(8);
  std::string name = tty.filename().string();
  std::replace(name.begin(), name.end(), '!', '/');
  return name;
}

bool HasDevice(const fs::path &tty) {
  std::error_code ec;
  // A dangling link counts as well: the parent may be on its way out, but the tty still exists.
  return fs::exists(fs::symlink_status(tty / "device", ec));
}

} // namespace

bool PortNameLess(const std::string &a, const std::string &b) {
  const auto lower = [](unsigned char c) { return std::tolower(c); };
  const size_t n = std::min(a.size(), b.size());
  for (size_t i = 0; i < n; ++i) {
    const int ca = lower(static_cast<unsigned char>(a[i]));
    const int cb = lower(static_cast<unsigned char>(b[i]));
    if (ca != cb)
      return ca < cb;
  }
  if (a.size() != b.size())
    return a.size() < b.size();
  return a < b;
}

namespace {

struct TPortEntry {
  fs::path Tty; // the entry under class/tty
  std::string Name;
};

// The ttys that are serial ports, sorted by name; empty when the class cannot be read.
std::vector<TPortEntry> FindPorts(const std::string &sysfsRoot, bool &readable) {
  const fs::path classDir = fs::path(sysfsRoot) / "class" / "tty";
  std::error_code ec;
  fs::directory_iterator it(classDir, ec);
  readable = !ec;
  std::vector<TPortEntry> found;
  // A failure part-way keeps what was found so far.
  for (const fs::directory_iterator end; !ec && it != end;) {
    const fs::path tty = it->path();
    if (HasDevice(tty) && !IsPlaceholderUart(tty))
      found.push_back({tty, DeviceName(tty)});
    if (it.increment(ec); ec)
      break;
  }
  std::sort(found.begin(), found.end(),
            [](const TPortEntry &a, const TPortEntry &b) { return PortNameLess(a.Name, b.Name); });
  return found;
}

// `dir` lies below `root`: the walks up from a device stop at the sysfs root.
bool Inside(const fs::path &dir, const fs::path &root) {
  const auto [r, d] = std::mismatch(root.begin(), root.end(), dir.begin(), dir.end());
  return r == root.end() && d != dir.end();
}

// The driver that runs the port. Newer kernels put a generic serial-core port and controller
// between the tty and the UART's own device; their drivers say nothing about the hardware.
std::string DriverOf(const fs::path &device, const fs::path &root) {
  std::error_code ec;
  for (fs::path dir = fs::canonical(device, ec); !ec && Inside(dir, root); dir = dir.parent_path()) {
    std::error_code linkError;
    const fs::path driver = fs::read_symlink(dir / "driver", linkError);
    if (!linkError && driver.parent_path().parent_path().filename() != "serial-base")
      return driver.filename().string();
  }
  return {};
}

std::string Attribute(const fs::path &file) {
  std::string line;
  if (!ReadFirstLine(file, line))
    return {};
  while (!line.empty() && std::isspace(static_cast<unsigned char>(line.back())))
    line.pop_back();
  return line;
}

// Vendor, product and serial number of the USB device the port sits on, when it sits on one.
void UsbIdentity(const fs::path &device, const fs::path &root, TSerialPortInfo &info) {
  std::error_code ec;
  for (fs::path dir = fs::canonical(device, ec); !ec && Inside(dir, root); dir = dir.parent_path()) {
    if (!fs::exists(dir / "idVendor", ec))
      continue;
    info.Vendor = Attribute(dir / "idVendor");
    info.Product = Attribute(dir / "idProduct");
    info.Serial = Attribute(dir / "serial");
    return;
  }
}

// The /dev/serial/by-id link that leads to `path`; the first in name order when several do.
std::string ByIdName(const fs::path &byId, const fs::path &path) {
  std::error_code ec;
  const fs::path target = fs::canonical(path, ec);
  if (ec)
    return {};
  std::vector<std::string> names;
  for (fs::directory_iterator it(byId, ec), end; !ec && it != end; it.increment(ec)) {
    std::error_code linkError;
    if (fs::canonical(it->path(), linkError) == target && !linkError)
      names.push_back(it->path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names.empty() ? std::string() : names.front();
}

} // namespace

void ListSerialPorts(std::vector<std::string> &list, const std::string &sysfsRoot) {
  bool readable = false;
  const std::vector<TPortEntry> ports = FindPorts(sysfsRoot, readable);
  if (!readable)
    return;
  list.clear();
  for (const TPortEntry &p : ports)
    list.push_back(p.Name);
}

std::vector<TSerialPortInfo> DescribeSerialPorts(const std::string &sysfsRoot, const std::string &devRoot) {
  bool readable = false;
  std::error_code ec;
  fs::path root = fs::canonical(sysfsRoot, ec);
  if (ec)
    root = sysfsRoot;
  std::vector<TSerialPortInfo> described;
  for (const TPortEntry &p : FindPorts(sysfsRoot, readable)) {
    TSerialPortInfo info;
    info.Path = (fs::path(devRoot) / p.Name).string();
    info.ById = ByIdName(fs::path(devRoot) / "serial" / "by-id", info.Path);
    UsbIdentity(p.Tty / "device", root, info);
    info.Driver = DriverOf(p.Tty / "device", root);
    described.push_back(std::move(info));
  }
  return described;
}
