#include "instruments/AnBase.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include <QMouseEvent>
#include <QPainter>

namespace {

// Narrowing that never leaves the float range undefined: out-of-range values become ±inf.
float ToSingle(long double x) {
  if (std::isnan(x)) return std::numeric_limits<float>::quiet_NaN();
  if (x > std::numeric_limits<float>::max()) return std::numeric_limits<float>::infinity();
  if (x < -std::numeric_limits<float>::max()) return -std::numeric_limits<float>::infinity();
  return static_cast<float>(x);
}

std::int32_t RoundEvenL(long double x) { return RoundEven(static_cast<double>(x)); }

} // namespace

// ---------------------------------------------------------------------------------------------
void TAnPersistent::Changed() {
  if (OnChange) OnChange(this);
}

void TAnPersistent::Assign(const TAnPersistent &source) { RaiseAssignError(&source, this); }

// ---------------------------------------------------------------------------------------------
std::string WidestSection(const std::string &pattern) {
  const auto semi = pattern.find(';');
  if (semi == std::string::npos) return pattern;
  const std::string head = pattern.substr(0, semi);
  const std::string rest = pattern.substr(semi + 1);
  return head.size() > rest.size() ? head : rest;
}

double SnapToDecade(double x) {
  const double e = x > 0 ? RoundEvenF(std::log10(x)) : 0.0;
  return std::pow(10.0, e);
}

void TSignalSettings::DeriveRange() {
  const float from = FValueFrom, to = FValueTo;
  if (from < 0 && to < 0)
    FValueSpan = ToSingle(static_cast<long double>(std::fabs(from)) - std::fabs(to));
  else if (from < 0 && to >= 0)
    FValueSpan = ToSingle(static_cast<long double>(std::fabs(to)) + std::fabs(from));
  else if (from >= 0 && to > 0)
    FValueSpan = ToSingle(static_cast<long double>(std::fabs(to)) - std::fabs(from));
  // Otherwise (from >= 0 and to <= 0, or NaN bounds) the span keeps its previous value.

  if (FDigitalFrom >= 0 && FDigitalTo <= 0)
    FDigitalSpan = 0;
  else
    FDigitalSpan = Sat32(static_cast<std::int64_t>(FDigitalTo) - FDigitalFrom);

  if (FDigitalSpan > 0) FValuePerDigit = ToSingle(static_cast<long double>(FValueSpan) / FDigitalSpan);
  if (FValueSpan > 0) {
    FDigitsPerValue = ToSingle(static_cast<long double>(FDigitalSpan) / FValueSpan);
    FPptPerValue = ToSingle(1000.0L / FValueSpan);
    FWidestFormat = WidestSection(FValueFormat);
  }
}

void TSignalSettings::Changed() {
  DeriveRange();
  TAnPersistent::Changed();
}

void TSignalSettings::Assign(const TAnPersistent &source) {
  const auto *s = dynamic_cast<const TSignalSettings *>(&source);
  if (!s) return TAnPersistent::Assign(source);
  SetDigitalFrom(s->FDigitalFrom);
  SetDigitalTo(s->FDigitalTo);
  SetValueFormat(s->FValueFormat);
  SetValueRange(s->FValueFrom, s->FValueTo);
  SetValueUnit(s->FValueUnit);
  SetName1(s->FName1);
  SetName2(s->FName2);
}

void TSignalSettings::SetDigitalFrom(std::int32_t v) {
  if (v == FDigitalFrom) return;
  FDigitalFrom = v;
  Changed();
}

void TSignalSettings::SetDigitalTo(std::int32_t v) {
  if (v == FDigitalTo) return;
  FDigitalTo = v;
  Changed();
}

void TSignalSettings::SetName1(const std::string &v) {
  if (v == FName1) return;
  FName1 = v;
  Changed();
}

void TSignalSettings::SetName2(const std::string &v) {
  if (v == FName2) return;
  FName2 = v;
  Changed();
}

void TSignalSettings::SetValueFormat(const std::string &v) {
  if (v == FValueFormat) return;
  FValueFormat = v;
  Changed();
}

void TSignalSettings::SetValueUnit(const std::string &v) {
  if (v == FValueUnit) return;
  FValueUnit = v;
  Changed();
}

void TSignalSettings::SetValueFrom(float v) {
  // A NaN bound would make every comparison false and the range meaningless: refuse it.
  if (std::isnan(v) || v == FValueFrom || v == FValueTo) return;
  FValueFrom = v == 0.0f ? 0.000001f : v;
  if (FLogScale) SetValueFrom(ToSingle(SnapToDecade(FValueFrom)));
  Changed();
}

void TSignalSettings::SetValueTo(float v) {
  if (std::isnan(v) || v == FValueFrom || v == FValueTo) return;
  FValueTo = v;
  if (FLogScale) SetValueTo(ToSingle(SnapToDecade(FValueTo)));
  Changed();
}

bool TSignalSettings::SetValueRange(float from, float to) {
  if (std::isnan(from) || std::isnan(to)) return false;
  if (from == 0.0f) from = 0.000001f;
  if (FLogScale) {
    // Both bounds snap to their decades, as the bound setters make them; a bound whose snapping
    // would make it the other one stays as given, as the bound setters leave it.
    const float f = ToSingle(SnapToDecade(from)), t = ToSingle(SnapToDecade(to));
    if (f != t) from = f, to = t;
    else if (f != to) from = f;
    else if (t != from) to = t;
  }
  if (from == to) return false;
  if (from == FValueFrom && to == FValueTo) return true;
  FValueFrom = from;
  FValueTo = to;
  Changed();
  return true;
}

// ---------------------------------------------------------------------------------------------
void TSectorSettings::Assign(const TAnPersistent &source) {
  const auto *s = dynamic_cast<const TSectorSettings *>(&source);
  if (!s) return TAnPersistent::Assign(source);
  for (int i = 0; i < 3; ++i) SetColor(i, s->FColor[i]);
  for (int i = 0; i < 3; ++i) SetFrom(i, s->FFrom[i]);
  for (int i = 0; i < 3; ++i) SetTo(i, s->FTo[i]);
}

void TSectorSettings::SetColor(int i, TColor v) {
  if (FColor[i] == v) return;
  FColor[i] = v;
  Changed();
}

void TSectorSettings::SetFrom(int i, std::int32_t v) {
  if (FFrom[i] == v) return;
  FFrom[i] = v;
  Changed();
}

void TSectorSettings::SetTo(int i, std::int32_t v) {
  if (FTo[i] == v) return;
  FTo[i] = v;
  Changed();
}

void TSectorSettings::SetOffset(std::int32_t v) {
  if (FOffset == v) return;
  FOffset = v;
  Changed();
}

void TSectorSettings::SetWidthOffset(std::int32_t v) {
  if (FWidthOffset == v) return;
  FWidthOffset = v;
  Changed();
}

bool TSectorSettings::SectorColorAt(std::int64_t position, TColor &color) const {
  for (int i = 0; i < 3; ++i) {
    if (FFrom[i] <= position && position <= FTo[i]) {
      color = FColor[i];
      return true;
    }
  }
  return false;
}

// ---------------------------------------------------------------------------------------------
TMinMax::TMinMax() : FMaxDateTime(Now()), FMinDateTime(FMaxDateTime) {}

void TMinMax::SetMax(float v) {
  FMax = v;
  FMaxDateTime = Now();
}

void TMinMax::SetMin(float v) {
  FMin = v;
  FMinDateTime = Now();
}

void TMinMax::SetMaxColor(TColor v) {
  if (FMaxColor == v) return;
  FMaxColor = v;
  Changed();
}

void TMinMax::SetMinColor(TColor v) {
  if (FMinColor == v) return;
  FMinColor = v;
  Changed();
}

void TMinMax::SetUseSectorCol(bool v) {
  if (FUseSectorCol == v) return;
  FUseSectorCol = v;
  Changed();
}

void TMinMax::SetMinVisible(bool v) {
  if (FMinVisible == v) return;
  FMinVisible = v;
  Changed();
}

void TMinMax::SetMaxVisible(bool v) {
  if (FMaxVisible == v) return;
  FMaxVisible = v;
  Changed();
}

// ---------------------------------------------------------------------------------------------
TAnGraphicControl::TAnGraphicControl(QWidget *parent, int initialUpdateCount)
    : QWidget(parent), FUpdateCount(initialUpdateCount) {
  // Not opaque: whatever the control leaves unpainted shows its parent.
  setAttribute(Qt::WA_NoSystemBackground, false);
  setAutoFillBackground(false);
}

void TAnGraphicControl::BeginUpdate() { ++FUpdateCount; }

void TAnGraphicControl::EndUpdate() {
  FUpdateCount = FUpdateCount > 0 ? FUpdateCount - 1 : 0;
  if (FUpdateCount == 0) RequestParamChange();
}

void TAnGraphicControl::RequestParamChange() {
  if (FUpdateCount > 0) return;
  ParamChange(this);
}

void TAnGraphicControl::ParamChange(TObject *) {}

void TAnGraphicControl::SetBounds(int left, int top, int w, int h) {
  setGeometry(std::clamp(left, -MaxPosition, MaxPosition), std::clamp(top, -MaxPosition, MaxPosition),
              std::clamp(w, 0, QWIDGETSIZE_MAX), std::clamp(h, 0, QWIDGETSIZE_MAX));
}

void TAnGraphicControl::SetHint(const std::string &h) {
  if (h == FHint) return;
  FHint = h;
  // The tooltip widget shows line breaks, the stored hint keeps the carriage returns.
  if (FShowHint) setToolTip(QString::fromStdString(h).replace('\r', '\n'));
}

bool TAnGraphicControl::event(QEvent *e) {
  if (e->type() == QEvent::ToolTip) RefreshHint();
  return QWidget::event(e);
}

void TAnGraphicControl::SetShowHint(bool b) {
  FShowHint = b;
  setToolTip(b ? QString::fromStdString(FHint).replace('\r', '\n') : QString());
}

namespace {
TMouseButton ButtonOf(Qt::MouseButton b) {
  switch (b) {
  case Qt::RightButton: return mbRight;
  case Qt::MiddleButton: return mbMiddle;
  default: return mbLeft;
  }
}

TShiftState ShiftOf(const QMouseEvent *e) {
  TShiftState s = 0;
  const auto m = e->modifiers();
  if (m & Qt::ShiftModifier) s |= ssShift;
  if (m & Qt::AltModifier) s |= ssAlt;
  if (m & Qt::ControlModifier) s |= ssCtrl;
  const auto b = e->buttons();
  if (b & Qt::LeftButton) s |= ssLeft;
  if (b & Qt::RightButton) s |= ssRight;
  if (b & Qt::MiddleButton) s |= ssMiddle;
  return s;
}

QPoint PosOf(const QMouseEvent *e) { return e->position().toPoint(); }
} // namespace

void TAnGraphicControl::mousePressEvent(QMouseEvent *e) {
  FClickPending = e->button() == Qt::LeftButton;
  if (OnMouseDown) OnMouseDown(this, ButtonOf(e->button()), ShiftOf(e), PosOf(e).x(), PosOf(e).y());
}

void TAnGraphicControl::mouseReleaseEvent(QMouseEvent *e) {
  const bool click = FClickPending && e->button() == Qt::LeftButton && rect().contains(PosOf(e));
  FClickPending = false;
  if (click && OnClick) OnClick(this);
  if (OnMouseUp) OnMouseUp(this, ButtonOf(e->button()), ShiftOf(e), PosOf(e).x(), PosOf(e).y());
}

void TAnGraphicControl::mouseMoveEvent(QMouseEvent *e) {
  if (OnMouseMove) OnMouseMove(this, ShiftOf(e), PosOf(e).x(), PosOf(e).y());
}

void TAnGraphicControl::mouseDoubleClickEvent(QMouseEvent *e) {
  if (OnDblClick) OnDblClick(this);
  mousePressEvent(e);
}

void TAnGraphicControl::paintEvent(QPaintEvent *e) {
  QPainter painter(this);
  Paint(painter, e->rect());
}

void TAnGraphicControl::Paint(QPainter &, const QRect &) {}

// ---------------------------------------------------------------------------------------------
TAnAnalogGControl::TAnAnalogGControl(QWidget *parent, int initialUpdateCount)
    : TAnGraphicControl(parent, initialUpdateCount) {
  FFont.SetName("Arial");
  FFont.SetSize(8);
  FFont.SetColor(clWindowText);
  FLastPos = pos();
  // Both limit flags start set so that the first check clears them and reports it.
  CheckLimits();
}

TAnAnalogGControl::~TAnAnalogGControl() {
  // The owned objects must not call back into a half-destroyed control.
  FFont.OnChange = nullptr;
  FSignalSettings.OnChange = nullptr;
  FSectorSettings.OnChange = nullptr;
  FMinMax.OnChange = nullptr;
}

void TAnAnalogGControl::Loaded() {
  FFont.OnChange = [this](TFont *) { ParamChange(this); };
  FSignalSettings.OnChange = [this](TObject *s) { ParamChange(s); };
  FSectorSettings.OnChange = [this](TObject *s) { ParamChange(s); };
  FMinMax.OnChange = [this](TObject *s) { MinMaxChange(s); };
  FMinMax.ResetValues();
  FLoaded = true;
}

std::int32_t TAnAnalogGControl::DigitOfValue(double v) const {
  const auto &s = FSignalSettings;
  if (FLogScale) {
    const long double r = std::log10(static_cast<long double>(v) * (1.0L / s.ValueFrom())) * FDigitsPerDecade;
    return Sat32(static_cast<std::int64_t>(RoundEvenL(r)) + s.DigitalFrom());
  }
  return RoundEvenL((static_cast<long double>(v) - s.ValueFrom()) * s.DigitsPerValue() + s.DigitalFrom());
}

void TAnAnalogGControl::SetValue(float x) {
  if (x == FValue) return;
  if (FLogScale && !(x > 0)) return;
  FValue = x;
  FDigit = DigitOfValue(x);
  ValueChange();
}

void TAnAnalogGControl::SetDigit(std::int32_t d) {
  if (d == FDigit) return;
  FDigit = d;
  const auto &s = FSignalSettings;
  const long double steps = static_cast<long double>(d) - s.DigitalFrom();
  if (!FLogScale) {
    FValue = ToSingle(steps * s.ValuePerDigit() + s.ValueFrom());
  } else if (FDigitsPerDecade - FDecadeOffset != 0) {
    FValue = ToSingle(std::pow(10.0L, steps / FDigitsPerDecade - FDecadeOffset));
  }
  ValueChange();
}

void TAnAnalogGControl::SetLimitUpper(float x) {
  if (x == FLimitUpper) return;
  FLimitUpper = x;
  ValueChange();
}

void TAnAnalogGControl::SetLimitLower(float x) {
  if (x == FLimitLower) return;
  FLimitLower = x == 0.0f ? 0.0001f : x;
  ValueChange();
}

void TAnAnalogGControl::SetHintOptions(THintOptions o) {
  RefreshHint(); // the pending text is the one of the options it was made under
  const bool switchedOn = (o & HintBit(hoAutoHint)) && !(FHintOptions & HintBit(hoAutoHint));
  FHintOptions = o;
  if (switchedOn) ValueChange();
}

void TAnAnalogGControl::SetLogScale(bool b) {
  FLogScale = b;
  FSignalSettings.SetLogScaleFlag(b);
  FSectorSettings.SetLogScaleFlag(b);
  auto &s = FSignalSettings;
  if (b) {
    if (!(FValue > 0)) FValue = 0.001f;
    s.SetValueFrom(s.ValueFrom() > 0 ? ToSingle(SnapToDecade(s.ValueFrom())) : 0.001f);
    s.SetValueTo(ToSingle(SnapToDecade(s.ValueTo())));
    const long double ratio = std::log10(static_cast<long double>(s.ValueTo()) / s.ValueFrom());
    FDigitsPerDecade = s.ValueTo() != s.ValueFrom() && ratio != 0 ? static_cast<double>(s.DigitalSpan() / ratio)
                                                                  : static_cast<double>(s.DigitalSpan());
    FDecadeOffset = static_cast<double>(std::log10(1.0L / s.ValueFrom()));
  }
  FDigit = DigitOfValue(FValue);
  LogScaleChange();
}

void TAnAnalogGControl::CheckLimits() {
  const bool upper = FValue > FLimitUpper;
  const bool lower = FValue < FLimitLower;
  if (upper == FUpperExceeded && lower == FLowerExceeded) return;
  FUpperExceeded = upper;
  FLowerExceeded = lower;
  LimitChange();
  if (OnLimit) OnLimit(this, FLowerExceeded, FUpperExceeded);
}

void TAnAnalogGControl::ValueChange() {
  if (pos() != FLastPos) {
    FLastPos = pos();
    if (OnPosChange) OnPosChange(this);
  }
  const auto &s = FSignalSettings;
  FValueTextStale = true;

  // The unclamped position; a zero digital span yields no usable position and counts as 0.
  const std::int32_t span = s.DigitalSpan();
  const long double steps = static_cast<long double>(FDigit) - s.DigitalFrom();
  std::int32_t ppt = span != 0 ? RoundEvenL(1000.0L / span * steps) : 0;

  for (int i = 0; i < 3; ++i) {
    const bool active = FSectorSettings.From(i) <= ppt && ppt <= FSectorSettings.To(i);
    if (active == FSectorActive[i]) continue;
    FSectorActive[i] = active;
    if (OnSectorChange) OnSectorChange(this, i == 0, i == 1, i == 2, active);
  }

  CheckLimits();

  if (ppt < 0) {
    if (!FUnderflowFlag) {
      FUnderflowFlag = true;
      FOverflowFlag = false;
      OverflowChange(ppt);
      if (OnOverflow) OnOverflow(this, ppt);
    }
    ppt = 0;
  } else if (ppt > 1000) {
    if (!FOverflowFlag) {
      FOverflowFlag = true;
      FUnderflowFlag = false;
      OverflowChange(ppt);
      if (OnOverflow) OnOverflow(this, ppt);
    }
    ppt = 1000;
  } else if (FOverflowFlag || FUnderflowFlag) {
    FOverflowFlag = FUnderflowFlag = false;
    OverflowChange(ppt);
    if (OnOverflow) OnOverflow(this, ppt);
  }
  FPPT = ppt;

  if (FMinMax.Min() > FValue) {
    const float old = FMinMax.Min();
    FMinMax.SetMin(FValue);
    FMinPPT = FPPT;
    if (old != TMinMax::NoMin) MinMaxChange(this);
  }
  if (FMinMax.Max() < FValue) {
    const float old = FMinMax.Max();
    FMinMax.SetMax(FValue);
    FMaxPPT = FPPT;
    if (old != TMinMax::NoMax) MinMaxChange(this);
  }

  RebuildHint();
  if (OnValueChange) OnValueChange(this);
}

const std::string &TAnAnalogGControl::ValueText() const {
  if (FValueTextStale) {
    FValueText = FormatFloat(FSignalSettings.ValueFormat(), FValue);
    FValueTextStale = false;
  }
  return FValueText;
}

void TAnAnalogGControl::RefreshHint() {
  if (!FHintStale) return;
  FHintStale = false;
  const auto &s = FSignalSettings;
  const auto &fs = FormatSettings();
  std::string text;
  auto part = [&text](const std::string &p) {
    if (!text.empty()) text += '\r';
    text += p;
  };
  if (FHintOptions & HintBit(hoValue)) text = "Value= " + ValueText() + " " + s.ValueUnit();
  auto extreme = [&](const char *label, float v, TDateTime t) {
    std::string p = label + FormatFloat(s.ValueFormat(), v, fs) + " " + s.ValueUnit();
    if (FHintOptions & HintBit(hoMinMaxDate)) p += " " + DateToStr(t, fs);
    if (FHintOptions & HintBit(hoMinMaxTime)) p += " " + TimeToStr(t, fs);
    part(p);
  };
  if (FHintOptions & HintBit(hoMin)) extreme("MIN= ", FMinMax.Min(), FMinMax.MinDateTime());
  if (FHintOptions & HintBit(hoMax)) extreme("MAX= ", FMinMax.Max(), FMinMax.MaxDateTime());
  if (FHintOptions & HintBit(hoName1)) part(s.Name1());
  if (FHintOptions & HintBit(hoName2)) part(s.Name2());
  SetHint(text);
}

void TAnAnalogGControl::OverflowChange(std::int32_t) {}
void TAnAnalogGControl::LimitChange() {}

void TAnAnalogGControl::MinMaxChange(TObject *) {
  if (OnMinMaxChange) OnMinMaxChange(this);
  ValueChange();
}

void TAnAnalogGControl::LogScaleChange() { RequestParamChange(); }

void TAnAnalogGControl::ParamChange(TObject *) {
  RefreshHint(); // the pending text is the one of the settings it was made under
  FValueTextStale = true; // the value format may have changed
  auto &s = FSignalSettings;
  s.DeriveRange();
  if (!FLogScale) {
    FDigit = DigitOfValue(FValue);
  } else {
    const long double ratio = std::log10(static_cast<long double>(s.ValueTo()) / s.ValueFrom());
    // A range of one decade point has no digits per decade: keep the previous factor.
    if (ratio != 0 && std::isfinite(static_cast<double>(ratio)))
      FDigitsPerDecade = static_cast<double>(s.DigitalSpan() / ratio);
    FDecadeOffset = static_cast<double>(std::log10(1.0L / s.ValueFrom()));
    if (!(FValue > 0)) FValue = 1.0f;
    FDigit = DigitOfValue(FValue);
  }
  if (OnSettingsChange) OnSettingsChange(this);
}
