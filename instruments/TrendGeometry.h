#pragma once
// The arithmetic of a trend chart, apart from its painting: the time window in pixel columns,
// history slots gathered into columns, values to pixel rows with the clipping at the axis, the
// clock-time labels and the layout of legend, plot and axes.
#include <cstdint>
#include <string>
#include <vector>

#include "instruments/TrendHistory.h"
#include "platform/Geometry.h"

// The plot's columns. A span is TrendSlotsPerSpan slots over Columns columns, so a column is a
// run of whole slots: absolute column n (counted from the clock's zero) starts at slot
// n × TrendSlotsPerSpan div Columns. A value thus falls into exactly the column whose time holds
// it, a column's content never changes once its time has passed, and the picture moves by whole
// columns.
struct TTrendWindow {
  std::int64_t SlotNs = 1;
  std::int64_t FirstColumn = 0; // the plot's left column
  int Columns = 1;
  // First slot of absolute column n, and the absolute column of slot s.
  std::int64_t SlotOfColumn(std::int64_t n) const { return FloorDiv(n * TrendSlotsPerSpan, Columns); }
  std::int64_t ColumnOfSlot(std::int64_t s) const { return FloorDiv((s + 1) * Columns - 1, TrendSlotsPerSpan); }
  std::int64_t StartNs() const { return SlotOfColumn(FirstColumn) * SlotNs; }
  std::int64_t EndNs() const { return SlotOfColumn(FirstColumn + Columns) * SlotNs; }
  // Where column c (relative to the left edge) starts.
  std::int64_t ColumnStartNs(int c) const { return SlotOfColumn(FirstColumn + c) * SlotNs; }
  // Column of a time, relative to the left edge (negative before it, Columns and more after it).
  std::int64_t ColumnOf(std::int64_t timeNs) const { return ColumnOfSlot(FloorDiv(timeNs, SlotNs)) - FirstColumn; }
  bool operator==(const TTrendWindow &) const = default;
};

// The window of `columns` columns (at most TrendSlotsPerSpan) whose right column holds `endNs`.
TTrendWindow TrendWindow(TTrendSpan span, int columns, std::int64_t endNs);

// The slots of the window: TrendSlotsPerSpan of them from the left column's first.
struct TSlotRange {
  std::int64_t First = 0;
  std::size_t Count = 0;
};
TSlotRange SlotsOfWindow(const TTrendWindow &w);

// Gathers the slots (slot `firstSlot` first) into one slot per column of the window.
void GatherColumns(const std::vector<TTrendSlot> &slotList, std::int64_t firstSlot, const TTrendWindow &w,
                   std::vector<TTrendSlot> &columns);

// The value axis over pixel rows Top … Bottom − 1: From at the bottom row, To at the top row.
struct TValueAxis {
  double From = 0;
  double To = 100;
  int Top = 0;
  int Bottom = 0;
  // Row of a value; beyond the axis the edge row (infinities too).
  int Y(double v) const;
};

// A column as drawn: rows Top … Bottom of its own values, joined to the last value of the column
// before when that one holds values too.
enum : std::uint8_t {
  tcPresent = 1,  // the column holds values
  tcAbove = 2,    // one of them lies above the axis
  tcBelow = 4,    // one of them lies below the axis
};
struct TColumnPixels {
  std::int16_t Top = 0;
  std::int16_t Bottom = 0;
  std::int16_t LastY = 0; // row of the column's last value (the newest column's: its Top)
  std::uint8_t Flags = 0;
  bool operator==(const TColumnPixels &) const = default;
};
void ColumnPixels(const std::vector<TTrendSlot> &columns, const TValueAxis &axis, std::vector<TColumnPixels> &out);

// Clock-time labels under the plot: every `StepSeconds`, at whole multiples of it in local time.
struct TTimeLabel {
  int Column = 0;
  std::string Text; // "14:03:20", or "14:10" when the step is a whole minute
  bool operator==(const TTimeLabel &) const = default;
};
// The shortest step (1 s … 1 h) whose labels lie at least `minPixels` apart.
int TimeLabelStep(const TTrendWindow &w, int minPixels);
// `unixOffsetMs`: Unix time in ms minus steady time in ms; `localOffsetMs`: the time zone's
// offset from UTC.
std::vector<TTimeLabel> TimeLabels(const TTrendWindow &w, int stepSeconds, std::int64_t unixOffsetMs,
                                   std::int64_t localOffsetMs);
// "hh:mm:ss" of a local time in ms (with ",mmm" when `withMs`, the separator given).
std::string ClockText(std::int64_t localMs, bool withSeconds, bool withMs = false, char decimal = ',');

// Legend entries flowed into rows from the top-left of `area`: the left-top corner of each entry,
// and the height the rows take (0 without entries).
struct TLegendFlow {
  std::vector<TPoint> Positions;
  int Height = 0;
};
TLegendFlow FlowLegend(const std::vector<int> &widths, const TRect &area, int rowHeight, int gap);

// Plot and axes inside the chart's frame.
struct TTrendMetrics {
  int FrameThickness = 0; // of the bevel around everything
  int LegendHeight = 0;
  int TextHeight = 0;
  int ValueLabelWidth = 0; // widest value label
};
struct TTrendLayout {
  TRect Inner;    // inside the frame
  TRect Legend;   // the legend's rows
  TRect Plot;     // the traces
  TRect TimeAxis; // ticks and clock times under the plot
  bool TooSmall = true;
  bool operator==(const TTrendLayout &) const = default;
};
inline constexpr int TrendTickLength = 4;
inline constexpr int TrendMargin = 4;
TTrendLayout LayoutTrend(int width, int height, const TTrendMetrics &m);
