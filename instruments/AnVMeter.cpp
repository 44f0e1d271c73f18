#include "instruments/AnVMeter.h"

#include <QPainter>

// Built locked: nothing recomputes or paints until the stored properties are applied and
// Loaded releases the lock.
TAnVMeter::TAnVMeter(QWidget *parent) : TAnAnalogGControl(parent, 1) {
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

void TAnVMeter::RequestRepaint() {
  if (UpdateCount() > 0) return;
  update();
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

void TAnVMeter::ValueChange() {
  TAnAnalogGControl::ValueChange();
  if (UpdateCount() > 0) return;
  ++FValueRedraws;
  update();
}

void TAnVMeter::Paint(QPainter &, const QRect &) {
  if (UpdateCount() > 0) return;
  ++FFullPaints;
}
