// Any topic level and payload a broker may deliver to a panel: checked without a crash, a value
// only when it is finite and names a meter 1 to 10, and a reason for everything else. The first
// byte splits the input into level and payload; the second says whether the payload was cut.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "app/records/BrokerPayloads.h"
#include "app/records/DropLog.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  if (size < 2) return 0;
  const std::string_view all(reinterpret_cast<const char *>(data) + 2, size - 2);
  const std::size_t split = std::min<std::size_t>(data[0], all.size());
  const bool tooLong = data[1] & 1;
  TFormatSettings fs;
  fs.DecimalSeparator = data[1] & 2 ? ',' : '.';
  std::string why;
  const auto r = ParseRemoteValue(all.substr(0, split), all.substr(split), tooLong, fs, &why);
  if (r) {
    if (!why.empty() || tooLong || r->Instrument < 1 || r->Instrument > 10 || !std::isfinite(r->Value)) std::abort();
  } else if (why.empty()) {
    std::abort();
  }
  // What the drop log and --trace show of it stays one line.
  const std::string shown = PrintableText(std::string(all), 80);
  if (shown.find('\n') != std::string::npos || shown.size() > 80 * 4 + 3) std::abort();
  return 0;
}
