// The scale's settings rules, its label list and the metrics derived from the label font.
#include <algorithm>
#include <cmath>
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "instruments/AnScale.h"
#include "platform/FormatSettings.h"

namespace {

TEST(ScaleSettings, startsWithArial14WhoseChangesNotify) {
  TScaleSettings s;
  EXPECT_EQ(s.Font().Name(), "Arial");
  EXPECT_EQ(s.Font().Size(), 14);
  std::vector<TObject *> senders;
  s.OnChange = [&](TObject *sender) { senders.push_back(sender); };
  s.Font().SetStyle(fsBold);
  EXPECT_EQ(senders, std::vector<TObject *>{&s});
}

// Each write twice: how many notifications follow, and what is then held.
TEST(ScaleSettings, settersKeepTheirRulesAndNotify) {
  struct Case {
    const char *name;
    std::function<void(TScaleSettings &)> write;
    std::function<bool(const TScaleSettings &)> holds;
    int notifications;
  };
  const Case cases[] = {
      {"Steps 0", [](auto &s) { s.SetSteps(0); }, [](auto &s) { return s.Steps() == 5; }, 0},
      {"Steps 25", [](auto &s) { s.SetSteps(25); }, [](auto &s) { return s.Steps() == 5; }, 0},
      {"Steps 21", [](auto &s) { s.SetSteps(21); }, [](auto &s) { return s.Steps() == 5; }, 0},
      {"Steps 1", [](auto &s) { s.SetSteps(1); }, [](auto &s) { return s.Steps() == 1; }, 1},
      {"Steps 20", [](auto &s) { s.SetSteps(20); }, [](auto &s) { return s.Steps() == 20; }, 1},
      {"SubSteps 0", [](auto &s) { s.SetSubSteps(0); }, [](auto &s) { return s.SubSteps() == 2; }, 0},
      {"SubSteps 11", [](auto &s) { s.SetSubSteps(11); }, [](auto &s) { return s.SubSteps() == 2; }, 0},
      {"SubSteps 1", [](auto &s) { s.SetSubSteps(1); }, [](auto &s) { return s.SubSteps() == 1; }, 1},
      {"SubSteps 10", [](auto &s) { s.SetSubSteps(10); }, [](auto &s) { return s.SubSteps() == 10; }, 1},
      {"DrawLine unchanged", [](auto &s) { s.SetDrawLine(true); }, [](auto &s) { return s.DrawLine(); }, 2},
      {"DrawLine off", [](auto &s) { s.SetDrawLine(false); }, [](auto &s) { return !s.DrawLine(); }, 2},
      {"Color", [](auto &s) { s.SetColor(clRed); }, [](auto &s) { return s.Color() == clRed; }, 1},
      {"PointerColor", [](auto &s) { s.SetPointerColor(clRed); }, [](auto &s) { return s.PointerColor() == clRed; },
       1},
      {"PosLeftTop", [](auto &s) { s.SetPosLeftTop(true); }, [](auto &s) { return s.PosLeftTop(); }, 1},
      {"ValueFormat", [](auto &s) { s.SetValueFormat("0.00"); }, [](auto &s) { return s.ValueFormat() == "0.00"; },
       1},
      {"ValueFormatLog", [](auto &s) { s.SetValueFormatLog("0E+0"); },
       [](auto &s) { return s.ValueFormatLog() == "0E+0"; }, 1},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    TScaleSettings s;
    int n = 0;
    s.OnChange = [&](TObject *) { ++n; };
    c.write(s);
    c.write(s);
    EXPECT_TRUE(c.holds(s));
    EXPECT_EQ(n, c.notifications);
  }
}

TEST(ScaleSettings, setFontCopiesAndAlwaysNotifies) {
  TScaleSettings s;
  int n = 0;
  s.OnChange = [&](TObject *) { ++n; };
  TFont f;
  f.SetName("Courier New");
  f.SetSize(9);
  s.SetFont(f);
  EXPECT_EQ(s.Font().Name(), "Courier New");
  EXPECT_EQ(s.Font().Size(), 9);
  EXPECT_EQ(n, 2) << "the font's own change, then the setter's";
  s.SetFont(f);
  EXPECT_EQ(n, 3) << "an equal font still notifies once";
}

TEST(ScaleSettings, assignCopiesThroughTheSettersInStreamOrder) {
  TScaleSettings src;
  src.SetColor(clRed);
  src.SetDrawLine(false);
  TFont f;
  f.SetName("Courier New");
  src.SetFont(f);
  src.SetPointerColor(clBlue);
  src.SetPosLeftTop(true);
  src.SetSteps(7);
  src.SetSubSteps(3);
  src.SetValueFormat("0.0");
  src.SetValueFormatLog("0E+0");

  TScaleSettings dst;
  // At every notification, name the fields that have just come to equal the source's.
  std::vector<std::string> order;
  auto same = [&]() {
    return std::vector<std::pair<std::string, bool>>{
        {"Color", dst.Color() == src.Color()},
        {"DrawLine", dst.DrawLine() == src.DrawLine()},
        {"Font", dst.Font() == src.Font()},
        {"PointerColor", dst.PointerColor() == src.PointerColor()},
        {"PosLeftTop", dst.PosLeftTop() == src.PosLeftTop()},
        {"Steps", dst.Steps() == src.Steps()},
        {"SubSteps", dst.SubSteps() == src.SubSteps()},
        {"ValueFormat", dst.ValueFormat() == src.ValueFormat()},
        {"ValueFormatLog", dst.ValueFormatLog() == src.ValueFormatLog()},
    };
  };
  auto previous = same();
  dst.OnChange = [&](TObject *) {
    const auto now = same();
    std::string changed;
    for (std::size_t i = 0; i < now.size(); ++i)
      if (now[i].second && !previous[i].second)
        changed += now[i].first;
    order.push_back(changed.empty() ? "-" : changed);
    previous = now;
  };
  dst.Assign(src);
  const std::vector<std::string> expected = {"Color", "DrawLine", "Font", "-", "PointerColor", "PosLeftTop",
                                             "Steps", "SubSteps", "ValueFormat", "ValueFormatLog"};
  EXPECT_EQ(order, expected);
}

// ---------------------------------------------------------------------------------------------
// Label list

struct LabelCase {
  const char *name;
  bool log;
  int steps;
  float from, to;
  const char *pattern;
  char decimal;
  const char *expected;
  int logSteps, logFrom, logTo;
};

TEST(ScaleLabels, listRunsFromTheTopOfTheRangeDown) {
  const LabelCase cases[] = {
      {"linear, bottom 0.001 shows as 0.0", false, 5, 0.001f, 100.0f, "##0.0", '.',
       "100.0;80.0;60.0;40.0;20.0;0.0;", 1, 0, 0},
      {"linear, decimal comma", false, 4, -1.0f, 1.0f, "0.0", ',', "1,0;0,5;0,0;-0,5;-1,0;", 1, 0, 0},
      {"linear, reversed range", false, 2, 10.0f, 0.0f, "##0", '.', "0;5;10;", 1, 0, 0},
      {"log, five decades in five steps", true, 5, 0.001f, 100.0f, "0e-0", '.', "1e2;1e1;1e0;1e-1;1e-2;1e-3;",
       5, -3, 2},
      {"log, four steps do not divide five decades", true, 4, 0.001f, 100.0f, "0e-0", '.', "1e2;1e-3;", 1, -3, 2},
      {"log, six decades, largest divisor up to five", true, 5, 0.001f, 1000.0f, "0e-0", '.',
       "1e3;1e1;1e-1;1e-3;", 3, -3, 3},
      {"log, a single decade", true, 5, 1.0f, 10.0f, "0e-0", '.', "1e1;1e0;", 1, 0, 1},
      {"log, no decade", true, 5, 1.0f, 1.0f, "0e-0", '.', "1e0;", 1, 0, 0},
      // log10 0.04 = -1.4 and log10 300 = 2.48: the exponents -1 and 2.
      {"log, bounds round to the nearest decade", true, 3, 0.04f, 300.0f, "0e-0", '.', "1e2;1e1;1e0;1e-1;", 3, -1,
       2},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    TScaleSettings s;
    s.SetLogScaleFlag(c.log);
    s.SetSteps(c.steps);
    s.SetValueFormat(c.pattern);
    s.SetValueFormatLog(c.pattern);
    TFormatSettings fs;
    fs.DecimalSeparator = c.decimal;
    fs.ThousandSeparator = c.decimal == ',' ? '.' : ',';
    EXPECT_EQ(BuildLabelList(s, c.from, c.to, fs), c.expected);
    EXPECT_EQ(s.LabelList, c.expected);
    if (c.log) {
      EXPECT_EQ(s.LogSteps, c.logSteps);
      EXPECT_EQ(s.LogFrom, c.logFrom);
      EXPECT_EQ(s.LogTo, c.logTo);
    }
  }
}

TEST(ScaleLabels, unusableLogBoundsGiveABoundedList) {
  const float bounds[][2] = {{0.0f, 100.0f},  {-5.0f, 100.0f}, {1.0f, 1e38f},
                             {1.0f, INFINITY}, {NAN, 100.0f},   {0.001f, 0.0f}};
  for (const auto &b : bounds) {
    SCOPED_TRACE(std::to_string(b[0]) + " .. " + std::to_string(b[1]));
    TScaleSettings s;
    s.SetLogScaleFlag(true);
    s.SetSteps(20);
    const std::string list = BuildLabelList(s, b[0], b[1], TFormatSettings{});
    const auto labels = std::count(list.begin(), list.end(), ';');
    EXPECT_GE(labels, 1);
    EXPECT_LE(labels, s.LogSteps + 1);
  }
}

// ---------------------------------------------------------------------------------------------
// Metrics

TEST(ScaleMetrics, followTheLabelFontHeight) {
  struct Case {
    int labelWidth, labelHeight;
    bool log;
    int logSteps;
    int tickWidth, labelGap, tickLength, subTickLength, scaleWidth, scaleMinHeight;
  };
  const Case cases[] = {
      // 23 / 14 = 1.64 → 2; 23 / 1.4 = 16.4 → 16; 16 / 1.4 = 11.4 → 11; 23 × 5 × 1.4 = 161.
      {30, 23, false, 0, 2, 7, 16, 11, 30 + 16 + 7, 161},
      // One-pixel ticks take half the main tick length: 10 div 2.
      {20, 14, false, 0, 1, 4, 10, 5, 20 + 10 + 4, 98},
      // A log scale counts its label steps: 23 × 1 × 1.4 = 32.2.
      {30, 23, true, 1, 2, 7, 16, 11, 53, 32},
      {30, 23, true, 5, 2, 7, 16, 11, 53, 161},
      // 21 / 14 = 1.5 rounds to 2; 15 / 1.4 = 10.7 → 11.
      {10, 21, false, 0, 2, 7, 15, 11, 32, 147},
      // 7 / 14 = 0.5 rounds to 0: not one, so the sub tick is 5 / 1.4 = 3.6 → 4.
      {10, 7, false, 0, 0, 2, 5, 4, 17, 49},
      {0, 0, false, 0, 0, 0, 0, 0, 0, 0},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(std::to_string(c.labelHeight) + (c.log ? " log" : " linear"));
    TScaleSettings s;
    s.SetLogScaleFlag(c.log);
    s.LogSteps = c.logSteps;
    ComputeScaleMetrics(s, c.labelWidth, c.labelHeight);
    EXPECT_EQ((std::vector{s.LabelWidth, s.LabelHeight, s.TickWidth, s.LabelGap, s.TickLength, s.SubTickLength,
                           s.ScaleWidth, s.ScaleMinHeight, s.SubTickWidth}),
              (std::vector{c.labelWidth, c.labelHeight, c.tickWidth, c.labelGap, c.tickLength, c.subTickLength,
                           c.scaleWidth, c.scaleMinHeight, 1}));
  }
}

TEST(ScaleMetrics, hugeExtentsSaturate) {
  constexpr int kMax = 2147483647;
  TScaleSettings s;
  ComputeScaleMetrics(s, kMax, kMax);
  EXPECT_EQ(std::pair(s.ScaleWidth, s.ScaleMinHeight), std::pair(kMax, kMax));
  ComputeScaleMetrics(s, -kMax - 1, -kMax - 1);
  EXPECT_EQ(std::pair(s.ScaleWidth, s.ScaleMinHeight), std::pair(-kMax - 1, -kMax - 1));
}

} // namespace
