#include "platform/Color.h"

#include <array>
#include <cctype>
#include <cstdint>
#include <string_view>

namespace {

struct NamedColor {
  const char *Ident;
  TColor Value;
};

// Standard colours first, then the system colours: a value → identifier lookup takes the first
// entry, so the aliases clLtGray and clDkGray (same values as clSilver and clGray) only read.
constexpr std::array<NamedColor, 54> kNamedColors{{
    {"clBlack", clBlack},
    {"clMaroon", clMaroon},
    {"clGreen", clGreen},
    {"clOlive", clOlive},
    {"clNavy", clNavy},
    {"clPurple", clPurple},
    {"clTeal", clTeal},
    {"clGray", clGray},
    {"clSilver", clSilver},
    {"clRed", clRed},
    {"clLime", clLime},
    {"clYellow", clYellow},
    {"clBlue", clBlue},
    {"clFuchsia", clFuchsia},
    {"clAqua", clAqua},
    {"clLtGray", clLtGray},
    {"clDkGray", clDkGray},
    {"clWhite", clWhite},
    {"clMoneyGreen", clMoneyGreen},
    {"clSkyBlue", clSkyBlue},
    {"clCream", clCream},
    {"clMedGray", clMedGray},
    {"clNone", clNone},
    {"clDefault", clDefault},
    {"clScrollBar", clScrollBar},
    {"clBackground", clBackground},
    {"clActiveCaption", clActiveCaption},
    {"clInactiveCaption", clInactiveCaption},
    {"clMenu", clMenu},
    {"clWindow", clWindow},
    {"clWindowFrame", clWindowFrame},
    {"clMenuText", clMenuText},
    {"clWindowText", clWindowText},
    {"clCaptionText", clCaptionText},
    {"clActiveBorder", clActiveBorder},
    {"clInactiveBorder", clInactiveBorder},
    {"clAppWorkSpace", clAppWorkSpace},
    {"clHighlight", clHighlight},
    {"clHighlightText", clHighlightText},
    {"clBtnFace", clBtnFace},
    {"clBtnShadow", clBtnShadow},
    {"clGrayText", clGrayText},
    {"clBtnText", clBtnText},
    {"clInactiveCaptionText", clInactiveCaptionText},
    {"clBtnHighlight", clBtnHighlight},
    {"cl3DDkShadow", cl3DDkShadow},
    {"cl3DLight", cl3DLight},
    {"clInfoText", clInfoText},
    {"clInfoBk", clInfoBk},
    {"clHotLight", clHotLight},
    {"clGradientActiveCaption", clGradientActiveCaption},
    {"clGradientInactiveCaption", clGradientInactiveCaption},
    {"clMenuHighlight", clMenuHighlight},
    {"clMenuBar", clMenuBar},
}};

// System colours resolve to one fixed set of classic desktop values, indexed by the system
// colour number: drawing must not depend on the desktop theme, so pixel tests stay stable.
// Index 25 has no colour and, like any index past the table, resolves to black.
constexpr std::array<TColor, 31> kSystemRGB{{
    RGBColor(200, 200, 200), // 0 scroll bar
    RGBColor(0, 0, 0),       // 1 desktop background
    RGBColor(153, 180, 209), // 2 active caption
    RGBColor(191, 205, 219), // 3 inactive caption
    RGBColor(240, 240, 240), // 4 menu
    RGBColor(255, 255, 255), // 5 window
    RGBColor(100, 100, 100), // 6 window frame
    RGBColor(0, 0, 0),       // 7 menu text
    RGBColor(0, 0, 0),       // 8 window text
    RGBColor(0, 0, 0),       // 9 caption text
    RGBColor(180, 180, 180), // 10 active border
    RGBColor(244, 247, 252), // 11 inactive border
    RGBColor(171, 171, 171), // 12 application workspace
    RGBColor(0, 120, 215),   // 13 highlight
    RGBColor(255, 255, 255), // 14 highlight text
    RGBColor(240, 240, 240), // 15 button face
    RGBColor(160, 160, 160), // 16 button shadow
    RGBColor(109, 109, 109), // 17 grey text
    RGBColor(0, 0, 0),       // 18 button text
    RGBColor(0, 0, 0),       // 19 inactive caption text
    RGBColor(255, 255, 255), // 20 button highlight
    RGBColor(105, 105, 105), // 21 3-D dark shadow
    RGBColor(227, 227, 227), // 22 3-D light
    RGBColor(0, 0, 0),       // 23 tooltip text
    RGBColor(255, 255, 225), // 24 tooltip background
    RGBColor(0, 0, 0),       // 25 (none)
    RGBColor(0, 102, 204),   // 26 hot-tracked item
    RGBColor(185, 209, 234), // 27 gradient active caption
    RGBColor(215, 228, 242), // 28 gradient inactive caption
    RGBColor(0, 120, 215),   // 29 menu highlight
    RGBColor(240, 240, 240), // 30 menu bar
}};

bool EqualsNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size())
    return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
      return false;
  return true;
}

std::string_view Trimmed(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
    s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r'))
    s.remove_suffix(1);
  return s;
}

// Digits in the given base, at most `limit`; nothing on an empty text, a stray character or
// overflow. Accumulates in 64 bits so the limit check itself cannot overflow.
std::optional<std::uint64_t> ParseDigits(std::string_view s, unsigned base, std::uint64_t limit) {
  if (s.empty())
    return std::nullopt;
  std::uint64_t v = 0;
  for (char ch : s) {
    unsigned d;
    if (ch >= '0' && ch <= '9')
      d = static_cast<unsigned>(ch - '0');
    else if (base == 16 && ch >= 'a' && ch <= 'f')
      d = static_cast<unsigned>(ch - 'a' + 10);
    else if (base == 16 && ch >= 'A' && ch <= 'F')
      d = static_cast<unsigned>(ch - 'A' + 10);
    else
      return std::nullopt;
    if (d >= base)
      return std::nullopt;
    v = v * base + d;
    if (v > limit)
      return std::nullopt;
  }
  return v;
}

std::optional<TColor> FromBits(std::optional<std::uint64_t> v) {
  if (!v)
    return std::nullopt;
  return static_cast<TColor>(static_cast<std::uint32_t>(*v));
}

} // namespace

std::optional<std::string> ColorToIdent(TColor c) {
  for (const auto &n : kNamedColors)
    if (n.Value == c)
      return std::string(n.Ident);
  return std::nullopt;
}

std::optional<TColor> IdentToColor(const std::string &ident) {
  for (const auto &n : kNamedColors)
    if (EqualsNoCase(ident, n.Ident))
      return n.Value;
  return std::nullopt;
}

std::string ColorToString(TColor c) {
  if (auto ident = ColorToIdent(c))
    return *ident;
  return std::to_string(c);
}

std::optional<TColor> StringToColor(const std::string &text) {
  std::string_view s = Trimmed(text);
  if (s.empty())
    return std::nullopt;
  if (auto c = IdentToColor(std::string(s)))
    return c;
  if (s.front() == '$')
    return FromBits(ParseDigits(s.substr(1), 16, 0xFFFFFFFFu));
  if (s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X'))
    return FromBits(ParseDigits(s.substr(2), 16, 0xFFFFFFFFu));
  if (s.front() == '-') {
    auto mag = ParseDigits(s.substr(1), 10, 0x80000000u);
    if (!mag)
      return std::nullopt;
    return static_cast<TColor>(-static_cast<std::int64_t>(*mag));
  }
  if (s.front() == '+')
    s.remove_prefix(1);
  // Unsigned decimal up to 0xFFFFFFFF is read too: some writers store system colours that way.
  return FromBits(ParseDigits(s, 10, 0xFFFFFFFFu));
}

TColor ColorToRGB(TColor c) {
  if (IsSystemColor(c)) {
    const auto index = static_cast<std::size_t>(c & 0xFF);
    return index < kSystemRGB.size() ? kSystemRGB[index] : clBlack;
  }
  // The high byte of an ordinary colour carries no colour (clNone, clDefault): plain RGB only.
  return c & 0x00FFFFFF;
}

QColor ToQColor(TColor c) {
  const TColor rgb = ColorToRGB(c);
  return QColor(GetRValue(rgb), GetGValue(rgb), GetBValue(rgb));
}

void ForEachNamedColor(void (*f)(const char *ident, TColor value, void *ctx), void *ctx) {
  // Each value once: a colour box listing clLtGray next to clSilver would offer one colour twice.
  for (const auto &n : kNamedColors) {
    if (n.Ident == std::string_view("clLtGray") || n.Ident == std::string_view("clDkGray"))
      continue;
    f(n.Ident, n.Value, ctx);
  }
}
