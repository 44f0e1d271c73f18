#include "broker/BrokerFailure.h"

#include <cerrno>
#include <cstring>

#include <mosquitto.h>
#include <mqtt_protocol.h>

std::string BrokerFailureText(int rc, int error, bool certificateRejected) {
  switch (rc) {
  case MOSQ_ERR_EAI:
  case MOSQ_ERR_LOOKUP:
    return "host not found";
  case MOSQ_ERR_TLS:
  case MOSQ_ERR_TLS_HANDSHAKE:
    return certificateRejected ? "TLS certificate not trusted" : "TLS handshake failed";
  case MOSQ_ERR_CONN_LOST:
    return "connection lost";
  case MOSQ_ERR_KEEPALIVE:
    return "broker not answering";
  case MOSQ_ERR_AUTH:
  case MOSQ_ERR_ACL_DENIED:
    return "not authorised";
  case MOSQ_ERR_PROTOCOL:
  case MOSQ_ERR_MALFORMED_PACKET:
    return "protocol error";
  case MOSQ_ERR_NOMEM:
    return "out of memory";
  case MOSQ_ERR_ERRNO:
    switch (error) {
    case ECONNREFUSED:
      return "connection refused";
    case ETIMEDOUT:
      return "no answer from the host";
    case ENETUNREACH:
      return "network unreachable";
    case EHOSTUNREACH:
      return "host unreachable";
    case ECONNRESET:
    case EPIPE:
      return "connection lost";
    default:
      return std::strerror(error);
    }
  default:
    // A certificate rejected during a reconnect ends the connection with a generic code.
    if (certificateRejected) return "TLS certificate not trusted";
    return mosquitto_strerror(rc);
  }
}

std::string BrokerRefusalText(int reason) {
  switch (reason) {
  case 4: // MQTT 3: bad user name or password
  case 5: // MQTT 3: not authorised
  case MQTT_RC_BAD_USERNAME_OR_PASSWORD:
  case MQTT_RC_NOT_AUTHORIZED:
  case MQTT_RC_BAD_AUTHENTICATION_METHOD:
    return "not authorised";
  case MQTT_RC_BANNED:
    return "banned by the broker";
  case 1: // MQTT 3: unacceptable protocol version
  case MQTT_RC_UNSUPPORTED_PROTOCOL_VERSION:
    return "the broker does not speak MQTT 5";
  case 2: // MQTT 3: identifier rejected
  case MQTT_RC_CLIENTID_NOT_VALID:
    return "client id rejected";
  case 3: // MQTT 3: server unavailable
  case MQTT_RC_SERVER_UNAVAILABLE:
  case MQTT_RC_SERVER_BUSY:
  case MQTT_RC_USE_ANOTHER_SERVER:
  case MQTT_RC_SERVER_MOVED:
    return "broker unavailable";
  default:
    return std::string("refused by the broker: ") + mosquitto_reason_string(reason);
  }
}

std::string BrokerFailureGerman(const std::string &english) {
  static const struct {
    const char *English, *German;
  } words[] = {
      {"host not found", "Host nicht gefunden"},
      {"TLS certificate not trusted", "TLS-Zertifikat nicht vertrauenswürdig"},
      {"TLS handshake failed", "TLS-Verbindungsaufbau gescheitert"},
      {"connection lost", "Verbindung verloren"},
      {"broker not answering", "Broker antwortet nicht"},
      {"not authorised", "nicht berechtigt"},
      {"protocol error", "Protokollfehler"},
      {"out of memory", "kein Speicher frei"},
      {"connection refused", "Verbindung abgelehnt"},
      {"no answer from the host", "keine Antwort vom Host"},
      {"network unreachable", "Netz nicht erreichbar"},
      {"host unreachable", "Host nicht erreichbar"},
      {"banned by the broker", "vom Broker gesperrt"},
      {"the broker does not speak MQTT 5", "der Broker spricht kein MQTT 5"},
      {"client id rejected", "Client-ID abgelehnt"},
      {"broker unavailable", "Broker nicht verfügbar"},
  };
  for (const auto &w : words)
    if (english == w.English) return w.German;
  static const struct {
    const char *English, *German;
  } prefixes[] = {
      {"refused by the broker: ", "vom Broker abgelehnt: "},
      {"cannot read the CA file ", "CA-Datei nicht lesbar: "},
  };
  for (const auto &p : prefixes)
    if (english.rfind(p.English, 0) == 0) return p.German + english.substr(std::strlen(p.English));
  return english;
}
