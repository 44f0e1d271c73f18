#include "platform/Font.h"

#include <QFontMetrics>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <limits>

namespace {

constexpr int kScreenDpi = 96;
constexpr int kPointsPerInch = 72;
// Qt refuses pixel sizes below 1; far above a screen's height nothing useful is drawn and the
// glyph cache would only grow.
constexpr int kMaxPixelSize = 4096;
// Height 0 asks for the face's default size: the default font's 8 points.
constexpr int kDefaultPixelSize = 11;

// a * b / c rounded half away from zero, in 64 bits and saturated to int: a height or size
// from a settings file may be any 32-bit value.
int MulDivRound(std::int64_t a, std::int64_t b, std::int64_t c) {
  const std::int64_t n = a * b;
  const std::int64_t q = (n >= 0 ? n + c / 2 : n - c / 2) / c;
  return static_cast<int>(std::clamp<std::int64_t>(q, std::numeric_limits<int>::min(), std::numeric_limits<int>::max()));
}

std::string Lower(const std::string &s) {
  std::string r = s;
  for (char &ch : r)
    ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
  return r;
}

bool IsMonospaceFamily(const QString &family) {
  return family == QLatin1String("Liberation Mono") || family == QLatin1String("DejaVu Sans Mono");
}

int CellHeightOf(QFont f, int pixelSize) {
  f.setPixelSize(pixelSize);
  return QFontMetrics(f).height();
}

// Largest pixel size whose cell (ascent + descent) is no taller than `cell`; fonts scale
// almost linearly, so one proportional guess and a few single steps find it.
int PixelSizeForCellHeight(const QFont &f, int cell) {
  cell = std::clamp(cell, 1, kMaxPixelSize);
  const int measured = CellHeightOf(f, cell);
  int px = measured > 0 ? MulDivRound(cell, cell, measured) : cell;
  px = std::clamp(px, 1, kMaxPixelSize);
  for (int i = 0; i < 8 && px > 1 && CellHeightOf(f, px) > cell; ++i)
    --px;
  for (int i = 0; i < 8 && px < kMaxPixelSize && CellHeightOf(f, px + 1) <= cell; ++i)
    ++px;
  return px;
}

} // namespace

QString MapFontFamily(const std::string &windowsName) {
  const std::string n = Lower(windowsName);
  if (n == "arial" || n == "helvetica" || n == "ms sans serif" || n == "microsoft sans serif")
    return QStringLiteral("Liberation Sans");
  if (n == "courier" || n == "courier new")
    return QStringLiteral("Liberation Mono");
  if (n == "times new roman" || n == "times")
    return QStringLiteral("Liberation Serif");
  if (n == "system" || n == "tahoma" || n == "verdana")
    return QStringLiteral("DejaVu Sans");
  if (n == "fixedsys" || n == "terminal")
    return QStringLiteral("DejaVu Sans Mono");
  return QString::fromStdString(windowsName);
}

TFont::TFont() = default;

void TFont::Changed() {
  FQFont.reset();
  if (OnChange)
    OnChange(this);
}

void TFont::Assign(const TFont &other) {
  if (&other == this || *this == other)
    return;
  FName = other.FName;
  FHeight = other.FHeight;
  FStyle = other.FStyle;
  FColor = other.FColor;
  FCharset = other.FCharset;
  FPitch = other.FPitch;
  Changed();
}

void TFont::SetName(const std::string &v) {
  if (v == FName)
    return;
  FName = v;
  Changed();
}

void TFont::SetHeight(int v) {
  if (v == FHeight)
    return;
  FHeight = v;
  Changed();
}

int TFont::Size() const { return -MulDivRound(FHeight, kPointsPerInch, kScreenDpi); }

void TFont::SetSize(int points) {
  const int h = MulDivRound(points, kScreenDpi, kPointsPerInch);
  // Negating INT_MIN is undefined; the nearest representable height stands in for it.
  SetHeight(h == std::numeric_limits<int>::min() ? std::numeric_limits<int>::max() : -h);
}

void TFont::SetStyle(TFontStyles v) {
  if (v == FStyle)
    return;
  FStyle = v;
  Changed();
}

void TFont::SetColor(TColor v) {
  if (v == FColor)
    return;
  FColor = v;
  Changed();
}

void TFont::SetCharset(TFontCharset v) {
  if (v == FCharset)
    return;
  FCharset = v;
  Changed();
}

void TFont::SetPitch(TFontPitch v) {
  if (v == FPitch)
    return;
  FPitch = v;
  Changed();
}

bool TFont::operator==(const TFont &o) const {
  return FName == o.FName && FHeight == o.FHeight && FStyle == o.FStyle && FColor == o.FColor &&
         FCharset == o.FCharset && FPitch == o.FPitch;
}

QFont TFont::ToQFont() const {
  if (!FQFont)
    FQFont = MakeQFont();
  return *FQFont;
}

QFont TFont::MakeQFont() const {
  const QString family = MapFontFamily(FName);
  QFont f(family);
  // Grey-scale antialiased glyphs: readable, and free of the colour fringes of sub-pixel
  // rendering, so text colours read back predictably from images.
  f.setStyleStrategy(QFont::NoSubpixelAntialias);
  // The "System" face was a bold sans; its stand-in is bold whatever the style says.
  const bool bold = (FStyle & fsBold) != 0 || Lower(FName) == "system";
  f.setBold(bold);
  f.setItalic((FStyle & fsItalic) != 0);
  f.setUnderline((FStyle & fsUnderline) != 0);
  f.setStrikeOut((FStyle & fsStrikeOut) != 0);
  if (FPitch == fpFixed || IsMonospaceFamily(family)) {
    f.setFixedPitch(true);
    f.setStyleHint(QFont::Monospace);
  }
  if (FHeight < 0) {
    // Very large heights (INT_MIN among them, whose negation overflows) take the limit.
    f.setPixelSize(FHeight < -kMaxPixelSize ? kMaxPixelSize : -FHeight);
  } else if (FHeight == 0) {
    f.setPixelSize(kDefaultPixelSize);
  } else {
    f.setPixelSize(PixelSizeForCellHeight(f, FHeight));
  }
  return f;
}
