#pragma once
// The serial ports present on this machine, read from the kernel's tty class in sysfs.
#include <string>
#include <vector>

// Replaces `list` with the names (as /dev knows them: "ttyS0", "ttyUSB0", "ttyACM0") of the ttys
// that have a device behind them, sorted as text ignoring case. Left out: virtual terminals,
// pseudo-terminals and the placeholder UARTs a PC kernel registers without hardware (a `type` of
// 0, "unknown"). When the tty class cannot be read at all, `list` is left as it was.
// `sysfsRoot` is where sysfs is mounted; tests point it at a tree of their own.
void ListSerialPorts(std::vector<std::string> &list, const std::string &sysfsRoot = "/sys");

// A serial port with what can be told about it without opening it; empty texts where unknown.
struct TSerialPortInfo {
  std::string Path;    // "/dev/ttyUSB0"
  std::string ById;    // its name in /dev/serial/by-id ("usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0")
  std::string Vendor;  // USB vendor and product id as sysfs gives them ("0403", "6001")
  std::string Product;
  std::string Serial;  // USB serial number
  std::string Driver;  // the kernel driver behind it ("ftdi_sio", "cdc_acm", "serial")
};

// The ports ListSerialPorts finds, in its order, described. `devRoot` is where /dev is.
std::vector<TSerialPortInfo> DescribeSerialPorts(const std::string &sysfsRoot = "/sys",
                                                 const std::string &devRoot = "/dev");

// Text order ignoring ASCII case ("COM1" < "COM10" < "COM2"); equal texts in other case are
// ordered by their bytes, so the order never depends on how they were found.
bool PortNameLess(const std::string &a, const std::string &b);
