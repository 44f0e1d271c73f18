#include "platform/FormatFloat.h"

#include <QDate>
#include <QDateTime>
#include <QLocale>
#include <QTime>

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <string_view>
#include <vector>

namespace {

// ---------------------------------------------------------------------------------------------
// Decimal digits of a non-negative finite value: value = 0.Digits × 10^Exp10, no trailing zeros;
// empty Digits is zero. Fifteen significant digits, so a value typed as 2.55 (stored as
// 2.5499999…) rounds the way its reader expects.
struct TDecimal {
  std::string Digits;
  int Exp10 = 0;
};

TDecimal ToDecimal(double v) {
  TDecimal d;
  if (v == 0) return d;
  char buf[64];
  const auto r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::scientific, 14);
  const std::string_view s(buf, static_cast<std::size_t>(r.ptr - buf)); // "d.ddddddddddddddde±XX"
  const std::size_t ePos = s.find('e');
  d.Digits += s[0];
  d.Digits.append(s.substr(2, ePos - 2));
  int exp = 0;
  std::from_chars(s.data() + ePos + (s[ePos + 1] == '+' ? 2 : 1), s.data() + s.size(), exp);
  d.Exp10 = exp + 1;
  while (!d.Digits.empty() && d.Digits.back() == '0') d.Digits.pop_back();
  return d;
}

// Keeps the first count digits, rounding half away from zero on the decimal digits.
void RoundDigits(TDecimal &d, int count) {
  if (d.Digits.empty() || count >= static_cast<int>(d.Digits.size())) return;
  if (count < 0) {
    d = TDecimal{};
    return;
  }
  const bool up = d.Digits[static_cast<std::size_t>(count)] >= '5';
  d.Digits.resize(static_cast<std::size_t>(count));
  if (up) {
    int i = count - 1;
    while (i >= 0 && d.Digits[static_cast<std::size_t>(i)] == '9') d.Digits[static_cast<std::size_t>(i--)] = '0';
    if (i < 0) {
      d.Digits.insert(d.Digits.begin(), '1');
      ++d.Exp10;
    } else {
      ++d.Digits[static_cast<std::size_t>(i)];
    }
  }
  while (!d.Digits.empty() && d.Digits.back() == '0') d.Digits.pop_back();
  if (d.Digits.empty()) d.Exp10 = 0;
}

// Digit at decimal position p (0 = units, 1 = tens, -1 = tenths).
char DigitAt(const TDecimal &d, int p) {
  const long long i = static_cast<long long>(d.Exp10) - 1 - p;
  return i >= 0 && i < static_cast<long long>(d.Digits.size()) ? d.Digits[static_cast<std::size_t>(i)] : '0';
}

// ---------------------------------------------------------------------------------------------
// One section of a pattern, read into tokens.
enum class TTokKind { Literal, Digit, Point, Exponent };

struct TToken {
  TTokKind Kind;
  std::string Text;   // Literal
  char Letter = 0;    // Exponent: 'E' or 'e'
  char Sign = 0;      // Exponent: '+' or '-'
  int ExpDigits = 0;  // Exponent: least number of digits
};

struct TSection {
  std::vector<TToken> Tokens;
  int IntCount = 0; // placeholders before the decimal point
  int IntMin = 0;   // integer digits always written (from the first '0' on)
  int FracMax = 0;  // placeholders after the decimal point
  int FracMin = 0;  // fraction digits always written (up to the last '0')
  bool Group = false;
  bool Scientific = false;
  bool HasPlaceholders() const { return IntCount + FracMax > 0; }
};

bool IsQuote(char c) { return c == '"' || c == '\''; }

// Splits at ';' outside quotes; only the first three sections count.
std::vector<std::string_view> SplitSections(std::string_view p) {
  std::vector<std::string_view> out;
  std::size_t start = 0;
  char quote = 0;
  for (std::size_t i = 0; i < p.size() && out.size() < 2; ++i) {
    if (quote) {
      if (p[i] == quote) quote = 0;
    } else if (IsQuote(p[i])) {
      quote = p[i];
    } else if (p[i] == ';') {
      out.push_back(p.substr(start, i - start));
      start = i + 1;
    }
  }
  std::string_view rest = p.substr(start);
  // A fourth section and beyond are ignored.
  quote = 0;
  for (std::size_t i = 0; i < rest.size(); ++i) {
    if (quote) {
      if (rest[i] == quote) quote = 0;
    } else if (IsQuote(rest[i])) {
      quote = rest[i];
    } else if (rest[i] == ';') {
      rest = rest.substr(0, i);
      break;
    }
  }
  out.push_back(rest);
  return out;
}

TSection ParseSection(std::string_view s) {
  TSection sec;
  auto literal = [&sec](std::string_view t) {
    if (!sec.Tokens.empty() && sec.Tokens.back().Kind == TTokKind::Literal)
      sec.Tokens.back().Text.append(t);
    else
      sec.Tokens.push_back({TTokKind::Literal, std::string(t)});
  };
  bool afterPoint = false, afterExp = false;
  int firstIntZero = -1;
  for (std::size_t i = 0; i < s.size(); ++i) {
    const char c = s[i];
    if (IsQuote(c)) {
      std::size_t j = s.find(c, i + 1);
      if (j == std::string_view::npos) j = s.size();
      literal(s.substr(i + 1, j - i - 1));
      i = j;
    } else if (afterExp) {
      literal(s.substr(i, 1)); // everything behind the exponent is plain text
    } else if (c == '0' || c == '#') {
      sec.Tokens.push_back({TTokKind::Digit, {}});
      if (!afterPoint) {
        if (c == '0' && firstIntZero < 0) firstIntZero = sec.IntCount;
        ++sec.IntCount;
      } else {
        ++sec.FracMax;
        if (c == '0') sec.FracMin = sec.FracMax;
      }
    } else if (c == '.') {
      if (!afterPoint) sec.Tokens.push_back({TTokKind::Point, {}});
      afterPoint = true;
    } else if (c == ',') {
      if (!afterPoint) sec.Group = true;
    } else if ((c == 'E' || c == 'e') && i + 1 < s.size() && (s[i + 1] == '+' || s[i + 1] == '-')) {
      TToken t{TTokKind::Exponent, {}, c, s[i + 1], 0};
      i += 2;
      while (i < s.size() && s[i] == '0') {
        ++t.ExpDigits;
        ++i;
      }
      --i;
      sec.Tokens.push_back(t);
      sec.Scientific = afterExp = true;
    } else {
      literal(s.substr(i, 1));
    }
  }
  sec.IntMin = firstIntZero < 0 ? 0 : sec.IntCount - firstIntZero;
  return sec;
}

// A section without digit placeholders is plain text.
std::string LiteralText(std::string_view s) {
  std::string out;
  for (std::size_t i = 0; i < s.size(); ++i) {
    if (IsQuote(s[i])) {
      std::size_t j = s.find(s[i], i + 1);
      if (j == std::string_view::npos) j = s.size();
      out.append(s.substr(i + 1, j - i - 1));
      i = j;
    } else {
      out += s[i];
    }
  }
  return out;
}

// The digits a section shows for |value|, and the exponent in scientific form.
struct TRounded {
  TDecimal Dec;     // placed so that Exp10 integer digits precede the point
  int Exponent = 0; // scientific only
  bool IsZero() const { return Dec.Digits.empty(); }
};

TRounded RoundForSection(double av, const TSection &sec) {
  TRounded r;
  r.Dec = ToDecimal(av);
  if (sec.Scientific && sec.HasPlaceholders()) {
    RoundDigits(r.Dec, sec.IntCount + sec.FracMax);
    if (!r.IsZero()) {
      r.Exponent = r.Dec.Exp10 - sec.IntCount;
      r.Dec.Exp10 = sec.IntCount;
    }
  } else {
    RoundDigits(r.Dec, r.Dec.Exp10 + sec.FracMax);
  }
  return r;
}

std::string Render(const TRounded &r, const TSection &sec, const TFormatSettings &fs) {
  const TDecimal &d = r.Dec;
  const int shownInt = r.IsZero() ? 0 : std::max(d.Exp10, 0);
  const int intLen = std::max(shownInt, sec.IntMin);
  int fracShown = sec.FracMax;
  while (fracShown > sec.FracMin && DigitAt(d, -fracShown) == '0') --fracShown;

  std::string out;
  auto emitInt = [&](int p) {
    out += DigitAt(d, p);
    if (sec.Group && !sec.Scientific && p > 0 && p % 3 == 0) out += fs.ThousandSeparator;
  };
  bool afterPoint = false;
  int intIdx = 0, fracIdx = 0;
  for (const TToken &t : sec.Tokens) {
    switch (t.Kind) {
    case TTokKind::Literal:
      out += t.Text;
      break;
    case TTokKind::Digit:
      if (!afterPoint) {
        // Digits right-aligned to the placeholders; surplus digits go at the first one.
        const int pos = sec.IntCount - 1 - intIdx;
        if (intIdx == 0)
          for (int p = intLen - 1; p > pos; --p) emitInt(p);
        if (pos < intLen) emitInt(pos);
        ++intIdx;
      } else {
        ++fracIdx;
        if (fracIdx <= fracShown) out += DigitAt(d, -fracIdx);
      }
      break;
    case TTokKind::Point:
      if (sec.IntCount == 0)
        for (int p = intLen - 1; p >= 0; --p) emitInt(p);
      if (fracShown > 0) out += fs.DecimalSeparator;
      afterPoint = true;
      break;
    case TTokKind::Exponent: {
      out += t.Letter;
      if (r.Exponent < 0)
        out += '-';
      else if (t.Sign == '+')
        out += '+';
      std::string e = std::to_string(std::abs(r.Exponent));
      const int width = std::max(t.ExpDigits, 1);
      if (static_cast<int>(e.size()) < width) e.insert(0, static_cast<std::size_t>(width) - e.size(), '0');
      out += e;
      break;
    }
    }
  }
  return out;
}

std::string FormatSection(double av, std::string_view text, const TFormatSettings &fs) {
  const TSection sec = ParseSection(text);
  if (!sec.HasPlaceholders()) return LiteralText(text);
  return Render(RoundForSection(av, sec), sec, fs);
}

// Shortest general form, "%.15g" with the locale's decimal separator.
std::string GeneralFormat(double v, const TFormatSettings &fs) {
  if (v == 0) v = 0.0; // no "-0"
  char buf[64];
  const auto r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::general, 15);
  std::string out(buf, r.ptr);
  for (char &c : out)
    if (c == '.') c = fs.DecimalSeparator;
  return out;
}

} // namespace

std::string FormatFloat(const std::string &pattern, double value, const TFormatSettings &fs) {
  if (std::isnan(value)) return "NAN";
  if (std::isinf(value)) return value > 0 ? "INF" : "-INF";
  if (pattern.empty()) return GeneralFormat(value, fs);

  const std::vector<std::string_view> secs = SplitSections(pattern);
  auto present = [&secs](std::size_t i) { return secs.size() > i && !secs[i].empty(); };
  const double av = std::fabs(value);
  std::size_t idx = 0;
  bool minus = false;
  if (value < 0) {
    if (present(1))
      idx = 1;
    else
      minus = true;
  } else if (value == 0 && present(2)) {
    idx = 2;
  }
  if (secs[idx].empty()) return GeneralFormat(value, fs);

  const TSection sec = ParseSection(secs[idx]);
  const TRounded r = RoundForSection(av, sec);
  if (value != 0 && r.IsZero()) {
    // Rounded away to nothing: shown as zero, by the zero section when there is one, unsigned.
    const std::size_t z = present(2) ? 2 : 0;
    if (secs[z].empty()) return GeneralFormat(0.0, fs);
    return FormatSection(0.0, secs[z], fs);
  }
  if (!sec.HasPlaceholders()) return LiteralText(secs[idx]);
  std::string out = Render(r, sec, fs);
  return minus ? "-" + out : out;
}

std::string FormatFloat(const std::string &pattern, double value) {
  return FormatFloat(pattern, value, FormatSettings());
}

// ---------------------------------------------------------------------------------------------
double RoundEvenF(double x) {
  if (!std::isfinite(x)) return x;
  const double f = std::floor(x);
  const double frac = x - f; // exact, or rounded to 0.5/1.0 where either answer is right
  if (frac < 0.5) return f;
  if (frac > 0.5) return f + 1;
  return std::fmod(f, 2.0) == 0 ? f : f + 1;
}

std::int32_t RoundEven(double x) { return TruncSat32(RoundEvenF(x)); }

std::int32_t TruncSat32(double x) {
  if (std::isnan(x)) return 0;
  if (x >= 2147483647.0) return std::numeric_limits<std::int32_t>::max();
  if (x <= -2147483648.0) return std::numeric_limits<std::int32_t>::min();
  return static_cast<std::int32_t>(x);
}

std::int64_t TruncSat64(double x) {
  if (std::isnan(x)) return 0;
  if (x >= 9223372036854775808.0) return std::numeric_limits<std::int64_t>::max();
  if (x <= -9223372036854775808.0) return std::numeric_limits<std::int64_t>::min();
  return static_cast<std::int64_t>(x);
}

std::int32_t Sat32(std::int64_t x) {
  if (x > std::numeric_limits<std::int32_t>::max()) return std::numeric_limits<std::int32_t>::max();
  if (x < std::numeric_limits<std::int32_t>::min()) return std::numeric_limits<std::int32_t>::min();
  return static_cast<std::int32_t>(x);
}

float NarrowToFloat(double x) {
  if (std::isnan(x)) return std::numeric_limits<float>::quiet_NaN();
  constexpr double maxF = std::numeric_limits<float>::max();
  // Half an ulp above FLT_MAX (ulp 2^104) and beyond rounds to infinity, as the FPU does.
  constexpr double limit = maxF + 10141204801825835211973625643008.0; // 2^103
  if (std::fabs(x) > maxF) {
    const float big = std::fabs(x) >= limit ? std::numeric_limits<float>::infinity() : std::numeric_limits<float>::max();
    return x < 0 ? -big : big;
  }
  return static_cast<float>(x);
}

// ---------------------------------------------------------------------------------------------
namespace {

const QDate &Epoch() {
  static const QDate epoch(1899, 12, 30);
  return epoch;
}

constexpr double MsecsPerDay = 86400000.0;

// Splits a date-time into the calendar day and the milliseconds of that day. The fraction is
// the time of day also for days before the epoch (-1.25 is 29 Dec 1899, 06:00).
bool SplitDateTime(TDateTime t, QDate &date, QTime &time) {
  if (!std::isfinite(t)) return false;
  double dayPart = 0;
  const double frac = std::modf(t, &dayPart);
  std::int64_t days = TruncSat64(dayPart);
  std::int64_t ms = TruncSat64(std::round(std::fabs(frac) * MsecsPerDay));
  if (ms >= 86400000) {
    ms -= 86400000;
    days += t < 0 ? -1 : 1;
  }
  // QDate covers far more than any meaningful date; keep to a range where it is valid.
  constexpr std::int64_t maxDays = 3000000000LL;
  if (days > maxDays || days < -maxDays) return false;
  date = Epoch().addDays(days);
  time = QTime::fromMSecsSinceStartOfDay(static_cast<int>(ms));
  return date.isValid() && time.isValid();
}

} // namespace

TDateTime Now() {
  const QDateTime now = QDateTime::currentDateTime();
  return static_cast<double>(Epoch().daysTo(now.date())) + now.time().msecsSinceStartOfDay() / MsecsPerDay;
}

TDateTime EncodeDateTime(int year, int month, int day, int hour, int minute, int second, int msec) {
  const double days = static_cast<double>(Epoch().daysTo(QDate(year, month, day)));
  const double frac = ((hour * 60.0 + minute) * 60.0 + second) * 1000.0 + msec;
  // Before the epoch the time of day still counts forward within the day.
  return days >= 0 ? days + frac / MsecsPerDay : days - frac / MsecsPerDay;
}

std::string DateToStr(TDateTime t, const TFormatSettings &fs) {
  QDate date;
  QTime time;
  if (!SplitDateTime(t, date, time)) return {};
  return QLocale::system().toString(date, QString::fromStdString(fs.ShortDateFormat)).toStdString();
}

std::string TimeToStr(TDateTime t, const TFormatSettings &fs) {
  QDate date;
  QTime time;
  if (!SplitDateTime(t, date, time)) return {};
  return QLocale::system().toString(time, QString::fromStdString(fs.LongTimeFormat)).toStdString();
}

// ---------------------------------------------------------------------------------------------
bool TextToFloat(const std::string &text, double &out, const TFormatSettings &fs, bool *tooLarge) {
  auto blank = [](char c) { return c == ' ' || c == '\t'; };
  std::size_t i = 0, end = text.size();
  while (i < end && blank(text[i])) ++i;
  while (end > i && blank(text[end - 1])) --end;
  auto digit = [&](std::size_t k) { return k < end && text[k] >= '0' && text[k] <= '9'; };

  // The number is rebuilt in the C form so the conversion never depends on the process locale.
  std::string norm;
  bool negative = false;
  if (i < end && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  if (negative) norm += '-';
  int intDigits = 0, fracDigits = 0;
  long long intSignificant = 0, fracLeadingZeros = 0;
  bool seenNonZero = false;
  for (; digit(i); ++i, ++intDigits) {
    seenNonZero = seenNonZero || text[i] != '0';
    if (seenNonZero) ++intSignificant;
    norm += text[i];
  }
  if (i < end && text[i] == fs.DecimalSeparator) {
    ++i;
    norm += '.';
    for (; digit(i); ++i, ++fracDigits) {
      if (!seenNonZero && text[i] == '0') ++fracLeadingZeros;
      seenNonZero = seenNonZero || text[i] != '0';
      norm += text[i];
    }
  }
  if (intDigits + fracDigits == 0) return false;
  long long exponent = 0;
  if (i < end && (text[i] == 'E' || text[i] == 'e')) {
    norm += 'e';
    ++i;
    bool expNegative = false;
    if (i < end && (text[i] == '+' || text[i] == '-')) expNegative = text[i++] == '-';
    if (expNegative) norm += '-';
    if (!digit(i)) return false;
    for (; digit(i); ++i) {
      if (exponent < 1000000000000000LL) exponent = exponent * 10 + (text[i] - '0');
      norm += text[i];
    }
    if (expNegative) exponent = -exponent;
  }
  if (i != end) return false;

  double v = 0;
  const auto r = std::from_chars(norm.data(), norm.data() + norm.size(), v);
  if (r.ec == std::errc::result_out_of_range) {
    // Too large fails; too small is zero. The first significant digit's place tells which.
    const long long magnitude = (intSignificant > 0 ? intSignificant : -fracLeadingZeros) + exponent;
    if (magnitude > 0) {
      if (tooLarge) {
        *tooLarge = true;
        out = negative ? -HUGE_VAL : HUGE_VAL;
      }
      return false;
    }
    out = negative ? -0.0 : 0.0;
    return true;
  }
  if (r.ec != std::errc() || r.ptr != norm.data() + norm.size()) return false;
  out = v;
  return true;
}
