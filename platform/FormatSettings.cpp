#include "platform/FormatSettings.h"

#include <langinfo.h>

namespace {

bool IsAsciiLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

// Letters and quotes mean something in a Qt pattern, so literal text holding any is quoted.
void AppendLiteral(std::string &out, const std::string &lit) {
  bool needsQuotes = false;
  for (char c : lit)
    if (IsAsciiLetter(c) || c == '\'') needsQuotes = true;
  if (!needsQuotes) {
    out += lit;
    return;
  }
  out += '\'';
  for (char c : lit) {
    if (c == '\'') out += '\'';
    out += c;
  }
  out += '\'';
}

// One strftime conversion as a Qt pattern; unpadded tells "%-d"/"%e"-style forms apart.
// Returns nullptr for conversions without a Qt equivalent.
const char *QtConversion(char conv, bool unpadded) {
  switch (conv) {
  case 'd': return unpadded ? "d" : "dd";
  case 'e': return "d";
  case 'm': return unpadded ? "M" : "MM";
  case 'Y': case 'G': return "yyyy";
  case 'y': case 'g': return "yy";
  case 'b': case 'h': return "MMM";
  case 'B': return "MMMM";
  case 'a': return "ddd";
  case 'A': return "dddd";
  case 'H': return unpadded ? "H" : "HH";
  case 'k': return "H";
  case 'I': return unpadded ? "h" : "hh";
  case 'l': return "h";
  case 'M': return unpadded ? "m" : "mm";
  case 'S': return unpadded ? "s" : "ss";
  case 'p': return "AP";
  case 'P': return "ap";
  case 'T': return "HH:mm:ss";
  case 'R': return "HH:mm";
  case 'r': return "hh:mm:ss AP";
  case 'D': return "MM/dd/yy";
  case 'F': return "yyyy-MM-dd";
  default: return nullptr;
  }
}

// A separator must be one plain ASCII character to be usable in number text.
bool UsableSeparator(const std::string &s) {
  return s.size() == 1 && static_cast<unsigned char>(s[0]) >= 0x20 && static_cast<unsigned char>(s[0]) < 0x7F &&
         !(s[0] >= '0' && s[0] <= '9') && s[0] != '+' && s[0] != '-';
}

} // namespace

std::string StrftimeToQtPattern(const std::string &f) {
  std::string out, lit;
  for (std::size_t i = 0; i < f.size(); ++i) {
    if (f[i] != '%') {
      lit += f[i];
      continue;
    }
    ++i;
    bool unpadded = false;
    // glibc flags and field widths, then the E/O alternative-form modifiers.
    while (i < f.size() && (f[i] == '-' || f[i] == '_' || f[i] == '0' || f[i] == '^' || f[i] == '#')) {
      if (f[i] == '-' || f[i] == '_') unpadded = true;
      ++i;
    }
    while (i < f.size() && f[i] >= '1' && f[i] <= '9') ++i;
    while (i < f.size() && f[i] >= '0' && f[i] <= '9') ++i;
    if (i < f.size() && (f[i] == 'E' || f[i] == 'O')) ++i;
    if (i >= f.size()) break;
    const char c = f[i];
    if (c == '%') { lit += '%'; continue; }
    if (c == 't') { lit += '\t'; continue; }
    if (c == 'n') { lit += '\n'; continue; }
    const char *q = QtConversion(c, unpadded);
    if (!q) continue;
    AppendLiteral(out, lit);
    lit.clear();
    out += q;
  }
  AppendLiteral(out, lit);
  return out;
}

TFormatSettings TFormatSettings::FromLocaleValues(const std::string &radix, const std::string &thousands,
                                                  const std::string &dateFormat, const std::string &timeFormat) {
  TFormatSettings s;
  s.DecimalSeparator = UsableSeparator(radix) ? radix[0] : '.';
  // Multi-byte separators (narrow no-break space, typographic apostrophe) cannot live in our 8-bit
  // number text; take the customary partner of the decimal separator instead.
  if (UsableSeparator(thousands) && thousands[0] != s.DecimalSeparator)
    s.ThousandSeparator = thousands[0];
  else
    s.ThousandSeparator = s.DecimalSeparator == ',' ? '.' : ',';
  const std::string date = StrftimeToQtPattern(dateFormat);
  if (!date.empty()) s.ShortDateFormat = date;
  const std::string time = StrftimeToQtPattern(timeFormat);
  if (!time.empty()) s.LongTimeFormat = time;
  return s;
}

TFormatSettings TFormatSettings::FromProcessLocale() {
  // nl_langinfo follows the calling thread's locale, which is the process locale set by main.
  return FromLocaleValues(nl_langinfo(RADIXCHAR), nl_langinfo(THOUSEP), nl_langinfo(D_FMT), nl_langinfo(T_FMT));
}

TFormatSettings &FormatSettings() {
  static TFormatSettings settings = TFormatSettings::FromProcessLocale();
  return settings;
}

ScopedFormatSettings::ScopedFormatSettings(const TFormatSettings &s) : FSaved(FormatSettings()) {
  FormatSettings() = s;
}

ScopedFormatSettings::ScopedFormatSettings(char decimal, char thousand) : FSaved(FormatSettings()) {
  FormatSettings().DecimalSeparator = decimal;
  FormatSettings().ThousandSeparator = thousand;
}

ScopedFormatSettings::~ScopedFormatSettings() { FormatSettings() = FSaved; }
