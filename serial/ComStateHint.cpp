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
