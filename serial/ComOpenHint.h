#pragma once
// The second line of "Unable to open com port (Error: n)": what went wrong with this port, in
// words, and what the user can do about it.
#include "platform/FormatSettings.h"
#include "tty/PortDiagnosis.h"

#include <functional>
#include <string>
#include <vector>

// Where the hint gets its facts; tests put fakes in.
struct TOpenHintSources {
  std::function<std::vector<std::string>()> ListPorts;
  std::function<std::vector<TDeviceHolder>(const std::string &path)> FindHolders;
  std::function<bool(const std::string &path, TDeviceAccess &access)> InspectAccess;
};

// The machine's own ports, /proc and the device's permissions.
TOpenHintSources SystemOpenHintSources();

// `port` as the user named it ("COM10", "ttyUSB0", "/dev/pts/3"); `error` the errno of the open;
// in the command line's English or the window's German.
std::string OpenFailureHint(const std::string &port, int error,
                            const TOpenHintSources &sources = SystemOpenHintSources(),
                            TWording wording = TWording::English);
