#include "platform/Color.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <climits>
#include <string>
#include <utility>
#include <vector>

namespace {

struct IdentCase {
  const char *Ident;
  TColor Value;
};

const std::vector<IdentCase> &AllIdents() {
  static const std::vector<IdentCase> cases{
      {"clBlack", 0x000000},
      {"clMaroon", 0x000080},
      {"clGreen", 0x008000},
      {"clOlive", 0x008080},
      {"clNavy", 0x800000},
      {"clPurple", 0x800080},
      {"clTeal", 0x808000},
      {"clGray", 0x808080},
      {"clSilver", 0xC0C0C0},
      {"clRed", 0x0000FF},
      {"clLime", 0x00FF00},
      {"clYellow", 0x00FFFF},
      {"clBlue", 0xFF0000},
      {"clFuchsia", 0xFF00FF},
      {"clAqua", 0xFFFF00},
      {"clWhite", 0xFFFFFF},
      {"clMoneyGreen", 0xC0DCC0},
      {"clSkyBlue", 0xF0CAA6},
      {"clCream", 0xF0FBFF},
      {"clMedGray", 0xA4A0A0},
      {"clNone", 0x1FFFFFFF},
      {"clDefault", 0x20000000},
      {"clScrollBar", static_cast<TColor>(0xFF000000u)},
      {"clBackground", static_cast<TColor>(0xFF000001u)},
      {"clActiveCaption", static_cast<TColor>(0xFF000002u)},
      {"clInactiveCaption", static_cast<TColor>(0xFF000003u)},
      {"clMenu", static_cast<TColor>(0xFF000004u)},
      {"clWindow", static_cast<TColor>(0xFF000005u)},
      {"clWindowFrame", static_cast<TColor>(0xFF000006u)},
      {"clMenuText", static_cast<TColor>(0xFF000007u)},
      {"clWindowText", static_cast<TColor>(0xFF000008u)},
      {"clCaptionText", static_cast<TColor>(0xFF000009u)},
      {"clActiveBorder", static_cast<TColor>(0xFF00000Au)},
      {"clInactiveBorder", static_cast<TColor>(0xFF00000Bu)},
      {"clAppWorkSpace", static_cast<TColor>(0xFF00000Cu)},
      {"clHighlight", static_cast<TColor>(0xFF00000Du)},
      {"clHighlightText", static_cast<TColor>(0xFF00000Eu)},
      {"clBtnFace", static_cast<TColor>(0xFF00000Fu)},
      {"clBtnShadow", static_cast<TColor>(0xFF000010u)},
      {"clGrayText", static_cast<TColor>(0xFF000011u)},
      {"clBtnText", static_cast<TColor>(0xFF000012u)},
      {"clInactiveCaptionText", static_cast<TColor>(0xFF000013u)},
      {"clBtnHighlight", static_cast<TColor>(0xFF000014u)},
      {"cl3DDkShadow", static_cast<TColor>(0xFF000015u)},
      {"cl3DLight", static_cast<TColor>(0xFF000016u)},
      {"clInfoText", static_cast<TColor>(0xFF000017u)},
      {"clInfoBk", static_cast<TColor>(0xFF000018u)},
      {"clHotLight", static_cast<TColor>(0xFF00001Au)},
      {"clGradientActiveCaption", static_cast<TColor>(0xFF00001Bu)},
      {"clGradientInactiveCaption", static_cast<TColor>(0xFF00001Cu)},
      {"clMenuHighlight", static_cast<TColor>(0xFF00001Du)},
      {"clMenuBar", static_cast<TColor>(0xFF00001Eu)},
  };
  return cases;
}

std::string Upper(std::string s) {
  for (char &c : s)
    c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

std::string Lower(std::string s) {
  for (char &c : s)
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

TEST(Color, everyIdentifierMapsBothWaysInAnyLetterCase) {
  for (const auto &c : AllIdents()) {
    SCOPED_TRACE(c.Ident);
    EXPECT_EQ(IdentToColor(c.Ident), c.Value);
    EXPECT_EQ(IdentToColor(Upper(c.Ident)), c.Value);
    EXPECT_EQ(IdentToColor(Lower(c.Ident)), c.Value);
    EXPECT_EQ(ColorToIdent(c.Value), std::string(c.Ident));
    EXPECT_EQ(ColorToString(c.Value), c.Ident);
    EXPECT_EQ(StringToColor(Lower(c.Ident)), c.Value);
  }
}

TEST(Color, grayAliasesReadButWriteAsTheirTwins) {
  EXPECT_EQ(IdentToColor("clLtGray"), clSilver);
  EXPECT_EQ(IdentToColor("CLDKGRAY"), clGray);
  EXPECT_EQ(ColorToString(clLtGray), "clSilver");
  EXPECT_EQ(ColorToString(clDkGray), "clGray");
}

TEST(Color, valuesWithoutIdentifierWriteAsSignedDecimal) {
  const std::vector<std::pair<TColor, std::string>> cases{
      {RGBColor(1, 2, 3), "197121"},
      {0x123456, "1193046"},
      {SystemColor(25), "-16777191"},
      {SystemColor(255), "-16776961"},
      {-1 - 0x7FFFFFFF, "-2147483648"},
      {0x7FFFFFFF, "2147483647"},
  };
  for (const auto &[value, text] : cases) {
    SCOPED_TRACE(text);
    EXPECT_EQ(ColorToIdent(value), std::nullopt);
    EXPECT_EQ(ColorToString(value), text);
    EXPECT_EQ(StringToColor(text), value);
  }
}

TEST(Color, numericTextForms) {
  const std::vector<std::pair<std::string, TColor>> cases{
      {"-16777201", clBtnFace},
      {"4278190095", clBtnFace},
      {"$FF00000F", clBtnFace},
      {"$ff000018", clInfoBk},
      {"0xFF00FF00", static_cast<TColor>(0xFF00FF00u)},
      {"$00FF00", clLime},
      {"65280", clLime},
      {"+255", clRed},
      {"0", clBlack},
      {"-0", clBlack},
      {"4294967295", -1},
      {"-2147483648", INT_MIN},
      {"  clInfoBk ", clInfoBk},
  };
  for (const auto &[text, value] : cases) {
    SCOPED_TRACE(text);
    EXPECT_EQ(StringToColor(text), value);
  }
}

TEST(Color, invalidTextGivesNothing) {
  for (const char *text : {"", " ", "clLimes", "cl", "Lime", "12a", "1 2", "-", "+", "$", "0x", "$G0",
                           "$1FFFFFFFF", "4294967296", "-2147483649", "99999999999999999999", "--5",
                           "+-5", "1e3", "0.5"}) {
    SCOPED_TRACE(text);
    EXPECT_EQ(StringToColor(text), std::nullopt);
  }
  EXPECT_EQ(IdentToColor("clBtnFace2"), std::nullopt);
}

TEST(Color, systemColoursResolveToFixedValues) {
  const std::vector<std::pair<TColor, TColor>> cases{
      {clBtnFace, RGBColor(240, 240, 240)},     {clBtnShadow, RGBColor(160, 160, 160)},
      {clBtnHighlight, RGBColor(255, 255, 255)}, {clInfoBk, RGBColor(255, 255, 225)},
      {clWindow, clWhite},                       {clWindowText, clBlack},
      {clHighlight, RGBColor(0, 120, 215)},      {clGrayText, RGBColor(109, 109, 109)},
      {SystemColor(25), clBlack},                {SystemColor(200), clBlack},
      {clLime, clLime},                          {clMoneyGreen, clMoneyGreen},
      {clNone, clWhite},                         {clDefault, clBlack},
  };
  for (const auto &[c, rgb] : cases) {
    SCOPED_TRACE(ColorToString(c));
    EXPECT_EQ(ColorToRGB(c), rgb);
  }
  for (const auto &c : AllIdents()) {
    SCOPED_TRACE(c.Ident);
    EXPECT_FALSE(IsSystemColor(ColorToRGB(c.Value)));
  }
}

TEST(Color, qtColourIsTheResolvedRgb) {
  EXPECT_EQ(ToQColor(clRed), QColor(255, 0, 0));
  EXPECT_EQ(ToQColor(clNavy), QColor(0, 0, 128));
  EXPECT_EQ(ToQColor(clBtnFace), QColor(240, 240, 240));
  EXPECT_EQ(ToQColor(clInfoBk), QColor(255, 255, 225));
}

TEST(Color, namedColourListHasEachValueOnceStandardFirst) {
  std::vector<std::pair<std::string, TColor>> seen;
  ForEachNamedColor(
      [](const char *ident, TColor value, void *ctx) {
        static_cast<std::vector<std::pair<std::string, TColor>> *>(ctx)->emplace_back(ident, value);
      },
      &seen);
  ASSERT_EQ(seen.size(), AllIdents().size());
  EXPECT_EQ(seen.front().first, "clBlack");
  EXPECT_EQ(seen.back().first, "clMenuBar");
  const auto firstSystem = std::find_if(seen.begin(), seen.end(), [](auto &p) { return IsSystemColor(p.second); });
  EXPECT_TRUE(std::none_of(firstSystem, seen.end(), [](auto &p) { return !IsSystemColor(p.second); }));
  for (const auto &c : AllIdents())
    EXPECT_EQ(std::count(seen.begin(), seen.end(), std::make_pair(std::string(c.Ident), c.Value)), 1) << c.Ident;
}

} // namespace
