#include "app/NumEditPlaceholder.h"

#include <cmath>
#include <limits>

TNumEditField::TNumEditField(QWidget *parent) : QLineEdit(parent) {
  SetValue(0.0);
  connect(this, &QLineEdit::editingFinished, this, &TNumEditField::TakeOver);
}

bool TNumEditField::ParseNumber(const QString &text, double &out) {
  QString t = text.trimmed();
  t.replace(QLatin1Char(','), QLatin1Char('.'));
  bool ok = false;
  const double v = t.toDouble(&ok);
  // "inf" and "nan" parse, but a range or size of that kind means nothing to a meter.
  if (!ok || !std::isfinite(v)) return false;
  out = v;
  return true;
}

double TNumEditField::Value() const {
  if (text() == FShownText) return FValue;
  double v = 0.0;
  return ParseNumber(text(), v) ? v : FValue;
}

void TNumEditField::SetValue(double v) {
  if (!std::isfinite(v)) return;
  FValue = v;
  // Whole numbers read as such; others with the seven digits a 32-bit float carries.
  FShownText = (v == std::trunc(v) && std::fabs(v) < 1e15) ? QString::number(v, 'f', 0) : QString::number(v, 'g', 7);
  setText(FShownText);
}

std::int32_t TNumEditField::ValueAsInt() const { return SaturateToInt(Value()); }

void TNumEditField::SetValueAsInt(std::int32_t n) { SetValue(static_cast<double>(n)); }

std::int32_t TNumEditField::SaturateToInt(double v) {
  if (std::isnan(v)) return 0;
  const double r = std::nearbyint(v);
  if (r >= static_cast<double>(std::numeric_limits<std::int32_t>::max())) return std::numeric_limits<std::int32_t>::max();
  if (r <= static_cast<double>(std::numeric_limits<std::int32_t>::min())) return std::numeric_limits<std::int32_t>::min();
  return static_cast<std::int32_t>(r);
}

void TNumEditField::TakeOver() {
  double v = 0.0;
  if (ParseNumber(text(), v))
    SetValue(v);
  else
    setText(FShownText);
}
