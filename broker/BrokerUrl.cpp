#include "broker/BrokerUrl.h"

#include <cctype>

#include <unistd.h>

#include "platform/TextCodec.h"

namespace {

bool StartsWithNoCase(std::string_view text, std::string_view head) {
  if (text.size() < head.size()) return false;
  for (std::size_t i = 0; i < head.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(text[i])) != head[i]) return false;
  return true;
}

bool HostNameChar(char c) {
  return std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '.' || c == '_';
}

} // namespace

bool ValidTopicPrefix(std::string_view prefix, std::string *error) {
  const auto fail = [&](const std::string &why) {
    if (error) *error = why;
    return false;
  };
  if (prefix.empty()) return fail("The topic prefix is empty.");
  if (prefix.size() > 1024) return fail("The topic prefix is longer than 1024 bytes.");
  if (prefix[0] == '$') return fail("A topic prefix may not start with \"$\" (the broker's own topics).");
  for (std::size_t i = 0; i < prefix.size();) {
    const char c = prefix[i];
    if (c == '+' || c == '#') return fail(std::string("A topic prefix may not hold the wildcard \"") + c + "\".");
    if (c == '\0') return fail("A topic prefix may not hold a NUL character.");
    const std::size_t n = Utf8SequenceLength(prefix, i);
    if (n == 0) return fail("The topic prefix is not valid UTF-8.");
    i += n;
  }
  return true;
}

std::optional<TBrokerUrl> ParseBrokerUrl(std::string_view text, std::string *error) {
  const auto fail = [&](const std::string &why) -> std::optional<TBrokerUrl> {
    if (error) *error = "'" + std::string(text) + "' is no broker URL: " + why;
    return std::nullopt;
  };
  TBrokerUrl url;
  std::string_view rest;
  if (StartsWithNoCase(text, "mqtt://")) {
    rest = text.substr(7);
  } else if (StartsWithNoCase(text, "mqtts://")) {
    rest = text.substr(8);
    url.Tls = true;
    url.Port = 8883;
  } else {
    return fail("it must start with mqtt:// or mqtts://.");
  }
  const std::size_t slash = rest.find('/');
  std::string_view authority = rest.substr(0, slash);
  if (slash != std::string_view::npos) {
    std::string_view path = rest.substr(slash + 1);
    while (!path.empty() && path.back() == '/') path.remove_suffix(1);
    if (!path.empty()) {
      std::string why;
      if (!ValidTopicPrefix(path, &why)) return fail(why);
      url.Prefix = std::string(path);
    }
  }
  // The last "@" ends the user: user names that are mail addresses keep theirs.
  const std::size_t at = authority.rfind('@');
  if (at != std::string_view::npos) {
    const std::string_view user = authority.substr(0, at);
    if (user.find(':') != std::string_view::npos)
      return fail("a password does not belong in the URL; give it with --mqtt-password-file or "
                  "TELMORA_MQTT_PASSWORD.");
    if (user.empty()) return fail("the user name before \"@\" is empty.");
    for (std::size_t i = 0; i < user.size();) {
      const std::size_t n = Utf8SequenceLength(user, i);
      if (n == 0 || static_cast<unsigned char>(user[i]) < 0x20) return fail("the user name holds a character that is not allowed.");
      i += n;
    }
    url.User = std::string(user);
    authority = authority.substr(at + 1);
  }
  std::string_view portText;
  if (!authority.empty() && authority[0] == '[') {
    const std::size_t close = authority.find(']');
    if (close == std::string_view::npos) return fail("the IPv6 address has no closing \"]\".");
    url.Host = std::string(authority.substr(1, close - 1));
    for (char c : url.Host)
      if (!std::isxdigit(static_cast<unsigned char>(c)) && c != ':' && c != '.')
        return fail("'" + url.Host + "' is no IPv6 address.");
    if (url.Host.empty()) return fail("the IPv6 address is empty.");
    const std::string_view after = authority.substr(close + 1);
    if (!after.empty()) {
      if (after[0] != ':') return fail("only a port may follow the IPv6 address.");
      portText = after.substr(1);
      if (portText.empty()) return fail("the port after \":\" is missing.");
    }
  } else {
    const std::size_t colon = authority.find(':');
    url.Host = std::string(authority.substr(0, colon));
    if (colon != std::string_view::npos) {
      portText = authority.substr(colon + 1);
      if (portText.empty()) return fail("the port after \":\" is missing.");
    }
    if (url.Host.empty()) return fail("the host name is missing.");
    for (char c : url.Host)
      if (!HostNameChar(c)) return fail("the host name '" + url.Host + "' holds a character that is not allowed.");
  }
  if (!portText.empty()) {
    long port = 0;
    for (char c : portText) {
      if (c < '0' || c > '9') return fail("the port '" + std::string(portText) + "' is not a number.");
      port = port * 10 + (c - '0');
      if (port > 65535) break;
    }
    if (port < 1 || port > 65535) return fail("the port must lie between 1 and 65535.");
    url.Port = static_cast<int>(port);
  }
  return url;
}

std::string BrokerUrlText(const TBrokerUrl &url) {
  std::string s = url.Tls ? "mqtts://" : "mqtt://";
  if (!url.User.empty()) s += url.User + "@";
  s += url.Host.find(':') != std::string::npos ? "[" + url.Host + "]" : url.Host;
  if (url.Port != (url.Tls ? 8883 : 1883)) s += ":" + std::to_string(url.Port);
  if (!url.Prefix.empty()) s += "/" + url.Prefix;
  return s;
}

std::string DefaultTopicPrefix(std::string_view hostName, std::string_view portName) {
  if (portName.substr(0, 5) == "/dev/") portName.remove_prefix(5);
  std::string s = "telmora/" + std::string(hostName.empty() ? "localhost" : hostName);
  if (!portName.empty()) s += "/" + std::string(portName);
  for (char &c : s)
    if (c == '+' || c == '#' || c == '\0') c = '_';
  while (s.back() == '/') s.pop_back();
  return s;
}

std::string ThisHostName() {
  char name[256] = {};
  if (gethostname(name, sizeof name - 1) != 0 || name[0] == '\0') return "localhost";
  return name;
}
