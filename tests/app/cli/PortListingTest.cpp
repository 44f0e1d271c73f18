#include "app/cli/PortListing.h"

#include <gtest/gtest.h>

// Unknown facts are left out, and text from a device descriptor never splits a word or a line.
TEST(PortListing, oneLinePerPortWithTheKnownFactsAsWords) {
  TSerialPortInfo full{"/dev/ttyUSB0", "usb-FTDI_A5-if00-port0", "0403", "6001", "A5", "ftdi_sio"};
  TSerialPortInfo uart{"/dev/ttyS0", "", "", "", "", "serial"};
  TSerialPortInfo odd{"/dev/ttyACM0", "", "2341", "0043", "SN 1\n2\t3", ""};
  EXPECT_EQ(PortListing({full, uart, odd}),
            "/dev/ttyUSB0 by-id=usb-FTDI_A5-if00-port0 usb=0403:6001 serial=A5 driver=ftdi_sio\n"
            "/dev/ttyS0 driver=serial\n"
            "/dev/ttyACM0 usb=2341:0043 serial=SN_1_2_3\n");
  EXPECT_EQ(PortListing({}), "");
}
