#pragma once
// The line settings a driver holds after SetCommState, and the ones it did not take. A UART
// driver refuses a speed beyond its clock (or mark/space parity, or RTS/CTS) without failing
// the call: it keeps the previous value, and only reading the settings back shows it.
#include "tty/WinComm.h"

#include <cstdint>
#include <string>
#include <vector>

struct TLineSettings {
  uint32_t InBaud = 0; // 0: the input runs at the output speed
  uint32_t OutBaud = 0;
  uint8_t ByteSize = 8;
  uint8_t Parity = NOPARITY; // NOPARITY … SPACEPARITY
  bool RtsCts = false;
  bool XonXoffOut = false;
  bool XonXoffIn = false;
};

// One setting the driver did not take, in words: {"speed", "921600 baud", "115200 baud"}.
struct TRefusedSetting {
  std::string Setting;
  std::string Asked;
  std::string Actual;
};

// What a DCB asks of the line, in the terms the driver reports back.
TLineSettings LineSettingsOf(const DCB &dcb);
// The settings in the kernel's termios2 fields.
TLineSettings DecodeLineSettings(uint32_t cflag, uint32_t iflag, uint32_t inBaud, uint32_t outBaud);
// The settings of `actual` that differ from `asked`. A speed within 2 % of the one asked for is
// taken: drivers round to what their clock divides down to.
std::vector<TRefusedSetting> CompareLineSettings(const TLineSettings &asked, const TLineSettings &actual);

// Reads the tty's settings back (TCGETS2): 0 or errno.
int ReadLineSettings(int fd, TLineSettings &settings);
// The raw termios2 fields behind ReadLineSettings (kernel headers, a file of their own).
int ReadTermios2(int fd, uint32_t &cflag, uint32_t &iflag, uint32_t &inBaud, uint32_t &outBaud);
