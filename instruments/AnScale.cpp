#include "instruments/AnScale.h"

#include <cmath>

#include "platform/FormatFloat.h"
#include "platform/FormatSettings.h"

TScaleSettings::TScaleSettings() {
  FFont.SetName("Arial");
  FFont.SetSize(14);
  FFont.OnChange = [this](TFont *) { Changed(); };
}

void TScaleSettings::Assign(const TAnPersistent &source) {
  const auto *s = dynamic_cast<const TScaleSettings *>(&source);
  if (!s) {
    TAnPersistent::Assign(source);
    return;
  }
  SetColor(s->FColor);
  SetDrawLine(s->FDrawLine);
  SetFont(s->FFont);
  SetPointerColor(s->FPointerColor);
  SetPosLeftTop(s->FPosLeftTop);
  SetSteps(s->FSteps);
  SetSubSteps(s->FSubSteps);
  SetValueFormat(s->FValueFormat);
  SetValueFormatLog(s->FValueFormatLog);
}

namespace {
template <typename T> void StoreAndNotify(TAnPersistent &owner, T &field, const T &v) {
  if (field == v)
    return;
  field = v;
  owner.Changed();
}
} // namespace

void TScaleSettings::SetColor(TColor v) { StoreAndNotify(*this, FColor, v); }
void TScaleSettings::SetPointerColor(TColor v) { StoreAndNotify(*this, FPointerColor, v); }

void TScaleSettings::SetDrawLine(bool v) {
  // No equality test: writing the same value still asks the owner to redraw.
  FDrawLine = v;
  Changed();
}

void TScaleSettings::SetFont(const TFont &f) {
  // The font's own notification fires from Assign when something differs; Changed follows always.
  FFont.Assign(f);
  Changed();
}

void TScaleSettings::SetPosLeftTop(bool v) { StoreAndNotify(*this, FPosLeftTop, v); }

void TScaleSettings::SetSteps(std::int32_t v) {
  if (v < 1 || v > 20)
    return;
  StoreAndNotify(*this, FSteps, v);
}

void TScaleSettings::SetSubSteps(std::int32_t v) {
  if (v < 1 || v > 10)
    return;
  StoreAndNotify(*this, FSubSteps, v);
}

void TScaleSettings::SetValueFormat(const std::string &v) { StoreAndNotify(*this, FValueFormat, v); }
void TScaleSettings::SetValueFormatLog(const std::string &v) { StoreAndNotify(*this, FValueFormatLog, v); }

// ---------------------------------------------------------------------------------------------
// Label list and metrics

static std::string BuildLogLabels(TScaleSettings &s, float valueFrom, float valueTo, const TFormatSettings &fs) {
  s.LogFrom = RoundEven(std::log10(static_cast<double>(valueFrom)));
  s.LogTo = RoundEven(std::log10(static_cast<double>(valueTo)));
  // 64 bits: saturated exponents of unusable bounds must not overflow the difference.
  const std::int64_t decades = static_cast<std::int64_t>(s.LogTo) - s.LogFrom;
  s.LogSteps = 1;
  if (decades != 0) {
    for (std::int32_t c = s.Steps(); c >= 2; --c) {
      if (decades % c == 0) {
        s.LogSteps = c;
        break;
      }
    }
  }
  // LogSteps divides the decades (or is 1), so the list holds at most LogSteps + 1 labels.
  const std::int64_t perLabel = decades / s.LogSteps;
  auto label = [&](std::int64_t n) {
    return FormatFloat(s.ValueFormatLog(), std::pow(10.0, static_cast<double>(n)), fs) + ";";
  };
  std::string list = label(s.LogTo);
  for (std::int64_t n = s.LogTo; n > s.LogFrom;) {
    n -= perLabel;
    list += label(n);
  }
  return list;
}

std::string BuildLabelList(TScaleSettings &s, float valueFrom, float valueTo, const TFormatSettings &fs) {
  std::string list;
  if (s.LogScale()) {
    list = BuildLogLabels(s, valueFrom, valueTo, fs);
  } else {
    const double from = valueFrom;
    const double step = (static_cast<double>(valueTo) - from) / s.Steps();
    for (std::int32_t k = s.Steps(); k >= 0; --k)
      list += FormatFloat(s.ValueFormat(), from + k * step, fs) + ";";
  }
  s.LabelList = list;
  return list;
}

void ComputeScaleMetrics(TScaleSettings &s, int labelWidth, int labelHeight) {
  s.LabelWidth = labelWidth;
  s.LabelHeight = labelHeight;
  s.TickWidth = RoundEven(labelHeight / 14.0);
  s.LabelGap = labelHeight / 3;
  s.TickLength = RoundEven(labelHeight / 1.4);
  s.SubTickLength = s.TickWidth == 1 ? s.TickLength / 2 : RoundEven(s.TickLength / 1.4);
  s.ScaleWidth = Sat32(static_cast<std::int64_t>(s.LabelWidth) + s.TickLength + s.LabelGap);
  const int n = s.LogScale() ? s.LogSteps : s.Steps();
  s.ScaleMinHeight = RoundEven(static_cast<double>(labelHeight) * n * 1.4);
}
