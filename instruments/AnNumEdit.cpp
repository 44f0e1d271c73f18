#include "instruments/AnNumEdit.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>

#include <QApplication>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QKeySequence>
#include <QLabel>
#include <QPalette>

#include "platform/Application.h"
#include "platform/FormatFloat.h"
#include "platform/FormatSettings.h"

namespace {

constexpr double IntLimit = 2147483647.0;
constexpr double FloatLimit = 1.7e308;
constexpr char BasePrefixes[] = "!$%&";
constexpr char UnitLetters[] = "EPTGMkmunpfa";
constexpr float UnitMultipliers[] = {1e18f, 1e15f, 1e12f, 1e9f, 1e6f, 1e3f, 1e-3f, 1e-6f, 1e-9f, 1e-12f, 1e-15f, 1e-18f};

struct TBaseRule {
  std::string Allowed;
  bool Exponent;
  bool Units;
  bool Signs;
  double Low, High;
};

// The rules of a base under the separators in force.
TBaseRule RuleOf(TEditBase base) {
  const TFormatSettings &fs = FormatSettings();
  switch (base) {
  case ebBin:
    return {"01", false, false, false, -IntLimit, IntLimit};
  case ebHex:
    return {"0123456789abcdefABCDEF", false, false, false, -IntLimit, IntLimit};
  case ebFloat:
    // The lower end mirrors the upper one, so no infinity is ever taken over from text or value.
    return {std::string("0123456789") + fs.DecimalSeparator + fs.ThousandSeparator, true, true, true, -FloatLimit,
            FloatLimit};
  case ebInt:
    break;
  }
  return {std::string("0123456789") + fs.ThousandSeparator, false, true, true, -IntLimit, IntLimit};
}

bool IsSign(char c) { return c == '+' || c == '-'; }

// The kind of number a base reads, as the field's error message names it.
const char *BaseName(TEditBase base) {
  switch (base) {
  case ebBin:
    return "Binärzahl";
  case ebHex:
    return "Hexadezimalzahl";
  case ebFloat:
    return "Gleitkommazahl";
  case ebInt:
    break;
  }
  return "ganze Zahl";
}

// Reads a number text that holds only the base's characters; false when it is no number. Beyond
// the base's range it saturates: the caller clamps to the range. Binary and hexadecimal texts
// up to 32 digits are 32-bit patterns (all ones is -1); longer ones are larger than any.
bool ReadNumber(TEditBase base, const std::string &num, double &out) {
  if (num.empty()) {
    out = 0;
    return true;
  }
  switch (base) {
  case ebBin: {
    std::uint32_t v = 0;
    const std::size_t n = num.size();
    for (std::size_t i = 0; i < n; ++i) {
      if (num[n - 1 - i] != '1') continue;
      if (i >= 32) {
        out = IntLimit;
        return true;
      }
      v |= std::uint32_t{1} << i;
    }
    out = static_cast<std::int32_t>(v);
    return true;
  }
  case ebHex: {
    std::uint64_t v = 0;
    for (char c : num) {
      const int d = c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10;
      v = v * 16 + static_cast<std::uint64_t>(d);
      if (v > 0xFFFFFFFFu) {
        out = IntLimit;
        return true;
      }
    }
    out = static_cast<std::int32_t>(static_cast<std::uint32_t>(v));
    return true;
  }
  case ebFloat: {
    bool tooLarge = false;
    return TextToFloat(num, out, FormatSettings(), &tooLarge) || tooLarge;
  }
  case ebInt:
    break;
  }
  std::size_t i = IsSign(num[0]) ? 1 : 0;
  if (i == num.size()) return false;
  std::int64_t v = 0;
  for (; i < num.size(); ++i) {
    if (num[i] < '0' || num[i] > '9') return false;
    // Held just past the range: more digits change nothing once it is beyond.
    v = std::min<std::int64_t>(v * 10 + (num[i] - '0'), 4294967296LL);
  }
  out = static_cast<double>(num[0] == '-' ? -v : v);
  return true;
}

// Whether the thousands separator at `k` stands between groups of three digits of the integer
// part [from, to): one to three digits before the first, exactly three between two and after
// the last.
bool GroupSeparatorFits(const std::string &t, std::size_t from, std::size_t to, std::size_t k, char thousands) {
  if (k < from || k >= to) return false;
  auto digit = [&](std::size_t i) { return t[i] >= '0' && t[i] <= '9'; };
  std::size_t b = k;
  while (b > from && digit(b - 1)) --b;
  const std::size_t before = k - b;
  if (b == from ? (before < 1 || before > 3) : (before != 3 || t[b - 1] != thousands)) return false;
  std::size_t a = k + 1;
  while (a < to && digit(a)) ++a;
  return a - k - 1 == 3 && (a == to || t[a] == thousands);
}

// Beyond the float range a view saturates: the positive end as the field has always shown it,
// the band just below the negative end as the most negative finite float.
float SingleView(double x) {
  if (x >= 3.4e38) return std::bit_cast<float>(std::uint32_t{0x7F7FC99E});
  if (x <= -1.5e45) return -std::numeric_limits<float>::infinity();
  if (x < -static_cast<double>(std::numeric_limits<float>::max())) return -std::numeric_limits<float>::max();
  return static_cast<float>(x);
}

std::int32_t IntView(double x) {
  if (x >= IntLimit) return 2147483647;
  if (x <= -IntLimit) return -2147483647;
  return RoundEven(x);
}

std::string HexView(std::int32_t n, std::int32_t digits) {
  char buf[40];
  const int width = digits < 0 ? 0 : (digits > 32 ? 32 : digits);
  std::snprintf(buf, sizeof buf, "%0*X", width, static_cast<unsigned>(static_cast<std::uint32_t>(n)));
  return buf;
}

std::string BoolView(std::int32_t n, std::int32_t digits) {
  const auto bits = static_cast<std::uint32_t>(n);
  int top; // highest bit written
  if (digits > 0) {
    // A 32-bit pattern has no bits above 31.
    top = digits > 31 ? 31 : digits;
  } else {
    top = n < 0 ? 31 : (bits == 0 ? 0 : 31 - std::countl_zero(bits));
  }
  std::string s;
  for (int i = top; i >= 0; --i) s += ((bits >> i) & 1u) ? '1' : '0';
  return s;
}

} // namespace

TAnNumEdit::TAnNumEdit(QWidget *parent) : QLineEdit(parent) {
  resize(65, sizeHint().height());
  connect(this, &QLineEdit::textChanged, this, &TAnNumEdit::TextChanged);
  SetTextQuietly("0");
  FLastText = "0";
  SetColor(FColorDefault);
  Validate(true);
}

void TAnNumEdit::Loaded() {
  FLastText = Text();
  FLoading = false;
}

std::string TAnNumEdit::Text() const {
  // Non-ASCII characters are never part of a number: they stand as one refused byte each, so
  // positions stay those of the widget's text.
  const QString t = text();
  std::string s(static_cast<std::size_t>(t.size()), '\x7f');
  for (qsizetype i = 0; i < t.size(); ++i)
    if (t[i].unicode() < 0x80) s[static_cast<std::size_t>(i)] = static_cast<char>(t[i].unicode());
  return s;
}

void TAnNumEdit::SetTextQuietly(const std::string &s) {
  FSkipNextChange = true;
  setText(QString::fromStdString(s));
  FSkipNextChange = false;
}

void TAnNumEdit::SetColor(TColor c) {
  FColor = c;
  // A disabled field keeps the platform's disabled look.
  QPalette p = palette();
  p.setColor(QPalette::Active, QPalette::Base, ToQColor(c));
  p.setColor(QPalette::Inactive, QPalette::Base, ToQColor(c));
  setPalette(p);
}

void TAnNumEdit::SetColorDefault(TColor c) {
  FColorDefault = c;
  SetColor(c);
}

void TAnNumEdit::ShowRefused(const std::string &why) {
  if (why.empty()) {
    if (!FRefused) return;
    FRefused = false;
    setToolTip(QString());
    SetState(Text() == FLastText ? esNormal : esEditing);
    return;
  }
  FRefused = true;
  setToolTip(QString::fromStdString(why));
  SetState(esError);
}

void TAnNumEdit::SetState(TNumEditState s) {
  // A refusal mark lasts until the field's state moves on by itself.
  if (FRefused && s != esError) {
    FRefused = false;
    setToolTip(QString());
  }
  if (s == FState) return;
  FState = s;
  switch (s) {
  case esNormal:
    SetColor(FColorDefault);
    break;
  case esEditing:
    SetColor(FColorEditing);
    break;
  case esError:
    SetColor(FColorError);
    // Painted now rather than by processing events, which could re-enter user input.
    repaint();
    Beep();
    break;
  }
}

void TAnNumEdit::Beep() { QApplication::beep(); }

double TAnNumEdit::ClampToLimits(double x) {
  // A limit that is switched off no longer holds its flag: the arrow key it blocked works again.
  auto flag = [this](bool &at, bool now) {
    if (now == at) return;
    at = now;
    if (OnLimit) OnLimit(this);
  };
  const bool limitMin = FOptions & eoLimitMin, limitMax = FOptions & eoLimitMax;
  flag(FAtMin, limitMin && x <= FMinValue);
  if (FAtMin) x = FMinValue;
  flag(FAtMax, limitMax && x >= FMaxValue);
  if (FAtMax) x = FMaxValue;
  return x;
}

std::string TAnNumEdit::TextOfValue() const {
  switch (FEditBase) {
  case ebBin:
    return FValueAsBool;
  case ebHex:
    return FValueAsHex;
  case ebFloat:
    return FormatFloat(FFormatStr, FValue, FormatSettings());
  case ebInt:
    break;
  }
  return std::to_string(FValueAsInt);
}

void TAnNumEdit::TakeValue(double x) {
  if (std::isnan(x)) return;
  const TBaseRule rule = RuleOf(FEditBase);
  if (x < rule.Low) x = rule.Low;
  if (x > rule.High) x = rule.High;
  FValueAsSingle = SingleView(x);
  FValueAsInt = IntView(x);
  FValue = x;
  FValueAsHex = HexView(FValueAsInt, FDigitsHex);
  FValueAsBool = BoolView(FValueAsInt, FDigitsBool);
  const std::string t = TextOfValue();
  SetTextQuietly(t);
  SetState(esNormal);
  if (!FLoading && OnValueChanged && t != FLastText) OnValueChanged(this);
  FLastText = t;
}

bool TAnNumEdit::Validate(bool takeOver) {
  const std::string t = Text();
  if (t.empty()) {
    SetState(esEditing);
    return true;
  }
  TEditBase base = FEditBase;
  std::size_t start = 0;
  if (const char *p = std::strchr(BasePrefixes, t[0]); p && *p) {
    constexpr TEditBase named[] = {ebFloat, ebHex, ebInt, ebBin};
    base = named[p - BasePrefixes];
    start = 1;
  }
  const TBaseRule rule = RuleOf(base);

  double m = 1;
  std::size_t end = t.size();
  if (rule.Units && end > start) {
    if (const char *u = std::strchr(UnitLetters, t[end - 1]); u && *u) {
      const double mult = UnitMultipliers[u - UnitLetters];
      if (base == ebFloat || mult > 1) {
        m = mult;
        --end;
      }
    }
  }

  // The refused stretch runs from the first to the last invalid position, whatever the order
  // the rules below find them in.
  std::size_t first = std::string::npos, last = 0;
  auto refuse = [&](std::size_t i) {
    first = std::min(first, i);
    last = std::max(last, i);
  };
  const TFormatSettings &fs = FormatSettings();
  std::size_t i = start;
  if (rule.Signs && i < end && IsSign(t[i])) ++i;
  const std::size_t intStart = i;
  std::size_t mantissaEnd = end;
  for (; i < end; ++i) {
    const char c = t[i];
    if (mantissaEnd == end && rule.Exponent && (c == 'E' || c == 'e')) {
      mantissaEnd = i;
      if (i + 1 < end && IsSign(t[i + 1])) ++i;
      continue;
    }
    if (rule.Allowed.find(c) == std::string::npos) refuse(i);
  }
  bool seenSeparator = false;
  for (std::size_t k = 0; k < t.size(); ++k) {
    if (t[k] != fs.DecimalSeparator) continue;
    if (seenSeparator) refuse(k);
    seenSeparator = true;
  }
  // A thousands separator anywhere but between groups of three digits would be dropped and the
  // number read ten or a thousand times too large ("0,5" as 5): it is refused like any other
  // character. Only when taking over: "1," is on its way to "1,000" while being typed.
  if (takeOver && rule.Allowed.find(fs.ThousandSeparator) != std::string::npos) {
    const std::size_t intEnd = std::min(t.find(fs.DecimalSeparator, intStart), mantissaEnd);
    for (std::size_t k = intStart; k < end; ++k)
      if (t[k] == fs.ThousandSeparator && !GroupSeparatorFits(t, intStart, intEnd, k, fs.ThousandSeparator)) refuse(k);
  }

  if (first != std::string::npos) {
    SetState(esError);
    if (isEnabled() && isVisible()) setFocus();
    setSelection(static_cast<int>(first), static_cast<int>(last - first + 1));
    return false;
  }
  // Half-typed text ("1e", "-") is left alone until it is taken over: reading it now would report
  // an error in the middle of typing.
  if (!takeOver) {
    SetState(t == FLastText ? esNormal : esEditing);
    return true;
  }
  std::string num = t.substr(start, end - start);
  if (!num.empty() && num.find_first_not_of("+-") == std::string::npos) num += '0';
  // "E3" and "-E3" read as 1E3 and -1E3: the mantissa 1 goes after the sign.
  if (const std::size_t digits = num.find_first_not_of("+-");
      rule.Exponent && digits != std::string::npos && (num[digits] == 'E' || num[digits] == 'e'))
    num.insert(digits, "1");
  if (m != 1 && num.empty()) num = "1";
  std::erase(num, FormatSettings().ThousandSeparator);
  double v = 0;
  if (!ReadNumber(base, num, v)) {
    SetState(esError);
    selectAll();
    // A pasted screenful of digits would make the message box wider than the screen.
    const QString shown = text().size() > 40 ? text().left(40) + QStringLiteral("…") : text();
    throw EConvertError("„" + shown.toStdString() + "“ ist keine gültige " + BaseName(base) + " (Feld „" +
                        FieldLabel() + "“).");
  }
  if (m != 1) v *= m;
  SetState(esNormal);
  TakeValue(ClampToLimits(v));
  return true;
}

std::string TAnNumEdit::FieldLabel() const {
  QString label = accessibleName();
  if (label.isEmpty()) {
    // The label the window placed beside the field names it for the user.
    for (const QLabel *l : window()->findChildren<QLabel *>())
      if (l->buddy() == this) label = l->text();
  }
  label.remove(QLatin1Char('&'));
  label = label.simplified();
  return label.isEmpty() ? std::string("Zahlenfeld") : label.toStdString();
}

void TAnNumEdit::ValidateReporting(bool takeOver) {
  try {
    Validate(takeOver);
  } catch (...) {
    ShowCurrentException();
  }
}

void TAnNumEdit::SetValue(double x) {
  if (std::isnan(x) || x == FValue) return;
  TakeValue(ClampToLimits(x));
}

void TAnNumEdit::SetValueAsInt(std::int32_t n) {
  if (std::to_string(n) != Text()) TakeValue(n);
}

void TAnNumEdit::SetValueAsSingle(float x) {
  if (std::isnan(x)) return;
  if (FormatFloat(FFormatStr, FValue, FormatSettings()) != Text()) TakeValue(x);
}

void TAnNumEdit::SetValueAsBool(const std::string &s) {
  if (s == Text()) return;
  SetTextQuietly(FEditBase == ebBin ? s : "&" + s);
  Validate(true);
}

void TAnNumEdit::SetValueAsHex(const std::string &s) {
  if (s == Text()) return;
  SetTextQuietly(FEditBase == ebHex ? s : "$" + s);
  Validate(true);
}

void TAnNumEdit::SetMaxValue(double v) {
  if (v == FMaxValue || std::isnan(v)) return;
  FMaxValue = v;
  Validate(true);
}

void TAnNumEdit::SetMinValue(double v) {
  if (v == FMinValue || std::isnan(v)) return;
  FMinValue = v;
  Validate(true);
}

void TAnNumEdit::SetOptions(TNumEditOptions o) {
  if (o == FOptions) return;
  FOptions = o;
  Validate(true);
}

bool TAnNumEdit::SetLimits(double minValue, double maxValue) {
  if (std::isnan(minValue) || std::isnan(maxValue) || minValue > maxValue) return false;
  const TNumEditOptions o = FOptions | eoLimitMin | eoLimitMax;
  if (minValue == FMinValue && maxValue == FMaxValue && o == FOptions) return true;
  FMinValue = minValue;
  FMaxValue = maxValue;
  FOptions = o;
  Validate(true);
  return true;
}

void TAnNumEdit::SetFormatStr(const std::string &s) {
  if (s == FFormatStr) return;
  FFormatStr = s;
  if (FEditBase == ebFloat) SetTextQuietly(FormatFloat(s, FValue, FormatSettings()));
  Validate(true);
}

void TAnNumEdit::SetEditBase(TEditBase b) {
  if (b == FEditBase) return;
  FEditBase = b;
  const std::string t = TextOfValue();
  SetTextQuietly(t);
  FLastText = t;
  SetState(esNormal);
}

void TAnNumEdit::FireChange() {
  if (OnChange) OnChange(this);
}

void TAnNumEdit::StepUp() {
  if (isReadOnly() || FAtMax) {
    Beep();
    return;
  }
  const bool multiply = (FOptions & eoMultiply) && FEditBase == ebFloat && FIncrement != 0 && FValue != 0;
  SetValue(ClampToLimits(multiply ? FValue * FIncrement : FValue + FIncrement));
  FireChange();
}

void TAnNumEdit::StepDown() {
  if (isReadOnly() || FAtMin) {
    Beep();
    return;
  }
  const bool multiply = (FOptions & eoMultiply) && FEditBase == ebFloat && FIncrement != 0 && FValue != 0;
  SetValue(ClampToLimits(multiply ? FValue / FIncrement : FValue - FIncrement));
  FireChange();
}

void TAnNumEdit::keyPressEvent(QKeyEvent *event) {
  const int key = event->key();
  if (key == Qt::Key_Up && !FAtMax) {
    StepUp();
    return;
  }
  if (key == Qt::Key_Down && !FAtMin) {
    StepDown();
    return;
  }
  if (key == Qt::Key_Up || key == Qt::Key_Down) Beep(); // at its limit
  if (FState != esNormal && key == Qt::Key_Escape) setText(QString::fromStdString(TextOfValue()));
  FireChange();
  if (key == Qt::Key_Up || key == Qt::Key_Down) return;

  // Typing, pasting and deleting all count as characters: none of them may change the text then.
  const bool typing = !event->text().isEmpty() || event->matches(QKeySequence::Paste) ||
                      event->matches(QKeySequence::Cut) || event->matches(QKeySequence::Delete);
  if (!FEditorEnabled && typing) {
    Beep();
    return;
  }
  if (key == Qt::Key_Return || key == Qt::Key_Enter) {
    TakeOverTyped();
    return;
  }
  QLineEdit::keyPressEvent(event);
}

void TAnNumEdit::TextChanged() {
  if (FSkipNextChange) return;
  ValidateReporting(FValueAsBool.empty());
}

void TAnNumEdit::focusInEvent(QFocusEvent *event) {
  QLineEdit::focusInEvent(event);
  // A refused stretch stays selected when the error takes the focus.
  if (FState == esError) return;
  if (FAutoSelect && event->reason() != Qt::MouseFocusReason)
    selectAll();
  else if (!FAutoSelect && event->reason() != Qt::MouseFocusReason)
    deselect();
}

void TAnNumEdit::focusOutEvent(QFocusEvent *event) {
  QLineEdit::focusOutEvent(event);
  // A menu or another window taking the focus for a while is no leaving of the field.
  if (event->reason() == Qt::PopupFocusReason || event->reason() == Qt::ActiveWindowFocusReason) return;
  TakeOverTyped();
}

void TAnNumEdit::TakeOverTyped() {
  // Untouched text stands for the exact value: 0.001 shown as "0" must not become 0 by passing
  // through the field.
  if (FState == esNormal && Text() == FLastText) return;
  if (text().isEmpty()) SetTextQuietly("0");
  ValidateReporting(true);
}
