#pragma once
// A reader of the simulator's byte stream for the tests, written from the record format alone:
// "#" number "M" value "<", anything between records is line noise.
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

namespace simtest {

enum class TKind { Good, Unknown, Bad, Garbage, Unclosed };

struct TItem {
  TKind Kind;
  std::string Text;
  int Instrument = 0; // Good and Unknown records
  double Value = 0;   // Good and Unknown records
};

// "-"? digits, no leading zeros.
inline bool PlainInteger(std::string_view s, int &n) {
  std::string_view digits = s.substr(!s.empty() && s[0] == '-' ? 1 : 0);
  if (digits.empty() || digits.size() > 6 || (digits.size() > 1 && digits[0] == '0')) return false;
  for (char c : digits)
    if (c < '0' || c > '9') return false;
  n = std::atoi(std::string(s).c_str());
  return true;
}

// digits, then optionally the separator and one or two digits.
inline bool PlainDecimal(std::string_view s, char separator, double &value) {
  const size_t sep = s.find(separator);
  const std::string_view whole = s.substr(0, sep);
  const std::string_view part = sep == std::string_view::npos ? std::string_view() : s.substr(sep + 1);
  auto digits = [](std::string_view d) {
    if (d.empty()) return false;
    for (char c : d)
      if (c < '0' || c > '9') return false;
    return true;
  };
  if (!digits(whole) || (sep != std::string_view::npos && (!digits(part) || part.size() > 2))) return false;
  std::string text(whole);
  if (!part.empty()) text += "." + std::string(part);
  value = std::strtod(text.c_str(), nullptr);
  return true;
}

inline std::vector<TItem> Parse(std::string_view stream, char separator = '.') {
  std::vector<TItem> items;
  size_t i = 0;
  while (i < stream.size()) {
    if (stream[i] != '#') {
      const size_t start = stream.find('#', i);
      const size_t end = start == std::string_view::npos ? stream.size() : start;
      items.push_back({TKind::Garbage, std::string(stream.substr(i, end - i))});
      i = end;
      continue;
    }
    const size_t stop = stream.find('<', i);
    const size_t nextStart = stream.find('#', i + 1);
    if (stop == std::string_view::npos || (nextStart != std::string_view::npos && nextStart < stop)) {
      const size_t end = nextStart == std::string_view::npos ? stream.size() : nextStart;
      items.push_back({TKind::Unclosed, std::string(stream.substr(i, end - i))});
      i = end;
      continue;
    }
    TItem item{TKind::Bad, std::string(stream.substr(i, stop + 1 - i))};
    const std::string_view body = stream.substr(i + 1, stop - i - 1);
    const size_t m = body.find('M');
    int number = 0;
    double value = 0;
    if (m != std::string_view::npos && PlainInteger(body.substr(0, m), number) &&
        PlainDecimal(body.substr(m + 1), separator, value)) {
      item.Kind = number >= 1 && number <= 10 && body[0] != '-' ? TKind::Good : TKind::Unknown;
      item.Instrument = number;
      item.Value = value;
    }
    items.push_back(item);
    i = stop + 1;
  }
  return items;
}

inline std::vector<TItem> Only(const std::vector<TItem> &items, TKind kind) {
  std::vector<TItem> out;
  for (const auto &item : items)
    if (item.Kind == kind) out.push_back(item);
  return out;
}

} // namespace simtest
