#include "instruments/AnVMeter.h"

#include <algorithm>
#include <string>
#include <vector>

#include <QMetaObject>
#include <QPaintEvent>
#include <QPainter>

#include "instruments/AnValueText.h"
#include "platform/Canvas.h"
#include "platform/FormatSettings.h"

namespace {

// Clears a flag when the scope ends, also when an event handler throws.
class TFlagScope {
public:
  explicit TFlagScope(bool &flag) : FFlag(flag) { FFlag = true; }
  ~TFlagScope() { FFlag = false; }
  TFlagScope(const TFlagScope &) = delete;
  TFlagScope &operator=(const TFlagScope &) = delete;

private:
  bool &FFlag;
};

std::vector<TPoint> Moved(const TTriangle &t, TPoint by) {
  std::vector<TPoint> v;
  v.reserve(t.size());
  for (const TPoint &p : t)
    v.push_back({Sat32(static_cast<std::int64_t>(p.X) + by.X), Sat32(static_cast<std::int64_t>(p.Y) + by.Y)});
  return v;
}

QRegion RegionOf(const TRect &r) { return r.IsEmpty() ? QRegion() : QRegion(r.ToQRect()); }

} // namespace

// Built locked: nothing recomputes or paints until the stored properties are applied and
// Loaded releases the lock.
TAnVMeter::TAnVMeter(QWidget *parent) : TAnAnalogGControl(parent, 1) {
  SetBounds(Left(), Top(), 98, 273);
  FFontValue.SetName("System");
  FFontValue.SetSize(10);
  FFontValue.SetColor(clLime);

  FBevelInner.SetStyle(bsLowered);
  FBevelInner.SetBevelLine(blInner);
  FBevelOuter.SetStyle(bsRaised);
  FBevelOuter.SetBevelLine(blOuter);
  FBevelValue.SetStyle(bsLowered);
  FBevelValue.SetSpacing(0);
  FBevelValue.SetColor(clBlack);
  FBevelValue.SetBevelLine(blNone);
}

TAnVMeter::~TAnVMeter() {
  BlinkUnregister(this);
  TFramePacer::Forget(this);
  // The owned objects must not call back into a half-destroyed meter.
  FFontValue.OnChange = nullptr;
  FBevelInner.OnChange = nullptr;
  FBevelOuter.OnChange = nullptr;
  FBevelValue.OnChange = nullptr;
  FScaleSettings.OnChange = nullptr;
}

void TAnVMeter::Loaded() {
  TAnAnalogGControl::Loaded();
  FFontValue.OnChange = [this](TFont *) { ParamChange(this); };
  const auto param = [this](TObject *s) { ParamChange(s); };
  FBevelInner.OnChange = param;
  FBevelOuter.OnChange = param;
  FBevelValue.OnChange = param;
  FScaleSettings.OnChange = param;
  EndUpdate();
}

// ---- Properties and triggers --------------------------------------------------------------------

void TAnVMeter::RequestRepaint() {
  // The face is stale whatever the lock; only the repaint waits for the lock to end.
  FNeedFull = true;
  if (UpdateCount() > 0) return;
  update();
}

void TAnVMeter::SetBounds(int left, int top, int width, int height) {
  TAnAnalogGControl::SetBounds(left, top, std::clamp(width, 0, MaxSide), std::clamp(height, 0, MaxSide));
}

void TAnVMeter::SetAutoSize(bool v) {
  FAutoSize = v;
  RequestRepaint();
}

void TAnVMeter::SetFontValue(const TFont &f) {
  FFontValue.Assign(f);
  RequestRepaint();
}

void TAnVMeter::SetOptions(TAnVMeterOptions o) {
  FOptions = o & AllVMeterOptions;
  UpdateOpacity();
  RequestRepaint();
}

void TAnVMeter::LogScaleChange() {
  FScaleSettings.SetLogScaleFlag(LogScale());
  RequestRepaint();
}

void TAnVMeter::ParamChange(TObject *Sender) {
  TAnAnalogGControl::ParamChange(Sender);
  RequestRepaint();
}

void TAnVMeter::resizeEvent(QResizeEvent *) { FNeedFull = true; }

// With the outer bevel the face covers every pixel, so the parent need not be painted beneath:
// a value's redraw then costs the meter's own pixels only.
void TAnVMeter::UpdateOpacity() { setAttribute(Qt::WA_OpaquePaintEvent, HasOption(opBevelOuter) && !FFace.isNull()); }

// ---- Value, blink decision and blink tick ------------------------------------------------------

void TAnVMeter::ValueChange() {
  TAnAnalogGControl::ValueChange();
  // Inside a full paint the composition follows anyway.
  if (FInPaint || !CanCompose()) return;
  ScheduleValueRedraw();
}

// A meter too small for its scale still shows its value text, so it never looks dead while values
// arrive; only the pointer and the markers need the scale.
bool TAnVMeter::CanCompose() const { return !FFace.isNull() && Visible() && UpdateCount() == 0; }

void TAnVMeter::ScheduleValueRedraw() {
  // Not on screen (also when a parent is hidden): showing it paints it whole anyway.
  if (FRedrawPending || !isVisible()) return;
  FRedrawPending = true;
  // One invalidation per frame, with the rectangles of the latest value: the values in between
  // never reach the screen, so their rectangles need no repaint.
  TFramePacer::Instance().Request(this);
}

void TAnVMeter::FrameDue() {
  FRedrawPending = false;
  if (FNeedFull || !CanCompose()) return;
  if (FComposed && *FComposed == ComposedNow()) return;
  update(FShown | ValueRegion());
}

TAnVMeter::TComposed TAnVMeter::ComposedNow() const {
  const TMinMax &mm = MinMax();
  return {HasOption(opValue) ? ValueText() : std::string(),
          PPT(),
          MinPPT(),
          MaxPPT(),
          mm.MinVisible(),
          mm.MaxVisible(),
          FBlinking,
          FBlinking ? FBlinkColor : TColor(0)};
}

// Out of range here is the unclamped position's state: the model clamps PPT only after this
// update's range check, so a limit change alone reads the over/underflow flags it left standing.
void TAnVMeter::OverflowChange(std::int32_t ppt) {
  TAnAnalogGControl::OverflowChange(ppt);
  BlinkDecision(ppt < 0 || ppt > 1000);
}

void TAnVMeter::LimitChange() {
  TAnAnalogGControl::LimitChange();
  BlinkDecision(OverflowFlag() || UnderflowFlag());
}

void TAnVMeter::BlinkDecision(bool outOfRange) {
  if (FLayout.TooSmall) return;
  const bool limit = UpperExceeded() || LowerExceeded();
  if ((HasOption(opOverflow) && outOfRange) || (HasOption(opLimit) && limit)) {
    FBlinking = true;
    SyncBlinkRegistration();
    return;
  }
  const bool was = FBlinking;
  FBlinking = false;
  SyncBlinkRegistration();
  // Back to the pointer colour at once.
  if (was && !FInPaint && CanCompose()) ScheduleValueRedraw();
}

void TAnVMeter::SyncBlinkRegistration() {
  if (FBlinking && isVisible())
    BlinkRegister(this, BlinkRate);
  else
    BlinkUnregister(this);
}

void TAnVMeter::showEvent(QShowEvent *e) {
  TAnAnalogGControl::showEvent(e);
  SyncBlinkRegistration();
}

void TAnVMeter::hideEvent(QHideEvent *e) {
  TAnAnalogGControl::hideEvent(e);
  SyncBlinkRegistration();
}

void TAnVMeter::BlinkTick(std::uint32_t, std::int32_t State) {
  if (FLayout.TooSmall || !HasOption(opOverflow) || !Visible()) return;
  FBlinkColor = State != 0 ? BlinkColorOn : BlinkColorOff;
  if (!FNeedFull && CanCompose()) update(FShown | ValueRegion());
}

// ---- Geometry of the composition ---------------------------------------------------------------

TPointerFrame TAnVMeter::PointerFrame() const {
  return {FLayout.BackRect,     FScaleSettings.ScaleTop,   FScaleSettings.ScaleBottom,
          FLayout.PointerBaseX, FScaleSettings.TickLength, FScaleSettings.PosLeftTop()};
}

TTriangle TAnVMeter::PointerPoints() const {
  const TTriangle t = PointerTriangle(PointerFrame(), PPT());
  const std::vector<TPoint> v = Moved(t, {FLayout.BackRect.Left, FLayout.BackRect.Top});
  return {v[0], v[1], v[2]};
}

QRegion TAnVMeter::ValueRegion() const {
  QRegion r;
  if (HasOption(opValue)) r |= RegionOf(FLayout.ValueRect);
  if (FLayout.TooSmall) return r;
  const TPointerFrame f = PointerFrame();
  const TRect back = FLayout.BackRect;
  const TPoint at{back.Left, back.Top};
  auto add = [&](const TTriangle &t) { r |= RegionOf(Intersect(TriangleBounds(t, at), back)); };
  if (MinMax().MinVisible()) add(MinMarker(f, MinPPT()));
  if (MinMax().MaxVisible()) add(MaxMarker(f, MaxPPT()));
  add(PointerTriangle(f, PPT()));
  return r;
}

// ---- Painting ----------------------------------------------------------------------------------

void TAnVMeter::paintEvent(QPaintEvent *e) {
  if (UpdateCount() > 0) {
    // Locked: keep showing the last face rather than leaving the area undefined.
    if (!FFace.isNull()) {
      QPainter painter(this);
      painter.drawImage(e->rect().topLeft(), FFace, e->rect());
    }
    return;
  }
  if (FNeedFull || FFace.size() != size()) FullPaint();
  QPainter painter(this);
  painter.drawImage(e->rect().topLeft(), FFace, e->rect());
  Compose(painter);
}

void TAnVMeter::Measure() {
  QImage scratch(1, 1, QImage::Format_ARGB32_Premultiplied);
  TCanvas c(scratch);
  const TSignalSettings &sig = SignalSettings();
  c.SetFont(Font());
  FExtents.Name1Width = c.TextWidth(sig.Name1());
  FExtents.Name1Height = c.TextHeight(sig.Name1());
  FExtents.Name2Width = c.TextWidth(sig.Name2());
  FExtents.Name2Height = c.TextHeight(sig.Name2());
  c.SetFont(FFontValue);
  FExtents.ValueWidth = c.TextWidth(sig.WidestFormat());
  FExtents.ValueHeight = c.TextHeight(sig.WidestFormat());
  FExtents.UnitWidth = HasOption(opUnit) ? c.TextWidth(sig.ValueUnit()) : 0;

  const std::string labels = BuildLabelList(FScaleSettings, sig.ValueFrom(), sig.ValueTo(), FormatSettings());
  c.SetFont(FScaleSettings.Font());
  int widest = 0;
  for (std::size_t at = 0, semi; (semi = labels.find(';', at)) != std::string::npos; at = semi + 1)
    widest = std::max(widest, c.TextWidth(labels.substr(at, semi - at)));
  ComputeScaleMetrics(FScaleSettings, widest, c.TextHeight(labels));
  FNeed = MeasureVMeter({FOptions, FBevelOuter, FBevelInner, FBevelValue, FScaleSettings, FExtents});
}

void TAnVMeter::FullPaint() {
  Measure();
  if (FAutoSize && (FNeed.Width != width() || FNeed.Height != height()))
    SetBounds(Left(), Top(), FNeed.Width, FNeed.Height);
  FLayout =
      LayoutVMeter({FOptions, FBevelOuter, FBevelInner, FBevelValue, FScaleSettings, FExtents}, width(), height());
  FFace = QImage(size(), QImage::Format_ARGB32_Premultiplied);
  if (!FFace.isNull()) {
    FFace.fill(Qt::transparent);
    TCanvas c(FFace);
    DrawFace(c);
  }
  FNeedFull = false;
  FComposed.reset();
  ++FFullPaints;
  UpdateOpacity();
  // Every full paint re-runs the value update; its composition is the one this paint ends with.
  {
    TFlagScope inPaint(FInPaint);
    ValueChange();
  }
}

void TAnVMeter::DrawFace(TCanvas &c) {
  const TSignalSettings &sig = SignalSettings();
  const TVMeterLayout &l = FLayout;
  if (HasOption(opBevelOuter)) {
    TRect r = l.Client;
    FBevelOuter.Draw(c, r);
  }
  c.SetBrushStyle(bsClear);
  c.SetFont(Font());
  if (HasOption(opName2)) c.TextOut(l.Name2Pos.X, l.Name2Pos.Y, sig.Name2());
  if (HasOption(opName1)) c.TextOut(l.Name1Pos.X, l.Name1Pos.Y, sig.Name1());
  c.SetFont(FFontValue);
  if (HasOption(opValue)) {
    TRect box = l.ValueBox;
    FBevelValue.Draw(c, box);
    // The unit takes the captions' colour in the value font.
    c.SetFontColor(Font().Color());
    c.SetBrushStyle(bsClear);
    if (HasOption(opUnit)) c.TextOut(l.UnitPos.X, l.UnitPos.Y, sig.ValueUnit());
  }
  if (HasOption(opBevelInner)) {
    TRect r = l.InnerRect;
    FBevelInner.Draw(c, r);
  }
  if (l.TooSmall) return;
  if (HasOption(opSector)) DrawSectors(c);
  DrawScale(c, l.ScaleRect);
}

void TAnVMeter::DrawSectors(TCanvas &c) {
  c.SetBrushStyle(bsSolid);
  c.SetPenStyle(psClear);
  const TSectorSettings &s = SectorSettings();
  for (int i = 0; i < 3; ++i) {
    TRect band;
    if (!SectorBand(FLayout.SectorRect, s.From(i), s.To(i), band)) continue;
    c.SetBrushColor(s.Color(i));
    c.Rectangle(band);
  }
  c.SetPenStyle(psSolid);
}

void TAnVMeter::DrawScale(TCanvas &c, const TRect &r) {
  TScaleSettings &s = FScaleSettings;
  const std::string labels = s.LabelList;
  std::size_t next = 0;
  auto nextLabel = [&] {
    if (next >= labels.size()) return std::string();
    std::size_t semi = labels.find(';', next);
    if (semi == std::string::npos) semi = labels.size();
    std::string l = labels.substr(next, semi - next);
    next = semi + 1;
    return l;
  };
  c.SetFont(s.Font());
  c.SetPenColor(s.Color());
  c.SetPenStyle(psSolid);
  c.SetBrushStyle(bsClear);
  const TScaleTicks t = ScaleTickPositions(s, r);
  s.ScaleTop = t.ScaleTop;
  s.ScaleBottom = t.ScaleBottom;
  const int x = t.LineX;
  const int textHeight = c.TextHeight(labels);
  auto label = [&](int y) {
    const std::string text = nextLabel();
    c.TextOut(ScaleLabelLeft(s, r, c.TextWidth(text)), y - textHeight / 2, text);
  };
  auto tick = [&](int y, int length) {
    c.MoveTo(x, y);
    c.LineTo(Sat32(x + static_cast<std::int64_t>(t.Direction) * length), y);
  };

  if (s.DrawLine()) {
    c.SetPenWidth(s.TickWidth);
    c.MoveTo(x, r.Top);
    c.LineTo(x, t.MainY[static_cast<std::size_t>(t.Steps)]);
  }
  const std::size_t perStep = t.SubY.size() / static_cast<std::size_t>(t.Steps);
  for (int g = 0; g < t.Steps; ++g) {
    const int y = t.MainY[static_cast<std::size_t>(g)];
    c.SetPenWidth(s.TickWidth);
    tick(y, s.TickLength);
    label(y);
    c.SetPenWidth(s.SubTickWidth);
    for (std::size_t k = 0; k < perStep; ++k) tick(t.SubY[static_cast<std::size_t>(g) * perStep + k], s.SubTickLength);
  }
  const int bottom = t.MainY[static_cast<std::size_t>(t.Steps)];
  label(bottom);
  c.SetPenWidth(s.TickWidth);
  tick(bottom, s.TickLength);
}

void TAnVMeter::Compose(QPainter &painter) {
  if (!CanCompose()) return;
  ++FValueRedraws;
  TCanvas c(painter);
  const TRect vr = FLayout.ValueRect;
  if (HasOption(opValue) && !vr.IsEmpty()) {
    c.SetClipRect(vr);
    c.SetPenStyle(psSolid);
    c.SetPenWidth(1);
    c.SetPenColor(FBevelValue.Color());
    c.SetBrushStyle(bsSolid);
    c.SetBrushColor(FBevelValue.Color());
    c.Rectangle(vr);
    c.SetFont(FFontValue);
    c.SetBrushStyle(bsClear);
    // Right-aligned at the box's right edge; a text too wide is drawn smaller or as the overflow
    // mark, vertically centred then.
    const TValueTextFit fit = FitValueText(c.Font(), ValueText(), vr.Right - vr.Left);
    int top = vr.Top;
    if (fit.Shrunk || fit.Overflow) {
      c.SetFont(fit.Font, FFontValue.Color());
      top += (vr.Bottom - vr.Top - c.TextHeight(fit.Text)) / 2;
    }
    const std::int64_t left = static_cast<std::int64_t>(vr.Right) - c.TextWidth(fit.Text);
    c.TextOut(Sat32(left), top, fit.Text);
  }
  if (!FLayout.TooSmall && !FLayout.BackRect.IsEmpty()) {
    c.SetClipRect(FLayout.BackRect);
    DrawPointer(c);
  }
  c.ResetClipRect();
  FShown = ValueRegion();
  FComposed = ComposedNow();
}

void TAnVMeter::DrawPointer(TCanvas &c) {
  const TPointerFrame f = PointerFrame();
  const TPoint at{FLayout.BackRect.Left, FLayout.BackRect.Top};
  const TMinMax &mm = MinMax();
  auto markerColor = [&](std::int32_t ppt, TColor own) {
    TColor sector = own;
    if (mm.UseSectorCol() && SectorSettings().SectorColorAt(ppt, sector)) return sector;
    return own;
  };
  c.SetPenColor(clBlack);
  c.SetPenWidth(1);
  c.SetPenStyle(psSolid);
  c.SetBrushStyle(bsSolid);
  if (mm.MinVisible()) {
    c.SetBrushColor(markerColor(MinPPT(), mm.MinColor()));
    c.Polygon(Moved(MinMarker(f, MinPPT()), at));
  }
  if (mm.MaxVisible()) {
    c.SetBrushColor(markerColor(MaxPPT(), mm.MaxColor()));
    c.Polygon(Moved(MaxMarker(f, MaxPPT()), at));
  }
  c.SetBrushColor(FBlinking ? FBlinkColor : FScaleSettings.PointerColor());
  c.Polygon(Moved(PointerTriangle(f, PPT()), at));
}
