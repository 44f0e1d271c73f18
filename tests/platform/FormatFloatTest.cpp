#include "platform/FormatFloat.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <limits>
#include <string>
#include <tuple>
#include <vector>

namespace {

const double Inf = std::numeric_limits<double>::infinity();
const double NaN = std::numeric_limits<double>::quiet_NaN();

TFormatSettings Dot() { return TFormatSettings::FromLocaleValues(".", ",", "", ""); }
TFormatSettings Comma() { return TFormatSettings::FromLocaleValues(",", ".", "", ""); }

// "1" followed by groups: Grouped("1", 10, ',') is 1,000,…,000 with ten groups of zeros.
std::string Grouped(const std::string &head, int groups, char sep) {
  std::string s = head;
  for (int i = 0; i < groups; ++i) s += std::string(1, sep) + "000";
  return s;
}

struct FormatCase {
  std::string Pattern;
  double Value;
  std::string WithDot;   // decimal ".", thousands ","
  std::string WithComma; // decimal ",", thousands "."
};

TEST(FormatFloat, patternsUnderBothSeparators) {
  const std::vector<FormatCase> cases = {
      // Patterns the meters and the editor use.
      {"##0", 25.4, "25", "25"},
      {"##0.0", 25.44, "25.4", "25,4"},
      {"##0.0", 25.44f, "25.4", "25,4"},
      {"#0.#", 3, "3", "3"},
      {"#0.#", 2.55, "2.6", "2,6"},
      {"#0.#", 0, "0", "0"},
      {"0e-0", 100, "1e2", "1e2"},
      {"0e-0", 0.001, "1e-3", "1e-3"},
      {"#,##0.00", 1234567.891, "1,234,567.89", "1.234.567,89"},
      {"00.0E+00", 12345, "12.3E+03", "12,3E+03"},
      // Halves go away from zero on the decimal digits.
      {"0", 0.5, "1", "1"},
      {"0", 1.5, "2", "2"},
      {"0", 2.5, "3", "3"},
      {"0", -2.5, "-3", "-3"},
      {"0.0", 0.25, "0.3", "0,3"},
      {"0.0", 0.05, "0.1", "0,1"},
      {"0.00", 1.005, "1.01", "1,01"},
      {"0.00", 2.675, "2.68", "2,68"},
      {"0", 0.49999, "0", "0"},
      {"#0.#", 9.95, "10", "10"},
      {"0.0", 9.96, "10.0", "10,0"},
      {"0.0", -0.05, "-0.1", "-0,1"},
      // Values that round to nothing are zero: unsigned, by the zero section when there is one.
      {"0", -0.4, "0", "0"},
      {"0.0", -0.04, "0.0", "0,0"},
      {"0.0;(0.0)", -0.04, "0.0", "0,0"},
      {"0.0;(0.0);'nil'", -0.04, "nil", "nil"},
      {"0.00;;zero", 0.001, "zero", "zero"},
      {"#", 0.3, "", ""},
      // Sections.
      {"0.00;(0.00);zero", -1.5, "(1.50)", "(1,50)"},
      {"0.00;(0.00);zero", 0, "zero", "zero"},
      {"0.00;(0.00);zero", 2, "2.00", "2,00"},
      {"0.00;;zero", -2, "-2.00", "-2,00"},
      {"0.00;(0.00);", 0, "0.00", "0,00"},
      {"0.00;(0.00)", 0, "0.00", "0,00"},
      {"0.00;(0.00)", -0.0, "0.00", "0,00"},
      {"pos;neg;zero", 5, "pos", "pos"},
      {"pos;neg;zero", -5, "neg", "neg"},
      {"pos;neg;zero", 0, "zero", "zero"},
      {"0;neg;zero;junk", -1, "neg", "neg"},
      {"0;(0);z;junk", 0, "z", "z"},
      {";(0)", 5, "5", "5"},
      // Quoted and plain text.
      {"0.0' V'", 3.14, "3.1 V", "3,1 V"},
      {"\"Temp \"0.0\" 'C\"", 21.46, "Temp 21.5 'C", "Temp 21,5 'C"},
      {"'0.#;'0", 5, "0.#;5", "0.#;5"},
      {"0 'E+0'", 12, "12 E+0", "12 E+0"},
      {"n.a.", 1, "n.a.", "n.a."},
      {"0'unterminated", 7, "7unterminated", "7unterminated"},
      // Placement of digits, grouping, optional digits.
      {"0", 12345, "12345", "12345"},
      {"0-00", 12345, "123-45", "123-45"},
      {"#.##", 0.5, ".5", ",5"},
      {".00", 12.5, "12.50", "12,50"},
      {"000.000", 1.5, "001.500", "001,500"},
      {"0.0#", 1.5, "1.5", "1,5"},
      {"0.0#", 1.25, "1.25", "1,25"},
      {"0.0#", 1, "1.0", "1,0"},
      {"0.##", 1.999, "2", "2"},
      {"#,##0", 999.5, "1,000", "1.000"},
      {"#,##0", 0, "0", "0"},
      {"#,##0.00", -1234.5, "-1,234.50", "-1.234,50"},
      {"0,000", 5, "0,005", "0.005"},
      {"#,##0", 123, "123", "123"},
      // Scientific forms.
      {"0.00E+0", 12345, "1.23E+4", "1,23E+4"},
      {"0.00E+000", 12345, "1.23E+004", "1,23E+004"},
      {"0.00E-00", 12345, "1.23E04", "1,23E04"},
      {"0.00e+00", 0.00012345, "1.23e-04", "1,23e-04"},
      {"0.00e-0", 0.00012345, "1.23e-4", "1,23e-4"},
      {"0.0E+0", 0, "0.0E+0", "0,0E+0"},
      {"0.00E+00", 9.999, "1.00E+01", "1,00E+01"},
      {"##0.0E+0", 12345, "123.5E+2", "123,5E+2"},
      {"0E+0 'x'", 1e300, "1E+300 x", "1E+300 x"},
      {"0.0E+00", 1e-30, "1.0E-30", "1,0E-30"},
      {"0.0E+0", -1e-30, "-1.0E-30", "-1,0E-30"},
      {"0.0E+0", 5e-324, "4.9E-324", "4,9E-324"},
      {"0.0E+0;(0.0E+0)", -250, "(2.5E+2)", "(2,5E+2)"},
      // Huge and tiny values.
      {"0", 1e30, "1" + std::string(30, '0'), "1" + std::string(30, '0')},
      {"#,##0", 1e30, Grouped("1", 10, ','), Grouped("1", 10, '.')},
      {"#,##0.0", 3e38, Grouped("300", 12, ',') + ".0", Grouped("300", 12, '.') + ",0"},
      {"0", FLT_MAX, "340282346638529" + std::string(24, '0'), "340282346638529" + std::string(24, '0')},
      {"0", -DBL_MAX, "-179769313486232" + std::string(294, '0'), "-179769313486232" + std::string(294, '0')},
      {"0.00", 1e-30, "0.00", "0,00"},
      {"0.0", 5e-324, "0.0", "0,0"},
      {"0." + std::string(40, '0'), 1e-30, "0." + std::string(29, '0') + "1" + std::string(10, '0'),
       "0," + std::string(29, '0') + "1" + std::string(10, '0')},
      // Not numbers.
      {"0.0", Inf, "INF", "INF"},
      {"0.0", -Inf, "-INF", "-INF"},
      {"0.0", NaN, "NAN", "NAN"},
      {"", Inf, "INF", "INF"},
      {"", -NaN, "NAN", "NAN"},
      // The general form of an empty pattern.
      {"", 1.5, "1.5", "1,5"},
      {"", 0.1 + 0.2, "0.3", "0,3"},
      {"", 1e20, "1e+20", "1e+20"},
      {"", -0.0, "0", "0"},
      {"", -123456789012345678.0, "-1.23456789012346e+17", "-1,23456789012346e+17"},
  };
  for (const FormatCase &c : cases) {
    EXPECT_EQ(FormatFloat(c.Pattern, c.Value, Dot()), c.WithDot) << "pattern '" << c.Pattern << "' value " << c.Value;
    EXPECT_EQ(FormatFloat(c.Pattern, c.Value, Comma()), c.WithComma) << "pattern '" << c.Pattern << "' value " << c.Value;
  }
}

TEST(FormatFloat, everyPatternSurvivesExtremeValues) {
  const std::vector<std::string> patterns = {"", "0", "#", "##0.0", "#,##0.00", "0e-0", "00.0E+00", "0.00;(0.00);zero",
                                             "#.####E-000", ".##", "0." + std::string(350, '#')};
  const std::vector<double> values = {0, -0.0, 1e30, -1e30, 3e38, FLT_MAX, DBL_MAX, -DBL_MAX, 1e-30, 5e-324,
                                      -5e-324, DBL_MIN, Inf, -Inf, NaN};
  for (const std::string &p : patterns)
    for (double v : values) {
      const std::string s = FormatFloat(p, v, Dot());
      EXPECT_LT(s.size(), 800u) << p << " " << v;
      if (std::isfinite(v) && !p.empty() && p != "#" && p != ".##") {
        EXPECT_FALSE(s.empty()) << p << " " << v;
      }
    }
}

TEST(Rounding, roundEvenAndSaturatingConversions) {
  constexpr std::int32_t Max32 = std::numeric_limits<std::int32_t>::max();
  constexpr std::int32_t Min32 = std::numeric_limits<std::int32_t>::min();
  struct Case {
    double X;
    std::int32_t Even, Trunc;
  };
  const std::vector<Case> cases = {
      {0.5, 0, 0},          {1.5, 2, 1},          {2.5, 2, 2},
      {-0.5, 0, 0},         {-1.5, -2, -1},       {-2.5, -2, -2},
      {0.49999999999999994, 0, 0}, {2.5000000000000004, 3, 2}, {-0.3, 0, 0},
      {1.9, 2, 1},          {-1.9, -2, -1},       {2147483646.5, 2147483646, 2147483646},
      {2147483647.5, Max32, Max32}, {-2147483648.5, Min32, Min32}, {2147483647.9, Max32, Max32},
      {1e10, Max32, Max32}, {-1e10, Min32, Min32}, {DBL_MAX, Max32, Max32},
      {Inf, Max32, Max32},  {-Inf, Min32, Min32}, {NaN, 0, 0},
  };
  for (const Case &c : cases) {
    EXPECT_EQ(RoundEven(c.X), c.Even) << c.X;
    EXPECT_EQ(TruncSat32(c.X), c.Trunc) << c.X;
  }
  EXPECT_EQ(RoundEvenF(4503599627370497.0), 4503599627370497.0);
  EXPECT_EQ(RoundEvenF(1e300), 1e300);
  EXPECT_EQ(RoundEvenF(-3.5), -4.0);
  EXPECT_EQ(RoundEvenF(-Inf), -Inf);
  EXPECT_TRUE(std::isnan(RoundEvenF(NaN)));

  struct Case64 {
    double X;
    std::int64_t Expected;
  };
  const std::vector<Case64> cases64 = {
      {9.2e18, 9200000000000000000LL},  {-2.9, -2},
      {1e19, std::numeric_limits<std::int64_t>::max()}, {-1e19, std::numeric_limits<std::int64_t>::min()},
      {Inf, std::numeric_limits<std::int64_t>::max()},  {-Inf, std::numeric_limits<std::int64_t>::min()},
      {NaN, 0},
  };
  for (const Case64 &c : cases64) EXPECT_EQ(TruncSat64(c.X), c.Expected) << c.X;

  const std::vector<std::pair<std::int64_t, std::int32_t>> narrow = {
      {5, 5}, {-5, -5}, {2147483648LL, Max32}, {-2147483649LL, Min32}, {INT64_MAX, Max32}, {INT64_MIN, Min32}};
  for (const auto &[in, out] : narrow) EXPECT_EQ(Sat32(in), out) << in;
}

TEST(Rounding, narrowToFloatIsDefinedBeyondTheFloatRange) {
  const double justAbove = static_cast<double>(FLT_MAX) * (1 + 1e-9); // rounds back to FLT_MAX
  const std::vector<std::pair<double, float>> cases = {
      {1.5, 1.5f}, {1e39, std::numeric_limits<float>::infinity()}, {-1e39, -std::numeric_limits<float>::infinity()},
      {FLT_MAX, FLT_MAX}, {justAbove, FLT_MAX}, {-justAbove, -FLT_MAX}, {DBL_MAX, std::numeric_limits<float>::infinity()},
      {Inf, std::numeric_limits<float>::infinity()}};
  for (const auto &[in, out] : cases) EXPECT_EQ(NarrowToFloat(in), out) << in;
  EXPECT_TRUE(std::isnan(NarrowToFloat(NaN)));
}

TEST(TextToFloat, acceptsExactlyThePlainGrammar) {
  struct Case {
    std::string Text;
    char Decimal;
    bool Ok;
    double Value;
  };
  const std::vector<Case> cases = {
      {"25.5", '.', true, 25.5},      {"25,5", ',', true, 25.5},       {"25,5", '.', false, 0},
      {"25.5", ',', false, 0},        {" 2.5 ", '.', true, 2.5},       {"\t-3\t", '.', true, -3},
      {"+4", '.', true, 4},           {"-0,5e1", ',', true, -5},       {"1E3", '.', true, 1000},
      {"1e+3", '.', true, 1000},      {"1e-3", '.', true, 0.001},      {".5", '.', true, 0.5},
      {"5.", '.', true, 5},           {",5", ',', true, 0.5},          {"-0", '.', true, 0},
      {"00000000000000000000000000000001", '.', true, 1},
      {"1e0000000000000000000000000000001", '.', true, 10},
      {"1.7976931348623157e308", '.', true, DBL_MAX},
      {"1e-400", '.', true, 0},       {"-1e-99999999999999999999", '.', true, 0},
      {"0e99999999999", '.', true, 0},
      // Rejected.
      {"", '.', false, 0},            {" ", '.', false, 0},            {"-", '.', false, 0},
      {"+", '.', false, 0},           {".", '.', false, 0},            {",", ',', false, 0},
      {"-.", '.', false, 0},          {"e5", '.', false, 0},           {"1e", '.', false, 0},
      {"1e+", '.', false, 0},         {"1 2", '.', false, 0},          {"1x", '.', false, 0},
      {"1 e3", '.', false, 0},        {"1e3.5", '.', false, 0},        {"1.2.3", '.', false, 0},
      {"1,234,5", ',', false, 0},     {"1,234.5", '.', false, 0},      {"--1", '.', false, 0},
      {"+-1", '.', false, 0},         {"1e--1", '.', false, 0},        {"nan", '.', false, 0},
      {"inf", '.', false, 0},         {"infinity", '.', false, 0},     {"-inf", '.', false, 0},
      {"0x1p3", '.', false, 0},       {"0x10", '.', false, 0},         {"1e309", '.', false, 0},
      {"-1e309", '.', false, 0},      {"1e99999999999999999999", '.', false, 0},
      {std::string("1\0", 2), '.', false, 0},
  };
  for (const Case &c : cases) {
    TFormatSettings fs = c.Decimal == ',' ? Comma() : Dot();
    double v = -12345;
    EXPECT_EQ(TextToFloat(c.Text, v, fs), c.Ok) << "'" << c.Text << "' with " << c.Decimal;
    if (c.Ok) {
      EXPECT_EQ(v, c.Value) << "'" << c.Text << "'";
    }
  }
  double negZero = 1;
  ASSERT_TRUE(TextToFloat("-1e-400", negZero, Dot()));
  EXPECT_TRUE(std::signbit(negZero));
  // Too large is told apart from no number: the caller may clamp then.
  for (const auto &[text, tooLarge, value] : {std::tuple{"1e309", true, HUGE_VAL}, {"-1.8e308", true, -HUGE_VAL},
                                              {"1e", false, 0.0}, {"1x", false, 0.0}}) {
    bool large = false;
    double v = 0;
    EXPECT_FALSE(TextToFloat(text, v, Dot(), &large)) << text;
    EXPECT_EQ(large, tooLarge) << text;
    EXPECT_EQ(v, value) << text;
  }
}

TEST(TextToFloat, readsBackWhatTheFormatterWrites) {
  for (const TFormatSettings &fs : {Dot(), Comma()})
    for (double v : {0.0, 1.25, -3.5e-7, 1234567.125, 6.02214076e23, -1e-300}) {
      double back = 0;
      ASSERT_TRUE(TextToFloat(FormatFloat("0.00000000000000E+000", v, fs), back, fs)) << v;
      EXPECT_DOUBLE_EQ(back, v);
      ASSERT_TRUE(TextToFloat(FormatFloat("", v, fs), back, fs)) << v;
      EXPECT_DOUBLE_EQ(back, v);
    }
}

} // namespace
