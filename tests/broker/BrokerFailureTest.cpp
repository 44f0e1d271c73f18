#include "broker/BrokerFailure.h"

#include <cerrno>

#include <gtest/gtest.h>
#include <mosquitto.h>
#include <mqtt_protocol.h>

// The status line says the same failure in German; what the system words itself stays as it is.
TEST(BrokerFailure, everyReasonHasItsGermanWordsAndSystemTextsStay) {
  const struct {
    std::string English, German;
  } cases[] = {
      {BrokerFailureText(MOSQ_ERR_EAI, 0, false), "Host nicht gefunden"},
      {BrokerFailureText(MOSQ_ERR_ERRNO, ECONNREFUSED, false), "Verbindung abgelehnt"},
      {BrokerFailureText(MOSQ_ERR_TLS, 0, true), "TLS-Zertifikat nicht vertrauenswürdig"},
      {BrokerFailureText(MOSQ_ERR_CONN_LOST, 0, false), "Verbindung verloren"},
      {BrokerRefusalText(MQTT_RC_NOT_AUTHORIZED), "nicht berechtigt"},
      {BrokerRefusalText(MQTT_RC_BANNED), "vom Broker gesperrt"},
      {BrokerRefusalText(MQTT_RC_QUOTA_EXCEEDED), "vom Broker abgelehnt: Quota exceeded"},
      {"cannot read the CA file /etc/x.pem", "CA-Datei nicht lesbar: /etc/x.pem"},
      {BrokerFailureText(MOSQ_ERR_ERRNO, EACCES, false), BrokerFailureText(MOSQ_ERR_ERRNO, EACCES, false)},
      {"", ""},
  };
  for (const auto &c : cases) EXPECT_EQ(BrokerFailureGerman(c.English), c.German) << c.English;
}
