#include "instruments/TrendGeometry.h"

#include <algorithm>
#include <cmath>

TTrendWindow TrendWindow(TTrendSpan span, int columns, std::int64_t endNs) {
  TTrendWindow w;
  w.Columns = std::clamp(columns, 1, TrendSlotsPerSpan);
  w.SlotNs = TrendSlotNs(span);
  w.FirstColumn = w.ColumnOfSlot(FloorDiv(endNs, w.SlotNs)) - w.Columns + 1;
  return w;
}

TSlotRange SlotsOfWindow(const TTrendWindow &w) { return {w.SlotOfColumn(w.FirstColumn), TrendSlotsPerSpan}; }

void GatherColumns(const std::vector<TTrendSlot> &slotList, std::int64_t firstSlot, const TTrendWindow &w,
                   std::vector<TTrendSlot> &columns) {
  columns.assign(static_cast<std::size_t>(w.Columns), TTrendSlot{});
  // Walks the column boundaries along with the slots: no division per slot.
  std::int64_t c = w.ColumnOfSlot(firstSlot) - w.FirstColumn;
  std::int64_t next = w.SlotOfColumn(w.FirstColumn + c + 1);
  for (std::size_t i = 0; i < slotList.size(); ++i) {
    const std::int64_t s = firstSlot + static_cast<std::int64_t>(i);
    while (s >= next) next = w.SlotOfColumn(w.FirstColumn + ++c + 1);
    if (c < 0 || slotList[i].Empty()) continue;
    if (c >= w.Columns) break;
    columns[static_cast<std::size_t>(c)].Merge(slotList[i]);
  }
}

int TValueAxis::Y(double v) const {
  const int last = Bottom - 1;
  if (!(To > From) || last <= Top) return last;
  if (!(v > From)) return last; // NaN never reaches here; below or at the axis start
  if (v >= To) return Top;
  const double f = (v - From) / (To - From);
  const int y = last - static_cast<int>(std::lround(f * (last - Top)));
  return std::clamp(y, Top, last);
}

void ColumnPixels(const std::vector<TTrendSlot> &columns, const TValueAxis &axis, std::vector<TColumnPixels> &out) {
  out.assign(columns.size(), TColumnPixels{});
  for (std::size_t c = 0; c < columns.size(); ++c) {
    const TTrendSlot &s = columns[c];
    if (s.Empty()) continue;
    TColumnPixels &p = out[c];
    int top = axis.Y(s.Max), bottom = axis.Y(s.Min);
    // Joined to the column before: the line runs on from where that one ended.
    if (c > 0 && (out[c - 1].Flags & tcPresent) != 0) {
      top = std::min<int>(top, out[c - 1].LastY);
      bottom = std::max<int>(bottom, out[c - 1].LastY);
    }
    p.Top = static_cast<std::int16_t>(top);
    p.Bottom = static_cast<std::int16_t>(bottom);
    p.LastY = static_cast<std::int16_t>(axis.Y(s.Last));
    p.Flags = tcPresent;
    if (s.Max > axis.To) p.Flags |= tcAbove;
    if (s.Min < axis.From) p.Flags |= tcBelow;
  }
  // The last value of the newest column shows only once a later column joins it; until then it
  // changes with every value but draws nothing, and so must not count as a change.
  for (auto it = out.rbegin(); it != out.rend(); ++it)
    if (it->Flags & tcPresent) {
      it->LastY = it->Top;
      break;
    }
}

namespace {

constexpr int LabelSteps[] = {1, 2, 5, 10, 15, 30, 60, 120, 300, 600, 900, 1800, 3600};

void Append2(std::string &out, std::int64_t v) {
  out += char('0' + v / 10);
  out += char('0' + v % 10);
}

} // namespace

int TimeLabelStep(const TTrendWindow &w, int minPixels) {
  const double pixelsPerSecond = w.Columns * 1e9 / static_cast<double>(w.SlotNs * TrendSlotsPerSpan);
  for (int step : LabelSteps)
    if (step * pixelsPerSecond >= minPixels) return step;
  return LabelSteps[std::size(LabelSteps) - 1];
}

std::string ClockText(std::int64_t localMs, bool withSeconds, bool withMs, char decimal) {
  const std::int64_t dayMs = 86'400'000;
  const std::int64_t ms = ((localMs % dayMs) + dayMs) % dayMs;
  const std::int64_t s = ms / 1000;
  std::string t;
  Append2(t, s / 3600);
  t += ':';
  Append2(t, s / 60 % 60);
  if (withSeconds || withMs) {
    t += ':';
    Append2(t, s % 60);
  }
  if (withMs) {
    t += decimal;
    t += char('0' + ms % 1000 / 100);
    Append2(t, ms % 100);
  }
  return t;
}

std::vector<TTimeLabel> TimeLabels(const TTrendWindow &w, int stepSeconds, std::int64_t unixOffsetMs,
                                   std::int64_t localOffsetMs) {
  std::vector<TTimeLabel> labels;
  const std::int64_t stepMs = std::int64_t{stepSeconds} * 1000;
  const std::int64_t toLocal = unixOffsetMs + localOffsetMs;
  const std::int64_t startLocal = FloorDiv(w.StartNs(), 1'000'000) + toLocal;
  const std::int64_t endLocal = FloorDiv(w.EndNs(), 1'000'000) + toLocal;
  for (std::int64_t t = FloorDiv(startLocal + stepMs - 1, stepMs) * stepMs; t < endLocal; t += stepMs) {
    const std::int64_t column = w.ColumnOf((t - toLocal) * 1'000'000);
    if (column < 0 || column >= w.Columns) continue;
    labels.push_back({static_cast<int>(column), ClockText(t, stepSeconds % 60 != 0)});
  }
  return labels;
}

TLegendFlow FlowLegend(const std::vector<int> &widths, const TRect &area, int rowHeight, int gap) {
  TLegendFlow f;
  int x = area.Left, y = area.Top;
  for (int w : widths) {
    // A new row when the entry does not fit, unless it is the row's first.
    if (x > area.Left && x + w > area.Right) {
      x = area.Left;
      y += rowHeight;
    }
    f.Positions.push_back({x, y});
    x += w + gap;
  }
  f.Height = widths.empty() ? 0 : y + rowHeight - area.Top;
  return f;
}

TTrendLayout LayoutTrend(int width, int height, const TTrendMetrics &m) {
  TTrendLayout l;
  l.Inner = {m.FrameThickness, m.FrameThickness, width - m.FrameThickness, height - m.FrameThickness};
  const TRect &in = l.Inner;
  l.Legend = {in.Left + TrendMargin, in.Top + TrendMargin, in.Right - TrendMargin, in.Top + TrendMargin + m.LegendHeight};
  // Room above the plot for half the top label, beside it for the labels and their ticks, below
  // it for the ticks and the clock times, right of it for half a clock time.
  const int top = (m.LegendHeight > 0 ? l.Legend.Bottom : in.Top) + TrendMargin + m.TextHeight / 2;
  const int left = in.Left + TrendMargin + m.ValueLabelWidth + TrendTickLength + 2;
  const int bottom = in.Bottom - TrendMargin - m.TextHeight - TrendTickLength;
  const int right = std::min(in.Right - 2 * TrendMargin, left + TrendSlotsPerSpan);
  l.Plot = {left, top, right, bottom};
  l.TimeAxis = {left, bottom, in.Right - TrendMargin, bottom + TrendTickLength + m.TextHeight + 1};
  l.TooSmall = l.Plot.Width() < 16 || l.Plot.Height() < 16;
  return l;
}
