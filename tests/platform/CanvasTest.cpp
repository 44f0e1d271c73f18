#include "platform/Canvas.h"

#include <QPaintEvent>
#include <QPainter>
#include <QWidget>
#include <gtest/gtest.h>

#include <climits>
#include <functional>
#include <string>
#include <vector>

namespace {

constexpr TColor kPen = clRed;
constexpr TColor kBrush = clBlue;

QImage WhiteImage(int w, int h) {
  QImage img(w, h, QImage::Format_RGB32);
  img.fill(Qt::white);
  return img;
}

// '.' untouched, '#' pen colour, 'o' brush colour, '?' anything else.
std::vector<std::string> Picture(const QImage &img) {
  std::vector<std::string> rows;
  for (int y = 0; y < img.height(); ++y) {
    std::string row;
    for (int x = 0; x < img.width(); ++x) {
      const QColor c = img.pixelColor(x, y);
      if (c == QColor(Qt::white))
        row += '.';
      else if (c == ToQColor(kPen))
        row += '#';
      else if (c == ToQColor(kBrush))
        row += 'o';
      else
        row += '?';
    }
    rows.push_back(row);
  }
  return rows;
}

std::string Joined(const std::vector<std::string> &rows) {
  std::string s;
  for (const auto &r : rows)
    s += r + "\n";
  return s;
}

struct PictureCase {
  const char *Name;
  std::function<void(TCanvas &)> Draw;
  std::vector<std::string> Expected;
};

class CanvasPicture : public ::testing::TestWithParam<PictureCase> {};

TEST_P(CanvasPicture, drawsExactlyThesePixels) {
  const auto &c = GetParam();
  QImage img = WhiteImage(static_cast<int>(c.Expected.front().size()), static_cast<int>(c.Expected.size()));
  {
    TCanvas canvas(img);
    canvas.SetPenColor(kPen);
    canvas.SetBrushColor(kBrush);
    c.Draw(canvas);
  }
  EXPECT_EQ(Joined(Picture(img)), Joined(c.Expected));
}

const PictureCase kPictures[] = {
    {"horizontalLineLeavesOutEndPoint",
     [](TCanvas &c) { c.MoveTo(2, 2); c.LineTo(7, 2); },
     {"..........",
      "..........",
      "..#####...",
      ".........."}},
    {"lineDrawnBackwardsLeavesOutItsOwnEnd",
     [](TCanvas &c) { c.MoveTo(7, 2); c.LineTo(2, 2); },
     {"..........",
      "..........",
      "...#####..",
      ".........."}},
    {"verticalLineLeavesOutEndPoint",
     [](TCanvas &c) { c.MoveTo(4, 1); c.LineTo(4, 5); },
     {"......",
      "....#.",
      "....#.",
      "....#.",
      "....#.",
      "......"}},
    {"diagonalLineLeavesOutEndPoint",
     [](TCanvas &c) { c.MoveTo(1, 1); c.LineTo(5, 5); },
     {"......",
      ".#....",
      "..#...",
      "...#..",
      "....#.",
      "......"}},
    {"antiDiagonalLineLeavesOutEndPoint",
     [](TCanvas &c) { c.MoveTo(5, 1); c.LineTo(1, 5); },
     {"......",
      ".....#",
      "....#.",
      "...#..",
      "..#...",
      "......"}},
    {"shallowLineStepsAtHalfway",
     [](TCanvas &c) { c.MoveTo(0, 0); c.LineTo(4, 2); },
     {"#....",
      ".##..",
      "...#.",
      "....."}},
    {"zeroLengthLineDrawsNothing",
     [](TCanvas &c) { c.MoveTo(2, 2); c.LineTo(2, 2); },
     {"....",
      "....",
      "....",
      "...."}},
    {"clearPenDrawsNoLine",
     [](TCanvas &c) { c.SetPenStyle(psClear); c.MoveTo(0, 1); c.LineTo(4, 1); },
     {"....",
      "....",
      "...."}},
    {"consecutiveLinesJoinAtTheCorner",
     [](TCanvas &c) { c.MoveTo(1, 1); c.LineTo(5, 1); c.LineTo(5, 4); },
     {".......",
      ".#####.",
      ".....#.",
      ".....#.",
      "......."}},
    {"polylineLeavesOutLastPoint",
     [](TCanvas &c) { c.Polyline({{1, 1}, {5, 1}, {5, 4}, {2, 4}}); },
     {".......",
      ".#####.",
      ".....#.",
      ".....#.",
      "...###.",
      "......."}},
    {"penWidthTwoCoversPixelAndTheOneAbove",
     [](TCanvas &c) { c.SetPenWidth(2); c.MoveTo(2, 2); c.LineTo(6, 2); },
     {"........",
      ".#####..",
      ".#####..",
      "........"}},
    {"penWidthTwoVerticalCoversPixelAndTheOneLeft",
     [](TCanvas &c) { c.SetPenWidth(2); c.MoveTo(3, 1); c.LineTo(3, 4); },
     {"..##..",
      "..##..",
      "..##..",
      "..##..",
      "......"}},
    {"dottedLineIsThreeOnThreeOff",
     [](TCanvas &c) { c.SetPenStyle(psDot); c.MoveTo(0, 0); c.LineTo(12, 0); },
     {"###...###...."}},
    {"dashPatternContinuesAroundPolylineCorners",
     [](TCanvas &c) { c.SetPenStyle(psDot); c.Polyline({{0, 0}, {4, 0}, {4, 6}}); },
     {"###..",
      ".....",
      "....#",
      "....#",
      "....#",
      "....."}},
    {"rectangleOutlinesWithPenAndFillsWithBrush",
     [](TCanvas &c) { c.Rectangle(1, 1, 7, 6); },
     {"..........",
      ".######...",
      ".#oooo#...",
      ".#oooo#...",
      ".#oooo#...",
      ".######...",
      ".........."}},
    {"rectangleWithSwappedCornersIsTheSame",
     [](TCanvas &c) { c.Rectangle(Rect(7, 6, 1, 1)); },
     {"..........",
      ".######...",
      ".#oooo#...",
      ".#oooo#...",
      ".#oooo#...",
      ".######...",
      ".........."}},
    {"rectangleWithoutPenIsOnePixelSmaller",
     [](TCanvas &c) { c.SetPenStyle(psClear); c.Rectangle(1, 1, 7, 6); },
     {"..........",
      ".ooooo....",
      ".ooooo....",
      ".ooooo....",
      ".ooooo....",
      "..........",
      ".........."}},
    {"rectangleWithClearBrushIsOutlineOnly",
     [](TCanvas &c) { c.SetBrushStyle(bsClear); c.Rectangle(1, 1, 7, 6); },
     {"..........",
      ".######...",
      ".#....#...",
      ".#....#...",
      ".#....#...",
      ".######...",
      ".........."}},
    {"rectangleWithPenWidthTwo",
     [](TCanvas &c) { c.SetBrushStyle(bsClear); c.SetPenWidth(2); c.Rectangle(2, 2, 7, 6); },
     {"..........",
      ".######...",
      ".######...",
      ".##..##...",
      ".######...",
      ".######...",
      ".........."}},
    {"onePixelRectangle",
     [](TCanvas &c) { c.Rectangle(2, 1, 3, 2); },
     {".....",
      "..#..",
      "....."}},
    {"emptyRectangleDrawsNothing",
     [](TCanvas &c) { c.Rectangle(3, 1, 3, 4); },
     {".....",
      ".....",
      ".....",
      ".....",
      "....."}},
    {"dottedRectangleFillsBehindTheGaps",
     [](TCanvas &c) { c.SetPenStyle(psDot); c.Rectangle(0, 0, 8, 3); },
     {"###ooo##",
      "ooooooo#",
      "oo###ooo"}},
    {"fillRectCoversLeftToRightMinusOneWithoutOutline",
     [](TCanvas &c) { c.FillRect(Rect(2, 1, 5, 3)); },
     {"........",
      "..ooo...",
      "..ooo...",
      "........"}},
    {"fillRectsFillsEachWithinTheClip",
     [](TCanvas &c) {
       c.SetClipRect(Rect(1, 0, 7, 4));
       c.FillRects({Rect(0, 0, 3, 2), Rect(5, 1, 9, 3), Rect(4, 3, 4, 4), Rect(-5, -5, -1, -1)});
     },
     {".oo.....",
      ".oo..oo.",
      ".....oo.",
      "........"}},
    {"fillRectWithClearBrushDrawsNothing",
     [](TCanvas &c) { c.SetBrushStyle(bsClear); c.FillRect(Rect(2, 1, 5, 3)); },
     {"........",
      "........",
      "........",
      "........"}},
    {"polygonOutlinePassesThroughEveryVertex",
     [](TCanvas &c) { c.Polygon({{1, 1}, {6, 1}, {6, 4}, {1, 4}}); },
     {"........",
      ".######.",
      ".#oooo#.",
      ".#oooo#.",
      ".######.",
      "........"}},
    {"polygonWithoutPenFillsPixelCentresInside",
     [](TCanvas &c) { c.SetPenStyle(psClear); c.Polygon({{1, 1}, {6, 1}, {6, 4}, {1, 4}}); },
     {"........",
      ".ooooo..",
      ".ooooo..",
      ".ooooo..",
      "........",
      "........"}},
    {"setPixelSetsOnePixel",
     [](TCanvas &c) { c.SetPixel(3, 1, kPen); c.SetPixel(-1, 0, kPen); c.SetPixel(99, 0, kPen); },
     {"......",
      "...#..",
      "......"}},
    {"clipRectLimitsDrawing",
     [](TCanvas &c) { c.SetClipRect(Rect(2, 1, 5, 3)); c.FillRect(Rect(0, 0, 8, 4)); c.MoveTo(0, 3); c.LineTo(8, 3); },
     {"........",
      "..ooo...",
      "..ooo...",
      "........"}},
    {"emptyClipRectDrawsNothing",
     [](TCanvas &c) { c.SetClipRect(Rect(2, 2, 2, 4)); c.FillRect(Rect(0, 0, 8, 4)); },
     {"........",
      "........",
      "........",
      "........"}},
    {"resetClipRectDrawsEverywhereAgain",
     [](TCanvas &c) { c.SetClipRect(Rect(2, 1, 5, 3)); c.ResetClipRect(); c.FillRect(Rect(0, 0, 3, 1)); },
     {"ooo.....",
      "........"}},
    {"farAwayEndPointsStillDrawTheVisiblePart",
     [](TCanvas &c) {
       c.MoveTo(INT_MIN, 1);
       c.LineTo(INT_MAX, 1);
       c.MoveTo(INT_MAX, INT_MAX);
       c.LineTo(INT_MIN, INT_MIN);
     },
     {"#.....",
      "######",
      "..#...",
      "...#..",
      "....#."}},
    {"hugeRectangleFillsTheWholeImage",
     [](TCanvas &c) { c.SetPenStyle(psClear); c.Rectangle(INT_MIN, INT_MIN, INT_MAX, INT_MAX); },
     {"ooo",
      "ooo"}},
};

INSTANTIATE_TEST_SUITE_P(Canvas, CanvasPicture, ::testing::ValuesIn(kPictures),
                         [](const auto &info) { return std::string(info.param.Name); });

TEST(Canvas, penWidthBelowOneIsOne) {
  QImage img = WhiteImage(4, 4);
  TCanvas c(img);
  for (int w : {0, -5, INT_MIN}) {
    c.SetPenWidth(w);
    EXPECT_EQ(c.PenWidth(), 1);
  }
  c.SetPenWidth(3);
  EXPECT_EQ(c.PenWidth(), 3);
}

TEST(Canvas, lineToMovesThePenEvenWithClearPen) {
  QImage img = WhiteImage(4, 4);
  TCanvas c(img);
  c.MoveTo(1, 2);
  EXPECT_EQ(c.PenPos(), (TPoint{1, 2}));
  c.SetPenStyle(psClear);
  c.LineTo(3, 0);
  EXPECT_EQ(c.PenPos(), (TPoint{3, 0}));
  c.Polyline({{0, 0}, {3, 3}});
  EXPECT_EQ(c.PenPos(), (TPoint{3, 0}));
}

TEST(Canvas, systemColoursAreResolvedWhenDrawing) {
  QImage img = WhiteImage(6, 6);
  TCanvas c(img);
  c.SetBrushColor(clBtnFace);
  c.SetPenColor(clBtnShadow);
  c.Rectangle(0, 0, 6, 6);
  c.SetPixel(5, 5, clInfoBk);
  EXPECT_EQ(img.pixelColor(2, 2), QColor(240, 240, 240));
  EXPECT_EQ(c.Pixel(2, 2), RGBColor(240, 240, 240));
  EXPECT_EQ(c.Pixel(0, 3), RGBColor(160, 160, 160));
  EXPECT_EQ(c.Pixel(5, 5), RGBColor(255, 255, 225));
}

TEST(Canvas, pixelOutsideTheImageIsNone) {
  QImage img = WhiteImage(3, 3);
  TCanvas c(img);
  EXPECT_EQ(c.Pixel(0, 0), clWhite);
  for (auto [x, y] : std::vector<std::pair<int, int>>{{-1, 0}, {3, 0}, {0, 3}, {INT_MIN, INT_MAX}})
    EXPECT_EQ(c.Pixel(x, y), clNone);
}

TEST(Canvas, ellipseStaysInsideItsBoxAndTouchesEachSide) {
  struct Case {
    TPenStyle Pen;
    TRect Box;     // as passed
    TRect Covered; // pixels it may reach
  };
  for (const Case &k : {Case{psSolid, Rect(3, 2, 15, 10), Rect(3, 2, 15, 10)},
                        Case{psClear, Rect(3, 2, 15, 10), Rect(3, 2, 14, 9)},
                        Case{psSolid, Rect(4, 4, 24, 16), Rect(4, 4, 24, 16)}}) {
    QImage img = WhiteImage(30, 20);
    {
      TCanvas c(img);
      c.SetPenColor(kPen);
      c.SetBrushColor(kBrush);
      c.SetPenStyle(k.Pen);
      c.Ellipse(k.Box);
    }
    TRect painted{INT_MAX, INT_MAX, INT_MIN, INT_MIN};
    for (int y = 0; y < img.height(); ++y)
      for (int x = 0; x < img.width(); ++x)
        if (img.pixelColor(x, y) != QColor(Qt::white)) {
          painted = {std::min(painted.Left, x), std::min(painted.Top, y), std::max(painted.Right, x + 1),
                     std::max(painted.Bottom, y + 1)};
        }
    EXPECT_EQ(painted, k.Covered);
    const int cx = (k.Box.Left + k.Box.Right) / 2, cy = (k.Box.Top + k.Box.Bottom) / 2;
    EXPECT_EQ(img.pixelColor(cx, cy), ToQColor(kBrush));
    EXPECT_EQ(img.pixelColor(k.Box.Left, k.Box.Top), QColor(Qt::white)); // corners stay free
    if (k.Pen != psClear) {
      EXPECT_EQ(img.pixelColor(k.Box.Left, cy), ToQColor(kPen));
    }
  }
}

TEST(Canvas, pointerTriangleIsFilledAndOutlined) {
  QImage img = WhiteImage(20, 20);
  {
    TCanvas c(img);
    c.SetPenColor(kPen);
    c.SetBrushColor(kBrush);
    c.Polygon({{2, 4}, {2, 14}, {12, 9}});
  }
  for (auto [x, y] : std::vector<std::pair<int, int>>{{2, 4}, {2, 14}, {12, 9}, {2, 9}, {7, 9}})
    EXPECT_NE(img.pixelColor(x, y), QColor(Qt::white)) << x << "," << y;
  for (auto [x, y] : std::vector<std::pair<int, int>>{{2, 4}, {2, 14}, {12, 9}})
    EXPECT_EQ(img.pixelColor(x, y), ToQColor(kPen)) << x << "," << y;
  EXPECT_EQ(img.pixelColor(5, 9), ToQColor(kBrush));
  for (auto [x, y] : std::vector<std::pair<int, int>>{{1, 9}, {13, 9}, {11, 5}, {11, 13}, {2, 3}, {2, 15}})
    EXPECT_EQ(img.pixelColor(x, y), QColor(Qt::white)) << x << "," << y;
}

TEST(Canvas, textIsPlacedByTheTopLeftOfItsCell) {
  QImage img = WhiteImage(120, 60);
  TFont font;
  font.SetName("Arial");
  font.SetHeight(-20);
  font.SetColor(clRed);
  int w = 0, h = 0;
  {
    TCanvas c(img);
    c.SetFont(font);
    c.SetBrushColor(clBlue); // text background stays clear whatever the brush
    w = c.TextWidth("HgÄ");
    h = c.TextHeight("HgÄ");
    c.TextOut(10, 15, "HgÄ");
  }
  ASSERT_GT(w, 0);
  EXPECT_EQ(h, QFontMetrics(font.ToQFont()).height());
  bool strongRed = false;
  for (int y = 0; y < img.height(); ++y)
    for (int x = 0; x < img.width(); ++x) {
      const QColor p = img.pixelColor(x, y);
      if (p == QColor(Qt::white))
        continue;
      EXPECT_GE(y, 15) << x << "," << y;
      EXPECT_LT(y, 15 + h) << x << "," << y;
      EXPECT_GE(x, 9) << x << "," << y;
      EXPECT_LT(x, 10 + w + 1) << x << "," << y;
      EXPECT_GE(p.red(), p.blue()); // never the brush's blue
      strongRed = strongRed || (p.red() > 200 && p.green() < 60 && p.blue() < 60);
    }
  EXPECT_TRUE(strongRed);
}

TEST(Canvas, withoutSetFontTextUsesTheDefaultFont) {
  QImage plain = WhiteImage(60, 20), set = WhiteImage(60, 20);
  int plainWidth = 0, setWidth = 0;
  {
    TCanvas c(plain);
    plainWidth = c.TextWidth("Wert 42");
    EXPECT_EQ(c.Font(), TFont().ToQFont());
    c.TextOut(2, 2, "Wert 42");
  }
  {
    TCanvas c(set);
    c.SetFont(TFont());
    setWidth = c.TextWidth("Wert 42");
    c.TextOut(2, 2, "Wert 42");
  }
  EXPECT_GT(plainWidth, 0);
  EXPECT_EQ(plainWidth, setWidth);
  EXPECT_TRUE(plain == set);
}

TEST(Canvas, textExtentsFollowTheFont) {
  QImage img = WhiteImage(4, 4);
  TCanvas c(img);
  TFont f;
  f.SetName("Courier New");
  f.SetHeight(-20);
  c.SetFont(f);
  EXPECT_EQ(c.TextWidth(""), 0);
  EXPECT_EQ(c.TextWidth("WWWW"), 2 * c.TextWidth("ii"));
  EXPECT_EQ(c.TextHeight(""), c.TextHeight("Xy"));
  const int h20 = c.TextHeight("X");
  f.SetHeight(-40);
  c.SetFont(f);
  EXPECT_GT(c.TextHeight("X"), h20);
  EXPECT_EQ(c.FontColor(), clWindowText);
  c.SetFontColor(clLime);
  EXPECT_EQ(c.FontColor(), clLime);
}

QImage Source3x2() {
  QImage src(3, 2, QImage::Format_RGB32);
  const QColor cols[2][3] = {{Qt::red, Qt::green, Qt::blue}, {Qt::cyan, Qt::magenta, Qt::yellow}};
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 3; ++x)
      src.setPixelColor(x, y, cols[y][x]);
  return src;
}

TEST(Canvas, imagesLandWhereAsked) {
  const QImage src = Source3x2();
  struct Case {
    const char *Name;
    std::function<void(TCanvas &)> Draw;
    std::vector<std::tuple<int, int, QColor>> Pixels; // destination pixel, expected colour
  };
  const QColor white(Qt::white);
  const std::vector<Case> cases{
      {"Draw",
       [&](TCanvas &c) { c.Draw(4, 5, src); },
       {{4, 5, Qt::red}, {6, 5, Qt::blue}, {4, 6, Qt::cyan}, {6, 6, Qt::yellow}, {7, 5, white}, {3, 5, white},
        {4, 4, white}, {4, 7, white}}},
      {"CopyRect",
       [&](TCanvas &c) { c.CopyRect(Rect(10, 10, 12, 11), src, Rect(1, 0, 3, 1)); },
       {{10, 10, Qt::green}, {11, 10, Qt::blue}, {12, 10, white}, {10, 11, white}, {9, 10, white}}},
      {"StretchDraw",
       [&](TCanvas &c) { c.StretchDraw(Rect(2, 2, 8, 6), src); },
       {{2, 2, Qt::red}, {3, 3, Qt::red}, {4, 2, Qt::green}, {7, 5, Qt::yellow}, {8, 5, white}, {7, 6, white}}},
      {"CopyRectScales",
       [&](TCanvas &c) { c.CopyRect(Rect(0, 0, 4, 2), src, Rect(0, 1, 2, 2)); },
       {{0, 0, Qt::cyan}, {1, 1, Qt::cyan}, {2, 0, Qt::magenta}, {3, 1, Qt::magenta}, {4, 0, white}}},
  };
  for (const auto &k : cases) {
    SCOPED_TRACE(k.Name);
    QImage img = WhiteImage(16, 16);
    {
      TCanvas c(img);
      k.Draw(c);
    }
    for (const auto &[x, y, col] : k.Pixels)
      EXPECT_EQ(img.pixelColor(x, y), col) << x << "," << y;
  }
}

TEST(Canvas, copyToImageReadsBackARegion) {
  QImage img = WhiteImage(10, 10);
  TCanvas c(img);
  c.Draw(2, 3, Source3x2());
  const QImage part = c.CopyToImage(Rect(3, 3, 5, 5));
  ASSERT_EQ(part.size(), QSize(2, 2));
  EXPECT_EQ(part.pixelColor(0, 0), QColor(Qt::green));
  EXPECT_EQ(part.pixelColor(1, 1), QColor(Qt::yellow));
  EXPECT_TRUE(c.CopyToImage(Rect(3, 3, 3, 5)).isNull());
  EXPECT_TRUE(c.CopyToImage(Rect(INT_MIN, 0, INT_MAX, 1)).isNull());
}

TEST(Canvas, clipRectIsTheDeviceOrTheClip) {
  QImage img = WhiteImage(30, 20);
  TCanvas c(img);
  EXPECT_EQ(c.ClipRect(), Rect(0, 0, 30, 20));
  c.SetClipRect(Rect(5, 6, 40, 9));
  EXPECT_EQ(c.ClipRect(), Rect(5, 6, 30, 9));
  c.SetClipRect(Rect(1, 2, 3, 4));
  EXPECT_EQ(c.ClipRect(), Rect(1, 2, 3, 4));
  c.ResetClipRect();
  EXPECT_EQ(c.ClipRect(), Rect(0, 0, 30, 20));
}

TEST(Canvas, borrowedPainterKeepsItsClipTransformAndState) {
  QImage img = WhiteImage(30, 20);
  QPainter p(&img);
  p.translate(10, 5);
  p.setClipRect(QRect(0, 0, 8, 8));
  p.setPen(QPen(Qt::green, 5));
  {
    TCanvas c(p);
    EXPECT_EQ(c.ClipRect(), Rect(0, 0, 8, 8));
    c.SetClipRect(Rect(-5, 2, 4, 20)); // can narrow the painter's clip, never widen it
    EXPECT_EQ(c.ClipRect(), Rect(0, 2, 4, 8));
    c.SetBrushColor(kBrush);
    c.FillRect(Rect(-10, -10, 40, 40));
    c.SetPixel(1, 3, kPen);
    EXPECT_EQ(c.Pixel(1, 3), kPen);
    c.ResetClipRect();
    EXPECT_EQ(c.ClipRect(), Rect(0, 0, 8, 8));
  }
  EXPECT_EQ(p.pen().color(), QColor(Qt::green));
  EXPECT_EQ(p.pen().width(), 5);
  p.end();
  EXPECT_EQ(img.pixelColor(11, 8), ToQColor(kPen));
  EXPECT_EQ(img.pixelColor(10, 7), ToQColor(kBrush));
  EXPECT_EQ(img.pixelColor(13, 12), ToQColor(kBrush));
  for (auto [x, y] : std::vector<std::pair<int, int>>{{9, 7}, {14, 7}, {10, 6}, {10, 13}, {0, 0}})
    EXPECT_EQ(img.pixelColor(x, y), QColor(Qt::white)) << x << "," << y;
}

// Through a painter with a transform, on an image another copy shares, or in a composition mode
// of its own, the fills go through the painter: the same pixels, the copy untouched.
TEST(Canvas, fillRectsDrawsAsFillRectOnEverySurface) {
  const std::vector<TRect> rects = {Rect(0, 0, 3, 2), Rect(2, 1, 6, 4)};
  QImage expected = WhiteImage(12, 8);
  {
    TCanvas c(expected);
    c.SetBrushColor(kBrush);
    for (const TRect &r : rects) c.FillRect(Rect(r.Left + 3, r.Top + 2, r.Right + 3, r.Bottom + 2));
  }
  QImage translated = WhiteImage(12, 8);
  {
    QPainter p(&translated);
    p.translate(3, 2);
    TCanvas c(p);
    c.SetBrushColor(kBrush);
    c.FillRects(rects);
  }
  EXPECT_EQ(Joined(Picture(translated)), Joined(Picture(expected)));

  QImage shared = WhiteImage(12, 8);
  const QImage copy = shared;
  {
    TCanvas c(shared);
    c.SetBrushColor(kBrush);
    c.FillRects(rects);
  }
  EXPECT_EQ(shared.pixelColor(2, 1), ToQColor(kBrush));
  EXPECT_EQ(copy.pixelColor(2, 1), QColor(Qt::white));
}

class ClipProbe : public QWidget {
public:
  TRect Seen;
  void paintEvent(QPaintEvent *) override {
    QPainter p(this);
    TCanvas c(p);
    Seen = c.ClipRect();
  }
};

TEST(Canvas, clipRectInsideAPaintEventIsTheUpdateRegion) {
  ClipProbe w;
  w.resize(40, 30);
  QImage target(40, 30, QImage::Format_RGB32);
  w.render(&target, QPoint(), QRegion(3, 4, 5, 6));
  EXPECT_EQ(w.Seen, Rect(3, 4, 8, 10));
}

TEST(Canvas, nullImageIgnoresEveryCall) {
  QImage img;
  TCanvas c(img);
  c.Rectangle(0, 0, 5, 5);
  c.MoveTo(0, 0);
  c.LineTo(5, 5);
  c.TextOut(0, 0, "x");
  c.Polygon({{0, 0}, {3, 0}, {0, 3}});
  c.Draw(0, 0, Source3x2());
  EXPECT_EQ(c.ClipRect(), TRect{});
  EXPECT_EQ(c.Pixel(0, 0), clNone);
  EXPECT_TRUE(c.CopyToImage(Rect(0, 0, 1, 1)).isNull());
}

} // namespace
