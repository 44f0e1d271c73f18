// An adapter told again after it came back under another name, in a fake /dev and /sys.
#include "tty/DeviceIdentity.h"

#include <gtest/gtest.h>

#include "support/FakeDeviceTree.h"

using testsupport::TFakeAdapter;

namespace {

TEST(DeviceIdentityTest, theSameAdapterIsFoundUnderItsNewNameAndNoOtherIs) {
  struct Case {
    const char *Name;
    TFakeAdapter Before, After; // After comes as ttyUSB1 once Before (ttyUSB0) is gone
    bool Found;
  };
  const TFakeAdapter ftdi{"0403", "6001", "A10K3XYZ", "usb-FTDI_FT232R_USB_UART_A10K3XYZ-if00-port0"};
  const Case cases[] = {
      {"by-id link", ftdi, ftdi, true},
      {"by-id link only", {"0403", "6001", "", ftdi.ById}, {"0403", "6001", "", ftdi.ById}, true},
      {"no udev: USB serial number", {"0403", "6001", "A10K3XYZ", ""}, {"0403", "6001", "A10K3XYZ", ""}, true},
      {"another adapter of the same make", {"0403", "6001", "A10K3XYZ", ""}, {"0403", "6001", "B2", ""}, false},
      {"no serial number to tell them apart", {"0403", "6001", "", ""}, {"0403", "6001", "", ""}, false},
  };
  for (const Case &c : cases) {
    testsupport::TFakeDeviceTree tree;
    tree.Plug(c.Before, "ttyUSB0");
    const std::string dev = tree.Roots().Dev;
    const TDeviceIdentity id = IdentifyDevice(dev + "/ttyUSB0", tree.Roots());
    EXPECT_EQ(id.ById, c.Before.ById) << c.Name;
    EXPECT_EQ(id.Serial, c.Before.Serial) << c.Name;
    if (!c.Before.ById.empty()) { // through the link, the same device
      EXPECT_TRUE(id.SameDevice(IdentifyDevice(dev + "/serial/by-id/" + c.Before.ById, tree.Roots()))) << c.Name;
    }
    tree.Unplug("ttyUSB0");
    EXPECT_EQ(FindDevice(id, tree.Roots()), "") << c.Name;
    tree.Plug(c.After, "ttyUSB1");
    EXPECT_EQ(FindDevice(id, tree.Roots()), c.Found ? dev + "/ttyUSB1" : "") << c.Name;
  }
}

} // namespace
