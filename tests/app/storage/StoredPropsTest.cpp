// The settings file's value texts: what each kind of property is written as and what is read back.
#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <limits>

#include "app/storage/StoredProps.h"
#include "platform/FormatSettings.h"
#include "platform/Font.h"

namespace {

TEST(StoredValues, extendedFloatsAreTheTenBytesLowestFirst) {
  // Known bit patterns of the 80-bit format, worked out by hand from sign, exponent and mantissa.
  const struct {
    double Value;
    const char *Text;
  } cases[] = {
      {100.0, "00000000000000C80540"},
      {50.0, "00000000000000C80440"},
      {double(0.001f), "00000000006F1283F53F"},
      {1.0, "0000000000000080FF3F"},
      {-2.0, "000000000000008000C0"},
      {0.0, "00000000000000000000"},
      {double(FLT_MAX), "0000000000FFFFFF7E40"},
  };
  for (const auto &c : cases) {
    EXPECT_EQ(EncodeExtended(c.Value), c.Text) << c.Value;
    const auto back = DecodeExtended(c.Text);
    ASSERT_TRUE(back.has_value()) << c.Text;
    EXPECT_EQ(*back, static_cast<float>(c.Value)) << c.Text;
  }
}

TEST(StoredValues, extendedFloatReadingRules) {
  ScopedFormatSettings dot('.', ',');
  const struct {
    const char *Text;
    std::optional<float> Expected; // nothing: the property keeps its value
  } kept[] = {
      {"00", std::nullopt},
      {"0100", std::nullopt},
      {"", std::nullopt},
      {"ABC", std::nullopt},                                // all hex, two bytes
      {"00000000000000c80540", 100.0f},                     // small letters
      {"00000000000000C80540FFFF", 100.0f},                 // digits past the twentieth are ignored
      {"0000000000000C80540", 100.0f},                      // odd count: a leading 0 completes it
      {"12.5", 12.5f},                                      // not all hex: a decimal number
      {"-3e2", -300.0f},
  };
  for (const auto &c : kept) {
    const auto v = DecodeExtended(c.Text);
    ASSERT_EQ(v.has_value(), c.Expected.has_value()) << c.Text;
    if (v) {
      EXPECT_EQ(*v, *c.Expected) << c.Text;
    }
  }
}

TEST(StoredValues, extendedFloatsAMeterCannotUseDoNotConvert) {
  ScopedFormatSettings dot('.', ',');
  for (const char *text : {
           "0000000000000080FF7F", // +infinity
           "000000000000C0FFFF7F", // NaN
           "0000000000000080FF43", // 2^1024, beyond even a double
           "00000000000000808040", // 2^129, beyond a float
           "1.0e39",               // decimal beyond a float ("1e39" alone is all hex digits)
           "12,5",                 // the locale's separator is "."
           "abc.x", "nan", "inf",
       })
    EXPECT_THROW(DecodeExtended(text), EStoredValue) << text;
  // Tiny values and denormals are no failure: they are near zero.
  EXPECT_EQ(*DecodeExtended("01000000000000000000"), 0.0f);
  ScopedFormatSettings comma(',', '.');
  EXPECT_EQ(*DecodeExtended("12,5"), 12.5f);
}

TEST(StoredValues, wholeNumbersBooleansColoursCharsetsAndEnumerations) {
  const TEnumNames bevel = {"bsLowered", "bsRaised"};
  EXPECT_EQ(DecodeInteger(""), 0);
  EXPECT_EQ(DecodeInteger("-73"), -73);
  EXPECT_EQ(DecodeInteger("2147483647"), 2147483647);
  for (const char *bad : {"7x", "2147483648", "1.5", "-"}) EXPECT_THROW(DecodeInteger(bad), EStoredValue) << bad;

  const struct {
    const char *Text;
    bool Value;
  } booleans[] = {{"TRUE", true}, {"yes", true}, {"Y", true},  {"y", true},   {"2", true},
                  {"-1", true},   {"false", false}, {"No", false}, {"n", false}, {"0", false}};
  for (const auto &b : booleans) EXPECT_EQ(DecodeBoolean(b.Text), b.Value) << b.Text;
  for (const char *bad : {"maybe", "", "T", "ja"}) EXPECT_THROW(DecodeBoolean(bad), EStoredValue) << bad;

  EXPECT_EQ(EncodeColor(clLime), "clLime");
  EXPECT_EQ(EncodeColor(clInfoBk), "clInfoBk");
  EXPECT_EQ(EncodeColor(0x123456), std::to_string(0x123456));
  EXPECT_EQ(DecodeColor("CLBTNFACE"), clBtnFace);
  EXPECT_EQ(DecodeColor("1193046"), 0x123456);
  EXPECT_THROW(DecodeColor("clNoSuchColour"), EStoredValue);

  EXPECT_EQ(EncodeCharset(DEFAULT_CHARSET), "DEFAULT_CHARSET");
  EXPECT_EQ(EncodeCharset(ANSI_CHARSET), "ANSI_CHARSET");
  EXPECT_EQ(EncodeCharset(200), "200");
  EXPECT_EQ(DecodeCharset("russian_charset"), 204);
  EXPECT_EQ(DecodeCharset("200"), 200);
  for (const char *bad : {"256", "-1", "KLINGON_CHARSET"}) EXPECT_THROW(DecodeCharset(bad), EStoredValue) << bad;

  EXPECT_EQ(EncodeEnumeration(bevel, 1), "bsRaised");
  EXPECT_EQ(DecodeEnumeration(bevel, "BSRAISED"), 1);
  EXPECT_EQ(DecodeEnumeration(bevel, "0"), 0);
  // An ordinal the enumeration does not have would give the property an impossible value.
  for (const char *bad : {"2", "-1", "bsSunken"}) EXPECT_THROW(DecodeEnumeration(bevel, bad), EStoredValue) << bad;
}

TEST(StoredProps, fontHeightSurvivesWhenItsPointSizeRoundsElsewhere) {
  // 14 pixels are 10.5 points, written as 11 (or 10): reading Size after Height must not move the
  // font to 15 (or 13) pixels.
  TFont written;
  written.SetHeight(-14);
  TPropList out;
  DescribeFont(written, out);
  TFont read;
  TPropList in;
  DescribeFont(read, in);
  for (size_t i = 0; i < out.Props.size(); ++i)
    if (out.Props[i].Kind == TStoredProperty::Value) in.Props[i].Read(out.Props[i].Write());
  EXPECT_EQ(read.Height(), -14);
  // A size edited by hand still wins over the height.
  in.Props[5].Read("20");
  EXPECT_EQ(read.Size(), 20);
}

} // namespace
