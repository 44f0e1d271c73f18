#include "instruments/AnVMeterGeometry.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "platform/FormatFloat.h"

namespace {

using i64 = std::int64_t;

// Sums of extents and thicknesses run in 64 bits; huge settings saturate instead of wrapping.
int S(i64 v) { return Sat32(v); }

std::int16_t Sat16(i64 v) {
  return static_cast<std::int16_t>(
      std::clamp<i64>(v, std::numeric_limits<std::int16_t>::min(), std::numeric_limits<std::int16_t>::max()));
}

i64 Thick(const TAnSBevel &b) { return b.Thickness(); }

} // namespace

TVMeterNeed MeasureVMeter(const TVMeterParts &p) {
  const TScaleSettings &s = p.Scale;
  const TVMeterExtents &e = p.Extents;
  const i64 o = p.Has(opBevelOuter) ? 2 * Thick(p.Outer) : 0;
  const i64 in = p.Has(opBevelInner) ? 2 * Thick(p.Inner) : 0;
  i64 h = p.Has(opBevelOuter) ? o + s.ScaleMinHeight + s.TickLength : s.ScaleMinHeight;
  i64 w = o;
  if (p.Has(opName1)) {
    h += e.Name1Height;
    w = std::max(w, o + e.Name1Width);
  }
  if (p.Has(opName2)) {
    h += e.Name2Height;
    w = std::max(w, o + e.Name2Width);
  }
  if (p.Has(opBevelInner)) {
    h += in;
    w = std::max(w, o + in);
  }
  w = std::max(w, o + in + s.ScaleWidth + s.TickLength / 2 + 1);
  if (p.Has(opValue)) {
    h += e.ValueHeight + 2 * Thick(p.Value) + Thick(p.Inner);
    w = std::max(w, o + in + e.ValueWidth + e.UnitWidth + 2 * Thick(p.Value) + e.ValueHeight / 3);
  }
  return {Sat16(w), Sat16(h)};
}

TRect BevelContentRect(const TAnSBevel &b, const TRect &r) {
  const i64 t = Thick(b);
  const TAnOffset &off = b.Offset();
  return {S(r.Left + t + off.Left()), S(r.Top + t + off.Top()), S(r.Right - t - off.Right()),
          S(r.Bottom - t - off.Bottom())};
}

TVMeterLayout LayoutVMeter(const TVMeterParts &p, int width, int height) {
  const TScaleSettings &s = p.Scale;
  const TVMeterExtents &e = p.Extents;
  TVMeterLayout l;
  l.Client = {0, 0, width, height};
  TRect r = l.Client;
  i64 shift = 0;
  if (p.Has(opBevelOuter)) {
    r = BevelContentRect(p.Outer, r);
    shift = p.Outer.Spacing() / 2;
  }
  // Captions from the bottom up: Name2 is the lowest line, Name1 stands above it.
  auto caption = [&](int w, int h) {
    r.Bottom = S(static_cast<i64>(r.Bottom) - h);
    return TPoint{S(r.Left + (static_cast<i64>(r.Right) - r.Left - w) / 2), S(r.Bottom + shift)};
  };
  if (p.Has(opName2)) l.Name2Pos = caption(e.Name2Width, e.Name2Height);
  if (p.Has(opName1)) l.Name1Pos = caption(e.Name1Width, e.Name1Height);

  if (p.Has(opValue)) {
    const i64 vt = Thick(p.Value);
    const i64 h = 2 * vt + e.ValueHeight;
    const i64 c = e.ValueHeight / 3;
    const i64 d = static_cast<i64>(r.Right) - r.Left - e.ValueWidth - e.UnitWidth - c;
    const i64 x0 = r.Left + d / 2 - c;
    l.ValueBox = {S(x0), r.Top, S(x0 + e.ValueWidth + 2 * vt + 2 * c), S(r.Top + h)};
    const TRect content = BevelContentRect(p.Value, l.ValueBox);
    l.UnitPos = {S(content.Right + c), content.Top};
    l.ValueRect = {S(content.Left + c), content.Top, S(content.Right - c), content.Bottom};
    r.Top = S(r.Top + h + p.Outer.Spacing());
  }
  if (p.Has(opBevelInner)) {
    l.InnerRect = r;
    r = BevelContentRect(p.Inner, r);
  }
  l.BackRect = r;

  const i64 top = static_cast<i64>(r.Top) + s.TickLength / 2;
  const i64 bottom = static_cast<i64>(r.Bottom) - s.TickLength / 2 - 1;
  l.TooSmall = static_cast<i64>(r.Right) - r.Left < 2 || bottom - top < 2;
  if (l.TooSmall) return l;

  // Centred on the control's full width, whatever the bevels do.
  const i64 h2 = s.TickLength / 2;
  const i64 ex = (static_cast<i64>(width) - s.ScaleWidth - h2) / 2;
  if (!s.PosLeftTop()) {
    l.ScaleRect = {S(ex + h2), S(top), S(ex + h2 + s.ScaleWidth), S(bottom)};
    l.PointerBaseX = S(ex);
    l.SectorRect = {l.ScaleRect.Left, S(top), S(static_cast<i64>(l.ScaleRect.Left) + s.SubTickLength), S(bottom)};
  } else {
    l.ScaleRect = {S(ex), S(top), S(ex + s.ScaleWidth), S(bottom)};
    l.PointerBaseX = S(ex + s.ScaleWidth + s.TickLength - h2 - 1);
    l.SectorRect = {S(static_cast<i64>(l.ScaleRect.Right) - s.SubTickLength + 1), S(top), l.ScaleRect.Right, S(bottom)};
  }
  return l;
}

TScaleTicks ScaleTickPositions(const TScaleSettings &s, const TRect &r) {
  TScaleTicks t;
  const int n = std::max(1, s.LogScale() ? s.LogSteps : s.Steps());
  const int sub = std::max(1, s.SubSteps());
  t.Steps = n;
  // Both pitches are single precision, as the scale was laid out with them.
  const float p = static_cast<float>(static_cast<double>(r.Bottom - static_cast<i64>(r.Top)) / (n * sub));
  const float bigP = static_cast<float>(sub * static_cast<double>(p));
  t.ScaleBottom = r.Bottom;
  t.ScaleTop = RoundEven(r.Bottom - n * static_cast<double>(bigP));
  t.LineX = s.PosLeftTop() ? r.Right : r.Left;
  t.Direction = s.PosLeftTop() ? -1 : 1;
  const double top = r.Top;
  for (int g = 0; g <= n; ++g) t.MainY.push_back(RoundEven(g * static_cast<double>(bigP) + top));
  for (int g = 0; g < n; ++g) {
    if (!s.LogScale()) {
      for (int k = 0; k < sub; ++k)
        t.SubY.push_back(RoundEven(k * static_cast<double>(p) + top + g * static_cast<double>(bigP)));
    } else {
      // Sub ticks of a decade at the logarithms of its multiples, counted up from its bottom.
      const double q = 10.0 / sub;
      const i64 base = RoundEven((g + 1) * static_cast<double>(bigP) + top);
      for (int k = 1; k < sub; ++k)
        t.SubY.push_back(S(base - RoundEven(std::log10((sub - k) * q) * static_cast<double>(bigP))));
    }
  }
  return t;
}

int ScaleLabelLeft(const TScaleSettings &s, const TRect &r, int textWidth) {
  if (!s.PosLeftTop()) return S(static_cast<i64>(r.Left) + s.TickLength + s.LabelGap);
  return S(static_cast<i64>(r.Right) - s.TickLength - s.LabelGap + 1 - textWidth);
}

bool SectorBand(const TRect &sr, std::int32_t from, std::int32_t to, TRect &band) {
  if (!(static_cast<i64>(to) - from > 0 && to > 0 && from < 1000)) return false;
  const float f = static_cast<float>(static_cast<double>(static_cast<i64>(sr.Bottom) - sr.Top) / 1000.0);
  const double lo = std::max(from, 0), hi = std::min(to, 1000);
  band = {sr.Left, S(sr.Bottom - static_cast<i64>(RoundEven(lo * f)) + 1), sr.Right,
          S(sr.Bottom - static_cast<i64>(RoundEven(hi * f)))};
  return true;
}

int PositionY(const TPointerFrame &f, std::int32_t ppt) {
  const float g = static_cast<float>(static_cast<double>(static_cast<i64>(f.ScaleBottom) - f.ScaleTop) / 1000.0);
  return S(static_cast<i64>(f.ScaleBottom) - f.BackRect.Top - RoundEven(static_cast<double>(ppt) * g));
}

namespace {
struct TPointerBase {
  i64 A, L, Bx;
};
TPointerBase BaseOf(const TPointerFrame &f) {
  return {f.TickLength / 2, f.TickLength, static_cast<i64>(f.PointerBaseX) - f.BackRect.Left};
}
TPoint P(i64 x, i64 y) { return {S(x), S(y)}; }
} // namespace

TTriangle PointerTriangle(const TPointerFrame &f, std::int32_t ppt) {
  const auto [a, l, bx] = BaseOf(f);
  const i64 y = PositionY(f, ppt);
  if (!f.PosLeftTop) return {P(bx, y - a), P(bx, y + a), P(bx + l, y)};
  return {P(bx, y + a), P(bx, y - a), P(bx - l, y)};
}

TTriangle MinMarker(const TPointerFrame &f, std::int32_t minPpt) {
  const auto [a, l, bx] = BaseOf(f);
  const i64 y = PositionY(f, minPpt);
  if (!f.PosLeftTop) {
    const i64 o = bx + l - 4;
    return {P(o, y), P(o + l, y + a), P(o + l, y)};
  }
  const i64 o = bx + 4 - 2 * l;
  return {P(o, y), P(o, y + a), P(o + l, y)};
}

TTriangle MaxMarker(const TPointerFrame &f, std::int32_t maxPpt) {
  const auto [a, l, bx] = BaseOf(f);
  const i64 y = PositionY(f, maxPpt);
  if (!f.PosLeftTop) {
    const i64 o = bx + l - 4;
    return {P(o, y), P(o + l, y - a), P(o + l, y)};
  }
  const i64 o = bx + 4 - 2 * l;
  return {P(o, y), P(o, y - a), P(o + l, y)};
}

TRect TriangleBounds(const TTriangle &t, TPoint offset) {
  i64 l = t[0].X, r = t[0].X, tp = t[0].Y, b = t[0].Y;
  for (const TPoint &p : t) {
    l = std::min<i64>(l, p.X);
    r = std::max<i64>(r, p.X);
    tp = std::min<i64>(tp, p.Y);
    b = std::max<i64>(b, p.Y);
  }
  // The outline covers the corner pixels themselves, so the right and bottom edges are included.
  return {S(l + offset.X), S(tp + offset.Y), S(r + 1 + offset.X), S(b + 1 + offset.Y)};
}

TRect Intersect(const TRect &a, const TRect &b) {
  TRect r{std::max(a.Left, b.Left), std::max(a.Top, b.Top), std::min(a.Right, b.Right), std::min(a.Bottom, b.Bottom)};
  if (r.IsEmpty()) return {};
  return r;
}
