#pragma once
// What `telmora --list-ports` prints: one line per serial port, the path first, then what is
// known about it as name=value words, so that scripts can pick a port by its by-id name or its
// USB serial number.
#include "tty/SerialPortList.h"

#include <string>
#include <vector>

// "/dev/ttyUSB0 by-id=usb-FTDI_… usb=0403:6001 serial=A50285BI driver=ftdi_sio"; unknown facts
// are left out.
std::string PortListingLine(const TSerialPortInfo &port);
std::string PortListing(const std::vector<TSerialPortInfo> &ports);
