// Line settings read back after they were applied: what counts as not taken, and what a pty reports.
#include "tty/LineCheck.h"
#include "tty/PosixSerialDevice.h"
#include "tty/PseudoTerminal.h"

#include <gtest/gtest.h>

#include <termios.h>

namespace {

TLineSettings Line(uint32_t baud, uint8_t size = 8, uint8_t parity = NOPARITY, bool rtscts = false, bool xon = false) {
  return {baud, baud, size, parity, rtscts, xon, xon};
}

std::string Text(const std::vector<TRefusedSetting> &refused) {
  std::string text;
  for (const TRefusedSetting &r : refused)
    text += (text.empty() ? "" : " | ") + r.Setting + ": " + r.Asked + " -> " + r.Actual;
  return text;
}

TEST(LineCheck, settingsTheDriverKeptOtherwiseAreNamedWithBothValues) {
  TLineSettings slowInput = Line(115200);
  slowInput.InBaud = 9600;
  const struct {
    TLineSettings Asked, Actual;
    std::string Expected;
  } cases[] = {
      {Line(921600), Line(115200), "speed: 921600 baud -> 115200 baud"},
      {Line(250000), Line(245000), ""}, // rounded by exactly 2 %
      {Line(250000), Line(255001), "speed: 250000 baud -> 255001 baud"},
      {Line(115200), slowInput, "receive speed: 115200 baud -> 9600 baud"},
      {Line(9600, 7, EVENPARITY), Line(9600), "data bits: 7 -> 8 | parity: even -> none"},
      {Line(9600, 8, MARKPARITY), Line(9600, 8, ODDPARITY), "parity: mark -> odd"},
      {Line(9600, 8, NOPARITY, true, true), Line(9600),
       "RTS/CTS flow control: on -> off | XON/XOFF output flow control: on -> off | XON/XOFF input flow control: on "
       "-> off"},
  };
  for (const auto &c : cases)
    EXPECT_EQ(Text(CompareLineSettings(c.Asked, c.Actual)), c.Expected);
}

TEST(LineCheck, kernelFlagsDecodeToSizeParityAndFlow) {
  EXPECT_EQ(Text(CompareLineSettings(Line(9600, 7, EVENPARITY), DecodeLineSettings(CS7 | PARENB, 0, 9600, 9600))), "");
  EXPECT_EQ(Text(CompareLineSettings(Line(50, 6, ODDPARITY, false, true),
                                     DecodeLineSettings(CS6 | PARENB | PARODD, IXON | IXOFF, 0, 50))), "");
  EXPECT_EQ(Text(CompareLineSettings(Line(50, 5, MARKPARITY, true),
                                     DecodeLineSettings(CS5 | PARENB | PARODD | CMSPAR | CRTSCTS, 0, 50, 50))), "");
  EXPECT_EQ(DecodeLineSettings(CS8 | PARENB | CMSPAR, IXOFF, 0, 0).Parity, SPACEPARITY);
}

// A pty takes any speed and the flow settings, so what the device applied reads back as asked.
TEST(LineCheck, settingsAppliedToAPtyReadBackAsAsked) {
  TPseudoTerminal pty;
  TPosixSerialDevice device;
  ASSERT_EQ(pty.Open(), 0);
  ASSERT_EQ(device.Open(pty.SlavePath()), 0);
  DCB dcb;
  dcb.BaudRate = 250000;
  dcb.ByteSize = 8;
  dcb.fOutxCtsFlow = dcb.fOutX = 1;
  ASSERT_EQ(device.SetCommState(dcb), 0);
  TLineSettings actual;
  ASSERT_EQ(ReadLineSettings(device.Fd(), actual), 0);
  EXPECT_EQ(actual.OutBaud, 250000u);
  EXPECT_EQ(Text(CompareLineSettings(LineSettingsOf(dcb), actual)), "");
}

} // namespace
