// The trend history: which slot of each span a value lands in, minimum, maximum and last value,
// what the ring forgets, the memory an hour at full speed takes, and the ticks it gives the
// charts; and the chart arithmetic: window, columns, rows, clock labels, legend and layout.
#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "instruments/TrendGeometry.h"
#include "instruments/TrendHistory.h"

namespace {

constexpr std::int64_t Ms = 1'000'000;
constexpr std::int64_t S = 1'000'000'000;
constexpr float Inf = std::numeric_limits<float>::infinity();

TTrendSlot SlotAt(const TTrendHistory &h, int instrument, TTrendSpan span, std::int64_t slot) {
  std::vector<TTrendSlot> out;
  h.Read(instrument, span, slot, 1, out);
  return out[0];
}

TEST(TrendHistory, valuesLandInTheSlotOfTheirTimeInEverySpan) {
  // Slot lengths: 2.5 ms, 15 ms, 150 ms, 900 ms. A value exactly on a boundary opens the slot
  // that starts there.
  struct Case {
    std::int64_t TimeNs;
    std::int64_t Slot[TrendSpanCount];
  } cases[] = {
      {0, {0, 0, 0, 0}},
      {2'499'999, {0, 0, 0, 0}},
      {2'500'000, {1, 0, 0, 0}},
      {15 * Ms, {6, 1, 0, 0}},
      {150 * Ms - 1, {59, 9, 0, 0}},
      {150 * Ms, {60, 10, 1, 0}},
      {900 * Ms, {360, 60, 6, 1}},
      {3600 * S + 1, {1'440'000, 240'000, 24'000, 4000}},
  };
  for (const Case &c : cases) {
    TTrendHistory h;
    h.AddAt(3, 42.5f, c.TimeNs);
    for (int span = 0; span < TrendSpanCount; ++span) {
      const auto s = TTrendSpan(span);
      EXPECT_EQ(SlotAt(h, 3, s, c.Slot[span]).Last, 42.5f) << c.TimeNs << " span " << span;
      EXPECT_TRUE(SlotAt(h, 3, s, c.Slot[span] - 1).Empty()) << c.TimeNs << " span " << span;
      EXPECT_TRUE(SlotAt(h, 3, s, c.Slot[span] + 1).Empty()) << c.TimeNs << " span " << span;
    }
  }
}

TEST(TrendHistory, aSlotKeepsMinimumMaximumAndLastValue) {
  struct Case {
    std::vector<float> Values;
    float Min, Max, Last;
  } cases[] = {
      {{5}, 5, 5, 5},
      {{5, 9, 1, 4}, 1, 9, 4},
      {{-3, -7}, -7, -3, -7},
      {{Inf, 2, -Inf}, -Inf, Inf, -Inf},
      {{1, std::nanf(""), 2}, 1, 2, 2}, // NaN is no value
  };
  for (const Case &c : cases) {
    TTrendHistory h;
    for (std::size_t i = 0; i < c.Values.size(); ++i) h.AddAt(1, c.Values[i], 1000 + std::int64_t(i));
    const TTrendSlot s = SlotAt(h, 1, ts10s, 0);
    EXPECT_EQ(s.Min, c.Min);
    EXPECT_EQ(s.Max, c.Max);
    EXPECT_EQ(s.Last, c.Last);
  }
}

TEST(TrendHistory, theRingForgetsWhatLiesBeyondItsSpanOnly) {
  TTrendHistory h;
  const std::int64_t slotNs = TrendSlotNs(ts10s);
  h.AddAt(2, 1.0f, 0);
  // Still held one ring length later, gone one slot beyond.
  h.AddAt(2, 2.0f, (TrendRingSlots - 1) * slotNs);
  EXPECT_EQ(SlotAt(h, 2, ts10s, 0).Last, 1.0f);
  h.AddAt(2, 3.0f, TrendRingSlots * slotNs);
  EXPECT_TRUE(SlotAt(h, 2, ts10s, 0).Empty());
  EXPECT_EQ(SlotAt(h, 2, ts10s, TrendRingSlots).Last, 3.0f);
  // The longer spans still hold the first value; a value older than the ring is not taken.
  EXPECT_EQ(SlotAt(h, 2, ts1min, 0).Min, 1.0f);
  h.AddAt(2, 9.0f, 0);
  EXPECT_TRUE(SlotAt(h, 2, ts10s, 0).Empty());
  // A jump far ahead empties the ring; slots after the newest read empty.
  h.AddAt(2, 4.0f, 100 * TrendRingSlots * slotNs);
  EXPECT_TRUE(SlotAt(h, 2, ts10s, TrendRingSlots).Empty());
  EXPECT_TRUE(SlotAt(h, 2, ts10s, 100 * TrendRingSlots + 1).Empty());
  // Other instruments and numbers out of range are untouched.
  EXPECT_EQ(h.Count(2), 5u);
  EXPECT_EQ(h.Count(1), 0u);
  h.AddAt(0, 1, 0);
  h.AddAt(11, 1, 0);
  EXPECT_EQ(h.Count(0) + h.Count(11), 0u);
}

TEST(TrendHistory, anHourOfTenInstrumentsAtFullSpeedStaysWithinItsMemory) {
  TTrendHistory h;
  const std::size_t before = h.MemoryBytes();
  EXPECT_LE(before, 32u << 20);
  // 37,500 records/s for the first and the last ten seconds of an hour, one a second between:
  // every slot of every ring is passed over.
  const std::int64_t step = S / 37'500;
  std::int64_t t = 0;
  auto burst = [&](std::int64_t until) {
    for (int i = 0; t < until; t += step, ++i) h.AddAt(1 + i % 10, float(i % 1000), t);
  };
  burst(10 * S);
  for (; t < 3590 * S; t += S)
    for (int n = 1; n <= 10; ++n) h.AddAt(n, 1.0f, t);
  burst(3600 * S);
  EXPECT_EQ(h.MemoryBytes(), before);
  // The hour's span still reaches back to the first burst; the 10 s span holds only the last.
  EXPECT_FALSE(SlotAt(h, 1, ts1h, 0).Empty());
  EXPECT_EQ(SlotAt(h, 1, ts1h, 0).Max, 990.0f);
  EXPECT_TRUE(SlotAt(h, 1, ts10s, 0).Empty());
}

struct Client : TTrendClient {
  bool Busy = false;
  int Ticks = 0;
  bool TrendTick() override {
    ++Ticks;
    return Busy;
  }
};

TEST(TrendHistory, ticksRunWhileAChartHasSomethingToMoveAndRestartWithTheNextRecord) {
  TTrendHistory h;
  Client a, b;
  EXPECT_FALSE(h.Ticking());
  h.Subscribe(&a);
  h.Subscribe(&a);
  EXPECT_TRUE(h.Ticking());
  h.Subscribe(&b);
  b.Busy = true;
  h.Tick();
  EXPECT_EQ(a.Ticks, 1);
  EXPECT_TRUE(h.Ticking());
  b.Busy = false;
  h.Tick();
  EXPECT_FALSE(h.Ticking());
  h.AddAt(1, 1.0f, 0);
  EXPECT_TRUE(h.Ticking());
  h.Unsubscribe(&a);
  h.Unsubscribe(&b);
  EXPECT_FALSE(h.Ticking());
  h.AddAt(1, 1.0f, 0);
  EXPECT_FALSE(h.Ticking());
}

// ---- Chart arithmetic ------------------------------------------------------------------------

TEST(TrendGeometry, theWindowEndsWithTheColumnOfItsEndTimeAndColumnsAreRunsOfWholeSlots) {
  struct Case {
    TTrendSpan Span;
    int Columns;
  } cases[] = {{ts10s, 400}, {ts1min, 600}, {ts1min, 437}, {ts10min, 1}, {ts1h, 3999}, {ts1h, 4000}};
  for (const Case &c : cases) {
    const std::int64_t end = 1000 * S + 50 * Ms;
    const TTrendWindow w = TrendWindow(c.Span, c.Columns, end);
    EXPECT_EQ(w.EndNs() - w.StartNs(), TrendSpanNs[c.Span]) << c.Columns;
    EXPECT_EQ(w.ColumnOf(end), c.Columns - 1);
    EXPECT_EQ(w.ColumnOf(w.StartNs()), 0);
    EXPECT_EQ(w.ColumnOf(w.StartNs() - 1), -1);
    EXPECT_EQ(w.ColumnOf(w.EndNs()), c.Columns);
    // Every column starts on a slot boundary; its first nanosecond is its own, the one before
    // is the previous column's.
    for (int k = 0; k < c.Columns; k += std::max(1, c.Columns / 7)) {
      const std::int64_t start = w.ColumnStartNs(k);
      EXPECT_EQ(start % w.SlotNs, 0);
      EXPECT_EQ(w.ColumnOf(start), k);
      EXPECT_EQ(w.ColumnOf(start - 1), k - 1);
    }
  }
  // 10 s over 400 columns: ten 2.5 ms slots each.
  const TTrendWindow w = TrendWindow(ts10s, 400, 0);
  EXPECT_EQ(w.ColumnStartNs(1) - w.ColumnStartNs(0), 25 * Ms);
  // Wider than the slots allow is cut to one slot per column.
  EXPECT_EQ(TrendWindow(ts10s, 5000, 0).Columns, TrendSlotsPerSpan);
}

TEST(TrendGeometry, slotsGatherIntoTheirColumns) {
  const TTrendWindow w = TrendWindow(ts10s, 400, 20 * S - 1);
  const TSlotRange r = SlotsOfWindow(w);
  EXPECT_EQ(r.First * TrendSlotNs(ts10s), w.StartNs());
  EXPECT_EQ(r.Count, 4000u);
  std::vector<TTrendSlot> in(r.Count);
  in[0].Add(1);
  in[9].Add(7);  // still column 0
  in[10].Add(3); // column 1
  in[3999].Add(-2);
  std::vector<TTrendSlot> cols;
  GatherColumns(in, r.First, w, cols);
  ASSERT_EQ(cols.size(), 400u);
  EXPECT_EQ(cols[0].Min, 1);
  EXPECT_EQ(cols[0].Max, 7);
  EXPECT_EQ(cols[0].Last, 7);
  EXPECT_EQ(cols[1].Last, 3);
  EXPECT_TRUE(cols[2].Empty());
  EXPECT_EQ(cols[399].Last, -2);
  // Slots read from before the window and beyond it stay out.
  std::vector<TTrendSlot> wider(r.Count + 20);
  wider[0].Add(5);
  wider[r.Count + 19].Add(6);
  GatherColumns(wider, r.First - 10, w, cols);
  for (const TTrendSlot &s : cols) EXPECT_TRUE(s.Empty());
}

TEST(TrendGeometry, valuesMapToRowsAndBeyondTheAxisToItsEdge) {
  const TValueAxis a{0, 100, 10, 111}; // rows 10 … 110
  struct Case {
    double Value;
    int Row;
  } cases[] = {{0, 110}, {100, 10}, {50, 60}, {25, 85}, {150, 10}, {-5, 110}, {Inf, 10}, {-Inf, 110}, {1e300, 10}};
  for (const Case &c : cases) EXPECT_EQ(a.Y(c.Value), c.Row) << c.Value;

  std::vector<TTrendSlot> cols(4);
  cols[0].Add(50);
  cols[1].Add(100);
  cols[1].Add(150); // above
  cols[3].Add(-10); // below, after a gap
  std::vector<TColumnPixels> px;
  ColumnPixels(cols, a, px);
  EXPECT_EQ(px[0], (TColumnPixels{60, 60, 60, tcPresent}));
  // Joined to the column before: from its last row to this one's top.
  EXPECT_EQ(px[1], (TColumnPixels{10, 60, 10, tcPresent | tcAbove}));
  EXPECT_EQ(px[2].Flags, 0);
  EXPECT_EQ(px[3], (TColumnPixels{110, 110, 110, tcPresent | tcBelow}));
  // The newest column's last value draws nothing yet: frames that differ only there are equal.
  cols[3].Add(50);
  ColumnPixels(cols, a, px);
  std::vector<TColumnPixels> again;
  cols[3].Add(20);
  ColumnPixels(cols, a, again);
  EXPECT_EQ(again, px);
  cols[1].Add(20); // not the newest: its last value joins the next column
  ColumnPixels(cols, a, again);
  EXPECT_NE(again[1].LastY, px[1].LastY);
}

TEST(TrendGeometry, clockLabelsStandAtWholeStepsOfLocalTime) {
  // 1 min over 600 columns, ending at 12:00:00.05 UTC of some day; local time is UTC+2.
  const std::int64_t unixOffsetMs = 1'700'000'000'000LL - 1000 * 1000; // steady 1000 s is 2023-11-14 22:13:20 UTC
  const TTrendWindow w = TrendWindow(ts1min, 600, 1000 * S + 50 * Ms);
  EXPECT_EQ(TimeLabelStep(w, 75), 10);
  EXPECT_EQ(TimeLabelStep(w, 5), 1);
  EXPECT_EQ(TimeLabelStep(TrendWindow(ts1h, 300, 0), 70), 900);
  const auto labels = TimeLabels(w, 10, unixOffsetMs, 2 * 3600 * 1000);
  ASSERT_EQ(labels.size(), 6u);
  EXPECT_EQ(labels.back(), (TTimeLabel{599, "00:13:20"}));
  EXPECT_EQ(labels.front(), (TTimeLabel{99, "00:12:30"}));
  EXPECT_EQ(TimeLabels(TrendWindow(ts1h, 360, 1000 * S), 600, unixOffsetMs, 0).back().Text, "22:10");
  EXPECT_EQ(ClockText(-1, true, true, ','), "23:59:59,999");
}

TEST(TrendGeometry, theLegendFlowsIntoRowsAndThePlotTakesWhatIsLeft) {
  const TLegendFlow f = FlowLegend({100, 100, 100}, {10, 5, 250, 100}, 14, 12);
  ASSERT_EQ(f.Positions.size(), 3u);
  EXPECT_EQ(f.Positions[1], (TPoint{122, 5}));
  EXPECT_EQ(f.Positions[2], (TPoint{10, 19}));
  EXPECT_EQ(f.Height, 28);
  EXPECT_EQ(FlowLegend({}, {0, 0, 10, 10}, 14, 12).Height, 0);

  const TTrendLayout l = LayoutTrend(480, 220, {3, 28, 13, 30});
  EXPECT_FALSE(l.TooSmall);
  EXPECT_GT(l.Plot.Left, 3 + 30);
  EXPECT_GT(l.Plot.Top, 3 + 28);
  EXPECT_EQ(l.TimeAxis.Top, l.Plot.Bottom);
  EXPECT_LE(l.TimeAxis.Bottom, 220 - 3);
  EXPECT_LE(LayoutTrend(9000, 220, {3, 0, 13, 30}).Plot.Width(), TrendSlotsPerSpan);
  EXPECT_TRUE(LayoutTrend(60, 40, {3, 0, 13, 30}).TooSmall);
}

} // namespace
