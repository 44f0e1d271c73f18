#include "app/records/BrokerPayloads.h"

#include <cmath>
#include <cstdio>

#include "app/records/RecordCsv.h"
#include "platform/TextCodec.h"

std::string ValuePayload(float value) {
  std::string s;
  AppendShortestFloat(s, value);
  return s;
}

namespace {

void AppendJsonString(std::string &out, std::string_view text) {
  out += '"';
  for (std::size_t i = 0; i < text.size();) {
    const char c = text[i];
    const std::size_t n = Utf8SequenceLength(text, i);
    if (n == 0) {
      out += "\xEF\xBF\xBD";
      ++i;
      continue;
    }
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (static_cast<unsigned char>(c) < 0x20) {
      char esc[8];
      std::snprintf(esc, sizeof esc, "\\u%04x", static_cast<unsigned char>(c));
      out += esc;
    } else {
      out.append(text.substr(i, n));
    }
    i += n;
  }
  out += '"';
}

void AppendJsonNumber(std::string &out, float v) {
  if (std::isfinite(v))
    AppendShortestFloat(out, v);
  else
    out += "null";
}

} // namespace

std::string MetaPayload(const TMeterMeta &meta) {
  std::string s = "{\"name\":";
  AppendJsonString(s, meta.Name);
  s += ",\"unit\":";
  AppendJsonString(s, meta.Unit);
  s += ",\"from\":";
  AppendJsonNumber(s, meta.From);
  s += ",\"to\":";
  AppendJsonNumber(s, meta.To);
  s += ",\"format\":";
  AppendJsonString(s, meta.Format);
  s += '}';
  return s;
}

std::optional<TMeasurementRecord> ParseRemoteValue(std::string_view level, std::string_view payload, bool tooLong,
                                                   const TFormatSettings &fs, std::string *why, TWording wording) {
  const auto drop = [&](std::string reason) -> std::optional<TMeasurementRecord> {
    if (why) *why = std::move(reason);
    return std::nullopt;
  };
  const bool german = wording == TWording::German;
  if (tooLong)
    return drop((german ? "länger als " : "longer than ") + std::to_string(RemotePayloadLimit) +
                (german ? " Byte" : " bytes"));
  if (payload.empty()) return drop(german ? "leere Nutzlast" : "empty payload");
  // An "M" in the level would move the record's split; the level alone names the meter.
  if (level.empty() || level.find('M') != std::string_view::npos)
    return drop(german ? "„" + std::string(level) + "“ ist keine Instrumentnummer"
                       : "'" + std::string(level) + "' is not an instrument number");
  const std::string record = "#" + std::string(level) + "M" + std::string(payload) + "<";
  if (auto r = ParseMeasurementRecord(record, fs)) return r;
  return drop(WhyDropped(record, fs, wording));
}
