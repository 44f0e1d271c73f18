#include "app/cli/PortListing.h"

#include <cctype>

namespace {

// Values come from device descriptors: a blank or a control character would split the line's
// words or the line itself.
std::string Word(const std::string &text) {
  std::string word = text;
  for (char &c : word)
    if (std::isspace(static_cast<unsigned char>(c)) || std::iscntrl(static_cast<unsigned char>(c)))
      c = '_';
  return word;
}

} // namespace

std::string PortListingLine(const TSerialPortInfo &port) {
  std::string line = Word(port.Path);
  if (!port.ById.empty())
    line += " by-id=" + Word(port.ById);
  if (!port.Vendor.empty() || !port.Product.empty())
    line += " usb=" + Word(port.Vendor) + ":" + Word(port.Product);
  if (!port.Serial.empty())
    line += " serial=" + Word(port.Serial);
  if (!port.Driver.empty())
    line += " driver=" + Word(port.Driver);
  return line;
}

std::string PortListing(const std::vector<TSerialPortInfo> &ports) {
  std::string text;
  for (const TSerialPortInfo &port : ports)
    text += PortListingLine(port) + "\n";
  return text;
}
