// The vertical meter's arithmetic without a painter: needed size, layout, tick, sector band and
// pointer positions.
#include <climits>
#include <string>
#include <vector>

#include <QImage>
#include <gtest/gtest.h>

#include "instruments/AnVMeterGeometry.h"
#include "platform/Canvas.h"

namespace {

constexpr TAnVMeterOptions DesignOptions = OptionBit(opBevelInner) | OptionBit(opBevelOuter) | OptionBit(opValue) |
                                           OptionBit(opName1) | OptionBit(opName2) | OptionBit(opOverflow) |
                                           OptionBit(opUnit);

// The meter's three bevels as it builds them, and a scale measured with labels 40 pixels wide
// and 23 high (TickLength 16, SubTickLength 11, ScaleWidth 63, ScaleMinHeight 161).
struct Fixture {
  TAnSBevel Outer, Inner, Value;
  TScaleSettings Scale;
  TVMeterExtents Extents{70, 15, 25, 15, 30, 20, 12};
  Fixture() {
    Outer.SetStyle(bsRaised);
    Outer.SetBevelLine(blOuter);
    Inner.SetStyle(bsLowered);
    Inner.SetBevelLine(blInner);
    Value.SetStyle(bsLowered);
    Value.SetSpacing(0);
    Value.SetBevelLine(blNone);
    ComputeScaleMetrics(Scale, 40, 23);
  }
  TVMeterParts Parts(TAnVMeterOptions o) const { return {o, Outer, Inner, Value, Scale, Extents}; }
};

TEST(VMeterMeasure, needAddsBevelsCaptionsValueBoxAndScale) {
  struct Case {
    const char *name;
    TAnVMeterOptions options;
    int unitWidth;
    int width, height;
  };
  const Case cases[] = {
      // 16 + 161 + 16 + 15 + 15 + 16 + (20 + 4 + 8); width from the scale: 32 + 63 + 8 + 1.
      {"design options", DesignOptions, 12, 104, 271},
      {"without the outer bevel", DesignOptions & ~OptionBit(opBevelOuter), 12, 88, 239},
      {"scale alone", 0, 12, 72, 161},
      // The value box's width wins: 30 + 200 + 4 + 20 div 3.
      {"value with a long unit", OptionBit(opValue), 200, 240, 193},
      {"captions only", OptionBit(opName1) | OptionBit(opName2), 12, 72, 191},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    Fixture f;
    f.Extents.UnitWidth = c.unitWidth;
    const TVMeterNeed need = MeasureVMeter(f.Parts(c.options));
    EXPECT_EQ(need.Width, c.width);
    EXPECT_EQ(need.Height, c.height);
  }
}

TEST(VMeterMeasure, hugeExtentsSaturateTheSixteenBitNeed) {
  Fixture f;
  f.Extents = {INT_MAX, INT_MAX, INT_MAX, INT_MAX, INT_MAX, INT_MAX, INT_MAX};
  f.Outer.SetSpacing(INT_MAX / 4);
  const TVMeterNeed need = MeasureVMeter(f.Parts(AllVMeterOptions));
  EXPECT_EQ(need.Width, 32767);
  EXPECT_EQ(need.Height, 32767);
}

TEST(VMeterLayout, placesCaptionsValueBoxUnitAndScaleAtTheirComputedPlaces) {
  Fixture f;
  const TVMeterLayout l = LayoutVMeter(f.Parts(DesignOptions), 116, 306);
  EXPECT_EQ(l.Name2Pos, (TPoint{45, 285}));
  EXPECT_EQ(l.Name1Pos, (TPoint{23, 270}));
  EXPECT_EQ(l.ValueBox, (TRect{28, 8, 74, 32}));
  EXPECT_EQ(l.UnitPos, (TPoint{78, 10}));
  EXPECT_EQ(l.ValueRect, (TRect{36, 10, 66, 30}));
  EXPECT_EQ(l.InnerRect, (TRect{8, 37, 108, 268}));
  EXPECT_EQ(l.BackRect, (TRect{16, 45, 100, 260}));
  EXPECT_FALSE(l.TooSmall);
  EXPECT_EQ(l.ScaleRect, (TRect{30, 53, 93, 251}));
  EXPECT_EQ(l.SectorRect, (TRect{30, 53, 41, 251}));
  EXPECT_EQ(l.PointerBaseX, 22);

  f.Scale.SetPosLeftTop(true);
  const TVMeterLayout left = LayoutVMeter(f.Parts(DesignOptions), 116, 306);
  EXPECT_EQ(left.ScaleRect, (TRect{22, 53, 85, 251}));
  EXPECT_EQ(left.SectorRect, (TRect{75, 53, 85, 251}));
  EXPECT_EQ(left.PointerBaseX, 92);
}

TEST(VMeterLayout, tooSmallWhenLessThanTwoPixelsAreLeftForTheScale) {
  struct Case {
    int width, height;
    bool tooSmall;
  };
  // With these extents the scale area is height − 108 high and width − 32 wide.
  const Case cases[] = {{116, 73, true},  {116, 109, true}, {116, 110, false}, {33, 300, true},
                        {34, 300, false}, {0, 0, true},     {116, 306, false}};
  for (const Case &c : cases) {
    SCOPED_TRACE(std::to_string(c.width) + " x " + std::to_string(c.height));
    Fixture f;
    EXPECT_EQ(LayoutVMeter(f.Parts(DesignOptions), c.width, c.height).TooSmall, c.tooSmall);
  }
}

TEST(VMeterLayout, bevelContentRectIsWhatDrawingTheBevelLeaves) {
  struct Case {
    const char *name;
    TBevelStyle style;
    int spacing, width;
    TBevelLine line;
    int offLeft, offTop, offRight, offBottom;
  };
  const Case cases[] = {
      {"outer frame", bsRaised, 5, 2, blOuter, 0, 0, 0, 0},
      {"value box", bsLowered, 0, 2, blNone, 0, 0, 0, 0},
      {"both lines, no rings", bsRaised, 0, 0, blBoth, 0, 0, 0, 0},
      {"inner line, wide", bsLowered, 7, 4, blInner, 0, 0, 0, 0},
      {"with an offset", bsRaised, 3, 1, blBoth, 1, 2, 3, 4},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    TAnSBevel b;
    b.SetStyle(c.style);
    b.SetSpacing(c.spacing);
    b.SetWidth(c.width);
    b.SetBevelLine(c.line);
    b.Offset().SetLeft(c.offLeft);
    b.Offset().SetTop(c.offTop);
    b.Offset().SetRight(c.offRight);
    b.Offset().SetBottom(c.offBottom);
    QImage img(100, 200, QImage::Format_RGB32);
    TCanvas canvas(img);
    TRect drawn{0, 0, 100, 200};
    b.Draw(canvas, drawn);
    EXPECT_EQ(BevelContentRect(b, TRect{0, 0, 100, 200}), drawn);
  }
}

TEST(VMeterScale, ticksFallOnTheSinglePrecisionPitches) {
  struct Case {
    const char *name;
    bool log;
    int steps, subSteps;
    TRect r;
    std::vector<int> main, sub;
    int scaleTop;
  };
  // clang-format off
  const Case cases[] = {
      {"linear 5 × 2", false, 5, 2, {0, 10, 50, 210}, {10, 50, 90, 130, 170, 210},
       {10, 30, 50, 70, 90, 110, 130, 150, 170, 190}, 10},
      // Pitch 2.5: the middle tick rounds half to even.
      {"linear halves", false, 2, 1, {0, 0, 50, 5}, {0, 2, 5}, {0, 2}, 0},
      // Pitch 198 / 10 in single precision.
      {"linear design", false, 5, 2, {30, 53, 93, 251}, {53, 93, 132, 172, 211, 251},
       {53, 73, 93, 112, 132, 152, 172, 192, 211, 231}, 53},
      // One sub tick per decade at log10(5) × 40 = 28 above the decade's bottom.
      {"log 5 × 2", true, 5, 2, {0, 10, 50, 210}, {10, 50, 90, 130, 170, 210}, {22, 62, 102, 142, 182}, 10},
      // 100 − RoundEven(log10(10 − k) × 100) for k = 1 … 9: the multiples of the decade.
      {"log 1 × 10", true, 1, 10, {0, 0, 50, 100}, {0, 100}, {5, 10, 15, 22, 30, 40, 52, 70, 100}, 0},
  };
  // clang-format on
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    TScaleSettings s;
    s.SetSteps(c.steps);
    s.SetSubSteps(c.subSteps);
    s.SetLogScaleFlag(c.log);
    s.LogSteps = c.steps;
    const TScaleTicks t = ScaleTickPositions(s, c.r);
    EXPECT_EQ(t.MainY, c.main);
    EXPECT_EQ(t.SubY, c.sub);
    EXPECT_EQ(t.ScaleTop, c.scaleTop);
    EXPECT_EQ(t.ScaleBottom, c.r.Bottom);
    EXPECT_EQ(t.LineX, c.r.Left);
    EXPECT_EQ(t.Direction, 1);
  }
}

TEST(VMeterScale, labelsAndLineSideFollowPosLeftTop) {
  TScaleSettings s;
  ComputeScaleMetrics(s, 40, 23); // TickLength 16, LabelGap 7
  const TRect r{30, 53, 93, 251};
  EXPECT_EQ(ScaleLabelLeft(s, r, 35), 30 + 16 + 7);
  s.SetPosLeftTop(true);
  EXPECT_EQ(ScaleLabelLeft(s, r, 35), 93 - 16 - 7 + 1 - 35);
  const TScaleTicks t = ScaleTickPositions(s, r);
  EXPECT_EQ(t.LineX, 93);
  EXPECT_EQ(t.Direction, -1);
}

TEST(VMeterScale, sectorBandsAreClampedToTheRangeAndSkippedWhenEmpty) {
  struct Case {
    int from, to;
    bool drawn;
    TRect band;
  };
  // f = 200 / 1000 over the rectangle (0, 0, 11, 200).
  const Case cases[] = {
      {0, 333, true, {0, 201, 11, 133}},
      {334, 666, true, {0, 134, 11, 67}},
      {667, 1000, true, {0, 68, 11, 0}},
      {-500, 100, true, {0, 201, 11, 180}},
      {900, 5000, true, {0, 21, 11, 0}},
      {500, 500, false, {}},
      {600, 400, false, {}},
      {-10, 0, false, {}},
      {1000, 1200, false, {}},
      {INT_MIN, INT_MAX, true, {0, 201, 11, 0}},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(std::to_string(c.from) + "…" + std::to_string(c.to));
    TRect band;
    EXPECT_EQ(SectorBand({0, 0, 11, 200}, c.from, c.to, band), c.drawn);
    if (c.drawn) {
      EXPECT_EQ(band, c.band);
    }
  }
}

// The layout of the design meter at 116 × 306 with a 23-pixel scale font.
TPointerFrame DesignFrame(bool posLeftTop) {
  return {{16, 45, 100, 260}, 53, 251, posLeftTop ? 92 : 22, 16, posLeftTop};
}

TEST(VMeterPointer, tipRowFollowsThePositionFromBottomToTop) {
  struct Case {
    std::int32_t ppt;
    int y; // relative to BackRect's top
  };
  // 198 pixels per 1000: 0.198 in single precision.
  const Case cases[] = {{0, 206}, {500, 107}, {1000, 8}, {250, 157}};
  for (const Case &c : cases) {
    SCOPED_TRACE(c.ppt);
    EXPECT_EQ(PositionY(DesignFrame(false), c.ppt), c.y);
    const TTriangle right = PointerTriangle(DesignFrame(false), c.ppt);
    EXPECT_EQ(right, (TTriangle{TPoint{6, c.y - 8}, TPoint{6, c.y + 8}, TPoint{22, c.y}}));
    const TTriangle left = PointerTriangle(DesignFrame(true), c.ppt);
    EXPECT_EQ(left, (TTriangle{TPoint{76, c.y + 8}, TPoint{76, c.y - 8}, TPoint{60, c.y}}));
  }
}

TEST(VMeterPointer, positionsRoundHalvesToEven) {
  TPointerFrame f{{0, 0, 50, 600}, 100, 600, 10, 10, false}; // 0.5 pixels per mille
  const std::pair<int, int> cases[] = {{1, 600}, {3, 598}, {5, 598}, {7, 596}};
  for (const auto &[ppt, y] : cases) EXPECT_EQ(PositionY(f, ppt), y) << ppt;
}

TEST(VMeterPointer, markersStandBesideThePointerOnTheLabelSide) {
  const int ym = PositionY(DesignFrame(false), 200), yM = PositionY(DesignFrame(false), 800);
  EXPECT_EQ(MinMarker(DesignFrame(false), 200), (TTriangle{TPoint{18, ym}, TPoint{34, ym + 8}, TPoint{34, ym}}));
  EXPECT_EQ(MaxMarker(DesignFrame(false), 800), (TTriangle{TPoint{18, yM}, TPoint{34, yM - 8}, TPoint{34, yM}}));
  EXPECT_EQ(MinMarker(DesignFrame(true), 200), (TTriangle{TPoint{48, ym}, TPoint{48, ym + 8}, TPoint{64, ym}}));
  EXPECT_EQ(MaxMarker(DesignFrame(true), 800), (TTriangle{TPoint{48, yM}, TPoint{48, yM - 8}, TPoint{64, yM}}));
}

TEST(VMeterPointer, boundsCoverTheCornerPixelsAndExtremeFramesSaturate) {
  const TTriangle t{TPoint{6, 10}, TPoint{6, 26}, TPoint{22, 18}};
  EXPECT_EQ(TriangleBounds(t, {16, 45}), (TRect{22, 55, 39, 72}));
  EXPECT_EQ(Intersect({0, 0, 10, 10}, {5, 5, 20, 20}), (TRect{5, 5, 10, 10}));
  EXPECT_TRUE(Intersect({0, 0, 10, 10}, {10, 0, 20, 10}).IsEmpty());

  TPointerFrame huge{{INT_MIN, INT_MIN, INT_MAX, INT_MAX}, INT_MIN, INT_MAX, INT_MAX, INT_MAX, false};
  const TTriangle p = PointerTriangle(huge, 1000);
  EXPECT_EQ(p[2].X, INT_MAX);
  const TRect b = TriangleBounds(p, {INT_MAX, INT_MAX});
  EXPECT_EQ(b.Right, INT_MAX);
}

} // namespace
