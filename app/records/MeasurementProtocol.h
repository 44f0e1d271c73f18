#pragma once
// The measurement record "#" number "M" value "<" as the microcontroller sends it.
#include <cstdint>
#include <optional>
#include <string>

#include "platform/FormatSettings.h"

struct TMeasurementRecord {
  std::int32_t Instrument = 0;
  float Value = 0.0f;
};

// Instrument number text: blanks, one sign, then decimal digits or hexadecimal digits after
// "$", "x", "X", "0x" or "0X"; nothing may follow; the value must fit 32 bits.
std::optional<std::int32_t> ParseInstrumentNumber(const std::string &text);

// The value text with "." or "," as decimal separator, converted to a 32-bit float; nothing when
// the text is not a number of the record grammar or does not fit a 32-bit float.
std::optional<float> ParseMeasuredValue(const std::string &text, const TFormatSettings &fs);

// A record usable for a meter (instrument 1 to 10 and a good value), or nothing: the record is
// then dropped.
std::optional<TMeasurementRecord> ParseMeasurementRecord(const std::string &str, const TFormatSettings &fs);

// Why ParseMeasurementRecord gives nothing for `str`, in words for a user; "" when it gives a record.
std::string WhyDropped(const std::string &str, const TFormatSettings &fs, TWording wording = TWording::English);
