// Telling an adapter again after it came back, possibly under another name, in a fake /dev and
// /sys; and the watcher that wakes the wait when something appears.
#include "tty/DeviceIdentity.h"
#include "tty/DeviceWatcher.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include <poll.h>

#include "support/FakeDeviceTree.h"

using testsupport::TFakeAdapter;
using testsupport::TFakeDeviceTree;

namespace {

const TFakeAdapter Ftdi{"0403", "6001", "A10K3XYZ", "1-1", "usb-FTDI_FT232R_USB_UART_A10K3XYZ-if00-port0"};

TEST(DeviceIdentityTest, identityIsReadThroughTheNodeOrTheByIdLink) {
  TFakeDeviceTree tree;
  tree.Plug(Ftdi, "ttyUSB0");
  for (const std::string &path : {tree.Dev() + "/ttyUSB0", tree.Dev() + "/serial/by-id/" + Ftdi.ById}) {
    const TDeviceIdentity id = IdentifyDevice(path, tree.Roots());
    EXPECT_EQ(id.ById, Ftdi.ById) << path;
    EXPECT_EQ(id.Vendor, "0403") << path;
    EXPECT_EQ(id.Product, "6001") << path;
    EXPECT_EQ(id.Serial, "A10K3XYZ") << path;
  }
  EXPECT_TRUE(IdentifyDevice(tree.Dev() + "/ttyS9", tree.Roots()).Empty());
}

TEST(DeviceIdentityTest, theSameAdapterIsFoundUnderItsNewNameAndNoOtherIs) {
  struct Case {
    const char *Name;
    TFakeAdapter Before, After; // After is plugged in as ttyUSB1 once Before is gone
    bool Found;
  };
  TFakeAdapter noLink = Ftdi;
  noLink.ById.clear();
  TFakeAdapter otherSerial = noLink;
  otherSerial.Serial = "B20Q";
  TFakeAdapter noSerial = noLink;
  noSerial.Serial.clear();
  TFakeAdapter otherPort = Ftdi; // another USB socket: the same by-id name all the same
  otherPort.Usb = "1-2";
  const Case cases[] = {
      {"by-id link", Ftdi, Ftdi, true},
      {"other USB socket", Ftdi, otherPort, true},
      {"no udev: USB serial number", noLink, noLink, true},
      {"another adapter of the same make", noLink, otherSerial, false},
      {"no serial number to tell them apart", noSerial, noSerial, false},
  };
  for (const Case &c : cases) {
    TFakeDeviceTree tree;
    tree.Plug(c.Before, "ttyUSB0");
    const TDeviceIdentity id = IdentifyDevice(tree.Dev() + "/ttyUSB0", tree.Roots());
    tree.Unplug(c.Before, "ttyUSB0");
    EXPECT_EQ(FindDevice(id, tree.Roots()), "") << c.Name;
    tree.Plug(c.After, "ttyUSB1");
    EXPECT_EQ(FindDevice(id, tree.Roots()), c.Found ? tree.Dev() + "/ttyUSB1" : "") << c.Name;
  }
}

TEST(DeviceIdentityTest, aTtyWhoseNodeIsNotMadeYetIsNotFound) {
  TFakeDeviceTree tree;
  TFakeAdapter noLink = Ftdi;
  noLink.ById.clear();
  tree.Plug(noLink, "ttyUSB0");
  const TDeviceIdentity id = IdentifyDevice(tree.Dev() + "/ttyUSB0", tree.Roots());
  std::filesystem::remove(tree.Dev() + "/ttyUSB0");
  EXPECT_EQ(FindDevice(id, tree.Roots()), "");
}

bool Readable(int fd) {
  pollfd p{fd, POLLIN, 0};
  return ::poll(&p, 1, 0) == 1;
}

TEST(DeviceWatcherTest, wakesOnWhatAppearsInTheWatchedFoldersOnly) {
  TFakeDeviceTree tree;
  const std::string elsewhere = tree.Sys() + "/links";
  std::filesystem::create_directories(elsewhere);
  TDeviceWatcher watcher(tree.Roots());
  ASSERT_EQ(watcher.Watch(elsewhere + "/port"), 0);
  EXPECT_FALSE(Readable(watcher.Fd()));
  EXPECT_FALSE(watcher.ReadEvents());

  std::filesystem::create_directories(tree.Sys() + "/class/tty/ttyUSB0"); // not watched
  EXPECT_FALSE(Readable(watcher.Fd()));

  struct Step {
    const char *Name;
    std::string Create;
    bool Folder;
  };
  const Step steps[] = {
      {"the port's own folder", elsewhere + "/port", false},
      {"/dev", tree.Dev() + "/ttyUSB0", false},
      {"/dev/serial, made after the watch began", tree.Dev() + "/serial", true},
      {"by-id, made after the watch began", tree.Dev() + "/serial/by-id", true},
      {"a link in by-id", tree.Dev() + "/serial/by-id/usb-x", false},
  };
  for (const Step &s : steps) {
    if (s.Folder)
      std::filesystem::create_directory(s.Create);
    else
      std::ofstream(s.Create).close();
    ASSERT_TRUE(Readable(watcher.Fd())) << s.Name;
    EXPECT_TRUE(watcher.ReadEvents()) << s.Name;
    EXPECT_FALSE(Readable(watcher.Fd())) << s.Name << ": drained";
  }
  watcher.Stop();
  EXPECT_EQ(watcher.Fd(), -1);
}

} // namespace
