#include "instruments/AnValueText.h"

#include <algorithm>

#include <QFontInfo>
#include <QFontMetrics>

namespace {

int WidthOf(const QFont &font, const std::string &text) {
  return QFontMetrics(font).horizontalAdvance(QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())));
}

QFont Sized(const QFont &font, int pixels) {
  QFont f = font;
  f.setPixelSize(pixels);
  return f;
}

// The largest pixel size from the font's own down to the minimum at which `text` fits; 0 when
// none does.
int LargestFitting(const QFont &font, int size, const std::string &text, int width) {
  const int full = WidthOf(Sized(font, size), text);
  if (full <= width) return size;
  if (size <= MinValuePixelSize || width <= 0) return 0;
  // Text width grows about in proportion to the size: start at the proportional guess and step
  // down while hinting and rounding still make it too wide.
  for (int pixels = std::clamp(size * width / std::max(full, 1), MinValuePixelSize, size - 1); pixels >= MinValuePixelSize;
       --pixels)
    if (WidthOf(Sized(font, pixels), text) <= width) return pixels;
  return 0;
}

} // namespace

TValueTextFit FitValueText(const QFont &font, const std::string &text, int width) {
  TValueTextFit fit{text, font};
  if (WidthOf(font, text) <= width) return fit;
  const int size = QFontInfo(font).pixelSize();
  if (const int pixels = LargestFitting(font, size, text, width)) {
    fit.Font = Sized(font, pixels);
    fit.Shrunk = true;
    return fit;
  }
  fit.Overflow = true;
  // The mark as large as it fits, so that it is seen; in a box too narrow for it, what fits.
  std::string mark = ValueOverflowMark;
  int pixels = 0;
  while (!mark.empty() && (pixels = LargestFitting(font, size, mark, width)) == 0) mark.pop_back();
  fit.Text = mark;
  fit.Font = Sized(font, pixels > 0 ? pixels : std::min(size, MinValuePixelSize));
  return fit;
}
