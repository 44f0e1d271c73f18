#include "app/storage/StoredProps.h"

#include <cmath>
#include <cstring>
#include <memory>
#include <utility>

#include "instruments/AnBevel.h"
#include "instruments/AnScale.h"
#include "instruments/AnTrend.h"
#include "instruments/AnVMeter.h"
#include "platform/FormatFloat.h"
#include "platform/FormatSettings.h"
#include "platform/IniFile.h"

namespace {

bool EqualsNoCase(const std::string &a, const char *b) {
  if (a.size() != std::strlen(b)) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    auto fold = [](char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; };
    if (fold(a[i]) != fold(b[i])) return false;
  }
  return true;
}

[[noreturn]] void Fail(const std::string &text, const char *what) {
  throw EStoredValue("'" + text + "' is not a valid " + what);
}

struct TCharsetName {
  const char *Name;
  TFontCharset Value;
};

constexpr TCharsetName CharsetNames[] = {
    {"ANSI_CHARSET", 0},        {"DEFAULT_CHARSET", 1},       {"SYMBOL_CHARSET", 2},
    {"MAC_CHARSET", 77},        {"SHIFTJIS_CHARSET", 128},    {"HANGEUL_CHARSET", 129},
    {"JOHAB_CHARSET", 130},     {"GB2312_CHARSET", 134},      {"CHINESEBIG5_CHARSET", 136},
    {"GREEK_CHARSET", 161},     {"TURKISH_CHARSET", 162},     {"VIETNAMESE_CHARSET", 163},
    {"HEBREW_CHARSET", 177},    {"ARABIC_CHARSET", 178},      {"BALTIC_CHARSET", 186},
    {"RUSSIAN_CHARSET", 204},   {"THAI_CHARSET", 222},        {"EASTEUROPE_CHARSET", 238},
    {"OEM_CHARSET", 255},
};

const TEnumNames BevelStyleNames = {"bsLowered", "bsRaised"};
const TEnumNames BevelLineNames = {"blNone", "blOuter", "blInner", "blBoth"};
const TEnumNames GradientStyleNames = {"gsHorizontal1", "gsHorizontal2", "gsHorizontal3", "gsVertical1",
                                       "gsVertical2",   "gsVertical3",   "gsElliptic1",   "gsElliptic2",
                                       "gsElliptic3",   "gsRectangle",   "gsDiamond1",    "gsDiamond2",
                                       "gsTopLeft",     "gsTopRight"};
const TEnumNames FontPitchNames = {"fpDefault", "fpVariable", "fpFixed"};

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

} // namespace

// --- value texts --------------------------------------------------------------------------------

std::string EncodeBoolean(bool value) { return value ? "TRUE" : "FALSE"; }

bool DecodeBoolean(const std::string &text) {
  bool b = false;
  if (!TIniFile::ParseBool(text, b)) Fail(text, "boolean value");
  return b;
}

std::string EncodeInteger(std::int32_t value) { return std::to_string(value); }

std::int32_t DecodeInteger(const std::string &text) {
  if (text.empty()) return 0;
  std::int32_t n = 0;
  if (!TIniFile::ParseInteger(text, n)) Fail(text, "integer value");
  return n;
}

std::string EncodeColor(TColor value) { return ColorToString(value); }

TColor DecodeColor(const std::string &text) {
  if (const auto c = StringToColor(text)) return *c;
  Fail(text, "colour");
}

std::string EncodeCharset(TFontCharset value) {
  for (const TCharsetName &c : CharsetNames)
    if (c.Value == value) return c.Name;
  return std::to_string(value);
}

TFontCharset DecodeCharset(const std::string &text) {
  for (const TCharsetName &c : CharsetNames)
    if (EqualsNoCase(text, c.Name)) return c.Value;
  std::int32_t n = 0;
  // A character set is one byte wide.
  if (!TIniFile::ParseInteger(text, n) || n < 0 || n > 255) Fail(text, "character set");
  return n;
}

std::string EncodeEnumeration(const TEnumNames &names, int ordinal) {
  if (ordinal >= 0 && static_cast<size_t>(ordinal) < names.size()) return names[static_cast<size_t>(ordinal)];
  return std::to_string(ordinal);
}

int DecodeEnumeration(const TEnumNames &names, const std::string &text) {
  for (size_t i = 0; i < names.size(); ++i)
    if (EqualsNoCase(text, names[i])) return static_cast<int>(i);
  std::int32_t n = 0;
  // An ordinal outside the enumeration would give the property a value it cannot hold.
  if (!TIniFile::ParseInteger(text, n) || n < 0 || static_cast<size_t>(n) >= names.size())
    Fail(text, "enumeration value");
  return n;
}

std::string EncodeExtended(double value) {
  std::uint64_t mantissa = 0;
  int exponent = 0; // biased
  const bool negative = std::signbit(value);
  if (std::isnan(value)) {
    exponent = 0x7FFF;
    mantissa = 0xC000000000000000ull;
  } else if (std::isinf(value)) {
    exponent = 0x7FFF;
    mantissa = 0x8000000000000000ull;
  } else if (value != 0.0) {
    int e = 0;
    const double m = std::frexp(std::fabs(value), &e); // |value| = m * 2^e, 0.5 <= m < 1
    mantissa = static_cast<std::uint64_t>(std::ldexp(m, 64));
    exponent = e - 1 + 16383;
  }
  unsigned char bytes[10];
  for (int i = 0; i < 8; ++i) bytes[i] = static_cast<unsigned char>(mantissa >> (8 * i));
  const unsigned top = static_cast<unsigned>(exponent) | (negative ? 0x8000u : 0u);
  bytes[8] = static_cast<unsigned char>(top & 0xFF);
  bytes[9] = static_cast<unsigned char>(top >> 8);
  static constexpr char Hex[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char b : bytes) {
    out += Hex[b >> 4];
    out += Hex[b & 0x0F];
  }
  return out;
}

std::optional<float> DecodeExtended(const std::string &text) {
  bool allHex = true;
  for (char c : text) allHex = allHex && HexDigit(c) >= 0;
  double value = 0.0;
  if (!allHex) {
    if (!TextToFloat(text, value, FormatSettings())) Fail(text, "floating point value");
  } else {
    const std::string digits = (text.size() % 2 ? "0" : "") + text;
    if (digits.size() < 20) return std::nullopt;
    unsigned char bytes[10];
    for (size_t i = 0; i < 10; ++i)
      bytes[i] = static_cast<unsigned char>(HexDigit(digits[2 * i]) * 16 + HexDigit(digits[2 * i + 1]));
    std::uint64_t mantissa = 0;
    for (int i = 7; i >= 0; --i) mantissa = (mantissa << 8) | bytes[i];
    const unsigned top = bytes[8] | (static_cast<unsigned>(bytes[9]) << 8);
    const int exponent = static_cast<int>(top & 0x7FFF);
    if (exponent == 0x7FFF) Fail(text, "finite floating point value");
    // Denormals (exponent 0) carry their exponent as 1; ldexp takes any range without overflow
    // traps, going to infinity or zero.
    value = std::ldexp(static_cast<double>(mantissa), (exponent == 0 ? 1 : exponent) - 16383 - 63);
    if (top & 0x8000) value = -value;
  }
  const float f = NarrowToFloat(value);
  if (!std::isfinite(f)) Fail(text, "floating point value for a 32-bit float");
  return f;
}

// --- property lists -----------------------------------------------------------------------------

namespace {

template <class T, class Enc, class Dec>
TStoredProperty ValueProp(const char *name, std::function<T()> get, std::function<void(T)> set, Enc enc, Dec dec) {
  TStoredProperty p;
  p.Name = name;
  p.Write = [get, enc] { return enc(get()); };
  p.Read = [set, dec](const std::string &text) { set(dec(text)); };
  return p;
}

} // namespace

void TPropList::Integer(const char *name, std::function<std::int32_t()> get, std::function<void(std::int32_t)> set) {
  Props.push_back(ValueProp<std::int32_t>(name, std::move(get), std::move(set), EncodeInteger, DecodeInteger));
}

void TPropList::Boolean(const char *name, std::function<bool()> get, std::function<void(bool)> set) {
  Props.push_back(ValueProp<bool>(name, std::move(get), std::move(set), EncodeBoolean, DecodeBoolean));
}

void TPropList::Color(const char *name, std::function<TColor()> get, std::function<void(TColor)> set) {
  Props.push_back(ValueProp<TColor>(name, std::move(get), std::move(set), EncodeColor, DecodeColor));
}

void TPropList::Charset(const char *name, std::function<TFontCharset()> get, std::function<void(TFontCharset)> set) {
  Props.push_back(ValueProp<TFontCharset>(name, std::move(get), std::move(set), EncodeCharset, DecodeCharset));
}

void TPropList::Enumeration(const char *name, const TEnumNames &names, std::function<int()> get,
                            std::function<void(int)> set) {
  Props.push_back(ValueProp<int>(
      name, std::move(get), std::move(set), [names](int v) { return EncodeEnumeration(names, v); },
      [names](const std::string &t) { return DecodeEnumeration(names, t); }));
}

void TPropList::Float(const char *name, std::function<float()> get, std::function<void(float)> set) {
  TStoredProperty p;
  p.Name = name;
  p.Write = [get] { return EncodeExtended(get()); };
  p.Read = [set](const std::string &text) {
    if (const auto v = DecodeExtended(text)) set(*v);
  };
  Props.push_back(std::move(p));
}

void TPropList::Text(const char *name, std::function<std::string()> get, std::function<void(const std::string &)> set) {
  TStoredProperty p;
  p.Name = name;
  p.Write = std::move(get);
  p.Read = std::move(set);
  Props.push_back(std::move(p));
}

void TPropList::Object(const char *name, TDescribe children) {
  TStoredProperty p;
  p.Kind = TStoredProperty::Object;
  p.Name = name;
  p.Children = std::move(children);
  Props.push_back(std::move(p));
}

void TPropList::Set(const char *name, std::vector<std::string> elements, std::function<std::uint32_t()> get,
                    std::function<void(std::uint32_t)> set) {
  TStoredProperty p;
  p.Kind = TStoredProperty::Set;
  p.Name = name;
  p.Elements = std::move(elements);
  p.GetBits = std::move(get);
  p.SetBits = std::move(set);
  Props.push_back(std::move(p));
}

// --- the instruments' objects -------------------------------------------------------------------

// Shorthands for a getter/setter pair of an object that outlives the list.
#define PROP(obj, Name) [&obj] { return obj.Name(); }, [&obj](auto v) { obj.Set##Name(v); }

void DescribeOffset(TAnOffset &o, TPropList &list) {
  list.Integer("Top", PROP(o, Top));
  list.Integer("Left", PROP(o, Left));
  list.Integer("Right", PROP(o, Right));
  list.Integer("Bottom", PROP(o, Bottom));
}

void DescribeGradSettings(TAnGradSettings &g, TPropList &list) {
  list.Color("ColorFrom", PROP(g, ColorFrom));
  list.Color("ColorTo", PROP(g, ColorTo));
  list.Boolean("Visible", PROP(g, Visible));
  list.Enumeration("Style", GradientStyleNames, [&g] { return int(g.Style()); },
                   [&g](int v) { g.SetStyle(TGradientStyle(v)); });
}

void DescribeBevel(TAnSBevel &b, TPropList &list) {
  list.Object("Offset", [&b](TPropList &l) { DescribeOffset(b.Offset(), l); });
  list.Enumeration("Style", BevelStyleNames, [&b] { return int(b.Style()); },
                   [&b](int v) { b.SetStyle(TBevelStyle(v)); });
  list.Integer("Spacing", PROP(b, Spacing));
  list.Enumeration("BevelLine", BevelLineNames, [&b] { return int(b.BevelLine()); },
                   [&b](int v) { b.SetBevelLine(TBevelLine(v)); });
  list.Integer("Width", PROP(b, Width));
  list.Color("Color", PROP(b, Color));
  list.Color("ColorShadowFrom", PROP(b, ColorShadowFrom));
  list.Color("ColorShadowTo", PROP(b, ColorShadowTo));
  list.Color("ColorHighLightFrom", PROP(b, ColorHighLightFrom));
  list.Color("ColorHighLightTo", PROP(b, ColorHighLightTo));
  list.Color("PenColor", PROP(b, PenColor));
  list.Object("SurfaceGrad", [&b](TPropList &l) { DescribeGradSettings(b.SurfaceGrad(), l); });
}

void DescribeFont(TFont &f, TPropList &list) {
  list.Charset("Charset", PROP(f, Charset));
  list.Color("Color", PROP(f, Color));
  list.Integer("Height", PROP(f, Height));
  list.Text("Name", PROP(f, Name));
  list.Enumeration("Pitch", FontPitchNames, [&f] { return int(f.Pitch()); },
                   [&f](int v) { f.SetPitch(TFontPitch(v)); });
  // Size follows Height in the file and would round a pixel height that is no whole point size
  // (14 px is 10.5 pt) to another one at every restart: it applies only when it says something
  // else than the height just read, as after an edit by hand.
  list.Integer("Size", [&f] { return f.Size(); }, [&f](std::int32_t v) {
    if (v != f.Size()) f.SetSize(v);
  });
  // fsBold is 1, fsItalic 2 …: element n is bit n.
  list.Set("Style", {"fsBold", "fsItalic", "fsUnderline", "fsStrikeOut"},
           [&f] { return static_cast<std::uint32_t>(f.Style()); },
           [&f](std::uint32_t bits) { f.SetStyle(static_cast<TFontStyles>(bits)); });
}

void DescribeScaleSettings(TScaleSettings &s, TPropList &list) {
  list.Color("Color", PROP(s, Color));
  list.Color("PointerColor", PROP(s, PointerColor));
  list.Boolean("DrawLine", PROP(s, DrawLine));
  list.Object("Font", [&s](TPropList &l) { DescribeFont(s.Font(), l); });
  list.Boolean("PosLeftTop", PROP(s, PosLeftTop));
  list.Integer("Steps", PROP(s, Steps));
  list.Integer("SubSteps", PROP(s, SubSteps));
  list.Text("ValueFormat", PROP(s, ValueFormat));
  list.Text("ValueFormatLog", PROP(s, ValueFormatLog));
}

void DescribeSectorSettings(TSectorSettings &s, TPropList &list) {
  list.Color("Sector1Color", PROP(s, Sector1Color));
  list.Integer("Sector1From", PROP(s, Sector1From));
  list.Integer("Sector1To", PROP(s, Sector1To));
  list.Color("Sector2Color", PROP(s, Sector2Color));
  list.Integer("Sector2From", PROP(s, Sector2From));
  list.Integer("Sector2To", PROP(s, Sector2To));
  list.Color("Sector3Color", PROP(s, Sector3Color));
  list.Integer("Sector3From", PROP(s, Sector3From));
  list.Integer("Sector3To", PROP(s, Sector3To));
  list.Integer("Offset", PROP(s, Offset));
  list.Integer("WidthOffset", PROP(s, WidthOffset));
}

void DescribeSignalSettings(TSignalSettings &s, TPropList &list) {
  list.Integer("DigitalFrom", PROP(s, DigitalFrom));
  list.Integer("DigitalTo", PROP(s, DigitalTo));
  list.Text("Name1", PROP(s, Name1));
  list.Text("Name2", PROP(s, Name2));
  list.Text("ValueFormat", PROP(s, ValueFormat));
  // The range is applied as a pair once both bounds are read: one at a time, a stored start equal
  // to the end still in effect (100 … 200 restored onto 0 … 100) would be refused.
  auto range = std::make_shared<std::pair<std::optional<float>, std::optional<float>>>();
  list.Float("ValueFrom", [&s] { return s.ValueFrom(); }, [range](float v) { range->first = v; });
  list.Float("ValueTo", [&s] { return s.ValueTo(); }, [range](float v) { range->second = v; });
  list.Text("ValueUnit", PROP(s, ValueUnit));
  list.Finish.push_back([&s, range] {
    if (range->first || range->second)
      s.SetValueRange(range->first.value_or(s.ValueFrom()), range->second.value_or(s.ValueTo()));
    *range = {};
  });
}

bool DescribeMeterProperty(TAnVMeter &m, const std::string &property, TPropList &list) {
  if (property == "BevelInner") {
    list.Object("BevelInner", [&m](TPropList &l) { DescribeBevel(m.BevelInner(), l); });
  } else if (property == "Height") {
    list.Integer("Height", [&m] { return m.height(); }, [&m](std::int32_t v) { m.SetHeight(v); });
  } else if (property == "Left") {
    list.Integer("Left", PROP(m, Left));
  } else if (property == "LogScale") {
    list.Boolean("LogScale", PROP(m, LogScale));
  } else if (property == "Options") {
    list.Set("Options",
             {"opBevelInner", "opBevelOuter", "opValue", "opName1", "opName2", "opOverflow", "opLimit", "opSector",
              "opUnit"},
             [&m] { return static_cast<std::uint32_t>(m.Options()); },
             [&m](std::uint32_t bits) { m.SetOptions(static_cast<TAnVMeterOptions>(bits)); });
  } else if (property == "ScaleSettings") {
    list.Object("ScaleSettings", [&m](TPropList &l) { DescribeScaleSettings(m.ScaleSettings(), l); });
  } else if (property == "SectorSettings") {
    list.Object("SectorSettings", [&m](TPropList &l) { DescribeSectorSettings(m.SectorSettings(), l); });
  } else if (property == "SignalSettings") {
    list.Object("SignalSettings", [&m](TPropList &l) { DescribeSignalSettings(m.SignalSettings(), l); });
  } else if (property == "Top") {
    list.Integer("Top", PROP(m, Top));
  } else if (property == "Visible") {
    list.Boolean("Visible", PROP(m, Visible));
  } else if (property == "Width") {
    list.Integer("Width", [&m] { return m.width(); }, [&m](std::int32_t v) { m.SetWidth(v); });
  } else {
    return false;
  }
  return true;
}

void DescribeTrend(TAnTrend &t, TPropList &list) {
  list.Boolean("Visible", PROP(t, Visible));
  list.Integer("Left", PROP(t, Left));
  list.Integer("Top", PROP(t, Top));
  list.Integer("Width", [&t] { return t.width(); }, [&t](std::int32_t v) { t.SetWidth(v); });
  list.Integer("Height", [&t] { return t.height(); }, [&t](std::int32_t v) { t.SetHeight(v); });
  list.Enumeration("Span", {"ts10s", "ts1min", "ts10min", "ts1h"}, [&t] { return int(t.Span()); },
                   [&t](int v) { t.SetSpan(static_cast<TTrendSpan>(v)); });
  static const char *const instruments[] = {"Instrument1", "Instrument2", "Instrument3", "Instrument4"};
  static const char *const colors[] = {"Color1", "Color2", "Color3", "Color4"};
  for (int i = 0; i < TAnTrend::MaxSeries; ++i) {
    list.Integer(instruments[i], [&t, i] { return t.Instrument(i); }, [&t, i](std::int32_t v) { t.SetInstrument(i, v); });
    list.Color(colors[i], [&t, i] { return t.SeriesColor(i); }, [&t, i](TColor c) { t.SetSeriesColor(i, c); });
  }
  list.Boolean("AutoAxis", PROP(t, AutoAxis));
  // The axis takes both ends at once (its end must lie above its start): each end read is
  // applied together with the other as known so far.
  auto axis = std::make_shared<std::pair<double, double>>(t.AxisFrom(), t.AxisTo());
  list.Float("AxisFrom", [&t] { return static_cast<float>(t.AxisFrom()); }, [&t, axis](float v) {
    axis->first = v;
    t.SetAxis(axis->first, axis->second);
  });
  list.Float("AxisTo", [&t] { return static_cast<float>(t.AxisTo()); }, [&t, axis](float v) {
    axis->second = v;
    t.SetAxis(axis->first, axis->second);
  });
  list.Color("Background", PROP(t, BackgroundColor));
}

#undef PROP
