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

// A USB serial adapter and a UART behind the kernel's serial-core port devices, laid out as sysfs
// and udev do; the by-id links are relative, as udev makes them.
TEST(SerialPortList, portsAreDescribedWithByIdNameUsbIdentityAndDriver) {
  QTemporaryDir dir;
  const fs::path sys = dir.path().toStdString() + "/sys", dev = dir.path().toStdString() + "/dev";
  const auto file = [](const fs::path &path, const std::string &text) {
    fs::create_directories(path.parent_path());
    std::ofstream(path) << text;
  };
  const auto tty = [&](const std::string &name, const fs::path &device, const std::vector<std::string> &drivers) {
    fs::create_directories(device / "tty" / name);
    fs::create_directories(sys / "class/tty");
    fs::create_directory_symlink(device / "tty" / name, sys / "class/tty" / name);
    fs::create_directory_symlink(device, device / "tty" / name / "device");
    file(dev / name, "");
    fs::path at = device;
    for (const std::string &driver : drivers) // from the tty's device upward
      fs::create_symlink(sys / "bus" / driver, at / "driver"), at = at.parent_path();
  };
  const fs::path usb = sys / "devices/pci0000:00/usb1/1-2";
  tty("ttyUSB0", usb / "1-2:1.0/ttyUSB0", {"usb-serial/drivers/ftdi_sio", "usb/drivers/usb"});
  file(usb / "idVendor", "0403\n"), file(usb / "idProduct", "6001\n"), file(usb / "serial", "A50285BI\n");
  tty("ttyS0", sys / "devices/pnp0/00:00/00:00:0/00:00:0.0",
      {"serial-base/drivers/port", "serial-base/drivers/ctrl", "pnp/drivers/serial"});
  file(sys / "class/tty/ttyS0/type", "4\n");
  fs::create_directories(dev / "serial/by-id");
  fs::create_symlink("../../ttyUSB0", dev / "serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0");
  fs::create_symlink("../../ttyACM9", dev / "serial/by-id/usb-gone-if00");

  std::vector<std::string> described;
  for (const TSerialPortInfo &p : DescribeSerialPorts(sys.string(), dev.string()))
    described.push_back(p.Path.substr(dev.string().size()) + " " + p.ById + " " + p.Vendor + ":" + p.Product + " " +
                        p.Serial + " " + p.Driver);
  EXPECT_EQ(described, (std::vector<std::string>{
                           "/ttyS0  :  serial",
                           "/ttyUSB0 usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0 0403:6001 A50285BI ftdi_sio",
                       }));
}

} // namespace
