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

void ListSerialPorts(std::vector<std::string> &list, const std::string &sysfsRoot) {
  const fs::path classDir = fs::path(sysfsRoot) / "class" / "tty";
  std::error_code ec;
  fs::directory_iterator it(classDir, ec);
  if (ec)
    return;
  std::vector<std::string> found;
  // A failure part-way keeps what was found so far.
  for (const fs::directory_iterator end; it != end;) {
    const fs::path tty = it->path();
    if (HasDevice(tty) && !IsPlaceholderUart(tty))
      found.push_back(DeviceName(tty));
    if (it.increment(ec); ec)
      break;
  }
  std::sort(found.begin(), found.end(), PortNameLess);
  list = std::move(found);
}
