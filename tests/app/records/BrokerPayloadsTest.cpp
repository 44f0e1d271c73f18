// Payloads on a broker: values as the CSV writes them, meter descriptions as JSON, and whatever a
// broker delivers checked as a serial record before it reaches a meter.
#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <limits>

#include "app/records/BrokerPayloads.h"
#include "platform/FormatFloat.h"

namespace {

TEST(BrokerPayloads, valueReadsBackToTheSameFloat) {
  TFormatSettings comma;
  comma.DecimalSeparator = ',';
  for (float v : {0.0f, -0.0f, 25.5f, 0.1f, 1e-45f, FLT_MIN, FLT_MAX, -FLT_MAX, 3.4028235e38f, 1.34564f, 16777217.0f}) {
    const std::string text = ValuePayload(v);
    EXPECT_EQ(text.find(','), std::string::npos) << text;
    for (const TFormatSettings &fs : {TFormatSettings(), comma}) {
      std::string why;
      const auto r = ParseRemoteValue("4", text, false, fs, &why);
      ASSERT_TRUE(r) << text << ": " << why;
      EXPECT_EQ(r->Value, v) << text;
      EXPECT_EQ(std::signbit(r->Value), std::signbit(v)) << text;
    }
  }
}

// Hostile and odd payloads: what reaches a meter, and the reason for the rest.
TEST(BrokerPayloads, remoteValuesPassTheRecordCheck) {
  struct Case {
    std::string level, payload;
    bool tooLong;
    int instrument; // 0: dropped
    float value;
    const char *why;
  };
  const std::string huge(100000, '9');
  const Case cases[] = {
      {"3", "25.5", false, 3, 25.5f, ""},
      {"3", "25,5", false, 3, 25.5f, ""},
      {"10", " -1.5e2 ", false, 10, -150, ""},
      {"010", "7", false, 10, 7, ""},
      {"$A", "7", false, 10, 7, ""},
      {"3", "3.4028235e38", false, 3, FLT_MAX, ""},
      {"11", "5", false, 0, 0, "no instrument 11 (instruments are 1 to 10)"},
      {"0", "5", false, 0, 0, "no instrument 0"},
      {"abc", "5", false, 0, 0, "'abc' is not an instrument number"},
      {"1M2", "5", false, 0, 0, "'1M2' is not an instrument number"},
      {"", "5", false, 0, 0, "'' is not an instrument number"},
      {"3", "", false, 0, 0, "empty payload"},
      {"3", "nan", false, 0, 0, "'nan' is not a value"},
      {"3", "inf", false, 0, 0, "'inf' is not a value"},
      {"3", "-Infinity", false, 0, 0, "is not a value"},
      {"3", "1e39", false, 0, 0, "'1e39' is not a value"},
      {"3", "-3.4028236e38", false, 0, 0, "is not a value"},
      {"3", "1e400", false, 0, 0, "is not a value"},
      {"3", "0x10", false, 0, 0, "is not a value"},
      {"3", "7M9", false, 0, 0, "'7M9' is not a value"},
      {"3", "5<#4M6", false, 0, 0, "is not a value"},
      {"3", std::string("5\0" "1", 3), false, 0, 0, "is not a value"},
      {"3", "\xff\xfe", false, 0, 0, "is not a value"},
      {"3", "1.2.3", false, 0, 0, "is not a value"},
      {"3", "12345678901234567890123456789012345678901234567890", false, 0, 0, "is not a value"},
      {"3", huge.substr(0, 40), true, 0, 0, "longer than 1024 bytes"},
      {"3", huge.substr(0, 1024), false, 0, 0, "is not a value"},
  };
  for (const Case &c : cases) {
    std::string why;
    const auto r = ParseRemoteValue(c.level, c.payload, c.tooLong, TFormatSettings(), &why);
    const std::string what = c.level + " " + c.payload.substr(0, 30);
    EXPECT_EQ(r ? r->Instrument : 0, c.instrument) << what;
    if (r) {
      EXPECT_EQ(r->Value, c.value) << what;
    }
    EXPECT_NE(why.find(c.why), std::string::npos) << what << ": " << why;
    EXPECT_EQ(why.empty(), r.has_value()) << what;
    // The window's list gives every reason in German.
    std::string german;
    ParseRemoteValue(c.level, c.payload, c.tooLong, TFormatSettings(), &german, TWording::German);
    EXPECT_EQ(german.empty(), r.has_value()) << what;
    if (!why.empty()) EXPECT_NE(german, why) << what;
  }
}

TEST(BrokerPayloads, metaIsJsonWhateverTheTextsHold) {
  EXPECT_EQ(MetaPayload({"Druck", "bar", "##0.0", 0.001f, 100}),
            R"({"name":"Druck","unit":"bar","from":0.001,"to":100,"format":"##0.0"})");
  EXPECT_EQ(MetaPayload({"a\"b\\c\n", "\xc2\xb0" "C", "", -1.5f, std::numeric_limits<float>::infinity()}),
            "{\"name\":\"a\\\"b\\\\c\\u000a\",\"unit\":\"\xc2\xb0" "C\",\"from\":-1.5,\"to\":null,\"format\":\"\"}");
  // A byte that is no UTF-8 (a Windows-1252 settings file read as bytes) becomes U+FFFD.
  EXPECT_EQ(MetaPayload({"\xb0", "x\xc3", "", 0, 1}),
            "{\"name\":\"\xef\xbf\xbd\",\"unit\":\"x\xef\xbf\xbd\",\"from\":0,\"to\":1,\"format\":\"\"}");
}

} // namespace
