#pragma once
// Why the link to the broker failed, in words for the status line: the library's result codes,
// the system's error numbers and the broker's refusals made into a few plain reasons.
#include <string>

// A connect attempt or a lost connection: libmosquitto's result `rc` with the errno it left, and
// whether the TLS layer reported a certificate it could not verify.
std::string BrokerFailureText(int rc, int error, bool certificateRejected);

// The broker's answer to CONNECT when it is not success (an MQTT 5 reason code, or an MQTT 3
// return code 1 … 5).
std::string BrokerRefusalText(int reason);

// `english`, one of the texts above, in the window's German; a system's own error text (strerror,
// the library's) stays as it is.
std::string BrokerFailureGerman(const std::string &english);
