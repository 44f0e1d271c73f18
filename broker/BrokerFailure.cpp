#include "broker/BrokerFailure.h"

#include <cerrno>
#include <cstring>

#include <mosquitto.h>
#include <mqtt_protocol.h>

namespace {

enum TReason {
  rHostNotFound, rCertNotTrusted, rTlsFailed, rConnectionLost, rNotAnswering, rNotAuthorised,
  rProtocolError, rOutOfMemory, rRefused, rNoAnswer, rNetUnreachable, rHostUnreachable,
  rBanned, rNoMqtt5, rClientIdRejected, rUnavailable
};
// Every reason in the command line's English and the window's German, in the order of TReason.
const struct {
  const char *English, *German;
} Reasons[] = {
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

std::string Said(TReason r) { return Reasons[r].English; }

} // namespace

std::string BrokerFailureText(int rc, int error, bool certificateRejected) {
  switch (rc) {
  case MOSQ_ERR_EAI:
  case MOSQ_ERR_LOOKUP:
    return Said(rHostNotFound);
  case MOSQ_ERR_TLS:
  case MOSQ_ERR_TLS_HANDSHAKE:
    return Said(certificateRejected ? rCertNotTrusted : rTlsFailed);
  case MOSQ_ERR_CONN_LOST:
    return Said(rConnectionLost);
  case MOSQ_ERR_KEEPALIVE:
    return Said(rNotAnswering);
  case MOSQ_ERR_AUTH:
  case MOSQ_ERR_ACL_DENIED:
    return Said(rNotAuthorised);
  case MOSQ_ERR_PROTOCOL:
  case MOSQ_ERR_MALFORMED_PACKET:
    return Said(rProtocolError);
  case MOSQ_ERR_NOMEM:
    return Said(rOutOfMemory);
  case MOSQ_ERR_ERRNO:
    switch (error) {
    case ECONNREFUSED:
      return Said(rRefused);
    case ETIMEDOUT:
      return Said(rNoAnswer);
    case ENETUNREACH:
      return Said(rNetUnreachable);
    case EHOSTUNREACH:
      return Said(rHostUnreachable);
    case ECONNRESET:
    case EPIPE:
      return Said(rConnectionLost);
    default:
      return std::strerror(error);
    }
  default:
    // A certificate rejected during a reconnect ends the connection with a generic code.
    if (certificateRejected) return Said(rCertNotTrusted);
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
    return Said(rNotAuthorised);
  case MQTT_RC_BANNED:
    return Said(rBanned);
  case 1: // MQTT 3: unacceptable protocol version
  case MQTT_RC_UNSUPPORTED_PROTOCOL_VERSION:
    return Said(rNoMqtt5);
  case 2: // MQTT 3: identifier rejected
  case MQTT_RC_CLIENTID_NOT_VALID:
    return Said(rClientIdRejected);
  case 3: // MQTT 3: server unavailable
  case MQTT_RC_SERVER_UNAVAILABLE:
  case MQTT_RC_SERVER_BUSY:
  case MQTT_RC_USE_ANOTHER_SERVER:
  case MQTT_RC_SERVER_MOVED:
    return Said(rUnavailable);
  default:
    return std::string("refused by the broker: ") + mosquitto_reason_string(reason);
  }
}

std::string BrokerFailureGerman(const std::string &english) {
  for (const auto &r : Reasons)
    if (english == r.English) return r.German;
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
