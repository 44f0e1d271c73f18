// The port list read from a fake sysfs tree: which ttys count as serial ports, their /dev names,
// the order, and the list left alone when the tty class cannot be read.
#include "tty/SerialPortList.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

// One tty as sysfs shows it.
struct TFakeTty {
  std::string Entry;       // name under class/tty
  bool Device = true;      // has a `device` link
  std::string Type;        // contents of `type`; empty: no such file
  std::string DevName;     // DEVNAME of `uevent`; empty: no uevent
  bool DanglingDevice = false;
};

// Builds class/tty the way the kernel lays it out: each entry a link into devices/, the device a
// link to the parent device's directory.
class TFakeSysfs {
public:
  TFakeSysfs() { EXPECT_TRUE(FDir.isValid()); }
  std::string Root() const { return FDir.path().toStdString(); }

  void Add(const TFakeTty &tty) {
    const fs::path root = Root();
    const fs::path real = root / "devices" / "virtual-or-bus" / "tty" / tty.Entry;
    fs::create_directories(real);
    fs::create_directories(root / "class" / "tty");
    fs::create_directory_symlink(real, root / "class" / "tty" / tty.Entry);
    if (tty.Device) {
      const fs::path parent = root / "devices" / "parents" / tty.Entry;
      if (!tty.DanglingDevice)
        fs::create_directories(parent);
      fs::create_directory_symlink(parent, real / "device");
    }
    if (!tty.Type.empty())
      std::ofstream(real / "type") << tty.Type;
    if (!tty.DevName.empty())
      std::ofstream(real / "uevent") << "MAJOR=4\nMINOR=64\nDEVNAME=" << tty.DevName << "\n";
  }

private:
  QTemporaryDir FDir;
};

TFakeTty Virtual(const std::string &entry) {
  TFakeTty tty;
  tty.Entry = entry;
  tty.Device = false;
  tty.DevName = entry;
  return tty;
}

// A serial-core port: `type` is 0 for an empty slot, the UART model otherwise.
TFakeTty Uart(const std::string &entry, const std::string &type, const std::string &devName = "same") {
  TFakeTty tty;
  tty.Entry = entry;
  tty.Type = type;
  tty.DevName = devName == "same" ? entry : devName;
  return tty;
}

// A tty of a USB or other driver: a device but no `type`.
TFakeTty Usb(const std::string &entry, const std::string &devName = "same") { return Uart(entry, "", devName); }

TFakeTty Unplugging(const std::string &entry) {
  TFakeTty tty = Usb(entry);
  tty.DanglingDevice = true;
  return tty;
}

std::vector<std::string> List(const std::string &root) {
  std::vector<std::string> list{"left over"};
  ListSerialPorts(list, root);
  return list;
}

struct TListCase {
  const char *Name;
  std::vector<TFakeTty> Ttys;
  std::vector<std::string> Expected;
};

class SerialPortListTest : public ::testing::TestWithParam<TListCase> {};

TEST_P(SerialPortListTest, listsTtysWithHardwareBehindThem) {
  TFakeSysfs sysfs;
  for (const TFakeTty &tty : GetParam().Ttys)
    sysfs.Add(tty);
  EXPECT_EQ(List(sysfs.Root()), GetParam().Expected);
}

INSTANTIATE_TEST_SUITE_P(
    Trees, SerialPortListTest,
    ::testing::Values(
        TListCase{"virtualTerminalsAndPtysAreNoPorts",
                  {Virtual("tty0"), Virtual("console"), Virtual("ptmx"), Virtual("tty")},
                  {}},
        TListCase{"probedUartIsListed", {Uart("ttyS0", "4\n")}, {"ttyS0"}},
        TListCase{"emptyUartSlotIsLeftOut",
                  {Uart("ttyS0", "4\n"), Uart("ttyS1", "0\n"), Uart("ttyS2", "0", "")},
                  {"ttyS0"}},
        TListCase{"typeReadAsNumberNotPrefix", {Uart("ttyS3", "0x10\n"), Uart("ttyS4", " 0 \n")}, {"ttyS3"}},
        TListCase{"usbAndAcmHaveNoTypeAndAreListed", {Usb("ttyUSB0"), Usb("ttyACM0")}, {"ttyACM0", "ttyUSB0"}},
        TListCase{"devNameOfUeventWins", {Usb("ttyX", "serial/by-kernel/ttyX")}, {"serial/by-kernel/ttyX"}},
        TListCase{"bangInEntryNameIsASlash", {Usb("usb!ttyUSB9", "")}, {"usb/ttyUSB9"}},
        TListCase{"deviceGoingAwayStillCounts", {Unplugging("ttyUSB1")}, {"ttyUSB1"}}),
    [](const auto &info) { return std::string(info.param.Name); });

TEST(SerialPortList, sortsAsTextIgnoringCase) {
  TFakeSysfs sysfs;
  for (const char *name : {"COM2", "COM10", "COM1", "ttyusb1", "ttyACM0", "TTYS0", "ttyUSB0"})
    sysfs.Add(Usb(name));
  EXPECT_EQ(List(sysfs.Root()),
            (std::vector<std::string>{"COM1", "COM10", "COM2", "ttyACM0", "TTYS0", "ttyUSB0", "ttyusb1"}));
}

TEST(SerialPortList, unreadableClassLeavesListAsItWas) {
  TFakeSysfs sysfs; // no class/tty at all
  EXPECT_EQ(List(sysfs.Root()), std::vector<std::string>{"left over"});
  EXPECT_EQ(List(sysfs.Root() + "/no-such-root"), std::vector<std::string>{"left over"});
}

TEST(SerialPortList, emptyClassEmptiesTheList) {
  TFakeSysfs sysfs;
  fs::create_directories(fs::path(sysfs.Root()) / "class" / "tty");
  EXPECT_TRUE(List(sysfs.Root()).empty());
}

} // namespace
