// Any text as a broker URL: parsed without a crash, and a URL that parses reads back the same.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "broker/BrokerUrl.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char *>(data), size);
  std::string error;
  const auto url = ParseBrokerUrl(text, &error);
  if (!url) {
    if (error.empty()) std::abort();
    return 0;
  }
  const auto again = ParseBrokerUrl(BrokerUrlText(*url), nullptr);
  if (!again || again->Host != url->Host || again->Port != url->Port || again->User != url->User ||
      again->Prefix != url->Prefix || again->Tls != url->Tls)
    std::abort();
  return 0;
}
