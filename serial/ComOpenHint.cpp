#include "serial/ComOpenHint.h"

#include "tty/PosixSerialDevice.h"
#include "tty/SerialPortList.h"

#include <cerrno>
#include <cstdio>
#include <system_error>

namespace {

// On Linux serial devices belong to this group.
constexpr const char *DialoutHint =
    "Add your user to the 'dialout' group (sudo usermod -aG dialout $USER) and log in again.";

std::string Join(const std::vector<std::string> &items) {
  std::string text;
  for (const std::string &item : items)
    text += (text.empty() ? "" : ", ") + item;
  return text;
}

// "COM10 (/dev/COM10)" for a short name, the path alone when the user gave one.
std::string PortAndPath(const std::string &port, const std::string &path) {
  return port == path ? path : port + " (" + path + ")";
}

std::string MissingHint(const std::string &port, const std::string &path, const TOpenHintSources &sources) {
  const std::vector<std::string> ports = sources.ListPorts ? sources.ListPorts() : std::vector<std::string>{};
  const std::string missing = "There is no port " + PortAndPath(port, path);
  if (ports.empty())
    return missing +
           " and no serial port was found on this machine. Plug the board in: it appears as ttyUSB0 (USB "
           "serial adapter) or ttyACM0 (board with its own USB), then choose it.";
  return missing + ". Choose one of the ports found: " + Join(ports) + ".";
}

std::string BusyHint(const std::string &path, const TOpenHintSources &sources) {
  const std::vector<TDeviceHolder> holders =
      sources.FindHolders ? sources.FindHolders(path) : std::vector<TDeviceHolder>{};
  if (holders.empty())
    return path + " is in use by another program. Close it there, then connect again.";
  std::vector<std::string> names;
  for (const TDeviceHolder &h : holders)
    names.push_back(h.Name + " (pid " + std::to_string(h.Pid) + ")");
  return path + " is in use by " + Join(names) + ". Close it there, then connect again.";
}

std::string AccessDeniedHint(const std::string &path, const TOpenHintSources &sources) {
  TDeviceAccess access;
  if (!sources.InspectAccess || !sources.InspectAccess(path, access))
    return DialoutHint;
  if (access.PseudoTerminal && !access.OwnerIsMe)
    return path + " is a pseudo-terminal of user " + access.Owner + ": only that user can open it.";
  if (access.GroupMayReadWrite && !access.InGroup) {
    if (access.Group == "dialout")
      return DialoutHint;
    return "Add your user to the '" + access.Group + "' group (sudo usermod -aG " + access.Group +
           " $USER) and log in again.";
  }
  char mode[8];
  std::snprintf(mode, sizeof mode, "%04o", access.Mode);
  return path + " may not be opened by this user (owner " + access.Owner + ", group " + access.Group + ", mode " +
         mode + ").";
}

} // namespace

TOpenHintSources SystemOpenHintSources() {
  TOpenHintSources sources;
  sources.ListPorts = [] {
    std::vector<std::string> ports;
    ListSerialPorts(ports);
    return ports;
  };
  sources.FindHolders = FindDeviceHolders;
  sources.InspectAccess = InspectDeviceAccess;
  return sources;
}

std::string OpenFailureHint(const std::string &port, int error, const TOpenHintSources &sources) {
  const std::string path = ResolveSerialDeviceName(port);
  switch (error) {
  case ENOENT:
  case ENOTDIR:
    return MissingHint(port, path, sources);
  case EBUSY:
    return BusyHint(path, sources);
  case EACCES:
  case EPERM:
    return AccessDeniedHint(path, sources);
  case ENOTTY:
    return path + " is not a serial port.";
  case EISDIR:
    return path + " is a directory, not a serial port.";
  default:
    return path + " could not be opened: " + std::error_code(error, std::generic_category()).message() + ".";
  }
}
