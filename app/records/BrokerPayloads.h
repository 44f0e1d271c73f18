#pragma once
// Records on a broker: the payload a value is published as, the description of a meter, and the
// check a payload from a broker goes through before it moves a meter (the serial record's).
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "app/records/MeasurementProtocol.h"
#include "platform/FormatSettings.h"

// The value as the CSV's Wert column writes it: the shortest text that reads back to the same
// 32-bit float, "." as decimal separator.
std::string ValuePayload(float value);

struct TMeterMeta {
  std::string Name, Unit, Format;
  float From = 0, To = 0;
};
// {"name":"Druck","unit":"bar","from":0,"to":10,"format":"##0.0"}: valid JSON whatever the
// texts hold (bytes that are no UTF-8 become U+FFFD).
std::string MetaPayload(const TMeterMeta &meta);

// Payloads longer than this are no value (a record longer than the framer's buffer is none either).
inline constexpr std::size_t RemotePayloadLimit = 1024;

// The value a broker message brings: the topic's last level `level` is the instrument number,
// the payload the value text, checked as the serial record "#" level "M" payload "<" would be.
// Nothing, with *why in --trace's words or the window's, when it is dropped; `tooLong` says the
// payload was longer than RemotePayloadLimit (only an excerpt arrived).
std::optional<TMeasurementRecord> ParseRemoteValue(std::string_view level, std::string_view payload, bool tooLong,
                                                   const TFormatSettings &fs, std::string *why,
                                                   TWording wording = TWording::English);
