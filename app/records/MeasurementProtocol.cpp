#include "app/records/MeasurementProtocol.h"

#include <cmath>
#include <limits>

#include "platform/FormatFloat.h"

namespace {
int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}
} // namespace

std::optional<std::int32_t> ParseInstrumentNumber(const std::string &text) {
  std::size_t i = 0;
  while (i < text.size() && text[i] == ' ') ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  int base = 10;
  if (i < text.size() && (text[i] == '$' || text[i] == 'x' || text[i] == 'X')) {
    base = 16;
    ++i;
  } else if (i + 1 < text.size() && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
    base = 16;
    i += 2;
  }
  if (i == text.size()) return std::nullopt;
  // Accumulated in 64 bits with the sign applied at the end; anything past 32 bits fails.
  std::int64_t v = 0;
  for (; i < text.size(); ++i) {
    const int d = base == 16 ? HexDigit(text[i]) : (text[i] >= '0' && text[i] <= '9' ? text[i] - '0' : -1);
    if (d < 0) return std::nullopt;
    v = v * base + d;
    if (v > 0x80000000LL) return std::nullopt;
  }
  if (negative) v = -v;
  if (v > std::numeric_limits<std::int32_t>::max() || v < std::numeric_limits<std::int32_t>::min())
    return std::nullopt;
  return static_cast<std::int32_t>(v);
}

std::optional<float> ParseMeasuredValue(const std::string &text, const TFormatSettings &fs) {
  std::string t = text;
  // Either separator is accepted: the first foreign one becomes the locale's.
  const char foreign = fs.DecimalSeparator == '.' ? ',' : '.';
  const auto pos = t.find(foreign);
  if (pos != std::string::npos) t[pos] = fs.DecimalSeparator;
  double d = 0;
  if (!TextToFloat(t, d, fs)) return std::nullopt;
  // A value that does not round to a finite 32-bit float would show as a measurement that never
  // happened; the printed form of the largest float ("3.4028235e38") lies just above it and rounds
  // down to it, so it is kept.
  if (!std::isfinite(d)) return std::nullopt;
  const float f = NarrowToFloat(d);
  if (!std::isfinite(f)) return std::nullopt;
  return f;
}

namespace {
// The record's checks in their order; `why` (when given) gets the reason a record is dropped.
std::optional<TMeasurementRecord> Parse(const std::string &str, const TFormatSettings &fs, std::string *why,
                                        TWording wording) {
  const bool de = wording == TWording::German;
  if (str.size() <= 4 || str[0] != '#') {
    if (why) *why = de ? "zu kurz für einen Datensatz" : "too short for a record";
    return std::nullopt;
  }
  const std::string body = str.substr(1);
  const auto m = body.find('M');
  const std::size_t p = m == std::string::npos ? 0 : m + 1; // 1-based position, 0 when absent
  const std::string numberText = p > 0 ? body.substr(0, p - 1) : std::string();
  const auto number = ParseInstrumentNumber(numberText);
  const std::string valueText = body.substr(p, body.size() - p - 1);
  // The value is converted for every record, as the number check comes after it.
  const auto value = ParseMeasuredValue(valueText, fs);
  if (m == std::string::npos) {
    if (why) *why = de ? "kein M zwischen Nummer und Wert" : "no M between number and value";
    return std::nullopt;
  }
  if (!number) {
    if (why) *why = de ? "„" + numberText + "“ ist keine Instrumentnummer" : "'" + numberText + "' is not an instrument number";
    return std::nullopt;
  }
  if (*number < 1 || *number > 10) {
    if (why)
      *why = de ? "kein Instrument " + std::to_string(*number) + " (Instrumente 1 bis 10)"
                : "no instrument " + std::to_string(*number) + " (instruments are 1 to 10)";
    return std::nullopt;
  }
  // A good number with a value that does not convert is dropped: setting a made-up value would
  // show a measurement that never happened.
  if (!value) {
    if (why) *why = de ? "„" + valueText + "“ ist kein Wert" : "'" + valueText + "' is not a value";
    return std::nullopt;
  }
  return TMeasurementRecord{*number, *value};
}
} // namespace

std::optional<TMeasurementRecord> ParseMeasurementRecord(const std::string &str, const TFormatSettings &fs) {
  return Parse(str, fs, nullptr, TWording::English);
}

std::string WhyDropped(const std::string &str, const TFormatSettings &fs, TWording wording) {
  std::string why;
  Parse(str, fs, &why, wording);
  return why;
}
