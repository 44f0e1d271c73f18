#pragma once
// Number pattern formatter and the rounding rules shared by the instruments.
#include <cstdint>
#include <string>

#include "platform/FormatSettings.h"

// Formats value by a pattern of "0", "#", ".", ",", "E+"/"E-"/"e+"/"e-", up to three ";" sections
// and quoted text; the locale's separators come from fs.
std::string FormatFloat(const std::string &pattern, double value, const TFormatSettings &fs);
std::string FormatFloat(const std::string &pattern, double value);

// Nearest integer, halves to even, as a double (exact for every finite input).
double RoundEvenF(double x);
// Nearest integer, halves to even, saturated to the 32-bit range; NaN gives 0.
std::int32_t RoundEven(double x);
// Saturating conversions of a real to integers (truncation toward zero; NaN gives 0).
std::int32_t TruncSat32(double x);
std::int64_t TruncSat64(double x);
// Saturating narrowing of a 64-bit value to 32 bits.
std::int32_t Sat32(std::int64_t x);

// Date-time: days since 30 December 1899, the fraction is the time of day.
using TDateTime = double;
TDateTime Now();
// The date-time of a calendar date and time of day (local time, no time zone).
TDateTime EncodeDateTime(int year, int month, int day, int hour = 0, int minute = 0, int second = 0,
                         int msec = 0);
std::string DateToStr(TDateTime t, const TFormatSettings &fs);
std::string TimeToStr(TDateTime t, const TFormatSettings &fs);

// Plain float conversion under the locale's decimal separator: optional blanks around, sign,
// digits with at most one separator, optional exponent. False for anything else.
// A result beyond the double range fails (with `tooLarge` set, when given, and `out` the infinity
// of its sign); one too small for it becomes zero.
bool TextToFloat(const std::string &text, double &out, const TFormatSettings &fs, bool *tooLarge = nullptr);

// Narrows to single precision without undefined behaviour: beyond the float range gives
// ±infinity (what the FPU does), NaN stays NaN.
float NarrowToFloat(double x);
