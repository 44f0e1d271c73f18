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

} // namespace

TValueTextFit FitValueText(const QFont &font, const std::string &text, int width) {
  TValueTextFit fit{text, font};
  const int full = WidthOf(font, text);
  if (full <= width) return fit;
  const int size = QFontInfo(font).pixelSize();
  if (size > MinValuePixelSize && width > 0) {
    // Text width grows about in proportion to the size: start at the proportional guess and step
    // down while hinting and rounding still make it too wide.
    int pixels = std::clamp(size * width / std::max(full, 1), MinValuePixelSize, size - 1);
    for (; pixels >= MinValuePixelSize; --pixels) {
      QFont smaller = Sized(font, pixels);
      if (WidthOf(smaller, text) <= width) {
        fit.Font = smaller;
        fit.Shrunk = true;
        return fit;
      }
    }
  }
  fit.Overflow = true;
  // The mark as large as it fits, so that it is seen.
  if (WidthOf(font, ValueOverflowMark) > width) fit.Font = Sized(font, std::min(size, MinValuePixelSize));
  std::string mark = ValueOverflowMark;
  while (!mark.empty() && WidthOf(fit.Font, mark) > width) mark.pop_back();
  fit.Text = mark;
  return fit;
}
