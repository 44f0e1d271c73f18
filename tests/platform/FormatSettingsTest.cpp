#include "platform/FormatFloat.h"
#include "platform/FormatSettings.h"

#include <QDateTime>

#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <limits>
#include <string>
#include <vector>

namespace {

// Switches the C library's locale for one test and puts the previous one back.
class ScopedCLocale {
public:
  explicit ScopedCLocale(const char *name) : FSaved(std::setlocale(LC_ALL, nullptr)) {
    FOk = std::setlocale(LC_ALL, name) != nullptr;
  }
  ~ScopedCLocale() { std::setlocale(LC_ALL, FSaved.c_str()); }
  bool Ok() const { return FOk; }

private:
  std::string FSaved;
  bool FOk = false;
};

TEST(FormatSettings, strftimeFormsBecomeQtPatterns) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"%d.%m.%Y", "dd.MM.yyyy"},
      {"%m/%d/%y", "MM/dd/yy"},
      {"%H:%M:%S", "HH:mm:ss"},
      {"%T", "HH:mm:ss"},
      {"%r", "hh:mm:ss AP"},
      {"%I:%M:%S %p", "hh:mm:ss AP"},
      {"%l:%M %P", "h:mm ap"},
      {"%Y-%m-%d", "yyyy-MM-dd"},
      {"%F", "yyyy-MM-dd"},
      {"%D", "MM/dd/yy"},
      {"%e/%m/%Y", "d/MM/yyyy"},
      {"%-d.%-m.%Y", "d.M.yyyy"},
      {"%_H:%M", "H:mm"},
      {"%Ey", "yy"},
      {"%Od.%Om.", "dd.MM."},
      {"%a %d %b %Y", "ddd dd MMM yyyy"},
      {"%A, %d. %B %Y", "dddd, dd. MMMM yyyy"},
      {"%d de %B de %Y", "dd' de 'MMMM' de 'yyyy"},
      {"%Hh%M", "HH'h'mm"},
      {"it's %H", "'it''s 'HH"},
      {"100%%", "100%"},
      {"%Z %H", " HH"},
      {"%Y\xE5\xB9\xB4%m\xE6\x9C\x88", "yyyy\xE5\xB9\xB4MM\xE6\x9C\x88"},
      {"", ""},
      {"%", ""},
  };
  for (const auto &[in, out] : cases) EXPECT_EQ(StrftimeToQtPattern(in), out) << in;
}

TEST(FormatSettings, localeValuesFallBackWhereUnusable) {
  struct Case {
    std::string Radix, Thousands, DateFmt, TimeFmt;
    char Decimal, Thousand;
    std::string Date, Time;
  };
  const std::vector<Case> cases = {
      {".", ",", "%m/%d/%Y", "%r", '.', ',', "MM/dd/yyyy", "hh:mm:ss AP"},
      {",", ".", "%d.%m.%Y", "%T", ',', '.', "dd.MM.yyyy", "HH:mm:ss"},
      {".", "", "%m/%d/%y", "%H:%M:%S", '.', ',', "MM/dd/yy", "HH:mm:ss"},
      {",", "", "", "", ',', '.', "dd.MM.yyyy", "hh:mm:ss"},
      {",", "\xE2\x80\xAF", "%d/%m/%Y", "%T", ',', '.', "dd/MM/yyyy", "HH:mm:ss"}, // narrow no-break space
      {".", "\xE2\x80\x99", "%d.%m.%Y", "%T", '.', ',', "dd.MM.yyyy", "HH:mm:ss"}, // typographic apostrophe
      {".", "'", "%d.%m.%Y", "%T", '.', '\'', "dd.MM.yyyy", "HH:mm:ss"},
      {",", ",", "%d.%m.%Y", "%T", ',', '.', "dd.MM.yyyy", "HH:mm:ss"},
      {"\xD9\xAB", "\xD9\xAC", "%d/%m/%Y", "%T", '.', ',', "dd/MM/yyyy", "HH:mm:ss"},
      {"", "", "%Z", "%Z", '.', ',', "dd.MM.yyyy", "hh:mm:ss"},
  };
  for (const Case &c : cases) {
    const TFormatSettings s = TFormatSettings::FromLocaleValues(c.Radix, c.Thousands, c.DateFmt, c.TimeFmt);
    EXPECT_EQ(s.DecimalSeparator, c.Decimal) << c.Radix << "|" << c.Thousands;
    EXPECT_EQ(s.ThousandSeparator, c.Thousand) << c.Radix << "|" << c.Thousands;
    EXPECT_EQ(s.ShortDateFormat, c.Date) << c.DateFmt;
    EXPECT_EQ(s.LongTimeFormat, c.Time) << c.TimeFmt;
  }
}

TEST(FormatSettings, processLocaleC) {
  ScopedCLocale c("C");
  ASSERT_TRUE(c.Ok());
  const TFormatSettings s = TFormatSettings::FromProcessLocale();
  EXPECT_EQ(s.DecimalSeparator, '.');
  EXPECT_EQ(s.ThousandSeparator, ',');
  EXPECT_EQ(s.ShortDateFormat, "MM/dd/yy");
  EXPECT_EQ(s.LongTimeFormat, "HH:mm:ss");
}

TEST(FormatSettings, processLocaleGerman) {
  ScopedCLocale de("de_DE.UTF-8");
  if (!de.Ok()) GTEST_SKIP() << "de_DE.UTF-8 is not installed";
  const TFormatSettings s = TFormatSettings::FromProcessLocale();
  EXPECT_EQ(s.DecimalSeparator, ',');
  EXPECT_EQ(s.ThousandSeparator, '.');
  EXPECT_EQ(s.ShortDateFormat, "dd.MM.yyyy");
  EXPECT_EQ(s.LongTimeFormat, "HH:mm:ss");
}

TEST(FormatSettings, scopedSettingsReplaceAndRestoreTheSettingsInForce) {
  const TFormatSettings before = FormatSettings();
  {
    ScopedFormatSettings comma(',', '.');
    EXPECT_EQ(FormatFloat("#,##0.00", 1234567.891), "1.234.567,89");
    double v = 0;
    EXPECT_TRUE(TextToFloat("25,5", v, FormatSettings()));
    EXPECT_EQ(v, 25.5);
    {
      TFormatSettings other = TFormatSettings::FromLocaleValues(".", ",", "%Y-%m-%d", "%H:%M");
      ScopedFormatSettings dot(other);
      EXPECT_EQ(FormatFloat("#,##0.00", 1234567.891), "1,234,567.89");
      EXPECT_EQ(FormatSettings().ShortDateFormat, "yyyy-MM-dd");
    }
    EXPECT_EQ(FormatFloat("##0.0", 25.44), "25,4");
    EXPECT_EQ(FormatSettings().ShortDateFormat, before.ShortDateFormat);
  }
  EXPECT_EQ(FormatSettings().DecimalSeparator, before.DecimalSeparator);
  EXPECT_EQ(FormatSettings().ThousandSeparator, before.ThousandSeparator);
  EXPECT_EQ(FormatSettings().ShortDateFormat, before.ShortDateFormat);
  EXPECT_EQ(FormatSettings().LongTimeFormat, before.LongTimeFormat);
}

TEST(DateTime, daysSinceEpochShownInTheLocaleForms) {
  TFormatSettings fs;
  fs.ShortDateFormat = "dd.MM.yyyy";
  fs.LongTimeFormat = "HH:mm:ss";
  TFormatSettings us = TFormatSettings::FromLocaleValues(".", ",", "%m/%d/%y", "%H:%M");
  struct Case {
    TDateTime T;
    std::string Date, Time, UsDate, UsTime;
  };
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  const std::vector<Case> cases = {
      {0.0, "30.12.1899", "00:00:00", "12/30/99", "00:00"},
      {2.5, "01.01.1900", "12:00:00", "01/01/00", "12:00"},
      {-1.25, "29.12.1899", "06:00:00", "12/29/99", "06:00"},
      {EncodeDateTime(2024, 2, 29, 13, 45, 30), "29.02.2024", "13:45:30", "02/29/24", "13:45"},
      {EncodeDateTime(2024, 12, 31, 23, 59, 59, 999), "31.12.2024", "23:59:59", "12/31/24", "23:59"},
      {0.99999999999, "31.12.1899", "00:00:00", "12/31/99", "00:00"}, // rounds to the next midnight
      {nan, "", "", "", ""},
      {inf, "", "", "", ""},
      {-inf, "", "", "", ""},
      {1e300, "", "", "", ""},
  };
  for (const Case &c : cases) {
    EXPECT_EQ(DateToStr(c.T, fs), c.Date) << c.T;
    EXPECT_EQ(TimeToStr(c.T, fs), c.Time) << c.T;
    EXPECT_EQ(DateToStr(c.T, us), c.UsDate) << c.T;
    EXPECT_EQ(TimeToStr(c.T, us), c.UsTime) << c.T;
  }
  EXPECT_EQ(EncodeDateTime(1899, 12, 30), 0.0);
  EXPECT_EQ(EncodeDateTime(1900, 1, 1, 12), 2.5);
  EXPECT_EQ(EncodeDateTime(1899, 12, 29, 6), -1.25);
}

TEST(DateTime, nowIsTheLocalClock) {
  auto encode = [](const QDateTime &d) {
    return EncodeDateTime(d.date().year(), d.date().month(), d.date().day(), d.time().hour(), d.time().minute(),
                          d.time().second(), d.time().msec());
  };
  const TDateTime before = encode(QDateTime::currentDateTime());
  const TDateTime now = Now();
  const TDateTime after = encode(QDateTime::currentDateTime());
  const double oneMs = 1.0 / 86400000.0;
  EXPECT_GE(now, before - oneMs);
  EXPECT_LE(now, after + oneMs);
}

} // namespace
