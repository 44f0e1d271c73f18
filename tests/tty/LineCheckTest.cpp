// Line settings read back after they were applied: what counts as not taken, and what a pty reports.
#include "tty/LineCheck.h"
#include "tty/PosixSerialDevice.h"
#include "tty/PseudoTerminal.h"

#include <gtest/gtest.h>

#include <termios.h>

namespace {

TLineSettings Line(uint32_t baud, uint8_t size = 8, uint8_t parity = NOPARITY, bool rtscts = false) {
  TLineSettings s;
  s.InBaud = s.OutBaud = baud;
  s.ByteSize = size;
  s.Parity = parity;
  s.RtsCts = rtscts;
  return s;
}

std::string Text(const std::vector<TRefusedSetting> &refused) {
  std::string text;
  for (const TRefusedSetting &r : refused)
    text += (text.empty() ? "" : " | ") + r.Setting + ": " + r.Asked + " -> " + r.Actual;
  return text;
}

TEST(LineCheck, settingsTheDriverKeptOtherwiseAreNamedWithBothValues) {
  TLineSettings xon = Line(9600), slowInput = Line(115200), sameInput = Line(115200);
  xon.XonXoffOut = xon.XonXoffIn = true;
  slowInput.InBaud = 9600;
  sameInput.InBaud = 0;
  struct TCase {
    TLineSettings Asked, Actual;
    std::string Expected;
  } cases[] = {
      {Line(19200, 7, EVENPARITY), Line(19200, 7, EVENPARITY), ""},
      {Line(921600), Line(115200), "speed: 921600 baud -> 115200 baud"},
      {Line(250000), Line(245000), ""}, // rounded by exactly 2 %
      {Line(250000), Line(255001), "speed: 250000 baud -> 255001 baud"},
      {Line(115200), slowInput, "receive speed: 115200 baud -> 9600 baud"},
      {Line(115200), sameInput, ""},
      {Line(9600, 7, EVENPARITY), Line(9600), "data bits: 7 -> 8 | parity: even -> none"},
      {Line(9600, 8, MARKPARITY), Line(9600, 8, ODDPARITY), "parity: mark -> odd"},
      {Line(9600, 8, NOPARITY, true), Line(9600), "RTS/CTS flow control: on -> off"},
      {xon, Line(9600), "XON/XOFF output flow control: on -> off | XON/XOFF input flow control: on -> off"},
  };
  for (const TCase &c : cases)
    EXPECT_EQ(Text(CompareLineSettings(c.Asked, c.Actual)), c.Expected);
}

TEST(LineCheck, kernelFlagsDecodeToSizeParityAndFlow) {
  struct TCase {
    tcflag_t CFlag, IFlag;
    std::string Expected; // size, parity, RTS/CTS, XON out, XON in
  } cases[] = {
      {CS8, 0, "8 0 000"},
      {CS7 | PARENB, 0, "7 2 000"},
      {CS6 | PARENB | PARODD, IXON, "6 1 010"},
      {CS5 | PARENB | PARODD | CMSPAR, IXOFF, "5 3 001"},
      {CS8 | PARENB | CMSPAR | CRTSCTS, 0, "8 4 100"},
      {CS8 | CMSPAR | PARODD, 0, "8 0 000"}, // the stick bit alone is no parity
  };
  for (const TCase &c : cases) {
    const TLineSettings s = DecodeLineSettings(c.CFlag, c.IFlag, 1200, 2400);
    EXPECT_EQ(std::to_string(s.ByteSize) + " " + std::to_string(s.Parity) + " " + std::to_string(s.RtsCts) +
                  std::to_string(s.XonXoffOut) + std::to_string(s.XonXoffIn),
              c.Expected);
    EXPECT_EQ(s.InBaud + s.OutBaud * 10, 25200u);
  }
}

// A pty takes any speed and the flow settings, so what the device applied reads back as asked.
TEST(LineCheck, settingsAppliedToAPtyReadBackAsAsked) {
  TPseudoTerminal pty;
  TPosixSerialDevice device;
  ASSERT_EQ(pty.Open(), 0);
  ASSERT_EQ(device.Open(pty.SlavePath()), 0);
  for (uint32_t baud : {9600u, 250000u, 921600u}) {
    DCB dcb;
    dcb.BaudRate = baud;
    dcb.ByteSize = 8;
    dcb.fOutxCtsFlow = 1;
    dcb.fOutX = baud == 250000;
    ASSERT_EQ(device.SetCommState(dcb), 0);
    TLineSettings actual;
    ASSERT_EQ(ReadLineSettings(device.Fd(), actual), 0);
    EXPECT_EQ(actual.OutBaud, baud);
    EXPECT_EQ(Text(CompareLineSettings(LineSettingsOf(dcb), actual)), "");
  }
}

} // namespace
