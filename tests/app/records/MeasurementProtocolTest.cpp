// Measurement records: what reaches which meter, under "." and "," locales.
#include <cfloat>
#include <optional>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

#include "app/window/FormMain.h"
#include "app/records/MeasurementProtocol.h"
#include "instruments/AnVMeter.h"

namespace {

struct Case {
  const char *record;
  int instrument; // 0: dropped
  float value;
};

// Holds for both decimal separators.
const std::vector<Case> kCases = {
    {"#8M25.5<", 8, 25.5f},
    {"#8M25,5<", 8, 25.5f},
    {"#10M3<", 10, 3},
    {"#1M5<", 1, 5},
    {"#11M3<", 0, 0},
    {"#0M3<", 0, 0},
    {"#-1M3<", 0, 0},
    {"#010M3<", 10, 3},
    {"#$AM3<", 10, 3},
    {"#xaM3<", 10, 3},
    {"#0XaM3<", 10, 3},
    {"#+3M3<", 3, 3},
    {"# 3M7<", 3, 7},
    {"#3 M7<", 0, 0},
    {"#3M<", 0, 0},
    {"#3m7<", 0, 0},
    {"#3M 2.5 <", 3, 2.5f},
    {"#3M-1.5e2<", 3, -150},
    {"#3M1E-3<", 3, 0.001f},
    {"8M25.5<", 0, 0},
    {"#M25.5<", 0, 0},
    {"#99999999999M1<", 0, 0},
    {"#4294967299M1<", 0, 0},
    // Values that never were measurements are dropped, not shown as 1.0.
    {"#3MX<", 0, 0},
    {"#3M7M9<", 0, 0},
    {"#3M1.234,5<", 0, 0},
    {"#3Mnan<", 0, 0},
    {"#3Minf<", 0, 0},
    {"#3M-Infinity<", 0, 0},
    {"#3M0x1p3<", 0, 0},
    {"#3M1e39<", 0, 0},
    {"#3M-4e38<", 0, 0},
    // The printed form of the largest float rounds to it; half an ulp beyond does not.
    {"#3M3.4028235e38<", 3, 3.40282347e38f},
    {"#3M-3.40282356e38<", 3, -3.40282347e38f},
    {"#3M3.4028236e38<", 0, 0},
    {"#3M-3.40282357e38<", 0, 0},
    {"#3M1e400<", 0, 0},
    {"#3M.<", 0, 0},
    {"#3M--1<", 0, 0},
};

TEST(MeasurementProtocol, RecordsUnderBothSeparators) {
  for (char sep : {'.', ','}) {
    TFormatSettings fs;
    fs.DecimalSeparator = sep;
    fs.ThousandSeparator = sep == '.' ? ',' : '.';
    for (const auto &c : kCases) {
      const auto r = ParseMeasurementRecord(c.record, fs);
      SCOPED_TRACE(std::string(c.record) + " with '" + sep + "'");
      // The reason given to a user agrees with the parse.
      EXPECT_EQ(WhyDropped(c.record, fs).empty(), r.has_value());
      if (c.instrument == 0) {
        EXPECT_FALSE(r.has_value());
      } else {
        ASSERT_TRUE(r.has_value());
        EXPECT_EQ(r->Instrument, c.instrument);
        EXPECT_FLOAT_EQ(r->Value, c.value);
      }
    }
  }
}

TEST(MeasurementProtocol, WhyARecordIsDroppedInWords) {
  // English for the command line, German for the window.
  const std::vector<std::tuple<const char *, std::string, std::string>> cases = {
      {"#3M<", "too short for a record", "zu kurz für einen Datensatz"},
      {"3M25.5<", "too short for a record", "zu kurz für einen Datensatz"},
      {"#3X25.5<", "no M between number and value", "kein M zwischen Nummer und Wert"},
      {"#3 M7<", "'3 ' is not an instrument number", "„3 “ ist keine Instrumentnummer"},
      {"#M25.5<", "'' is not an instrument number", "„“ ist keine Instrumentnummer"},
      {"#11M3<", "no instrument 11 (instruments are 1 to 10)", "kein Instrument 11 (Instrumente 1 bis 10)"},
      {"#0M3<", "no instrument 0 (instruments are 1 to 10)", "kein Instrument 0 (Instrumente 1 bis 10)"},
      {"#3MX<", "'X' is not a value", "„X“ ist kein Wert"},
      {"#3M1e39<", "'1e39' is not a value", "„1e39“ ist kein Wert"},
      {"#3M25.5<", "", ""},
  };
  for (const auto &[record, english, german] : cases) {
    EXPECT_EQ(WhyDropped(record, TFormatSettings{}), english) << record;
    EXPECT_EQ(WhyDropped(record, TFormatSettings{}, TWording::German), german) << record;
  }
}

TEST(MeasurementProtocol, NumberGrammar) {
  const std::vector<std::pair<const char *, std::optional<std::int32_t>>> cases = {
      {"", std::nullopt},      {" ", std::nullopt},         {"+", std::nullopt},      {"$", std::nullopt},
      {"0x", std::nullopt},    {"12 ", std::nullopt},       {"1a", std::nullopt},     {"  -7", -7},
      {"$7fffffff", INT32_MAX}, {"-2147483648", INT32_MIN}, {"2147483648", std::nullopt},
      {"-$80000000", INT32_MIN}, {"$100000000", std::nullopt}, {"x1F", 31},            {"--1", std::nullopt},
  };
  for (const auto &[text, expect] : cases) EXPECT_EQ(ParseInstrumentNumber(text), expect) << '"' << text << '"';
}

TEST(MeasurementProtocol, RecordsSetMetersThroughTheWindow) {
  for (char sep : {'.', ','}) {
    ScopedFormatSettings fs(sep, sep == '.' ? ',' : '.');
    TFormMain form;
    auto *m8 = form.FindComponent<TAnVMeter>("Instr8");
    auto *m3 = form.FindComponent<TAnVMeter>("Instr3");
    ASSERT_NE(m8, nullptr);
    ASSERT_NE(m3, nullptr);
    ASSERT_FALSE(m8->Visible());
    form.ComDataPacket1Packet(&form, "#8M25.5<");
    EXPECT_FLOAT_EQ(m8->Value(), 25.5f); // a hidden meter takes the value
    EXPECT_FALSE(m8->Visible());
    form.ComDataPacket1Packet(&form, "#3M7<");
    form.ComDataPacket1Packet(&form, "#3MX<");
    form.ComDataPacket1Packet(&form, "#3M1e39<");
    EXPECT_FLOAT_EQ(m3->Value(), 7.0f);
    // Instr20 and Instr29 can never be addressed.
    auto *m20 = form.FindComponent<TAnVMeter>("Instr20");
    ASSERT_NE(m20, nullptr);
    form.ComDataPacket1Packet(&form, "#20M7<");
    form.ComDataPacket1Packet(&form, "#$14M7<");
    EXPECT_FLOAT_EQ(m20->Value(), 50.0f);
  }
}

} // namespace
