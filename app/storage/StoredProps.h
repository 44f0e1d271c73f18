#pragma once
// The settings file's view of a component: its published properties in their defined order, each
// with the text form the file keeps it in. Objects nest, sets become one flag per element. The
// settings storage walks these lists to write and to restore; what a property is and how it is
// spelled in the file lives here and nowhere else.
#include <cstdint>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/Color.h"
#include "platform/Font.h"

class TAnOffset;
class TAnGradSettings;
class TAnSBevel;
class TScaleSettings;
class TSectorSettings;
class TSignalSettings;
class TAnVMeter;
class TAnTrend;

// A stored text that does not convert to its property's type. Restoring ends the listed
// property it belongs to and goes on with the next.
class EStoredValue : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

// --- value texts --------------------------------------------------------------------------------

// "TRUE" / "FALSE"; read: TRUE, YES, Y / FALSE, NO, N in any case, else a decimal (non-zero true).
std::string EncodeBoolean(bool value);
bool DecodeBoolean(const std::string &text);
// Decimal; an empty text reads as 0.
std::string EncodeInteger(std::int32_t value);
std::int32_t DecodeInteger(const std::string &text);
// The identifier ("clLime") when the colour has one, else decimal.
std::string EncodeColor(TColor value);
TColor DecodeColor(const std::string &text);
// The identifier ("DEFAULT_CHARSET") when the set has one, else decimal.
std::string EncodeCharset(TFontCharset value);
TFontCharset DecodeCharset(const std::string &text);
// Element names of an enumeration in ordinal order.
using TEnumNames = std::vector<const char *>;
// The element's name; read: the name in any case, else the ordinal in decimal.
std::string EncodeEnumeration(const TEnumNames &names, int ordinal);
int DecodeEnumeration(const TEnumNames &names, const std::string &text);
// Twenty capital hex digits: the value as an 80-bit extended-precision number, lowest byte first.
std::string EncodeExtended(double value);
// Hex pairs to bytes (a leading "0" completes an odd count); fewer than ten bytes give nothing
// (the property keeps its value), digits after the twentieth are ignored. Text with a character
// that is no hex digit is read as a decimal number in the locale's format. A value that is not
// finite or lies beyond the 32-bit float range does not convert: a meter cannot use it.
std::optional<float> DecodeExtended(const std::string &text);

// --- property lists -----------------------------------------------------------------------------

class TPropList;
using TDescribe = std::function<void(TPropList &)>;

struct TStoredProperty {
  enum TKind { Value, Object, Set };
  TKind Kind = Value;
  std::string Name;
  // Value: the text to write, and the reader that converts and applies a stored text (throws
  // EStoredValue when it does not convert).
  std::function<std::string()> Write;
  std::function<void(const std::string &)> Read;
  // Object: lists the object's own properties.
  TDescribe Children;
  // Set: element names in ordinal order; bit n stands for element n.
  std::vector<std::string> Elements;
  std::function<std::uint32_t()> GetBits;
  std::function<void(std::uint32_t)> SetBits;
};

class TPropList {
public:
  void Integer(const char *name, std::function<std::int32_t()> get, std::function<void(std::int32_t)> set);
  void Boolean(const char *name, std::function<bool()> get, std::function<void(bool)> set);
  void Color(const char *name, std::function<TColor()> get, std::function<void(TColor)> set);
  void Charset(const char *name, std::function<TFontCharset()> get, std::function<void(TFontCharset)> set);
  void Enumeration(const char *name, const TEnumNames &names, std::function<int()> get, std::function<void(int)> set);
  void Float(const char *name, std::function<float()> get, std::function<void(float)> set);
  void Text(const char *name, std::function<std::string()> get, std::function<void(const std::string &)> set);
  void Object(const char *name, TDescribe children);
  void Set(const char *name, std::vector<std::string> elements, std::function<std::uint32_t()> get,
           std::function<void(std::uint32_t)> set);

  std::vector<TStoredProperty> Props;
  // Run once the properties of the list have been read, also when a bad value ended the reading
  // early: for properties that only make sense together and are applied as one.
  std::vector<std::function<void()>> Finish;
};

// The published properties of the instruments' stored objects, in their defined order.
void DescribeOffset(TAnOffset &o, TPropList &list);
void DescribeGradSettings(TAnGradSettings &g, TPropList &list);
void DescribeBevel(TAnSBevel &b, TPropList &list);
void DescribeFont(TFont &f, TPropList &list);
void DescribeScaleSettings(TScaleSettings &s, TPropList &list);
void DescribeSectorSettings(TSectorSettings &s, TPropList &list);
void DescribeSignalSettings(TSignalSettings &s, TPropList &list);
// One of the meter's stored properties by name (BevelInner, Height, Left, LogScale, Options,
// ScaleSettings, SectorSettings, SignalSettings, Top, Visible, Width); false for other names.
bool DescribeMeterProperty(TAnVMeter &m, const std::string &property, TPropList &list);
// A trend chart's settings: place, size, visibility, span, instruments and colours, value axis.
void DescribeTrend(TAnTrend &t, TPropList &list);
