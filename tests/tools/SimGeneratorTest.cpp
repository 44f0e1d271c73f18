#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <set>

#include "tools/SimGenerator.h"
#include "tools/SimRecords.h"

using simtest::TKind;

namespace {

std::string Generate(const TSimOptions &options, uint64_t records, double rate = 100) {
  TSimGenerator g(options);
  std::string out;
  for (uint64_t k = 0; k < records; ++k) g.AppendRecord(out, k, double(k) / rate);
  return out;
}

// What one instrument shows, sampled every `step` seconds over `seconds`.
std::vector<double> Samples(int instrument, double seconds, double step = 0.01) {
  TSimGenerator g(TSimOptions{});
  std::vector<double> v;
  for (double t = 0; t < seconds; t += step) v.push_back(g.Value(instrument, t));
  return v;
}

} // namespace

TEST(SimGenerator, OrdinaryRecordsParseAndAddressTheInstrumentsInTurn) {
  for (char separator : {'.', ','}) {
    SCOPED_TRACE(std::string("separator ") + separator);
    TSimOptions o;
    o.DecimalSeparator = separator;
    const std::string stream = Generate(o, 1000);
    const auto items = simtest::Parse(stream, separator);
    ASSERT_EQ(items.size(), 1000u);
    for (size_t k = 0; k < items.size(); ++k) {
      ASSERT_EQ(items[k].Kind, TKind::Good) << items[k].Text;
      EXPECT_EQ(items[k].Instrument, int(1 + k % 10));
    }
    EXPECT_EQ(stream.find(separator == '.' ? ',' : '.'), std::string::npos);
    EXPECT_NE(stream.find(separator), std::string::npos);
  }
}

TEST(SimGenerator, ValuesAreWrittenWithAtMostTwoDecimals) {
  struct Case {
    double value;
    char separator;
    std::string text;
  };
  const std::vector<Case> cases = {
      {25.5, '.', "25.5"}, {25.5, ',', "25,5"}, {80, '.', "80"},      {7.25, ',', "7,25"},
      {1.1, '.', "1.1"},   {0.004, '.', "0"},   {99.999, '.', "100"}, {130, ',', "130"},
      {-0.001, '.', "0"},  {-2.5, '.', "-2.5"}, {0.05, ',', "0,05"},  {100, '.', "100"},
  };
  for (const auto &c : cases) {
    std::string out = "x";
    TSimGenerator::AppendValue(out, c.value, c.separator);
    EXPECT_EQ(out, "x" + c.text) << c.value;
  }
}

TEST(SimGenerator, WaveformsCoverTheirBandInsideTheScale) {
  struct Case {
    int instrument;
    double low, high; // the band the waveform must reach and not leave
  };
  const std::vector<Case> cases = {
      {1, 5, 95}, {2, 5, 95}, {3, 0, 100}, {4, 20, 80}, {5, 0, 100},
      {6, 0, 100}, {7, 66, 74}, {8, 5, 95}, {9, 0, 100},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.instrument);
    const auto v = Samples(c.instrument, 600);
    const auto [lo, hi] = std::minmax_element(v.begin(), v.end());
    EXPECT_GE(*lo, c.low - 1e-9);
    EXPECT_LE(*hi, c.high + 1e-9);
    // Reaches near both ends of its band (the walk and the noise within a few percent).
    EXPECT_LE(*lo, c.low + 0.05 * (c.high - c.low));
    EXPECT_GE(*hi, c.high - 0.05 * (c.high - c.low));
  }
}

TEST(SimGenerator, WaveformsDifferFromOneAnother) {
  std::vector<std::vector<double>> all;
  for (int i = 1; i <= SimInstrumentCount; ++i) all.push_back(Samples(i, 60, 0.1));
  for (size_t a = 0; a < all.size(); ++a)
    for (size_t b = a + 1; b < all.size(); ++b) {
      double most = 0;
      for (size_t k = 0; k < all[a].size(); ++k) most = std::max(most, std::fabs(all[a][k] - all[b][k]));
      EXPECT_GT(most, 10) << "instruments " << a + 1 << " and " << b + 1;
    }
}

TEST(SimGenerator, OverflowInstrumentLeavesItsRangeForThreeSecondsEveryFifteen) {
  const double step = 0.01;
  const auto v = Samples(SimOverflowInstrument, 90, step);
  std::vector<std::pair<double, double>> above; // [from, to) in seconds
  for (size_t k = 0; k < v.size(); ++k) {
    const double t = double(k) * step;
    if (v[k] > 100) {
      EXPECT_EQ(v[k], 130) << t;
      if (above.empty() || above.back().second < t - step / 2)
        above.push_back({t, t + step});
      else
        above.back().second = t + step;
    } else {
      EXPECT_GE(v[k], 20) << t;
      EXPECT_LE(v[k], 80) << t;
    }
  }
  ASSERT_EQ(above.size(), 6u);
  for (size_t n = 0; n < above.size(); ++n) {
    EXPECT_NEAR(above[n].first, 12 + 15.0 * double(n), 2 * step);
    EXPECT_NEAR(above[n].second - above[n].first, 3, 2 * step);
  }
}

TEST(SimGenerator, FastRecordsCarryTheSequenceNumber) {
  const std::vector<std::pair<uint64_t, std::string>> cases = {
      {0, "#1M0<"},          {9, "#10M9<"},       {10, "#1M10<"},      {1234567, "#8M1234567<"},
      {9999999, "#10M9999999<"}, {10000000, "#1M0<"}, {10000013, "#4M13<"},
  };
  for (const auto &[seq, text] : cases) {
    std::string out;
    TSimGenerator::AppendFastRecord(out, seq);
    EXPECT_EQ(out, text) << seq;
  }
}

TEST(SimGenerator, FastModeIgnoresNoiseAndNumbersEveryRecord) {
  TSimOptions o;
  o.Fast = true;
  o.Garbage = o.BadValues = o.UnknownInstruments = true;
  const auto items = simtest::Parse(Generate(o, 5000));
  ASSERT_EQ(items.size(), 5000u);
  for (size_t k = 0; k < items.size(); ++k) {
    ASSERT_EQ(items[k].Kind, TKind::Good) << items[k].Text;
    EXPECT_EQ(items[k].Value, double(k));
  }
}

TEST(SimGenerator, EachNoiseKindIsInjectedAndOnlyWhenAskedFor) {
  struct Case {
    const char *name;
    bool TSimOptions::*flag;
    TKind kind;
  };
  const std::vector<Case> cases = {
      {"garbage", &TSimOptions::Garbage, TKind::Garbage},
      {"bad values", &TSimOptions::BadValues, TKind::Bad},
      {"unknown instruments", &TSimOptions::UnknownInstruments, TKind::Unknown},
  };
  const uint64_t records = 2000;
  TSimOptions quiet;
  const auto plain = simtest::Only(simtest::Parse(Generate(quiet, records)), TKind::Good);
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    TSimOptions o;
    o.*c.flag = true;
    const auto items = simtest::Parse(Generate(o, records));
    // About one record in eight brings noise of the kind; none of any other kind.
    for (TKind kind : {TKind::Garbage, TKind::Bad, TKind::Unknown, TKind::Unclosed}) {
      const size_t n = simtest::Only(items, kind).size();
      if (kind == c.kind) {
        EXPECT_GT(n, records / 16);
        EXPECT_LT(n, records / 4);
      } else {
        EXPECT_EQ(n, 0u);
      }
    }
    // The ordinary records are all there, unchanged, in order.
    const auto good = simtest::Only(items, TKind::Good);
    ASSERT_EQ(good.size(), plain.size());
    for (size_t k = 0; k < good.size(); ++k) EXPECT_EQ(good[k].Text, plain[k].Text);
  }
}

TEST(SimGenerator, NoiseHasTheAdvertisedShapes) {
  TSimOptions o;
  o.Garbage = o.BadValues = o.UnknownInstruments = true;
  const auto items = simtest::Parse(Generate(o, 4000));
  std::set<std::string> badShapes;
  std::set<int> unknown;
  for (const auto &item : items) {
    if (item.Kind == TKind::Bad) {
      // Put the instrument number back into the pattern it was made from.
      std::string shape = item.Text;
      const size_t digits = shape.find_first_not_of("0123456789", 1);
      const int n = std::atoi(shape.substr(1, digits - 1).c_str());
      EXPECT_GE(n, 1);
      EXPECT_LE(n, 10);
      badShapes.insert("#%" + shape.substr(digits));
    } else if (item.Kind == TKind::Unknown) {
      unknown.insert(item.Instrument);
    } else if (item.Kind == TKind::Garbage) {
      EXPECT_GE(item.Text.size(), 1u);
      EXPECT_LE(item.Text.size(), 16u);
      EXPECT_EQ(item.Text.find_first_of("#<"), std::string::npos);
    }
  }
  EXPECT_EQ(badShapes, (std::set<std::string>{"#%MX<", "#%M1.2.3<", "#%M7M9<", "#%M<", "#%m7<", "#%M--5<"}));
  EXPECT_EQ(unknown, (std::set<int>{0, 11, 12, 20, 29, 42, 99, -1}));
}

TEST(SimGenerator, TheSeedDecidesTheBytes) {
  TSimOptions a;
  a.Garbage = a.BadValues = a.UnknownInstruments = true;
  TSimOptions b = a;
  b.Seed = 2;
  EXPECT_EQ(Generate(a, 500), Generate(a, 500));
  EXPECT_NE(Generate(a, 500), Generate(b, 500));
}

TEST(SimFastChecker, VerdictsAndCounts) {
  using V = TSimFastChecker::TVerdict;
  auto rec = [](uint64_t seq) {
    std::string s;
    TSimGenerator::AppendFastRecord(s, seq);
    return s;
  };
  struct Case {
    const char *name;
    std::vector<std::string> records;
    std::vector<V> verdicts;
    uint64_t lost, outOfOrder, malformed, expected;
  };
  const std::vector<Case> cases = {
      {"in order", {rec(0), rec(1), rec(2)}, {V::InOrder, V::InOrder, V::InOrder}, 0, 0, 0, 3},
      {"one lost", {rec(0), rec(1), rec(3)}, {V::InOrder, V::InOrder, V::AfterGap}, 1, 0, 0, 4},
      {"swapped", {rec(0), rec(2), rec(1), rec(3)}, {V::InOrder, V::AfterGap, V::OutOfOrder, V::InOrder}, 1, 1, 0, 4},
      {"repeated", {rec(0), rec(0), rec(1)}, {V::InOrder, V::OutOfOrder, V::InOrder}, 0, 1, 0, 2},
      {"wrong instrument", {rec(0), "#3M1<", rec(1)}, {V::InOrder, V::Malformed, V::InOrder}, 0, 0, 1, 2},
      {"not a fast record",
       {"#1MX<", "#1M0", "1M0<", "#1M0.5<", "#1M+0<", "#11M10<", "#0M9<"},
       {V::Malformed, V::Malformed, V::Malformed, V::Malformed, V::Malformed, V::Malformed, V::Malformed},
       0, 0, 7, 0},
      {"far behind the expected one", {rec(0), rec(1), rec(2), rec(9999999)},
       {V::InOrder, V::InOrder, V::InOrder, V::OutOfOrder}, 0, 1, 0, 3},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    TSimFastChecker checker;
    for (size_t k = 0; k < c.records.size(); ++k) EXPECT_EQ(checker.Check(c.records[k]), c.verdicts[k]) << k;
    EXPECT_EQ(checker.Received(), c.records.size());
    EXPECT_EQ(checker.Lost(), c.lost);
    EXPECT_EQ(checker.OutOfOrder(), c.outOfOrder);
    EXPECT_EQ(checker.Malformed(), c.malformed);
    EXPECT_EQ(checker.Expected(), c.expected);
    EXPECT_EQ(checker.Clean(), c.lost + c.outOfOrder + c.malformed == 0);
  }
}

TEST(SimFastChecker, ChecksValuesAsTheMetersReceiveThem) {
  using V = TSimFastChecker::TVerdict;
  TSimFastChecker checker;
  EXPECT_EQ(checker.Check(1, 0.0f), V::InOrder);
  EXPECT_EQ(checker.Check(2, 1.0f), V::InOrder);
  EXPECT_EQ(checker.Check(4, 3.0), V::AfterGap);
  EXPECT_EQ(checker.Check(5, 4.5), V::Malformed);
  EXPECT_EQ(checker.Check(5, -4.0), V::Malformed);
  EXPECT_EQ(checker.Check(5, std::nan("")), V::Malformed);
  EXPECT_EQ(checker.Check(5, 1e300), V::Malformed);
  EXPECT_EQ(checker.Check(5, 4.0), V::InOrder);
}

TEST(SimFastChecker, ACompleteCycleThroughThe32BitFloatIsCleanAcrossTheWrap) {
  TSimFastChecker checker;
  const uint64_t total = SimFastModulus + 3;
  for (uint64_t seq = 0; seq < total; ++seq) {
    const float value = float(seq % SimFastModulus); // what a meter's value holds
    ASSERT_EQ(checker.Check(TSimGenerator::InstrumentOf(seq), value), TSimFastChecker::TVerdict::InOrder) << seq;
  }
  EXPECT_TRUE(checker.Clean());
  EXPECT_EQ(checker.Expected(), total);
  EXPECT_EQ(checker.Received(), total);
}
