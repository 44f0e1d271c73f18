// The fourteen gradient styles, checked at the pixels their geometry pins down.
#include <string>
#include <vector>

#include <QImage>
#include <gtest/gtest.h>

#include "instruments/AnBevel.h"
#include "instruments/AnGradient.h"
#include "platform/Canvas.h"

namespace {

constexpr TColor kSentinel = clFuchsia;

TColor PixelAt(const QImage &img, int x, int y) {
  const QColor c(img.pixel(x, y));
  return RGBColor(c.red(), c.green(), c.blue());
}

QImage Fill(int w, int h, TColor from, TGradientStyle style, TColor to, int margin = 0) {
  QImage img(w + 2 * margin, h + 2 * margin, QImage::Format_RGB32);
  img.fill(ToQColor(kSentinel));
  TCanvas c(img);
  GradientFill(c, TRect{margin, margin, margin + w, margin + h}, from, style, to);
  return img;
}

TColor Red(int level) { return RGBColor(level, 0, 0); }

const TGradientStyle kAllStyles[] = {gsHorizontal1, gsHorizontal2, gsHorizontal3, gsVertical1, gsVertical2,
                                     gsVertical3,   gsElliptic1,   gsElliptic2,   gsElliptic3, gsRectangle,
                                     gsDiamond1,    gsDiamond2,    gsTopLeft,     gsTopRight};

// ---------------------------------------------------------------------------------------------

TEST(GradientFill, horizontalBandsOverTheMeterBackgroundHeight) {
  // Money green to 0x8F8F8F: the largest channel difference is green's 77.
  const TColor from = 0x00C0DCC0, to = 0x008F8F8F;
  const QImage img = Fill(3, 593, from, gsHorizontal1, to);
  // Band height 593 div 77 = 7, so 593 div 7 = 84 steps and 85 bands, the last cut at row 592.
  for (int y = 0; y < 7; ++y)
    EXPECT_EQ(PixelAt(img, 1, y), from) << y;
  EXPECT_NE(PixelAt(img, 1, 7), from) << "the second band starts at row 7";
  EXPECT_EQ(PixelAt(img, 1, 7), RGBColor(191, 219, 191)) << "step 1 of 84, truncated";
  EXPECT_EQ(PixelAt(img, 1, 587), to) << "band 83 reaches the end colour";
  // Band 84: 84 x (single-precision -77/84) falls a hair below -77, and truncation shows it.
  for (int y = 588; y < 593; ++y)
    EXPECT_EQ(PixelAt(img, 1, y), RGBColor(143, 142, 143)) << y;
  for (int y = 0; y < 593; y += 7)
    EXPECT_EQ(PixelAt(img, 0, y), PixelAt(img, 1, std::min(y + 6, 592))) << "bands are 7 rows high: " << y;
}

// Equal colours (a system colour and its value count as equal) fill plainly; empty, inverted
// and absurdly large areas draw nothing; nothing is ever drawn outside the area.
TEST(GradientFill, everyStyleFillsExactlyItsArea) {
  const TRect areas[] = {{3, 3, 16, 12}, {3, 3, 4, 4},     {3, 3, 4, 19},          {3, 3, 19, 4},
                         {5, 5, 5, 15},  {15, 15, 5, 5},   {-2147483647 - 1, 0, 2147483647, 10},
                         {0, 0, 40000, 10}};
  for (const auto style : kAllStyles) {
    for (const auto &area : areas) {
      for (const bool equal : {false, true}) {
        SCOPED_TRACE(std::to_string(style) + " (" + std::to_string(area.Left) + "," + std::to_string(area.Top) +
                     "," + std::to_string(area.Right) + "," + std::to_string(area.Bottom) + ")" +
                     (equal ? " equal" : ""));
        QImage img(22, 22, QImage::Format_RGB32);
        img.fill(ToQColor(kSentinel));
        {
          TCanvas c(img);
          GradientFill(c, area, equal ? clBtnFace : clBlack, style, equal ? ColorToRGB(clBtnFace) : clWhite);
        }
        const long long w = static_cast<long long>(area.Right) - area.Left;
        const bool drawn = w > 0 && w < 100 && area.Bottom > area.Top;
        for (int y = 0; y < 22; ++y)
          for (int x = 0; x < 22; ++x) {
            const bool inside = drawn && x >= area.Left && x < area.Right && y >= area.Top && y < area.Bottom;
            const TColor px = PixelAt(img, x, y);
            if (!inside)
              ASSERT_EQ(px, kSentinel) << x << "," << y;
            else if (equal)
              ASSERT_EQ(px, ColorToRGB(clBtnFace)) << x << "," << y;
            else
              ASSERT_NE(px, kSentinel) << x << "," << y; // greys only between black and white
          }
      }
    }
  }
}

// ---------------------------------------------------------------------------------------------
// Each style from black to a red level chosen so that the steps are whole numbers.

struct PixelCase {
  const char *name;
  TGradientStyle style;
  int w, h;
  int redTo;
  std::vector<std::pair<TPoint, int>> expectRed; // pixel → red level
};

TEST(GradientFill, firstAndLastBandsOfEachStyle) {
  const std::vector<PixelCase> cases = {
      // K 5 over 11 rows: band height 2, steps of 1, the sixth band (row 10) is `to`.
      {"horizontal1", gsHorizontal1, 4, 11, 5, {{{0, 0}, 0}, {{3, 1}, 0}, {{0, 2}, 1}, {{0, 9}, 4}, {{2, 10}, 5}}},
      // 10 rows: centre row 5 holds `from`, 5 rows away `to`.
      {"horizontal2", gsHorizontal2, 4, 10, 50, {{{0, 5}, 0}, {{0, 4}, 10}, {{0, 6}, 10}, {{3, 0}, 50}, {{0, 9}, 40}}},
      // 2.5 per step: step 1 rounds to 2, step 3 (7.5) to 8.
      {"horizontal2, halves to even", gsHorizontal2, 2, 8, 10, {{{0, 4}, 0}, {{0, 5}, 2}, {{0, 6}, 5}, {{0, 7}, 8}}},
      // 9 rows: N = 6, centre row 3.
      {"horizontal3", gsHorizontal3, 4, 9, 60, {{{0, 3}, 0}, {{0, 0}, 30}, {{0, 4}, 10}, {{0, 8}, 50}}},
      {"vertical1", gsVertical1, 11, 4, 5, {{{0, 0}, 0}, {{1, 3}, 0}, {{2, 0}, 1}, {{9, 0}, 4}, {{10, 2}, 5}}},
      {"vertical2", gsVertical2, 10, 4, 50, {{{5, 0}, 0}, {{4, 0}, 10}, {{6, 0}, 10}, {{0, 3}, 50}, {{9, 0}, 40}}},
      {"vertical3", gsVertical3, 9, 4, 60, {{{3, 0}, 0}, {{0, 0}, 30}, {{4, 0}, 10}, {{8, 0}, 50}}},
      // 20 x 20, K 10: ring j has red j; the corners keep the `to` fill.
      {"elliptic1", gsElliptic1, 20, 20, 10, {{{0, 0}, 10}, {{19, 19}, 10}, {{10, 10}, 1}, {{10, 5}, 5}}},
      // Radius factor 0.695 per step: the fill reaches `to` well before the edge.
      {"elliptic2", gsElliptic2, 20, 20, 10, {{{0, 0}, 10}, {{10, 10}, 1}, {{10, 3}, 5}, {{0, 10}, 7}}},
      // Centre moved to (10 + 1 - 5, ...) = (6, 6).
      {"elliptic3", gsElliptic3, 20, 20, 10, {{{19, 19}, 10}, {{6, 6}, 1}, {{6, 2}, 3}}},
      {"rectangle", gsRectangle, 20, 20, 10, {{{10, 10}, 0}, {{0, 0}, 10}, {{9, 9}, 1}, {{5, 10}, 5}, {{10, 15}, 5}}},
      // N = max(20 div 2, 10) = 10 outlines one step apart, the centre pixel in `from`.
      {"diamond1", gsDiamond1, 20, 20, 10, {{{10, 10}, 0}, {{0, 0}, 10}, {{10, 5}, 5}, {{15, 10}, 5}, {{10, 1}, 9}}},
      // N = max(20, 10) = 20, half a level per outline: outline 5 rounds 2.5 to 2.
      {"diamond2", gsDiamond2, 20, 20, 10, {{{10, 10}, 0}, {{0, 0}, 10}, {{10, 5}, 2}, {{10, 7}, 2}}},
      // N = 10, two levels per step: line j from the top-left corner has level j, line j from the
      // bottom-right one 20 - j.
      {"topLeft", gsTopLeft, 10, 10, 20, {{{0, 0}, 0}, {{9, 9}, 18}, {{0, 1}, 1}, {{9, 1}, 10}}},
      // Mirrored about the right edge W itself, not the last column: line 0 falls outside, and
      // the top-right pixel ends up in line 2, from (10, 2) to (8, -1), level 2; the bottom-left
      // one in line 1 of the far half, level 20 - 1; the main diagonal is the middle level 10.
      {"topRight", gsTopRight, 10, 10, 20, {{{9, 0}, 2}, {{0, 9}, 19}, {{9, 1}, 2}, {{0, 0}, 10}}},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    const QImage img = Fill(c.w, c.h, clBlack, c.style, Red(c.redTo));
    for (const auto &[p, level] : c.expectRed)
      EXPECT_EQ(PixelAt(img, p.X, p.Y), Red(level)) << "at " << p.X << "," << p.Y;
  }
}

// ---------------------------------------------------------------------------------------------
// The gradient background control

class CountingGradient : public TAnGradient {
public:
  using TAnGradient::TAnGradient;
  int paramChanges = 0;
  void ParamChange(TObject *sender) override {
    ++paramChanges;
    TAnGradient::ParamChange(sender);
  }
};

TEST(AnGradientControl, isLockedUntilLoadedThenFollowsItsSettings) {
  QWidget parent;
  auto *g = new CountingGradient(&parent);
  EXPECT_EQ(g->width(), 50);
  EXPECT_EQ(g->height(), 50);
  EXPECT_EQ(g->UpdateCount(), 1);
  g->GradSettings().SetColorFrom(clRed);
  EXPECT_EQ(g->paramChanges, 0) << "settings are not wired before loading";
  g->Loaded();
  EXPECT_EQ(g->UpdateCount(), 0);
  EXPECT_EQ(g->paramChanges, 1) << "releasing the lock asks for the first paint";
  g->GradSettings().SetColorTo(clBlue);
  EXPECT_EQ(g->paramChanges, 2);
  g->BeginUpdate();
  g->GradSettings().SetStyle(gsDiamond1);
  EXPECT_EQ(g->paramChanges, 3) << "a settings change repaints whatever the lock";
}

TEST(AnGradientControl, paintsItsClientAreaWhateverTheVisibleSetting) {
  QWidget parent;
  parent.resize(40, 60);
  auto *g = new TAnGradient(&parent);
  g->Loaded();
  g->GradSettings().SetColorFrom(clMoneyGreen); // Visible stays False: the control ignores it
  g->SetAlignClient(true);
  EXPECT_EQ(g->geometry(), QRect(0, 0, 40, 60));

  QImage img(40, 60, QImage::Format_RGB32);
  img.fill(ToQColor(kSentinel));
  g->render(&img, QPoint(), QRegion(), QWidget::RenderFlags()); // no window background
  const QImage expected = Fill(40, 60, clMoneyGreen, gsHorizontal1, g->GradSettings().ColorTo());
  for (int y = 0; y < 60; ++y)
    ASSERT_EQ(PixelAt(img, 20, y), PixelAt(expected, 20, y)) << y;

  g->SetVisible(false);
  img.fill(ToQColor(kSentinel));
  g->render(&img, QPoint(), QRegion(), QWidget::RenderFlags()); // no window background
  EXPECT_EQ(PixelAt(img, 20, 30), kSentinel) << "a hidden control paints nothing";
}

TEST(AnGradientControl, alignedToItsParentFollowsItsSize) {
  QWidget parent;
  parent.resize(120, 80);
  auto *g = new TAnGradient(&parent);
  g->Loaded();
  parent.show();
  g->SetAlignClient(true);
  EXPECT_EQ(g->geometry(), QRect(0, 0, 120, 80));
  parent.resize(300, 200);
  EXPECT_EQ(g->geometry(), QRect(0, 0, 300, 200));
  g->SetAlignClient(false);
  parent.resize(100, 100);
  EXPECT_EQ(g->geometry(), QRect(0, 0, 300, 200)) << "no longer aligned: keeps its bounds";
}

} // namespace
