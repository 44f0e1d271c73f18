#include "serial/ComOpenHint.h"

#include "tty/PosixSerialDevice.h"
#include "tty/SerialPortList.h"

#include <cerrno>
#include <cstdio>
#include <system_error>

namespace {

// On Linux serial devices belong to the group "dialout"; a device may name another.
std::string GroupHint(const std::string &group, bool de) {
  const std::string command = "sudo usermod -aG " + group + " $USER";
  return de ? "Den eigenen Benutzer zur Gruppe „" + group + "“ hinzufügen (" + command + ") und neu anmelden."
            : "Add your user to the '" + group + "' group (" + command + ") and log in again.";
}

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

std::string MissingHint(const std::string &port, const std::string &path, const TOpenHintSources &sources, bool de) {
  const std::vector<std::string> ports = sources.ListPorts ? sources.ListPorts() : std::vector<std::string>{};
  const std::string missing = (de ? "Es gibt keine Schnittstelle " : "There is no port ") + PortAndPath(port, path);
  if (ports.empty())
    return missing +
           (de ? " und auf diesem Rechner keine serielle Schnittstelle. Die Platine anstecken: sie erscheint als "
                 "ttyUSB0 (USB-Seriell-Adapter) oder ttyACM0 (Platine mit eigenem USB), dann auswählen."
               : " and no serial port was found on this machine. Plug the board in: it appears as ttyUSB0 (USB "
                 "serial adapter) or ttyACM0 (board with its own USB), then choose it.");
  return missing + (de ? ". Eine der gefundenen Schnittstellen wählen: " : ". Choose one of the ports found: ") +
         Join(ports) + ".";
}

std::string BusyHint(const std::string &path, const TOpenHintSources &sources, bool de) {
  const std::vector<TDeviceHolder> holders =
      sources.FindHolders ? sources.FindHolders(path) : std::vector<TDeviceHolder>{};
  std::vector<std::string> names;
  for (const TDeviceHolder &h : holders)
    names.push_back(h.Name + " (pid " + std::to_string(h.Pid) + ")");
  if (de)
    return path + " wird von " + (holders.empty() ? "einem anderen Programm" : Join(names)) +
           " benutzt. Dort schließen, dann neu verbinden.";
  return path + " is in use by " + (holders.empty() ? "another program" : Join(names)) +
         ". Close it there, then connect again.";
}

std::string AccessDeniedHint(const std::string &path, const TOpenHintSources &sources, bool de) {
  TDeviceAccess access;
  if (!sources.InspectAccess || !sources.InspectAccess(path, access))
    return GroupHint("dialout", de);
  if (access.PseudoTerminal && !access.OwnerIsMe)
    return de ? path + " ist ein Pseudo-Terminal des Benutzers " + access.Owner + ": nur dieser kann es öffnen."
              : path + " is a pseudo-terminal of user " + access.Owner + ": only that user can open it.";
  if (access.GroupMayReadWrite && !access.InGroup)
    return GroupHint(access.Group, de);
  char mode[8];
  std::snprintf(mode, sizeof mode, "%04o", access.Mode);
  if (de)
    return path + " darf dieser Benutzer nicht öffnen (Besitzer " + access.Owner + ", Gruppe " + access.Group +
           ", Modus " + mode + ").";
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

std::string OpenFailureHint(const std::string &port, int error, const TOpenHintSources &sources, TWording wording) {
  const bool de = wording == TWording::German;
  const std::string path = ResolveSerialDeviceName(port);
  switch (error) {
  case ENOENT:
  case ENOTDIR:
    return MissingHint(port, path, sources, de);
  case EBUSY:
    return BusyHint(path, sources, de);
  case EACCES:
  case EPERM:
    return AccessDeniedHint(path, sources, de);
  case ENOTTY:
    return path + (de ? " ist keine serielle Schnittstelle." : " is not a serial port.");
  case EISDIR:
    return path + (de ? " ist ein Ordner, keine serielle Schnittstelle." : " is a directory, not a serial port.");
  default:
    return path + (de ? " ließ sich nicht öffnen: " : " could not be opened: ") +
           std::error_code(error, std::generic_category()).message() + ".";
  }
}
