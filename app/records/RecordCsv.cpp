#include "app/records/RecordCsv.h"

#include <charconv>
#include <cstdlib>
#include <ctime>

#include "platform/FormatFloat.h"
#include "platform/TextCodec.h"

void AppendShortestFloat(std::string &out, float value) {
  char buf[64];
  auto r = std::to_chars(buf, buf + sizeof buf, value);
  // The record check reads a value as double and then narrows it; a shortest float text can in
  // principle round differently on that road. The double's own shortest text never does.
  const double back = std::strtod(std::string(buf, r.ptr).c_str(), nullptr);
  if (NarrowToFloat(back) != value) r = std::to_chars(buf, buf + sizeof buf, static_cast<double>(value));
  out.append(buf, r.ptr);
}

void AppendCsvField(std::string &out, std::string_view field) {
  if (field.find_first_of(",;\"\r\n") == std::string_view::npos) {
    out.append(field);
    return;
  }
  out += '"';
  for (const char c : field) {
    if (c == '"') out += '"';
    out += c;
  }
  out += '"';
}

namespace {
// U+2400 … U+241F picture the control bytes 0 … 31, U+2421 the byte 127.
constexpr char32_t ControlPictures = 0x2400;
constexpr char32_t DeletePicture = 0x2421;

void AppendUtf8(std::string &out, char32_t c) {
  out += char(0xE0 | (c >> 12));
  out += char(0x80 | ((c >> 6) & 0x3F));
  out += char(0x80 | (c & 0x3F));
}
} // namespace

std::string RawToCsvText(std::string_view bytes) {
  std::string out;
  std::size_t plain = 0; // start of the stretch without control bytes
  for (std::size_t i = 0; i <= bytes.size(); ++i) {
    const bool end = i == bytes.size();
    const unsigned char c = end ? 0 : static_cast<unsigned char>(bytes[i]);
    if (!end && c >= 32 && c != 127) continue;
    out += Cp1252ToUtf8(bytes.substr(plain, i - plain));
    if (!end) AppendUtf8(out, c == 127 ? DeletePicture : ControlPictures + c);
    plain = i + 1;
  }
  return out;
}

std::string RawFromCsvText(std::string_view text) {
  // The recording's own characters are the 256 Windows-1252 ones and the pictures; anything else
  // (a file edited by hand) becomes "?".
  static const auto table = [] {
    std::vector<std::string> t(256);
    for (int b = 0; b < 256; ++b) t[b] = Cp1252ToUtf8(std::string(1, char(b)));
    return t;
  }();
  std::string out;
  std::size_t i = 0;
  while (i < text.size()) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (c < 0x80) {
      out += char(c);
      ++i;
      continue;
    }
    const std::size_t len = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 1;
    const std::string_view seq = text.substr(i, len);
    i += len;
    if (seq.size() == 3 && c == 0xE2) {
      const char32_t cp = char32_t(c & 0x0F) << 12 | char32_t(seq[1] & 0x3F) << 6 | char32_t(seq[2] & 0x3F);
      if (cp >= ControlPictures && cp < ControlPictures + 32) {
        out += char(cp - ControlPictures);
        continue;
      }
      if (cp == DeletePicture) {
        out += char(127);
        continue;
      }
    }
    int found = -1;
    for (int b = 0x80; b < 256 && found < 0; ++b)
      if (table[b] == seq) found = b;
    out += found >= 0 ? char(found) : '?';
  }
  return out;
}

namespace {
void Append2(std::string &out, int v) {
  out += char('0' + v / 10);
  out += char('0' + v % 10);
}

// Days since 1970-01-01 of a date of the proleptic Gregorian calendar.
std::int64_t DaysFromCivil(std::int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

// Reads exactly `n` digits at `pos`.
bool Digits(std::string_view s, std::size_t &pos, int n, int &value) {
  if (pos + n > s.size()) return false;
  value = 0;
  for (int i = 0; i < n; ++i) {
    const char c = s[pos + i];
    if (c < '0' || c > '9') return false;
    value = value * 10 + (c - '0');
  }
  pos += n;
  return true;
}

bool Expect(std::string_view s, std::size_t &pos, char c) {
  if (pos >= s.size() || s[pos] != c) return false;
  ++pos;
  return true;
}
} // namespace

void AppendIsoLocalTime(std::string &out, std::int64_t unixMs, TLocalTimeCache &cache) {
  const std::int64_t second = unixMs >= 0 ? unixMs / 1000 : -((-unixMs + 999) / 1000);
  if (second != cache.Second) {
    const time_t t = static_cast<time_t>(second);
    tm local{};
    localtime_r(&t, &local);
    char buf[32];
    const std::size_t n = std::strftime(buf, sizeof buf, "%Y-%m-%dT%H:%M:%S", &local);
    cache.DateTime.assign(buf, n);
    const long offsetMin = local.tm_gmtoff / 60;
    const long a = offsetMin < 0 ? -offsetMin : offsetMin;
    cache.Offset.assign(1, offsetMin < 0 ? '-' : '+');
    Append2(cache.Offset, int(a / 60));
    cache.Offset += ':';
    Append2(cache.Offset, int(a % 60));
    cache.Second = second;
  }
  const int ms = int(unixMs - cache.Second * 1000);
  out += cache.DateTime;
  out += '.';
  out += char('0' + ms / 100);
  Append2(out, ms % 100);
  out += cache.Offset;
}

bool ParseIsoTime(std::string_view s, std::int64_t &unixMs) {
  std::size_t p = 0;
  int year, month, day, hour, minute, second, ms = 0;
  if (!Digits(s, p, 4, year) || !Expect(s, p, '-') || !Digits(s, p, 2, month) || !Expect(s, p, '-') ||
      !Digits(s, p, 2, day))
    return false;
  if (p >= s.size() || (s[p] != 'T' && s[p] != ' ')) return false;
  ++p;
  if (!Digits(s, p, 2, hour) || !Expect(s, p, ':') || !Digits(s, p, 2, minute) || !Expect(s, p, ':') ||
      !Digits(s, p, 2, second))
    return false;
  if (p < s.size() && (s[p] == '.' || s[p] == ',')) {
    ++p;
    int digits = 0;
    for (; p < s.size() && s[p] >= '0' && s[p] <= '9'; ++p, ++digits)
      if (digits < 3) ms = ms * 10 + (s[p] - '0');
    if (digits == 0) return false;
    for (; digits < 3; ++digits) ms *= 10;
  }
  int offsetMin = 0;
  if (p < s.size() && s[p] == 'Z') {
    ++p;
  } else {
    if (p >= s.size() || (s[p] != '+' && s[p] != '-')) return false;
    const int sign = s[p++] == '-' ? -1 : 1;
    int oh, om;
    if (!Digits(s, p, 2, oh)) return false;
    if (p < s.size() && s[p] == ':') ++p;
    if (!Digits(s, p, 2, om)) return false;
    offsetMin = sign * (oh * 60 + om);
  }
  if (p != s.size() || month < 1 || month > 12 || day < 1 || day > 31 || hour > 23 || minute > 59 || second > 60)
    return false;
  const std::int64_t days = DaysFromCivil(year, unsigned(month), unsigned(day));
  unixMs = ((days * 24 + hour) * 60 + minute - offsetMin) * 60000 + std::int64_t(second) * 1000 + ms;
  return true;
}

bool SplitCsvLine(std::string_view line, char separator, std::vector<std::string> &fields) {
  TCsvSplitter splitter;
  splitter.Start(separator);
  const bool closed = splitter.Add(line);
  fields = std::move(splitter.Fields());
  return closed;
}

void TCsvSplitter::Start(char separator) {
  FSeparator = separator;
  FFields.assign(1, std::string());
  FQuoted = false;
  FSize = 0;
}

// A doubled quote inside quotes is looked for within the piece only: pieces are whole lines, and
// a line break between two quotes keeps them apart as it does in the joined text.
bool TCsvSplitter::Add(std::string_view text) {
  FSize += text.size();
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (FQuoted) {
      if (c != '"') {
        FFields.back() += c;
      } else if (i + 1 < text.size() && text[i + 1] == '"') {
        FFields.back() += '"';
        ++i;
      } else {
        FQuoted = false;
      }
    } else if (c == '"') {
      FQuoted = true;
    } else if (c == FSeparator) {
      FFields.emplace_back();
    } else {
      FFields.back() += c;
    }
  }
  return !FQuoted;
}
