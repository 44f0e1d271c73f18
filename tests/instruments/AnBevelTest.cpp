// Settings objects of frames and surfaces, and the bevel as it appears in pixels.
#include <functional>
#include <string>
#include <vector>

#include <QImage>
#include <gtest/gtest.h>

#include "instruments/AnBevel.h"
#include "instruments/AnScale.h"
#include "platform/Canvas.h"

namespace {

constexpr int kMax = 2147483647;

TColor PixelAt(const QImage &img, int x, int y) {
  const QColor c(img.pixel(x, y));
  return RGBColor(c.red(), c.green(), c.blue());
}

TColor Grey(int level) { return RGBColor(level, level, level); }

// Draws the bevel into (0, 0, w, h) of a fuchsia image; r receives the content rectangle.
QImage Render(const TAnSBevel &bevel, int w, int h, TRect &r) {
  QImage img(w, h, QImage::Format_RGB32);
  img.fill(ToQColor(clFuchsia));
  r = {0, 0, w, h};
  TCanvas c(img);
  bevel.Draw(c, r);
  return img;
}

TEST(AnSBevelSettings, aNewValueNotifiesOnceThroughTheBevelAndTheSameValueNotAtAll) {
  const std::vector<std::function<void(TAnSBevel &)>> writes = {
      [](TAnSBevel &b) { b.SetStyle(bsLowered); },          [](TAnSBevel &b) { b.SetSpacing(9); },
      [](TAnSBevel &b) { b.SetBevelLine(blBoth); },         [](TAnSBevel &b) { b.SetWidth(4); },
      [](TAnSBevel &b) { b.SetColor(clRed); },              [](TAnSBevel &b) { b.SetColorShadowFrom(clRed); },
      [](TAnSBevel &b) { b.SetColorShadowTo(clRed); },      [](TAnSBevel &b) { b.SetColorHighLightFrom(clRed); },
      [](TAnSBevel &b) { b.SetColorHighLightTo(clRed); },   [](TAnSBevel &b) { b.SetPenColor(clRed); },
      [](TAnSBevel &b) { b.Offset().SetTop(3); },           [](TAnSBevel &b) { b.Offset().SetLeft(3); },
      [](TAnSBevel &b) { b.Offset().SetRight(3); },         [](TAnSBevel &b) { b.Offset().SetBottom(3); },
      [](TAnSBevel &b) { b.SurfaceGrad().SetColorFrom(0); }, [](TAnSBevel &b) { b.SurfaceGrad().SetColorTo(0); },
      [](TAnSBevel &b) { b.SurfaceGrad().SetVisible(true); },
      [](TAnSBevel &b) { b.SurfaceGrad().SetStyle(gsDiamond2); },
  };
  for (std::size_t i = 0; i < writes.size(); ++i) {
    SCOPED_TRACE(i);
    TAnSBevel bevel;
    std::vector<TObject *> senders;
    bevel.OnChange = [&](TObject *s) { senders.push_back(s); };
    writes[i](bevel);
    writes[i](bevel);
    EXPECT_EQ(senders, std::vector<TObject *>{&bevel});
  }
}

TEST(AnSBevelSettings, negativeWidthIsIgnored) {
  TAnSBevel bevel;
  int n = 0;
  bevel.OnChange = [&](TObject *) { ++n; };
  bevel.SetWidth(-1);
  EXPECT_EQ(bevel.Width(), 2);
  EXPECT_EQ(n, 0);
}

TEST(AnSBevelSettings, thicknessCountsSpacingWidthAndLinesAndIsReadyWhenNotified) {
  const std::pair<TBevelLine, int> cases[] = {{blOuter, 8}, {blInner, 8}, {blBoth, 9}, {blNone, 7}};
  TAnSBevel bevel;
  EXPECT_EQ(bevel.Thickness(), 7);
  int seen = -1;
  bevel.OnChange = [&](TObject *) { seen = bevel.Thickness(); };
  for (const auto &[line, expected] : cases) {
    bevel.SetBevelLine(line);
    EXPECT_EQ(seen, expected) << line;
  }
  bevel.Offset().SetLeft(10);
  EXPECT_EQ(bevel.Thickness(), 7) << "the offset is not part of it";
  bevel.SetSpacing(kMax);
  EXPECT_EQ(bevel.Thickness(), kMax) << "saturates";
}

TEST(AnSettingsAssign, copiesEveryFieldWithTheNotificationsOfItsClass) {
  TAnOffset o1, o2;
  o1.SetTop(1), o1.SetLeft(2), o1.SetRight(3), o1.SetBottom(4);
  int n = 0;
  o2.OnChange = [&](TObject *) { ++n; };
  o2.Assign(o1);
  EXPECT_EQ(n, 1) << "one notification for the four sides";
  EXPECT_EQ((std::vector{o2.Top(), o2.Left(), o2.Right(), o2.Bottom()}), (std::vector{1, 2, 3, 4}));

  TAnGradSettings g1, g2;
  g1.SetColorFrom(clRed), g1.SetColorTo(clBlue), g1.SetVisible(true), g1.SetStyle(gsTopRight);
  n = 0;
  g2.OnChange = [&](TObject *) { ++n; };
  g2.Assign(g1);
  EXPECT_EQ(n, 5) << "four changed fields through the setters, then one more";
  EXPECT_TRUE(g2.ColorFrom() == clRed && g2.ColorTo() == clBlue && g2.Visible() && g2.Style() == gsTopRight);

  TAnSBevel b1, b2;
  b1.SetStyle(bsLowered), b1.SetSpacing(1), b1.SetBevelLine(blBoth), b1.SetWidth(3), b1.SetColor(clRed);
  b1.Offset().SetBottom(5);
  b1.SetColorShadowFrom(clMaroon), b1.SetColorShadowTo(clGreen);
  b1.SetColorHighLightFrom(clOlive), b1.SetColorHighLightTo(clNavy), b1.SetPenColor(clPurple);
  b1.SurfaceGrad().SetVisible(true), b1.SurfaceGrad().SetStyle(gsRectangle);
  std::vector<int> thickness;
  b2.OnChange = [&](TObject *) { thickness.push_back(b2.Thickness()); };
  b2.Assign(b1);
  EXPECT_TRUE(b2.Style() == bsLowered && b2.Spacing() == 1 && b2.BevelLine() == blBoth && b2.Width() == 3 &&
              b2.Color() == clRed && b2.Offset().Bottom() == 5 && b2.ColorShadowFrom() == clMaroon &&
              b2.ColorShadowTo() == clGreen && b2.ColorHighLightFrom() == clOlive &&
              b2.ColorHighLightTo() == clNavy && b2.PenColor() == clPurple && b2.SurfaceGrad().Visible() &&
              b2.SurfaceGrad().Style() == gsRectangle);
  // The offset's notification, the gradient's two changes and closing one, then the bevel's own.
  EXPECT_EQ(thickness, (std::vector{6, 6, 6, 6, 6}));
}

TEST(AnSettingsAssign, aDifferentClassFailsWithConvertError) {
  TAnOffset offset;
  TAnGradSettings grad;
  TAnSBevel bevel;
  TScaleSettings scale;
  EXPECT_THROW(offset.Assign(grad), EConvertError);
  EXPECT_THROW(grad.Assign(offset), EConvertError);
  EXPECT_THROW(bevel.Assign(scale), EConvertError);
  EXPECT_THROW(scale.Assign(bevel), EConvertError);
}

TEST(InterpolateColor, stepsEachChannelRoundingHalvesToEven) {
  struct Case {
    TColor c1, c2;
    int n, i;
    TColor expected;
  };
  const Case cases[] = {
      {clBlack, clWhite, 4, 1, Grey(64)},    {clBlack, clWhite, 4, 2, Grey(128)}, // 127.5 → 128
      {clBlack, clWhite, 4, 3, Grey(191)},   {clBlack, clWhite, 4, 4, clWhite},
      {clBlack, Grey(5), 2, 1, Grey(2)},     {clBlack, Grey(3), 2, 1, Grey(2)},   // 2.5 and 1.5
      {RGBColor(200, 100, 0), RGBColor(100, 0, 200), 2, 1, RGBColor(150, 50, 100)},
      {clBlack, RGBColor(100, 0, 0), 0, 1, RGBColor(100, 0, 0)},                  // n = 0 is one step
      {clBlack, RGBColor(200, 0, 0), 1, 2, RGBColor(400 & 0xFF, 0, 0)},           // low 8 bits
      {clBlack, clWhite, 1, kMax, clWhite},                                       // saturated, no overflow
      {clBtnFace, ColorToRGB(clBtnFace), 5, 3, clBtnFace},                        // equal: c1 unresolved
  };
  for (const auto &c : cases)
    EXPECT_EQ(InterpolateColor(c.c1, c.c2, c.n, c.i), c.expected) << c.n << " " << c.i;
}

TEST(Frame3D, shadesTopLeftAndBottomRightAndInsetsPerFrame) {
  struct Case {
    TRect r;
    int width;
    TRect after;
  };
  const Case cases[] = {{{1, 1, 9, 7}, 1, {2, 2, 8, 6}},
                        {{0, 0, 10, 8}, 3, {3, 3, 7, 5}},
                        {{0, 0, 10, 8}, 1000000000, {1000000000, 1000000000, 10 - 1000000000, 8 - 1000000000}}};
  for (const auto &c : cases) {
    SCOPED_TRACE(c.width);
    QImage img(10, 8, QImage::Format_RGB32);
    img.fill(ToQColor(clFuchsia));
    TRect r = c.r;
    {
      TCanvas canvas(img);
      Frame3D(canvas, r, clWhite, clBlack, c.width);
    }
    EXPECT_EQ(r, c.after);
    const int l = c.r.Left, t = c.r.Top, rr = c.r.Right - 1, b = c.r.Bottom - 1;
    EXPECT_EQ(PixelAt(img, l, b - 1), clWhite) << "left edge";
    EXPECT_EQ(PixelAt(img, rr - 1, t), clWhite) << "top edge";
    EXPECT_EQ(PixelAt(img, rr, t), clBlack) << "top-right corner belongs to the bottom edge";
    EXPECT_EQ(PixelAt(img, l, b), clBlack) << "so does bottom-left";
    EXPECT_EQ(PixelAt(img, rr, b), clBlack);
    if (c.width == 1) {
      EXPECT_EQ(PixelAt(img, l - 1, b), clFuchsia) << "nothing outside";
      EXPECT_EQ(PixelAt(img, l + 1, t + 1), clFuchsia) << "nothing inside";
    }
  }
}

TEST(AnSBevelDraw, outerFrameOfTheMeterLeavesItsContentRectangle) {
  TAnSBevel bevel;
  bevel.SetBevelLine(blOuter); // Spacing 5, Width 2, raised
  bevel.SetColor(clSilver);
  bevel.SetColorHighLightFrom(clWhite), bevel.SetColorHighLightTo(clWhite);
  bevel.SetColorShadowFrom(clGray), bevel.SetColorShadowTo(clGray);
  TRect r;
  const QImage img = Render(bevel, 100, 200, r);
  EXPECT_EQ(r, (TRect{8, 8, 92, 192}));
  struct Px {
    int x, y;
    TColor expected;
  };
  const Px pixels[] = {{0, 50, clBlack},   {99, 50, clBlack},  {50, 0, clBlack},   {50, 199, clBlack}, // outline
                       {1, 50, clWhite},   {2, 50, clWhite},   {50, 1, clWhite},                        // rings
                       {98, 50, clGray},   {97, 50, clGray},   {50, 198, clGray},   {1, 198, clGray},
                       {98, 1, clGray},    {3, 50, clSilver},  {96, 100, clSilver}, {50, 100, clSilver}};
  for (const auto &p : pixels)
    EXPECT_EQ(PixelAt(img, p.x, p.y), p.expected) << p.x << "," << p.y;

  bevel.Offset().SetLeft(1), bevel.Offset().SetTop(2), bevel.Offset().SetRight(3), bevel.Offset().SetBottom(4);
  Render(bevel, 100, 200, r);
  EXPECT_EQ(r, (TRect{9, 10, 89, 188}));
}

TEST(AnSBevelDraw, shadeRingsRunFromOutsideInwards) {
  // Raised: the shadow colours grade the bottom and right edges. Lowered: the shadows, taken
  // from To to From, grade the top and left edges, and the highlights the bottom and right.
  for (const TBevelStyle style : {bsRaised, bsLowered}) {
    SCOPED_TRACE(style);
    TAnSBevel bevel;
    bevel.SetStyle(style), bevel.SetSpacing(0), bevel.SetWidth(4);
    const bool raised = style == bsRaised;
    bevel.SetColorShadowFrom(raised ? clBlack : clWhite), bevel.SetColorShadowTo(raised ? clWhite : clBlack);
    bevel.SetColorHighLightFrom(raised ? clBlue : clWhite), bevel.SetColorHighLightTo(raised ? clBlue : clBlack);
    TRect r;
    const QImage img = Render(bevel, 20, 20, r);
    EXPECT_EQ(r, (TRect{4, 4, 16, 16}));
    const int greys[] = {64, 128, 191, 255};
    for (int k = 0; k < 4; ++k) {
      EXPECT_EQ(PixelAt(img, 19 - k, 10), Grey(greys[k])) << "right " << k;
      EXPECT_EQ(PixelAt(img, 10, 19 - k), Grey(greys[k])) << "bottom " << k;
      EXPECT_EQ(PixelAt(img, k, 10), raised ? clBlue : Grey(greys[k])) << "left " << k;
    }
  }
}

TEST(AnSBevelDraw, bothLinesWithoutRingsDrawTwoOutlines) {
  TAnSBevel bevel;
  bevel.SetBevelLine(blBoth), bevel.SetWidth(0), bevel.SetSpacing(0);
  bevel.SetColor(clSilver), bevel.SetPenColor(clNavy);
  EXPECT_EQ(bevel.Thickness(), 2);
  TRect r;
  const QImage img = Render(bevel, 10, 10, r);
  EXPECT_EQ(r, (TRect{2, 2, 8, 8}));
  for (int k = 0; k < 2; ++k) {
    EXPECT_EQ(PixelAt(img, k, 5), clNavy) << k;
    EXPECT_EQ(PixelAt(img, 9 - k, 5), clNavy) << k;
    EXPECT_EQ(PixelAt(img, 5, 9 - k), clNavy) << k;
  }
  EXPECT_EQ(PixelAt(img, 2, 2), clSilver);
}

TEST(AnSBevelDraw, visibleSurfaceFillsInsideRingsAndLines) {
  TAnSBevel bevel;
  bevel.SetBevelLine(blOuter);
  bevel.SurfaceGrad().SetColorFrom(clRed), bevel.SurfaceGrad().SetColorTo(clRed);
  bevel.SurfaceGrad().SetVisible(true);
  TRect r;
  const QImage img = Render(bevel, 100, 200, r);
  EXPECT_EQ(PixelAt(img, 3, 3), clRed);
  EXPECT_EQ(PixelAt(img, 96, 196), clRed);
  EXPECT_EQ(PixelAt(img, 2, 50), ColorToRGB(clBtnHighlight));
  EXPECT_EQ(PixelAt(img, 97, 50), ColorToRGB(clBtnShadow));
}

TEST(AnSBevelDraw, oversizedBevelsFinishAndSaturate) {
  TAnSBevel bevel;
  bevel.SetWidth(12), bevel.SetSpacing(0);
  TRect r;
  QImage img = Render(bevel, 10, 10, r);
  EXPECT_EQ(r, (TRect{12, 12, -2, -2})) << "rings past the middle still shrink it";
  EXPECT_EQ(PixelAt(img, 5, 5), ColorToRGB(clBtnShadow)) << "the innermost ring meets in the middle";

  bevel.SetBevelLine(blBoth), bevel.SetWidth(kMax), bevel.SetSpacing(kMax);
  bevel.Offset().SetLeft(kMax), bevel.Offset().SetRight(kMax);
  bevel.SurfaceGrad().SetVisible(true);
  Render(bevel, 30, 20, r); // returns at once rather than drawing two billion rings
  EXPECT_EQ(r, (TRect{kMax, kMax, -kMax - 1, -kMax - 1}));
}

} // namespace
