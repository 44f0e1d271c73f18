#pragma once
// A drawing surface with the semantics the drawing code is written against: aliased pixels,
// rectangles covering X1…X2−1, lines and polylines leaving out their last point, text placed by
// its top-left corner, colours of the program's colour type (system colours resolved).
#include <memory>
#include <string>
#include <vector>

#include <QFont>
#include <QImage>
#include <QRegion>

#include "platform/Color.h"
#include "platform/Font.h"
#include "platform/Geometry.h"

class QPainter;

enum TPenStyle { psSolid, psDash, psDot, psDashDot, psDashDotDot, psClear };
enum TBrushStyle { bsSolid, bsClear };

class TCanvas {
public:
  // Draws into the image (an indexed or monochrome image is converted to 32-bit colour first).
  explicit TCanvas(QImage &image);
  // Draws through an active painter, e.g. inside a paintEvent; the painter's state is restored
  // when the canvas goes.
  explicit TCanvas(QPainter &painter);
  ~TCanvas();
  TCanvas(const TCanvas &) = delete;
  TCanvas &operator=(const TCanvas &) = delete;

  // Pen: width below 1 draws 1 pixel wide; dash styles apply to 1-pixel pens, wider pens draw
  // solid. psClear draws no lines or outlines.
  void SetPenColor(TColor c) { FPenColor = c; }
  TColor PenColor() const { return FPenColor; }
  void SetPenWidth(int w);
  int PenWidth() const { return FPenWidth; }
  void SetPenStyle(TPenStyle s) { FPenStyle = s; }
  TPenStyle PenStyle() const { return FPenStyle; }

  void SetBrushColor(TColor c) { FBrushColor = c; }
  TColor BrushColor() const { return FBrushColor; }
  void SetBrushStyle(TBrushStyle s) { FBrushStyle = s; }
  TBrushStyle BrushStyle() const { return FBrushStyle; }

  // Font for text and its extents; the text colour is the font's colour.
  void SetFont(const TFont &font);
  // A font made here (a smaller size of one), drawing in `color`.
  void SetFont(const QFont &font, TColor color);
  const QFont &Font() const;
  // Changes the text colour only, keeping face and size.
  void SetFontColor(TColor c) { FFontColor = c; }
  TColor FontColor() const { return FFontColor; }
  int TextWidth(const std::string &utf8) const;
  // Height of the font's cell (ascent + descent), whatever the text.
  int TextHeight(const std::string &utf8) const;
  // Text with its cell's top-left corner at (x, y), on a clear background.
  void TextOut(int x, int y, const std::string &utf8);

  void MoveTo(int x, int y) { FPenPos = {x, y}; }
  // Line from the pen position to (x, y), end point left out; the pen position moves there.
  void LineTo(int x, int y);
  TPoint PenPos() const { return FPenPos; }
  // Connected lines; the last point is left out. The pen position is not changed.
  void Polyline(const std::vector<TPoint> &points);
  // Closed figure filled with the brush (even-odd rule) and outlined with the pen through every
  // vertex.
  void Polygon(const std::vector<TPoint> &points);

  // With a pen the outline covers X1…X2−1, Y1…Y2−1 and the inside is filled with the brush;
  // with psClear the fill covers X1…X2−2, Y1…Y2−2. Swapped corners are ordered first.
  void Rectangle(int x1, int y1, int x2, int y2);
  void Rectangle(const TRect &r) { Rectangle(r.Left, r.Top, r.Right, r.Bottom); }
  // Ellipse inscribed in the box of the same rule as Rectangle; nothing falls outside the box.
  void Ellipse(int x1, int y1, int x2, int y2);
  void Ellipse(const TRect &r) { Ellipse(r.Left, r.Top, r.Right, r.Bottom); }
  // Left…Right−1, Top…Bottom−1 in the brush colour, no outline; nothing with a clear brush.
  void FillRect(const TRect &r);
  // Each rectangle as FillRect fills it, the clip looked up once: for many small fills (a
  // chart's columns), which on an image surface become plain pixel stores.
  void FillRects(const std::vector<TRect> &rects);

  void SetPixel(int x, int y, TColor c);
  // Colour of a pixel of an image surface; clNone outside it or on a surface that cannot be read.
  TColor Pixel(int x, int y) const;

  // Images are placed unscaled at (x, y), scaled into a rectangle, or a part of them scaled into
  // a rectangle; scaling picks nearest pixels.
  void Draw(int x, int y, const QImage &image);
  void StretchDraw(const TRect &dest, const QImage &image);
  void CopyRect(const TRect &dest, const QImage &src, const TRect &srcRect);
  // The pixels of a rectangle of an image surface (parts outside it transparent black); a null
  // image on a surface that cannot be read.
  QImage CopyToImage(const TRect &r) const;

  // The area drawing reaches: the clip (including the paint event's region) within the device.
  TRect ClipRect() const;
  // Replaces the clip set by an earlier call; the paint event's region still applies.
  void SetClipRect(const TRect &r);
  void ResetClipRect();

  // The painter underneath, for drawing this interface does not cover.
  QPainter &Painter() { return *FPainter; }

private:
  bool Active() const;
  void StrokeSegment(TPoint a, TPoint b, long long &phase, const TRect &bounds);
  void StrokePath(const std::vector<TPoint> &points, bool closed);
  void FillEllipse(double cx, double cy, double rx, double ry, const QRect &box, TColor c);
  void FillBox(long long l, long long t, long long r, long long b, TColor c, const TRect &bounds);
  const QImage *ReadableImage() const;
  bool DirectlyWritable() const;

  std::unique_ptr<QPainter> FOwnedPainter;
  QPainter *FPainter = nullptr;
  QImage *FImage = nullptr;
  // The clip a borrowed painter came with; the canvas's own clip narrows it, never widens it.
  bool FBaseHasClip = false;
  QRegion FBaseClip;

  TColor FPenColor = clBlack;
  int FPenWidth = 1;
  TPenStyle FPenStyle = psSolid;
  TColor FBrushColor = clWhite;
  TBrushStyle FBrushStyle = bsSolid;
  // The default font is converted only when text is drawn before any SetFont.
  mutable QFont FFont;
  mutable bool FDefaultFont = true;
  TColor FFontColor = clWindowText;
  TPoint FPenPos;
};
