// The meters' value model: positions, limits, sectors, range states, min/max and the tooltip.
#include <cfloat>
#include <climits>
#include <cmath>
#include <limits>
#include <vector>

#include <QCoreApplication>
#include <QHelpEvent>
#include <gtest/gtest.h>

#include "instruments/AnBase.h"

namespace {

// Records the overridable operations and every event in order.
class TProbe : public TAnAnalogGControl {
public:
  explicit TProbe(int locks = 0) : TAnAnalogGControl(nullptr, locks) {
    OnOverflow = [this](TObject *, std::int32_t ppt) { log.push_back("overflow " + std::to_string(ppt)); };
    OnLimit = [this](TObject *, bool lower, bool upper) {
      log.push_back(std::string("limit ") + (lower ? "L" : "-") + (upper ? "U" : "-"));
    };
    OnSectorChange = [this](TObject *, bool s1, bool s2, bool s3, bool enter) {
      log.push_back(std::string("sector ") + (s1 ? "1" : "") + (s2 ? "2" : "") + (s3 ? "3" : "") +
                    (enter ? " enter" : " leave"));
    };
    OnMinMaxChange = [this](TObject *) { log.push_back("minmax"); };
    OnSettingsChange = [this](TObject *) { ++settingsChanges; };
  }
  void ParamChange(TObject *s) override {
    ++paramChanges;
    TAnAnalogGControl::ParamChange(s);
  }
  void LimitChange() override { ++limitChanges; }
  std::vector<std::string> log;
  int paramChanges = 0;
  int settingsChanges = 0;
  int limitChanges = 0;
};

std::vector<std::string> Only(const std::vector<std::string> &log, const std::string &prefix) {
  std::vector<std::string> out;
  for (const auto &e : log)
    if (e.rfind(prefix, 0) == 0) out.push_back(e);
  return out;
}

std::unique_ptr<TProbe> Loaded() {
  auto p = std::make_unique<TProbe>();
  p->Loaded();
  p->log.clear();
  return p;
}

TEST(AnalogValueModel, ConstructionClearsBothLimitFlagsOnce) {
  TProbe p;
  EXPECT_FALSE(p.UpperExceeded());
  EXPECT_FALSE(p.LowerExceeded());
  EXPECT_EQ(p.Digit(), 500);
  EXPECT_EQ(p.PPT(), 500);
  EXPECT_FLOAT_EQ(p.Value(), 50.0f);
}

TEST(AnalogValueModel, ValueGivesDigitPositionAndText) {
  auto p = Loaded();
  p->SignalSettings().SetValueFormat("##0");
  p->SetValue(25.4f);
  EXPECT_EQ(p->Digit(), 254);
  EXPECT_EQ(p->PPT(), 254);
  EXPECT_EQ(p->ValueText(), "25");
  // The text follows the latest value however many came unread, and the format it is shown in.
  for (float v : {1.0f, 99.6f, 12.34f}) p->SetValue(v);
  EXPECT_EQ(p->ValueText(), "12");
  p->SignalSettings().SetValueFormat("0.0");
  EXPECT_EQ(p->ValueText(), "12.3");
  p->SetValue(7.25f);
  EXPECT_EQ(p->ValueText(), "7.3");
}

TEST(AnalogValueModel, EventSequences) {
  struct Case {
    const char *name;
    std::vector<float> values;
    std::vector<std::string> log; // sector events left out
    std::int32_t ppt;
  };
  const std::vector<Case> cases = {
      {"overflow reported once, cleared on return", {150, 120, 50},
       {"limit -U", "overflow 1500", "limit --", "overflow 500"}, 500},
      {"underflow keeps the unclamped position", {-5}, {"limit L-", "overflow -50"}, 0},
      {"upper limit crossed and left", {95, 50}, {"limit -U", "limit --"}, 500},
      {"a value equal to a limit does not exceed it", {90, 10}, {}, 100},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    auto p = Loaded();
    for (float v : c.values) p->SetValue(v);
    std::vector<std::string> log;
    for (const auto &e : p->log)
      if (e.rfind("sector", 0) != 0 && e != "minmax") log.push_back(e);
    EXPECT_EQ(log, c.log);
    EXPECT_EQ(p->PPT(), c.ppt);
  }
}

TEST(AnalogValueModel, SectorBoundaryBelongsToTheLowerSector) {
  auto p = Loaded();
  p->SetValue(33.3f);
  EXPECT_EQ(p->PPT(), 333);
  EXPECT_TRUE(p->SectorActive(0));
  p->log.clear();
  p->SetValue(33.4f);
  EXPECT_EQ(p->PPT(), 334);
  EXPECT_TRUE(p->SectorActive(1));
  EXPECT_EQ(Only(p->log, "sector"), (std::vector<std::string>{"sector 1 leave", "sector 2 enter"}));
}

TEST(AnalogValueModel, MovingAcrossSectorsLeavesThenEnters) {
  auto p = Loaded();
  p->SetValue(30.0f);
  p->log.clear();
  p->SetValue(40.0f);
  EXPECT_EQ(Only(p->log, "sector"), (std::vector<std::string>{"sector 1 leave", "sector 2 enter"}));
}

TEST(AnalogValueModel, RefusedAndReplacedWrites) {
  auto p = Loaded();
  auto &s = p->SignalSettings();
  s.SetValueFrom(5.0f);
  s.SetValueFrom(0.0f);
  EXPECT_FLOAT_EQ(s.ValueFrom(), 0.000001f);
  s.SetValueFrom(100.0f); // equal to ValueTo: refused
  EXPECT_FLOAT_EQ(s.ValueFrom(), 0.000001f);
  s.SetValueTo(0.000001f); // equal to ValueFrom: refused
  EXPECT_FLOAT_EQ(s.ValueTo(), 100.0f);
  p->SetLimitLower(0.0f);
  EXPECT_FLOAT_EQ(p->LimitLower(), 0.0001f);
}

TEST(AnalogValueModel, LogScaleSnapsAndMapsDecades) {
  auto p = Loaded();
  p->SignalSettings().SetValueFrom(0.001f);
  p->SetLogScale(true);
  EXPECT_FLOAT_EQ(p->SignalSettings().ValueFrom(), 0.001f);
  EXPECT_FLOAT_EQ(p->SignalSettings().ValueTo(), 100.0f);
  EXPECT_NEAR(p->DigitsPerDecade(), 200.0, 1e-5); // 0.001 is not exact in single precision
  EXPECT_EQ(p->Digit(), 940);
  p->SetValue(0.0f);
  EXPECT_FLOAT_EQ(p->Value(), 50.0f);
  p->SetValue(-3.0f);
  EXPECT_FLOAT_EQ(p->Value(), 50.0f);

  struct Snap {
    float to;
    float expect;
  };
  for (const Snap s : {Snap{50, 100}, Snap{30, 10}, Snap{1000, 1000}}) {
    auto q = Loaded();
    q->SignalSettings().SetValueTo(s.to);
    q->SetLogScale(true);
    EXPECT_FLOAT_EQ(q->SignalSettings().ValueTo(), s.expect) << s.to;
  }
}

TEST(AnalogValueModel, FirstExtremesAfterLoadingAreSilent) {
  auto p = Loaded();
  p->SetValue(40.0f); // first minimum and first maximum
  EXPECT_EQ(Only(p->log, "minmax"), std::vector<std::string>{});
  EXPECT_FLOAT_EQ(p->MinMax().Min(), 40.0f);
  EXPECT_FLOAT_EQ(p->MinMax().Max(), 40.0f);
  p->SetValue(30.0f);
  EXPECT_EQ(Only(p->log, "minmax"), std::vector<std::string>{"minmax"});
  p->SetValue(60.0f);
  EXPECT_EQ(Only(p->log, "minmax"), (std::vector<std::string>{"minmax", "minmax"}));
  EXPECT_EQ(p->MinPPT(), 300);
  EXPECT_EQ(p->MaxPPT(), 600);
}

TEST(AnalogValueModel, TooltipParts) {
  ScopedFormatSettings fs('.', ',');
  struct Case {
    THintOptions options;
    int lines;
    const char *first;
  };
  const std::vector<Case> cases = {
      {AllHintOptions, 5, "Value= 25.0 %"},
      {HintBit(hoAutoHint) | HintBit(hoName2), 1, "#07"},
      {HintBit(hoAutoHint) | HintBit(hoName1) | HintBit(hoName2), 2, "SignalName1"},
      {HintBit(hoAutoHint) | HintBit(hoMin), 1, "MIN= 25.0 %"},
  };
  for (const auto &c : cases) {
    auto p = Loaded();
    p->SignalSettings().SetName2("#07");
    p->SetHintOptions(c.options);
    p->SetValue(25.0f);
    const std::string hint = p->Hint();
    EXPECT_EQ(std::count(hint.begin(), hint.end(), '\r'), c.lines - 1) << hint;
    EXPECT_EQ(hint.substr(0, hint.find('\r')), c.first);
    EXPECT_NE(hint.back(), '\r');
  }
  auto p = Loaded();
  p->SetValue(25.0f);
  const std::string all = p->Hint();
  // The minimum line carries the date and the time after single blanks.
  const auto minLine = all.substr(all.find('\r') + 1, all.find('\r', all.find('\r') + 1) - all.find('\r') - 1);
  EXPECT_EQ(minLine.rfind("MIN= 25.0 % ", 0), 0u) << minLine;
  EXPECT_EQ(std::count(minLine.begin(), minLine.end(), ' '), 4) << minLine;
}

TEST(AnalogValueModel, NoUndefinedBehaviourForAnyFloat) {
  const float inf = std::numeric_limits<float>::infinity();
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const std::vector<float> values = {inf, -inf, nan, 3e38f, -3e38f, FLT_MAX, -FLT_MAX, FLT_MIN, 1e-45f, 0.0f, -0.0f};
  struct Range {
    float from, to;
    bool log;
  };
  const std::vector<Range> ranges = {{0.001f, 100, false}, {100, 0.001f, false}, {0.001f, 100, true}, {-5, -5.5f, false},
                                     {-FLT_MAX, FLT_MAX, false}, {0, 1e-30f, false}};
  for (const auto &r : ranges) {
    for (float v : values) {
      auto p = Loaded();
      p->SignalSettings().SetValueFrom(r.from);
      p->SignalSettings().SetValueTo(r.to);
      p->SetLogScale(r.log);
      p->SetValue(v);
      EXPECT_GE(p->PPT(), 0);
      EXPECT_LE(p->PPT(), 1000);
      for (std::int32_t d : {INT_MAX, INT_MIN, 0, -1}) p->SetDigit(d);
      EXPECT_GE(p->PPT(), 0);
      EXPECT_LE(p->PPT(), 1000);
      p->SetLimitUpper(v);
      p->SetLimitLower(v);
      p->SignalSettings().SetDigitalFrom(INT_MIN);
      p->SignalSettings().SetDigitalTo(INT_MAX);
      p->SetValue(1.0f);
      EXPECT_FALSE(p->ValueText().empty());
    }
  }
}

TEST(AnalogValueModel, UpdateLockDefersParamChange) {
  TProbe p(1);
  p.Loaded();
  p.SignalSettings().SetName1("x");
  EXPECT_EQ(p.paramChanges, 1); // the change notifies, the base honours the lock in RequestParamChange
  p.paramChanges = 0;
  p.RequestParamChange();
  EXPECT_EQ(p.paramChanges, 0);
  p.EndUpdate();
  EXPECT_EQ(p.paramChanges, 1);
  p.EndUpdate(); // never below zero
  EXPECT_EQ(p.UpdateCount(), 0);
}

TEST(AnalogValueModel, SettingsNotifyNobodyBeforeLoading) {
  TProbe p;
  p.SignalSettings().SetName1("x");
  p.SectorSettings().SetSector1To(100);
  EXPECT_EQ(p.paramChanges, 0);
  p.Loaded();
  p.SectorSettings().SetSector1To(200);
  EXPECT_EQ(p.paramChanges, 1);
  EXPECT_EQ(p.settingsChanges, 1);
}

TEST(SignalSettings, AssignCopiesThroughSettersAndTheRangeAsAPair) {
  TSignalSettings a, b;
  a.SetValueTo(200.0f);
  a.SetValueFrom(100.0f); // the target's ValueTo is 100: one bound at a time would refuse this start
  a.SetName1("n");
  int changes = 0;
  b.OnChange = [&](TObject *) { ++changes; };
  b.Assign(a);
  EXPECT_FLOAT_EQ(b.ValueFrom(), 100.0f);
  EXPECT_FLOAT_EQ(b.ValueTo(), 200.0f);
  EXPECT_EQ(b.Name1(), "n");
  EXPECT_EQ(changes, 2); // the range once, the name once
  TSectorSettings s;
  EXPECT_THROW(b.Assign(s), EConvertError);
}

TEST(SignalSettings, ARangeValidAsAPairTakesWhateverTheOldOneAndAnInvalidOneIsRefusedWhole) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  struct TCase {
    const char *Name;
    bool Log;
    float OldFrom, OldTo, From, To;
    bool Taken;
    float WantFrom, WantTo;
  };
  const TCase cases[] = {
      {"new start is the old end", false, 0.001f, 100, 100, 200, true, 100, 200},
      {"new end is the old start", false, 100, 200, 0.001f, 100, true, 0.001f, 100},
      {"bounds swapped", false, 0.001f, 100, 100, 0.001f, true, 100, 0.001f},
      {"old range reversed", false, 200, 100, 100, 200, true, 100, 200},
      {"the same pair", false, 10, 20, 10, 20, true, 10, 20},
      {"equal bounds", false, 0.001f, 100, 50, 50, false, 0.001f, 100},
      {"start 0 becomes 0.000001, then equal", false, 0.001f, 100, 0, 0.000001f, false, 0.001f, 100},
      {"start 0 becomes 0.000001", false, 5, 100, 0, 100, true, 0.000001f, 100},
      {"NaN start", false, 0.001f, 100, nan, 200, false, 0.001f, 100},
      {"NaN end", false, 0.001f, 100, 100, nan, false, 0.001f, 100},
      {"log: both snap", true, 0.001f, 100, 3, 50, true, 1, 100},
      {"log: new start is the old end", true, 0.001f, 100, 100, 1000, true, 100, 1000},
      {"log: the end keeps its value where snapping would meet the start", true, 0.001f, 100, 2, 2.5f, true, 1, 2.5f},
      {"log: the start keeps its value where snapping would meet the end", true, 0.001f, 100, 8, 10, true, 8, 10},
  };
  for (const TCase &c : cases) {
    SCOPED_TRACE(c.Name);
    TSignalSettings s;
    s.SetValueTo(1e6f);
    s.SetValueFrom(c.OldFrom);
    s.SetValueTo(c.OldTo);
    s.SetLogScaleFlag(c.Log);
    ASSERT_FLOAT_EQ(s.ValueFrom(), c.OldFrom);
    ASSERT_FLOAT_EQ(s.ValueTo(), c.OldTo);
    int changes = 0;
    s.OnChange = [&](TObject *) { ++changes; };
    EXPECT_EQ(s.SetValueRange(c.From, c.To), c.Taken);
    EXPECT_FLOAT_EQ(s.ValueFrom(), c.WantFrom);
    EXPECT_FLOAT_EQ(s.ValueTo(), c.WantTo);
    EXPECT_EQ(changes, c.WantFrom == c.OldFrom && c.WantTo == c.OldTo ? 0 : 1);
  }
}

TEST(SignalSettings, RangeDerivation) {
  struct Case {
    float from, to, span, perValue;
  };
  const std::vector<Case> cases = {
      {0, 100, 100, 10}, {-50, 50, 100, 10}, {-100, -50, 50, 20}, {10, 0, 10, 100}, // last keeps 10…0's previous
  };
  TSignalSettings s;
  for (const auto &c : cases) {
    s.SetValueFrom(c.from);
    s.SetValueTo(c.to);
    if (c.to == 0) {
      s.SetValueTo(20);
      s.SetValueFrom(10); // span 10
      s.SetValueTo(0);    // reversed: span and factors stay
    }
    EXPECT_FLOAT_EQ(s.ValueSpan(), c.span) << c.from << ".." << c.to;
    EXPECT_FLOAT_EQ(s.DigitsPerValue(), c.perValue) << c.from << ".." << c.to;
  }
}

TEST(SignalSettings, WidestSectionAndDecades) {
  EXPECT_EQ(WidestSection("##0.0"), "##0.0");
  EXPECT_EQ(WidestSection("0.00;(0.00)"), "(0.00)");
  EXPECT_EQ(WidestSection("000;00"), "000");
  EXPECT_EQ(WidestSection("00;00"), "00");
  EXPECT_EQ(WidestSection("0;0.0;zero"), "0.0;zero");
  EXPECT_DOUBLE_EQ(SnapToDecade(50), 100);
  EXPECT_DOUBLE_EQ(SnapToDecade(30), 10);
  EXPECT_DOUBLE_EQ(SnapToDecade(0.001), 0.001);
  EXPECT_DOUBLE_EQ(SnapToDecade(0), 1);
  EXPECT_DOUBLE_EQ(SnapToDecade(-7), 1);
}

TEST(SectorSettings, ColourAtPositionAndAssignOrder) {
  TSectorSettings s;
  TColor c = 0;
  EXPECT_TRUE(s.SectorColorAt(333, c));
  EXPECT_EQ(c, clYellow);
  EXPECT_TRUE(s.SectorColorAt(334, c));
  EXPECT_EQ(c, clGreen);
  EXPECT_TRUE(s.SectorColorAt(1000, c));
  EXPECT_EQ(c, clRed);
  EXPECT_FALSE(s.SectorColorAt(1001, c));
  TSectorSettings t;
  t.SetOffset(7);
  s.SetSector2Color(clBlue);
  s.SetOffset(3);
  t.Assign(s);
  EXPECT_EQ(t.Sector2Color(), clBlue);
  EXPECT_EQ(t.Offset(), 7);
}

} // namespace

namespace {
TEST(AnalogValueModel, TooltipShownFollowsTheLastValue) {
  auto p = Loaded();
  p->SignalSettings().SetValueFormat("##0");
  p->SetValue(12.0f);
  p->SetValue(34.0f);
  QHelpEvent help(QEvent::ToolTip, QPoint(1, 1), QPoint(1, 1));
  QCoreApplication::sendEvent(p.get(), &help);
  EXPECT_TRUE(p->toolTip().startsWith("Value= 34 %\nMIN= 12 %")) << p->toolTip().toStdString();
  // Options changed after the last value keep the text that value made.
  p->SetValue(56.0f);
  p->SetHintOptions(HintBit(hoAutoHint) | HintBit(hoName1));
  EXPECT_EQ(p->Hint().rfind("Value= 56 %\r", 0), 0u) << p->Hint();
  p->SetValue(57.0f);
  EXPECT_EQ(p->Hint(), "SignalName1");
}
} // namespace
