#include "platform/TextCodec.h"

#include <cstdint>

namespace {

// Code points of 0x80 … 0x9F; the rest of the upper half equals Latin-1.
constexpr char16_t Cp1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

void AppendUtf8(std::string &out, char32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

} // namespace

std::size_t Utf8SequenceLength(std::string_view text, std::size_t i) {
  const auto b = static_cast<std::uint8_t>(text[i]);
  if (b < 0x80) return 1;
  int more = 0;
  char32_t cp = 0;
  if (b >= 0xC2 && b <= 0xDF) {
    more = 1;
    cp = b & 0x1F;
  } else if (b >= 0xE0 && b <= 0xEF) {
    more = 2;
    cp = b & 0x0F;
  } else if (b >= 0xF0 && b <= 0xF4) {
    more = 3;
    cp = b & 0x07;
  } else {
    return 0;
  }
  if (i + static_cast<size_t>(more) >= text.size()) return 0;
  for (int k = 1; k <= more; ++k) {
    const auto c = static_cast<std::uint8_t>(text[i + static_cast<size_t>(k)]);
    if ((c & 0xC0) != 0x80) return 0;
    cp = (cp << 6) | (c & 0x3F);
  }
  // Overlong forms, surrogates and code points beyond Unicode are not UTF-8.
  if ((more == 2 && (cp < 0x800 || (cp >= 0xD800 && cp <= 0xDFFF))) || (more == 3 && (cp < 0x10000 || cp > 0x10FFFF)))
    return 0;
  return static_cast<size_t>(more) + 1;
}

bool IsValidUtf8(std::string_view text) {
  for (size_t i = 0, n; i < text.size(); i += n)
    if ((n = Utf8SequenceLength(text, i)) == 0) return false;
  return true;
}

std::string Cp1252ToUtf8(std::string_view text) {
  std::string out;
  out.reserve(text.size() + text.size() / 4);
  for (char c : text) {
    const auto b = static_cast<std::uint8_t>(c);
    if (b < 0x80)
      out += c;
    else if (b < 0xA0)
      AppendUtf8(out, Cp1252High[b - 0x80]);
    else
      AppendUtf8(out, b);
  }
  return out;
}

std::string LegacyLinesToUtf8(std::string_view text) {
  if (IsValidUtf8(text)) return std::string(text);
  std::string out;
  out.reserve(text.size() + 16);
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find_first_of("\r\n", pos);
    if (end == std::string_view::npos) end = text.size();
    const std::string_view line = text.substr(pos, end - pos);
    out += IsValidUtf8(line) ? std::string(line) : Cp1252ToUtf8(line);
    if (end < text.size()) out += text[end];
    pos = end + 1;
  }
  return out;
}
