#pragma once
// Where the broker is: "mqtt://[user@]host[:port][/prefix]" or "mqtts://..." (TLS). The password
// never travels in the URL: a URL ends up in settings files, shell histories and process lists.
#include <optional>
#include <string>
#include <string_view>

struct TBrokerUrl {
  bool Tls = false;
  std::string User;   // "" without one
  std::string Host;   // a name, an IPv4 address or an IPv6 address (without brackets)
  int Port = 1883;    // 1883 for mqtt://, 8883 for mqtts:// unless given
  std::string Prefix; // the topic prefix from the path; "" when the URL has none
};

// The URL, or nothing with *error saying what is wrong with it in a sentence.
std::optional<TBrokerUrl> ParseBrokerUrl(std::string_view text, std::string *error);

// The URL as written back: scheme, user, host, port (when not the default) and prefix.
std::string BrokerUrlText(const TBrokerUrl &url);

// Whether `prefix` can head topics we publish to and subscribe below: no wildcards ("+", "#"),
// no NUL, valid UTF-8, at most 1024 bytes, not starting with "$" (the broker's own topics).
bool ValidTopicPrefix(std::string_view prefix, std::string *error);

// "telmora/<host name>/<port name without /dev/>", the prefix when none is set. Characters a
// topic may not hold ("+", "#", NUL) become "_".
std::string DefaultTopicPrefix(std::string_view hostName, std::string_view portName);
// This machine's host name ("localhost" when it has none).
std::string ThisHostName();
