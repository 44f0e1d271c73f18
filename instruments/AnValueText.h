#pragma once
// How a meter's value text goes into its box. A reading that is cut off shows another number
// ("1000000" clipped to "000"), so a text that does not fit is drawn smaller, down to a size that
// still reads, and beyond that replaced by a mark that is no number at all.
#include <string>

#include <QFont>

struct TValueTextFit {
  std::string Text; // the value text itself, or the overflow mark (empty when not even that fits)
  QFont Font;       // the font to draw it with: the value font or a smaller size of it
  bool Shrunk = false;
  bool Overflow = false;
};

// The smallest pixel size a value text is drawn at.
constexpr int MinValuePixelSize = 8;
// Shown instead of a value text that does not fit even at the smallest size.
constexpr char ValueOverflowMark[] = "###";

// `width`: the pixels the text may take.
TValueTextFit FitValueText(const QFont &font, const std::string &text, int width);
