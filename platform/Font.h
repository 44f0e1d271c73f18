#pragma once
// The program's font description, changed through setters that notify the owner.
#include <functional>
#include <optional>
#include <string>

#include <QFont>

#include "platform/Color.h"

enum TFontStyle { fsBold = 1, fsItalic = 2, fsUnderline = 4, fsStrikeOut = 8 };
using TFontStyles = int; // bit set of TFontStyle
enum TFontPitch { fpDefault, fpVariable, fpFixed };
using TFontCharset = int;
constexpr TFontCharset ANSI_CHARSET = 0;
constexpr TFontCharset DEFAULT_CHARSET = 1;

class TFont {
public:
  using TNotifyEvent = std::function<void(TFont *)>;

  TFont();
  TFont(const TFont &) = delete;
  TFont &operator=(const TFont &) = delete;

  // Copies every attribute and notifies once when anything changed.
  void Assign(const TFont &other);

  const std::string &Name() const { return FName; }
  void SetName(const std::string &v);
  // Negative height: character height in pixels; positive: cell height. Size is in points (72 dpi
  // conversion at 96 pixels per inch, as the screen the designs were made on).
  int Height() const { return FHeight; }
  void SetHeight(int v);
  int Size() const;
  void SetSize(int points);
  TFontStyles Style() const { return FStyle; }
  void SetStyle(TFontStyles v);
  TColor Color() const { return FColor; }
  void SetColor(TColor v);
  TFontCharset Charset() const { return FCharset; }
  void SetCharset(TFontCharset v);
  TFontPitch Pitch() const { return FPitch; }
  void SetPitch(TFontPitch v);

  TNotifyEvent OnChange;

  // The Qt font that draws this one: Windows face names mapped to installed twins.
  QFont ToQFont() const;
  bool operator==(const TFont &o) const;

private:
  void Changed();
  QFont MakeQFont() const;
  std::string FName = "MS Sans Serif";
  int FHeight = -11; // 8 points at 96 dpi
  TFontStyles FStyle = 0;
  TColor FColor = clWindowText;
  TFontCharset FCharset = DEFAULT_CHARSET;
  TFontPitch FPitch = fpDefault;
  // The conversion is asked for at every paint and costs a font lookup; any change drops it.
  mutable std::optional<QFont> FQFont;
};

// The installed face used for a Windows face name ("Arial" → "Liberation Sans").
QString MapFontFamily(const std::string &windowsName);
