#include "serial/ComStateHint.h"

#include "tty/PosixSerialDevice.h"

std::string LineSettingsHint(const std::string &port, const std::vector<TRefusedSetting> &refused) {
  if (refused.empty())
    return {};
  std::string text = ResolveSerialDeviceName(port) + " did not take every line setting: ";
  for (size_t i = 0; i < refused.size(); ++i) {
    const TRefusedSetting &r = refused[i];
    text += (i ? "; " : "") + r.Setting + " " + r.Asked + " asked for, " + r.Actual + " in effect";
  }
  return text + ". Choose settings this device supports.";
}

std::string HangupHint(const std::string &port, bool waiting) {
  std::string text = "The device on " + ResolveSerialDeviceName(port) +
                     " went away (unplugged, reset, or the program at its other end closed the line); the port is "
                     "closed.";
  if (waiting)
    text += " Telmora waits for it and opens the port again when it is back.";
  return text;
}
