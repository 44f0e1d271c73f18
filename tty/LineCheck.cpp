#include "tty/LineCheck.h"

#include <cstdlib>

#include <termios.h>

namespace {

const char *ParityName(uint8_t parity) {
  static constexpr const char *names[] = {"none", "odd", "even", "mark", "space"};
  return parity < 5 ? names[parity] : "?";
}

const char *OnOff(bool on) { return on ? "on" : "off"; }

// Within 2 % of the speed asked for; 64 bits so that no product overflows.
bool CloseEnough(uint32_t asked, uint32_t actual) {
  const int64_t diff = std::llabs(int64_t(actual) - int64_t(asked));
  return diff * 50 <= int64_t(asked);
}

} // namespace

TLineSettings LineSettingsOf(const DCB &dcb) {
  TLineSettings s;
  s.InBaud = s.OutBaud = dcb.BaudRate;
  s.ByteSize = dcb.ByteSize;
  s.Parity = dcb.Parity;
  // Linux has one switch for both directions of the handshake: either flag asks for it.
  s.RtsCts = dcb.fOutxCtsFlow || dcb.fRtsControl == RTS_CONTROL_HANDSHAKE;
  s.XonXoffOut = dcb.fOutX;
  s.XonXoffIn = dcb.fInX;
  return s;
}

TLineSettings DecodeLineSettings(uint32_t cflag, uint32_t iflag, uint32_t inBaud, uint32_t outBaud) {
  TLineSettings s;
  s.InBaud = inBaud;
  s.OutBaud = outBaud;
  switch (cflag & CSIZE) {
  case CS5: s.ByteSize = 5; break;
  case CS6: s.ByteSize = 6; break;
  case CS7: s.ByteSize = 7; break;
  default: s.ByteSize = 8; break;
  }
  if (!(cflag & PARENB))
    s.Parity = NOPARITY;
  else if (cflag & CMSPAR)
    s.Parity = (cflag & PARODD) ? MARKPARITY : SPACEPARITY;
  else
    s.Parity = (cflag & PARODD) ? ODDPARITY : EVENPARITY;
  s.RtsCts = (cflag & CRTSCTS) != 0;
  s.XonXoffOut = (iflag & IXON) != 0;
  s.XonXoffIn = (iflag & IXOFF) != 0;
  return s;
}

std::vector<TRefusedSetting> CompareLineSettings(const TLineSettings &asked, const TLineSettings &actual) {
  std::vector<TRefusedSetting> refused;
  const auto baud = [](uint32_t rate) { return std::to_string(rate) + " baud"; };
  if (!CloseEnough(asked.OutBaud, actual.OutBaud))
    refused.push_back({"speed", baud(asked.OutBaud), baud(actual.OutBaud)});
  else if (actual.InBaud != 0 && !CloseEnough(asked.OutBaud, actual.InBaud))
    refused.push_back({"receive speed", baud(asked.OutBaud), baud(actual.InBaud)});
  if (asked.ByteSize != actual.ByteSize)
    refused.push_back({"data bits", std::to_string(asked.ByteSize), std::to_string(actual.ByteSize)});
  if (asked.Parity != actual.Parity)
    refused.push_back({"parity", ParityName(asked.Parity), ParityName(actual.Parity)});
  if (asked.RtsCts != actual.RtsCts)
    refused.push_back({"RTS/CTS flow control", OnOff(asked.RtsCts), OnOff(actual.RtsCts)});
  if (asked.XonXoffOut != actual.XonXoffOut)
    refused.push_back({"XON/XOFF output flow control", OnOff(asked.XonXoffOut), OnOff(actual.XonXoffOut)});
  if (asked.XonXoffIn != actual.XonXoffIn)
    refused.push_back({"XON/XOFF input flow control", OnOff(asked.XonXoffIn), OnOff(actual.XonXoffIn)});
  return refused;
}

int ReadLineSettings(int fd, TLineSettings &settings) {
  uint32_t cflag = 0, iflag = 0, in = 0, out = 0;
  if (const int error = ReadTermios2(fd, cflag, iflag, in, out))
    return error;
  settings = DecodeLineSettings(cflag, iflag, in, out);
  return 0;
}
