#include "app/records/BrokerPayloads.h"

#include <cmath>
#include <cstdio>

#include "app/records/RecordCsv.h"

std::string ValuePayload(float value) {
  std::string s;
  AppendShortestFloat(s, value);
  return s;
}

namespace {

// Length of the valid UTF-8 sequence at s[i], 0 when there is none.
std::size_t Utf8Length(std::string_view s, std::size_t i) {
  const auto b = static_cast<unsigned char>(s[i]);
  std::size_t n;
  unsigned cp, min;
  if (b < 0x80) return 1;
  if ((b & 0xE0) == 0xC0) n = 2, cp = b & 0x1F, min = 0x80;
  else if ((b & 0xF0) == 0xE0) n = 3, cp = b & 0x0F, min = 0x800;
  else if ((b & 0xF8) == 0xF0) n = 4, cp = b & 0x07, min = 0x10000;
  else return 0;
  if (i + n > s.size()) return 0;
  for (std::size_t k = 1; k < n; ++k) {
    const auto c = static_cast<unsigned char>(s[i + k]);
    if ((c & 0xC0) != 0x80) return 0;
    cp = cp << 6 | (c & 0x3F);
  }
  return cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF) ? 0 : n;
}

void AppendJsonString(std::string &out, std::string_view text) {
  out += '"';
  for (std::size_t i = 0; i < text.size();) {
    const char c = text[i];
    const std::size_t n = Utf8Length(text, i);
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
                                                   const TFormatSettings &fs, std::string *why) {
  const auto drop = [&](std::string reason) -> std::optional<TMeasurementRecord> {
    if (why) *why = std::move(reason);
    return std::nullopt;
  };
  if (tooLong) return drop("longer than " + std::to_string(RemotePayloadLimit) + " bytes");
  if (payload.empty()) return drop("empty payload");
  // An "M" in the level would move the record's split; the level alone names the meter.
  if (level.empty() || level.find('M') != std::string_view::npos)
    return drop("'" + std::string(level) + "' is not an instrument number");
  const std::string record = "#" + std::string(level) + "M" + std::string(payload) + "<";
  if (auto r = ParseMeasurementRecord(record, fs)) return r;
  return drop(WhyDropped(record, fs));
}
