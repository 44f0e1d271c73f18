// Broker URLs as users write them, and the topic prefix a publisher uses.
#include <gtest/gtest.h>

#include "broker/BrokerUrl.h"

namespace {

struct UrlCase {
  const char *text;
  bool tls;
  const char *user, *host;
  int port;
  const char *prefix;
};

TEST(BrokerUrl, goodUrlsGiveTheirParts) {
  const UrlCase cases[] = {
      {"mqtt://localhost", false, "", "localhost", 1883, ""},
      {"mqtts://broker.example.com", true, "", "broker.example.com", 8883, ""},
      {"MQTT://Host:1884/", false, "", "Host", 1884, ""},
      {"mqtt://lab@10.0.0.5:2000/telmora/rig", false, "lab", "10.0.0.5", 2000, "telmora/rig"},
      {"mqtts://me@example.com@cloud:8884/a/b/", true, "me@example.com", "cloud", 8884, "a/b"},
      {"mqtt://[::1]:1999/x", false, "", "::1", 1999, "x"},
      {"mqtt://[fe80::1]", false, "", "fe80::1", 1883, ""},
      {"mqtt://h/Prüfstand/Raum 2", false, "", "h", 1883, "Prüfstand/Raum 2"},
      {"mqtt://h:65535", false, "", "h", 65535, ""},
  };
  for (const UrlCase &c : cases) {
    std::string error;
    const auto url = ParseBrokerUrl(c.text, &error);
    ASSERT_TRUE(url) << c.text << ": " << error;
    EXPECT_EQ(url->Tls, c.tls) << c.text;
    EXPECT_EQ(url->User, c.user) << c.text;
    EXPECT_EQ(url->Host, c.host) << c.text;
    EXPECT_EQ(url->Port, c.port) << c.text;
    EXPECT_EQ(url->Prefix, c.prefix) << c.text;
    EXPECT_EQ(ParseBrokerUrl(BrokerUrlText(*url), nullptr)->Prefix, url->Prefix) << c.text;
  }
}

TEST(BrokerUrl, badUrlsSayWhatIsWrong) {
  const std::pair<const char *, const char *> cases[] = {
      {"", "mqtt:// or mqtts://"},
      {"http://host", "mqtt:// or mqtts://"},
      {"mqtt:/host", "mqtt:// or mqtts://"},
      {"mqtt://", "host name is missing"},
      {"mqtt://:1883", "host name is missing"},
      {"mqtt://user:pw@host", "password does not belong"},
      {"mqtt://@host", "user name"},
      {"mqtt://host:", "port after"},
      {"mqtt://host:0", "between 1 and 65535"},
      {"mqtt://host:65536", "between 1 and 65535"},
      {"mqtt://host:99999999999999999999", "between 1 and 65535"},
      {"mqtt://host:12a", "not a number"},
      {"mqtt://host:-1", "not a number"},
      {"mqtt://ho st", "not allowed"},
      {"mqtt://host?x=1", "not allowed"},
      {"mqtt://[::1", "closing"},
      {"mqtt://[zz]", "no IPv6 address"},
      {"mqtt://[::1]x", "only a port"},
      {"mqtt://host/a/+/b", "wildcard"},
      {"mqtt://host/a#", "wildcard"},
      {"mqtt://host/$SYS", "broker's own"},
      {"mqtt://host/\xff\xfe", "UTF-8"},
      {"mqtt://host/a\xc0\xaf", "UTF-8"},
  };
  for (const auto &[text, why] : cases) {
    std::string error;
    EXPECT_FALSE(ParseBrokerUrl(text, &error)) << text;
    EXPECT_NE(error.find(why), std::string::npos) << text << ": " << error;
  }
  std::string error;
  EXPECT_FALSE(ParseBrokerUrl(std::string("mqtt://host/a\0b", 16), &error));
  EXPECT_NE(error.find("NUL"), std::string::npos) << error;
  EXPECT_FALSE(ParseBrokerUrl("mqtt://host/" + std::string(1025, 'a'), &error));
}

TEST(BrokerUrl, defaultPrefixNamesHostAndPort) {
  EXPECT_EQ(DefaultTopicPrefix("pi", "/dev/ttyUSB0"), "telmora/pi/ttyUSB0");
  EXPECT_EQ(DefaultTopicPrefix("pi", "/dev/pts/3"), "telmora/pi/pts/3");
  EXPECT_EQ(DefaultTopicPrefix("pi", "/dev/serial/by-id/usb-A#1+x"), "telmora/pi/serial/by-id/usb-A_1_x");
  EXPECT_EQ(DefaultTopicPrefix("", ""), "telmora/localhost");
  EXPECT_TRUE(ValidTopicPrefix(DefaultTopicPrefix(ThisHostName(), "/dev/ttyACM0"), nullptr));
}

} // namespace
