#include "instruments/AnBevel.h"

#include <algorithm>
#include <cstdlib>

#include <QImage>

#include "platform/Canvas.h"
#include "platform/FormatFloat.h"

// ---------------------------------------------------------------------------------------------
// TAnOffset

void TAnOffset::Assign(const TAnPersistent &source) {
  const auto *s = dynamic_cast<const TAnOffset *>(&source);
  if (!s) {
    TAnPersistent::Assign(source);
    return;
  }
  // One notification for the whole inset, not one per side.
  FTop = s->FTop;
  FLeft = s->FLeft;
  FRight = s->FRight;
  FBottom = s->FBottom;
  Changed();
}

namespace {
template <typename T> void StoreAndNotify(TAnPersistent &owner, T &field, const T &v) {
  if (field == v)
    return;
  field = v;
  owner.Changed();
}
} // namespace

void TAnOffset::SetTop(std::int32_t v) { StoreAndNotify(*this, FTop, v); }
void TAnOffset::SetLeft(std::int32_t v) { StoreAndNotify(*this, FLeft, v); }
void TAnOffset::SetRight(std::int32_t v) { StoreAndNotify(*this, FRight, v); }
void TAnOffset::SetBottom(std::int32_t v) { StoreAndNotify(*this, FBottom, v); }

// ---------------------------------------------------------------------------------------------
// TAnGradSettings

void TAnGradSettings::Assign(const TAnPersistent &source) {
  const auto *s = dynamic_cast<const TAnGradSettings *>(&source);
  if (!s) {
    TAnPersistent::Assign(source);
    return;
  }
  SetColorFrom(s->FColorFrom);
  SetColorTo(s->FColorTo);
  SetVisible(s->FVisible);
  SetStyle(s->FStyle);
  Changed();
}

void TAnGradSettings::SetColorFrom(TColor v) { StoreAndNotify(*this, FColorFrom, v); }
void TAnGradSettings::SetColorTo(TColor v) { StoreAndNotify(*this, FColorTo, v); }
void TAnGradSettings::SetVisible(bool v) { StoreAndNotify(*this, FVisible, v); }
void TAnGradSettings::SetStyle(TGradientStyle v) { StoreAndNotify(*this, FStyle, v); }

// ---------------------------------------------------------------------------------------------
// TAnSBevel

TAnSBevel::TAnSBevel() {
  FOffset.OnChange = [this](TObject *) { Changed(); };
  FSurfaceGrad.OnChange = [this](TObject *) { Changed(); };
}

static int OutlineCount(TBevelLine line) {
  switch (line) {
  case blOuter:
  case blInner:
    return 1;
  case blBoth:
    return 2;
  case blNone:
    break;
  }
  return 0;
}

void TAnSBevel::Changed() {
  // Saturated: spacing and width come from the settings file unchecked.
  FThickness = Sat32(static_cast<std::int64_t>(FSpacing) + FWidth + OutlineCount(FBevelLine));
  TAnPersistent::Changed();
}

void TAnSBevel::Assign(const TAnPersistent &source) {
  const auto *s = dynamic_cast<const TAnSBevel *>(&source);
  if (!s) {
    TAnPersistent::Assign(source);
    return;
  }
  FStyle = s->FStyle;
  FSpacing = s->FSpacing;
  FBevelLine = s->FBevelLine;
  FWidth = s->FWidth;
  FColor = s->FColor;
  FOffset.Assign(s->FOffset);
  FColorShadowFrom = s->FColorShadowFrom;
  FColorShadowTo = s->FColorShadowTo;
  FColorHighLightFrom = s->FColorHighLightFrom;
  FColorHighLightTo = s->FColorHighLightTo;
  FPenColor = s->FPenColor;
  FSurfaceGrad.Assign(s->FSurfaceGrad);
  Changed();
}

void TAnSBevel::SetStyle(TBevelStyle v) { StoreAndNotify(*this, FStyle, v); }
void TAnSBevel::SetSpacing(std::int32_t v) { StoreAndNotify(*this, FSpacing, v); }
void TAnSBevel::SetBevelLine(TBevelLine v) { StoreAndNotify(*this, FBevelLine, v); }
void TAnSBevel::SetWidth(std::int32_t v) {
  if (v < 0)
    return;
  StoreAndNotify(*this, FWidth, v);
}
void TAnSBevel::SetColor(TColor v) { StoreAndNotify(*this, FColor, v); }
void TAnSBevel::SetColorShadowFrom(TColor v) { StoreAndNotify(*this, FColorShadowFrom, v); }
void TAnSBevel::SetColorShadowTo(TColor v) { StoreAndNotify(*this, FColorShadowTo, v); }
void TAnSBevel::SetColorHighLightFrom(TColor v) { StoreAndNotify(*this, FColorHighLightFrom, v); }
void TAnSBevel::SetColorHighLightTo(TColor v) { StoreAndNotify(*this, FColorHighLightTo, v); }
void TAnSBevel::SetPenColor(TColor v) { StoreAndNotify(*this, FPenColor, v); }

static int Shifted(int v, std::int64_t d) { return Sat32(v + d); }

// Saturating, so that absurd spacings or offsets cannot overflow the rectangle.
static void Inset(TRect &r, std::int64_t d) {
  r.Left = Shifted(r.Left, d);
  r.Top = Shifted(r.Top, d);
  r.Right = Shifted(r.Right, -d);
  r.Bottom = Shifted(r.Bottom, -d);
}

void TAnSBevel::Draw(TCanvas &canvas, TRect &r) const {
  const TRect r0 = r;
  const bool outer = FBevelLine == blOuter || FBevelLine == blBoth;
  canvas.SetBrushStyle(bsSolid);
  canvas.SetPenWidth(1);
  canvas.SetPenStyle(psSolid);

  // The whole area in the face colour first: the rings and lines are drawn over it.
  canvas.SetBrushColor(FColor);
  canvas.SetPenColor(FColor);
  canvas.Rectangle(r);

  TRect surface = r;
  Inset(surface, static_cast<std::int64_t>(FThickness) - FSpacing);
  if (outer)
    Inset(r, 1);

  canvas.Rectangle(r);
  for (int k = 1; k <= FWidth; ++k) {
    if (r.IsEmpty()) {
      // Rings past the middle of the area have nothing left to shade: skip them, shrink alike.
      Inset(r, static_cast<std::int64_t>(FWidth) - k + 1);
      break;
    }
    TColor top, bottom;
    if (FStyle == bsRaised) {
      top = InterpolateColor(FColorHighLightFrom, FColorHighLightTo, FWidth, k);
      bottom = InterpolateColor(FColorShadowFrom, FColorShadowTo, FWidth, k);
    } else {
      top = InterpolateColor(FColorShadowTo, FColorShadowFrom, FWidth, k);
      bottom = InterpolateColor(FColorHighLightTo, FColorHighLightFrom, FWidth, k);
    }
    Frame3D(canvas, r, top, bottom, 1);
  }

  if (FSurfaceGrad.Visible())
    GradientFill(canvas, surface, FSurfaceGrad.ColorFrom(), FSurfaceGrad.Style(), FSurfaceGrad.ColorTo());

  canvas.SetPenColor(FPenColor);
  canvas.SetBrushStyle(bsClear);
  if (FBevelLine == blInner || FBevelLine == blBoth) {
    canvas.Rectangle(r);
    Inset(r, 1);
  }
  if (outer)
    canvas.Rectangle(r0);

  Inset(r, FSpacing);
  r.Left = Shifted(r.Left, FOffset.Left());
  r.Top = Shifted(r.Top, FOffset.Top());
  r.Right = Shifted(r.Right, -static_cast<std::int64_t>(FOffset.Right()));
  r.Bottom = Shifted(r.Bottom, -static_cast<std::int64_t>(FOffset.Bottom()));
}

// ---------------------------------------------------------------------------------------------
// Free drawing helpers

TColor InterpolateColor(TColor c1, TColor c2, int n, int i) {
  const TColor a = ColorToRGB(c1);
  const TColor b = ColorToRGB(c2);
  if (a == b)
    return c1;
  const double steps = n == 0 ? 1.0 : static_cast<double>(n);
  auto channel = [&](int ch1, int ch2) {
    // 64-bit sum: a saturated step (huge i) must not overflow before the mask.
    const std::int64_t v = ch1 + static_cast<std::int64_t>(RoundEven((ch2 - ch1) / steps * i));
    return static_cast<int>(v & 0xFF);
  };
  return RGBColor(channel(GetRValue(a), GetRValue(b)), channel(GetGValue(a), GetGValue(b)),
                  channel(GetBValue(a), GetBValue(b)));
}

void Frame3D(TCanvas &canvas, TRect &r, TColor top, TColor bottom, int width) {
  canvas.SetPenWidth(1);
  r.Right = Shifted(r.Right, -1);
  r.Bottom = Shifted(r.Bottom, -1);
  for (int k = 0; k < width; ++k) {
    if (r.Right < r.Left || r.Bottom < r.Top) {
      // Nothing left to frame: the remaining frames only shrink the rectangle.
      Inset(r, static_cast<std::int64_t>(width) - k);
      break;
    }
    canvas.SetPenColor(top);
    canvas.Polyline({{r.Left, r.Bottom}, {r.Left, r.Top}, {r.Right, r.Top}});
    canvas.SetPenColor(bottom);
    canvas.Polyline({{r.Right, r.Top}, {r.Right, r.Bottom}, {r.Left - 1, r.Bottom}});
    Inset(r, 1);
  }
  r.Right = Shifted(r.Right, 1);
  r.Bottom = Shifted(r.Bottom, 1);
}

namespace {

// Colour of step j of N from one colour towards another. The per-step delta is kept in single
// precision, as the fill's band colours are defined by it.
class StepColors {
public:
  StepColors(TColor from, TColor to, int n)
      : FR(GetRValue(from)), FG(GetGValue(from)), FB(GetBValue(from)),
        FDR(PerStep(GetRValue(to) - FR, n)), FDG(PerStep(GetGValue(to) - FG, n)),
        FDB(PerStep(GetBValue(to) - FB, n)) {}

  TColor Rounded(double j) const {
    auto ch = [j](int start, float d) {
      return static_cast<int>((static_cast<std::int64_t>(RoundEven(j * static_cast<double>(d))) + start) & 0xFF);
    };
    return RGBColor(ch(FR, FDR), ch(FG, FDG), ch(FB, FDB));
  }
  TColor Truncated(double j) const {
    auto ch = [j](int start, float d) { return TruncSat32(j * static_cast<double>(d) + start) & 0xFF; };
    return RGBColor(ch(FR, FDR), ch(FG, FDG), ch(FB, FDB));
  }

private:
  static float PerStep(int delta, int n) { return static_cast<float>(delta) / static_cast<float>(std::max(n, 1)); }
  int FR = 0, FG = 0, FB = 0;
  float FDR = 0, FDG = 0, FDB = 0;
};

struct FillContext {
  TCanvas &C;
  int W, H;
  TColor From, To; // resolved
  int K;

  void Band(const TRect &r, TColor c) {
    C.SetBrushColor(c);
    C.FillRect(r);
  }
  void Row(int y, TColor c) { Band({0, y, W, y + 1}, c); }
  void Column(int x, TColor c) { Band({x, 0, x + 1, H}, c); }
  void Line(int x1, int y1, int x2, int y2, TColor c) {
    C.SetPenColor(c);
    C.MoveTo(x1, y1);
    C.LineTo(x2, y2);
  }
  void PenAndBrush(TColor c) {
    C.SetPenColor(c);
    C.SetBrushColor(c);
  }
};

// Bands of equal height (or width) from one edge to the other; `extent` is the length across
// the bands. An area of zero extent draws nothing.
void FillBands(FillContext &f, bool vertical) {
  const int extent = vertical ? f.W : f.H;
  if (extent <= 0)
    return;
  int n = std::min(f.K, extent);
  const int z = extent / n;
  n = std::max(extent / z, 1);
  const StepColors steps(f.From, f.To, n);
  for (int j = 0; j <= n; ++j) {
    const TColor c = steps.Truncated(j);
    if (vertical)
      f.Band({j * z, 0, j * z + z, f.H}, c);
    else
      f.Band({0, j * z, f.W, (j + 1) * z}, c);
  }
}

// Rows (or columns) mirrored around a centre line: `from` on the centre line, `to` `n` away.
void FillMirrored(FillContext &f, bool vertical, int n, int centre, bool clipLow) {
  n = std::max(n, 1);
  const StepColors steps(f.From, f.To, n);
  auto line = [&](int pos, TColor c) { vertical ? f.Column(pos, c) : f.Row(pos, c); };
  line(centre, f.From);
  for (int j = 1; j <= n; ++j) {
    const TColor c = steps.Rounded(j);
    line(centre + j, c);
    if (!clipLow || centre - j >= 0)
      line(centre - j, c);
  }
}

void FillElliptic(FillContext &f, double px, double py, int cx, int cy) {
  const StepColors steps(f.From, f.To, f.K);
  f.Band({0, 0, f.W, f.H}, f.To);
  for (int j = f.K; j >= 1; --j) {
    f.PenAndBrush(steps.Rounded(j));
    const int rx = RoundEven(j * px), ry = RoundEven(j * py);
    f.C.Ellipse(cx - rx, cy - ry, cx + rx, cy + ry);
  }
}

void FillRectangles(FillContext &f) {
  const double px = static_cast<double>(f.W) / f.K / 2, py = static_cast<double>(f.H) / f.K / 2;
  const int cx = f.W / 2, cy = f.H / 2;
  const StepColors steps(f.From, f.To, f.K);
  for (int j = f.K; j >= 0; --j) {
    f.PenAndBrush(steps.Rounded(j));
    const int rx = RoundEven(j * px), ry = RoundEven(j * py);
    f.C.Rectangle(cx - rx, cy - ry, cx + rx + 1, cy + ry + 1);
  }
}

void FillDiamonds(FillContext &f, bool wide) {
  const int m = std::max(f.W, f.H);
  const int n = std::max(wide ? std::max(m, f.K) : std::max(m / 2, f.K), 1);
  const double px = wide ? static_cast<double>(f.W) / n : static_cast<double>(f.W) / n / 2;
  const double py = wide ? static_cast<double>(f.H) / n : static_cast<double>(f.H) / n / 2;
  const int cx = f.W / 2, cy = f.H / 2;
  const StepColors steps(f.From, f.To, n);
  f.Band({0, 0, f.W, f.H}, f.To);
  for (int j = n; j >= 1; --j) {
    f.C.SetPenColor(steps.Rounded(j));
    const int rx = RoundEven(j * px), ry = RoundEven(j * py);
    f.C.Polyline({{cx, cy - ry}, {cx + rx, cy}, {cx, cy + ry}, {cx - rx, cy}, {cx, cy - ry}});
  }
  f.C.SetPixel(cx, cy, f.From);
}

// Diagonal lines from the corner at the left (or right, mirrored) top towards the opposite one,
// filled from both corners at once so that the two halves meet in the middle.
void FillCorner(FillContext &f, bool mirrored) {
  const int n = std::max(std::max(f.W, f.H), 1);
  const double px = static_cast<double>(f.W) / n, py = static_cast<double>(f.H) / n;
  const StepColors steps(f.From, f.To, n);
  for (int j = 0; j <= n; ++j) {
    const int dx = RoundEven(j * px), dy = RoundEven(j * py);
    const TColor nearColor = steps.Rounded(j / 2.0), farColor = steps.Rounded(n - j / 2.0);
    if (!mirrored) {
      f.Line(0, dy, dx, -1, nearColor);
      f.Line(f.W, f.H - dy, f.W - dx, f.H, farColor);
    } else {
      f.Line(f.W, dy, f.W - dx, -1, nearColor);
      f.Line(0, f.H - dy, dx, f.H, farColor);
    }
  }
}

// Larger than any screen; beyond it the off-screen image would be absurd, so nothing is drawn.
constexpr std::int64_t kMaxFillExtent = 32767;

} // namespace

void GradientFill(TCanvas &canvas, const TRect &r, TColor from, TGradientStyle style, TColor to) {
  const std::int64_t w64 = static_cast<std::int64_t>(r.Right) - r.Left;
  const std::int64_t h64 = static_cast<std::int64_t>(r.Bottom) - r.Top;
  if (w64 <= 0 || h64 <= 0 || w64 > kMaxFillExtent || h64 > kMaxFillExtent)
    return;
  const int w = static_cast<int>(w64), h = static_cast<int>(h64);
  QImage image(w, h, QImage::Format_RGB32);
  if (image.isNull())
    return; // too large to allocate: draw nothing rather than fail
  const TColor rgbFrom = ColorToRGB(from), rgbTo = ColorToRGB(to);
  if (rgbFrom == rgbTo) {
    image.fill(ToQColor(rgbFrom));
    canvas.Draw(r.Left, r.Top, image);
    return;
  }
  {
    TCanvas ic(image);
    const int k = std::max({std::abs(GetRValue(rgbTo) - GetRValue(rgbFrom)),
                            std::abs(GetGValue(rgbTo) - GetGValue(rgbFrom)),
                            std::abs(GetBValue(rgbTo) - GetBValue(rgbFrom)), 1});
    ic.SetPenWidth(1);
    ic.SetPenStyle(psSolid);
    ic.SetBrushStyle(bsSolid);
    FillContext f{ic, w, h, rgbFrom, rgbTo, k};
    const double wk = static_cast<double>(w) / k, hk = static_cast<double>(h) / k;
    switch (style) {
    case gsHorizontal1: FillBands(f, false); break;
    case gsHorizontal2: FillMirrored(f, false, h / 2, std::max(h / 2, 1), false); break;
    case gsHorizontal3: FillMirrored(f, false, RoundEven(h * 0.67), h / 3, true); break;
    case gsVertical1: FillBands(f, true); break;
    case gsVertical2: FillMirrored(f, true, w / 2, std::max(w / 2, 1), false); break;
    case gsVertical3: FillMirrored(f, true, RoundEven(w * 0.67), w / 3, true); break;
    case gsElliptic1: FillElliptic(f, wk / 2, hk / 2, w / 2, h / 2); break;
    case gsElliptic2: FillElliptic(f, wk * 0.695, hk * 0.695, w / 2, h / 2); break;
    case gsElliptic3: FillElliptic(f, wk * 0.82, hk * 0.82, w / 2 + 1 - w / 4, h / 2 + 1 - h / 4); break;
    case gsRectangle: FillRectangles(f); break;
    case gsDiamond1: FillDiamonds(f, false); break;
    case gsDiamond2: FillDiamonds(f, true); break;
    case gsTopLeft: FillCorner(f, false); break;
    case gsTopRight: FillCorner(f, true); break;
    }
  }
  canvas.Draw(r.Left, r.Top, image);
}
