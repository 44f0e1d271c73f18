// The recording's text: values that read back bit for bit under either locale, fields a
// spreadsheet splits correctly, serial bytes that survive the trip through UTF-8, and times that
// carry their offset.
#include <gtest/gtest.h>

#include <bit>
#include <cfloat>
#include <cmath>
#include <cstdlib>
#include <ctime>
#include <random>

#include "app/records/MeasurementProtocol.h"
#include "app/records/RecordCsv.h"
#include "platform/TextCodec.h"

TEST(RecordCsv, ValuesReadBackToTheSameFloatUnderEitherSeparator) {
  std::vector<float> values = {0.0f, -0.0f, 25.5f, 1.34564f, 0.1f, -7.25f, 16777217.0f, 1e-45f, FLT_MIN, FLT_MAX,
                               -FLT_MAX, 3.0e-39f, 123456789.0f, 1e20f};
  std::mt19937 random(15);
  while (values.size() < 200000) {
    const float f = std::bit_cast<float>(std::uint32_t(random()));
    if (std::isfinite(f)) values.push_back(f);
  }
  const TFormatSettings dot, comma{.DecimalSeparator = ',', .ThousandSeparator = '.'};
  for (const float v : values) {
    std::string text;
    AppendShortestFloat(text, v);
    ASSERT_EQ(text.find(','), std::string::npos) << text;
    for (const TFormatSettings &fs : {dot, comma}) {
      const auto back = ParseMeasuredValue(text, fs);
      ASSERT_TRUE(back.has_value()) << text;
      ASSERT_EQ(std::bit_cast<std::uint32_t>(*back), std::bit_cast<std::uint32_t>(v)) << text;
    }
  }
  std::string text;
  AppendShortestFloat(text, 25.5f);
  EXPECT_EQ(text, "25.5"); // not 25.500000
}

TEST(RecordCsv, FieldsSplitBackAsTheyWereWritten) {
  const std::vector<std::string> fields = {"°C", "", "a,b", "x;y", "say \"hi\"", "\"", "two\r\nlines", " blank "};
  std::string line;
  for (const auto &f : fields) {
    if (!line.empty()) line += ',';
    AppendCsvField(line, f);
  }
  EXPECT_EQ(line.substr(0, 4), "°C,");
  std::vector<std::string> back;
  ASSERT_TRUE(SplitCsvLine(line, ',', back));
  EXPECT_EQ(back, fields);
  EXPECT_FALSE(SplitCsvLine("a,\"open", ',', back));
  ASSERT_TRUE(SplitCsvLine("2;\"1,5\";V", ';', back));
  EXPECT_EQ(back, (std::vector<std::string>{"2", "1,5", "V"}));
}

TEST(RecordCsv, ARecordSplitLineByLineGivesTheFieldsOfTheWholeText) {
  const struct {
    const char *Name;
    std::vector<std::string> Lines; // the record's physical lines
    bool Closed;
  } cases[] = {
      {"one line", {"a,\"b,c\",d"}, true},
      {"a field over three lines", {"1,\"x", "y,z", "w\",2"}, true},
      {"a doubled quote at a line's end", {"1,\"x\"\"", "y\""}, true},
      {"a quote that closes at a line's end", {"1,\"x\"", "\"y\""}, true},
      {"an empty line inside quotes", {"\"a", "", "b\""}, true},
      {"never closed", {"1,\"x", "y"}, false},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.Name);
    std::string whole;
    TCsvSplitter splitter;
    splitter.Start(',');
    bool closed = false;
    for (std::size_t i = 0; i < c.Lines.size(); ++i) {
      if (i) {
        whole += "\r\n";
        splitter.Add("\r\n");
      }
      whole += c.Lines[i];
      closed = splitter.Add(c.Lines[i]);
    }
    std::vector<std::string> fields;
    EXPECT_EQ(SplitCsvLine(whole, ',', fields), c.Closed);
    EXPECT_EQ(closed, c.Closed);
    EXPECT_EQ(splitter.Size(), whole.size());
    if (c.Closed) EXPECT_EQ(splitter.Fields(), fields);
  }
}

TEST(RecordCsv, EverySerialByteSurvivesTheTextForm) {
  std::string all;
  for (int b = 0; b < 256; ++b) all += char(b);
  const std::string text = RawToCsvText("#3M" + all + "<");
  EXPECT_TRUE(IsValidUtf8(text));
  for (const char c : text) EXPECT_FALSE((unsigned char)c < 32 || c == 127) << int(c);
  EXPECT_EQ(RawFromCsvText(text), "#3M" + all + "<");
  EXPECT_EQ(RawToCsvText(std::string("#1M\0<\r\n", 7)), "#1M␀<␍␊");
}

TEST(RecordCsv, TimesCarryMillisecondsAndTheOffsetAndReadBack) {
  const char *saved = std::getenv("TZ");
  const std::string savedTz = saved ? saved : "";
  struct Case {
    const char *Tz;
    std::int64_t Ms;
    const char *Text;
  } cases[] = {
      {"CET-1CEST,M3.5.0,M10.5.0/3", 1719835387045, "2024-07-01T14:03:07.045+02:00"},
      {"CET-1CEST,M3.5.0,M10.5.0/3", 1704067200999, "2024-01-01T01:00:00.999+01:00"},
      {"NST3:30", 1704067200000, "2023-12-31T20:30:00.000-03:30"},
      {"UTC0", -1, "1969-12-31T23:59:59.999+00:00"},
  };
  for (const auto &c : cases) {
    setenv("TZ", c.Tz, 1);
    tzset();
    TLocalTimeCache cache;
    std::string text;
    AppendIsoLocalTime(text, c.Ms, cache);
    EXPECT_EQ(text, c.Text) << c.Tz;
    std::int64_t back = 0;
    EXPECT_TRUE(ParseIsoTime(text, back));
    EXPECT_EQ(back, c.Ms) << text;
  }
  saved ? setenv("TZ", savedTz.c_str(), 1) : unsetenv("TZ");
  tzset();
  const struct {
    const char *Text;
    bool Ok;
    std::int64_t Ms;
  } parses[] = {{"2024-07-01T12:03:07Z", true, 1719835387000}, {"2024-07-01 14:03:07,5+0200", true, 1719835387500},
                {"2024-07-01T14:03:07.045", false, 0},         {"2024-13-01T14:03:07Z", false, 0},
                {"2024-07-01T14:03:07Z ", false, 0},           {"01.07.2024 14:03:07", false, 0}};
  for (const auto &p : parses) {
    std::int64_t ms = 0;
    EXPECT_EQ(ParseIsoTime(p.Text, ms), p.Ok) << p.Text;
    if (p.Ok) {
      EXPECT_EQ(ms, p.Ms) << p.Text;
    }
  }
}
