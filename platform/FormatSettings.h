#pragma once
// Locale values the program formats and parses with. Read once from the process locale and
// replaceable, so tests run under "." and "," without touching the locale.
#include <string>

struct TFormatSettings {
  char DecimalSeparator = '.';
  char ThousandSeparator = ',';
  std::string ShortDateFormat = "dd.MM.yyyy"; // Qt date pattern
  std::string LongTimeFormat = "hh:mm:ss";   // Qt time pattern

  // Values of the process locale (LC_NUMERIC / LC_TIME).
  static TFormatSettings FromProcessLocale();
  // The same from the raw C-library strings (radix, thousands separator, D_FMT, T_FMT):
  // unusable separators fall back, empty or unconvertible forms keep the defaults above.
  static TFormatSettings FromLocaleValues(const std::string &radix, const std::string &thousands,
                                          const std::string &dateFormat, const std::string &timeFormat);
};

// The language of a message: English on the command line (stderr, --help, --trace, files), German
// in the window.
enum class TWording { English, German };

// Converts a strftime form ("%d.%m.%Y", "%r", "%H:%M:%S") into the equivalent Qt date/time
// pattern; literal text is quoted. Conversions Qt cannot show are left out.
std::string StrftimeToQtPattern(const std::string &strftimeFormat);

// The settings in force; starts as FromProcessLocale().
TFormatSettings &FormatSettings();

// Replaces the settings in force for the lifetime of the object (tests).
class ScopedFormatSettings {
public:
  explicit ScopedFormatSettings(const TFormatSettings &s);
  ScopedFormatSettings(char decimal, char thousand);
  ~ScopedFormatSettings();
  ScopedFormatSettings(const ScopedFormatSettings &) = delete;
  ScopedFormatSettings &operator=(const ScopedFormatSettings &) = delete;

private:
  TFormatSettings FSaved;
};
