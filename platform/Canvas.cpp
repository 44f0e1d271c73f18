#include "platform/Canvas.h"

#include <QFontMetrics>
#include <QPaintEngine>
#include <QPainter>
#include <QPolygon>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cmath>
#include <cstdlib>

namespace {

// The width of any pen is held to this many pixels: wider strokes cover any screen anyway.
constexpr int kMaxPenWidth = 1 << 12;
// Coordinates handed to Qt as rectangles are held within this range, so widths never overflow.
constexpr long long kCoordLimit = 1 << 24;

// On/off run lengths of the dash styles of 1-pixel pens, as on the classic desktop.
struct DashPattern {
  std::array<int, 6> Runs;
  int Count;
};
constexpr DashPattern kDash{{18, 6}, 2};
constexpr DashPattern kDot{{3, 3}, 2};
constexpr DashPattern kDashDot{{9, 6, 3, 6}, 4};
constexpr DashPattern kDashDotDot{{9, 3, 3, 3, 3, 3}, 6};

const DashPattern *PatternOf(TPenStyle s) {
  switch (s) {
  case psDash: return &kDash;
  case psDot: return &kDot;
  case psDashDot: return &kDashDot;
  case psDashDotDot: return &kDashDotDot;
  default: return nullptr;
  }
}

bool PatternOn(const DashPattern &p, long long position) {
  int period = 0;
  for (int i = 0; i < p.Count; ++i)
    period += p.Runs[static_cast<std::size_t>(i)];
  long long at = position % period;
  for (int i = 0; i < p.Count; ++i) {
    at -= p.Runs[static_cast<std::size_t>(i)];
    if (at < 0)
      return i % 2 == 0;
  }
  return false;
}

long long Clamp(long long v) { return std::clamp(v, -kCoordLimit, kCoordLimit); }

QRect SafeQRect(long long l, long long t, long long r, long long b) {
  l = Clamp(l);
  t = Clamp(t);
  r = Clamp(r);
  b = Clamp(b);
  return QRect(static_cast<int>(l), static_cast<int>(t), static_cast<int>(std::max(0LL, r - l)),
               static_cast<int>(std::max(0LL, b - t)));
}

QRect SafeQRect(const TRect &r) { return SafeQRect(r.Left, r.Top, r.Right, r.Bottom); }

Qt::PenStyle QtPenStyle(TPenStyle s) {
  switch (s) {
  case psDash: return Qt::DashLine;
  case psDot: return Qt::DotLine;
  case psDashDot: return Qt::DashDotLine;
  case psDashDotDot: return Qt::DashDotDotLine;
  case psClear: return Qt::NoPen;
  default: return Qt::SolidLine;
  }
}

} // namespace

TCanvas::TCanvas(QImage &image) {
  if (image.format() == QImage::Format_Indexed8 || image.format() == QImage::Format_Mono ||
      image.format() == QImage::Format_MonoLSB)
    image = image.convertToFormat(QImage::Format_RGB32);
  FImage = &image;
  FOwnedPainter = std::make_unique<QPainter>();
  if (!image.isNull())
    FOwnedPainter->begin(&image);
  FPainter = FOwnedPainter.get();
  if (Active()) {
    FPainter->setRenderHint(QPainter::Antialiasing, false);
    FPainter->setRenderHint(QPainter::SmoothPixmapTransform, false);
  }
}

TCanvas::TCanvas(QPainter &painter) : FPainter(&painter) {
  if (Active()) {
    FPainter->save();
    FBaseHasClip = FPainter->hasClipping();
    if (FBaseHasClip)
      FBaseClip = FPainter->clipRegion();
    FPainter->setRenderHint(QPainter::Antialiasing, false);
    FPainter->setRenderHint(QPainter::SmoothPixmapTransform, false);
  }
}

TCanvas::~TCanvas() {
  if (!FOwnedPainter && Active())
    FPainter->restore();
}

bool TCanvas::Active() const { return FPainter != nullptr && FPainter->isActive(); }

void TCanvas::SetPenWidth(int w) { FPenWidth = std::clamp(w, 1, kMaxPenWidth); }

void TCanvas::SetFont(const TFont &font) {
  FFont = font.ToQFont();
  FDefaultFont = false;
  FFontColor = font.Color();
}

void TCanvas::SetFont(const QFont &font, TColor color) {
  FFont = font;
  FDefaultFont = false;
  FFontColor = color;
}

const QFont &TCanvas::Font() const {
  if (FDefaultFont) {
    FFont = TFont().ToQFont();
    FDefaultFont = false;
  }
  return FFont;
}

int TCanvas::TextWidth(const std::string &utf8) const {
  return QFontMetrics(Font()).horizontalAdvance(QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size())));
}

int TCanvas::TextHeight(const std::string &) const { return QFontMetrics(Font()).height(); }

void TCanvas::TextOut(int x, int y, const std::string &utf8) {
  if (!Active() || utf8.empty())
    return;
  const QFontMetrics fm(Font());
  FPainter->setFont(FFont);
  FPainter->setPen(QPen(ToQColor(FFontColor)));
  FPainter->drawText(QPointF(x, static_cast<double>(y) + fm.ascent()),
                     QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size())));
}

// ---- lines ---------------------------------------------------------------------------------

// Fills [l, r) × [t, b) within the bounds; coordinates arrive in 64 bits because pen squares
// around extreme points may leave the int range.
void TCanvas::FillBox(long long l, long long t, long long r, long long b, TColor c, const TRect &bounds) {
  l = std::max<long long>(l, bounds.Left);
  t = std::max<long long>(t, bounds.Top);
  r = std::min<long long>(r, bounds.Right);
  b = std::min<long long>(b, bounds.Bottom);
  if (r <= l || b <= t)
    return;
  FPainter->fillRect(SafeQRect(l, t, r, b), ToQColor(c));
}

// Pixels from a towards b, b itself left out: pixel i steps once along the longer axis and
// round(i × minor / major) along the shorter one. Only the steps that can reach the bounds are
// visited, so far-away end points cost nothing; `phase` carries the dash pattern across joints.
// A pen of width w paints the w × w square from w div 2 up-left of each pixel (width 2: the
// pixel and the one above or left of it).
void TCanvas::StrokeSegment(TPoint a, TPoint b, long long &phase, const TRect &bounds) {
  const long long dx = static_cast<long long>(b.X) - a.X;
  const long long dy = static_cast<long long>(b.Y) - a.Y;
  const bool xMajor = std::llabs(dx) >= std::llabs(dy);
  const long long major = xMajor ? std::llabs(dx) : std::llabs(dy);
  const long long minor = xMajor ? std::llabs(dy) : std::llabs(dx);
  const long long n = major;
  if (n == 0)
    return;
  const int sMajor = (xMajor ? dx : dy) < 0 ? -1 : 1;
  const int sMinor = (xMajor ? dy : dx) < 0 ? -1 : 1;
  const long long aMajor = xMajor ? a.X : a.Y;
  const long long aMinor = xMajor ? a.Y : a.X;

  const int w = FPenWidth;
  const long long before = w / 2; // square reaches this far up/left of the pixel
  const long long lo = (xMajor ? bounds.Left : bounds.Top) - w;
  const long long hi = (xMajor ? bounds.Right : bounds.Bottom) + w;
  long long first = 0, last = n - 1;
  if (sMajor > 0) {
    first = std::max(first, lo - aMajor);
    last = std::min(last, hi - aMajor);
  } else {
    first = std::max(first, aMajor - hi);
    last = std::min(last, aMajor - lo);
  }
  const DashPattern *pattern = w == 1 ? PatternOf(FPenStyle) : nullptr;
  if (first <= last) {
    // Minor offset of step i is floor((2·i·minor + major) / (2·major)); the numerator needs
    // more than 64 bits for far-apart points, so the first step is computed wide and the rest
    // incrementally.
    __extension__ using Wide = __int128;
    const Wide num = Wide(2) * first * minor + major;
    long long off = static_cast<long long>(num / (Wide(2) * major));
    long long rem = static_cast<long long>(num % (Wide(2) * major));

    bool runOpen = false;
    long long runStart = 0, runEnd = 0, runMinor = 0;
    auto flush = [&] {
      if (!runOpen)
        return;
      runOpen = false;
      const long long m0 = std::min(runStart, runEnd) - before;
      const long long m1 = std::max(runStart, runEnd) - before + w;
      const long long n0 = runMinor - before;
      const long long n1 = n0 + w;
      if (xMajor)
        FillBox(m0, n0, m1, n1, FPenColor, bounds);
      else
        FillBox(n0, m0, n1, m1, FPenColor, bounds);
    };
    for (long long i = first; i <= last; ++i) {
      const long long pm = aMajor + sMajor * i;
      const long long pn = aMinor + sMinor * off;
      const bool on = pattern == nullptr || PatternOn(*pattern, phase + i);
      if (!on || (runOpen && pn != runMinor))
        flush();
      if (on) {
        if (!runOpen) {
          runOpen = true;
          runStart = pm;
          runMinor = pn;
        }
        runEnd = pm;
      }
      rem += 2 * minor;
      if (rem >= 2 * major) {
        rem -= 2 * major;
        ++off;
      }
    }
    flush();
  }
  phase += n;
}

void TCanvas::StrokePath(const std::vector<TPoint> &points, bool closed) {
  if (!Active() || FPenStyle == psClear || points.empty())
    return;
  const TRect bounds = ClipRect();
  long long phase = 0;
  for (std::size_t i = 0; i + 1 < points.size(); ++i)
    StrokeSegment(points[i], points[i + 1], phase, bounds);
  if (closed) {
    StrokeSegment(points.back(), points.front(), phase, bounds);
    // A figure shrunk to one point still shows that point.
    if (std::all_of(points.begin(), points.end(), [&](const TPoint &p) { return p == points.front(); })) {
      const long long before = FPenWidth / 2;
      FillBox(points.front().X - before, points.front().Y - before, points.front().X - before + FPenWidth,
              points.front().Y - before + FPenWidth, FPenColor, bounds);
    }
  }
}

void TCanvas::LineTo(int x, int y) {
  StrokePath({FPenPos, {x, y}}, false);
  FPenPos = {x, y};
}

void TCanvas::Polyline(const std::vector<TPoint> &points) { StrokePath(points, false); }

void TCanvas::Polygon(const std::vector<TPoint> &points) {
  if (!Active() || points.empty())
    return;
  if (FBrushStyle == bsSolid && points.size() >= 3) {
    QPolygon poly;
    poly.reserve(static_cast<qsizetype>(points.size()));
    for (const auto &p : points)
      poly << QPoint(p.X, p.Y);
    FPainter->setPen(Qt::NoPen);
    FPainter->setBrush(ToQColor(FBrushColor));
    FPainter->drawPolygon(poly, Qt::OddEvenFill);
  }
  StrokePath(points, true);
}

// ---- rectangles and ellipses ----------------------------------------------------------------

void TCanvas::Rectangle(int x1, int y1, int x2, int y2) {
  if (!Active())
    return;
  const long long l = std::min(x1, x2), r = std::max(x1, x2);
  const long long t = std::min(y1, y2), b = std::max(y1, y2);
  if (r <= l || b <= t)
    return;
  const TRect bounds = ClipRect();
  if (FPenStyle == psClear) {
    if (FBrushStyle == bsSolid)
      FillBox(l, t, r - 1, b - 1, FBrushColor, bounds);
    return;
  }
  if (FBrushStyle == bsSolid)
    FillBox(l, t, r, b, FBrushColor, bounds);
  const long long w = FPenWidth, before = w / 2;
  if (PatternOf(FPenStyle) != nullptr && w == 1) {
    // Corners as int: l…r−1 and t…b−1 are within the int range the arguments came from.
    const int il = static_cast<int>(l), it = static_cast<int>(t);
    const int ir = static_cast<int>(r - 1), ib = static_cast<int>(b - 1);
    StrokePath({{il, it}, {ir, it}, {ir, ib}, {il, ib}}, true);
    return;
  }
  // Solid outline: the pen square swept along the four edges, as a closed figure through the
  // corners (l, t) and (r − 1, b − 1) would be.
  FillBox(l - before, t - before, r - 1 - before + w, t - before + w, FPenColor, bounds);
  FillBox(l - before, b - 1 - before, r - 1 - before + w, b - 1 - before + w, FPenColor, bounds);
  FillBox(l - before, t - before, l - before + w, b - 1 - before + w, FPenColor, bounds);
  FillBox(r - 1 - before, t - before, r - 1 - before + w, b - 1 - before + w, FPenColor, bounds);
}

// Fills the pixels whose centres lie inside the ellipse (cx, cy, rx, ry), one span per row, so
// the shape is symmetric and reaches each side of its box.
void TCanvas::FillEllipse(double cx, double cy, double rx, double ry, const QRect &box, TColor c) {
  if (rx <= 0 || ry <= 0)
    return;
  const TRect bounds = ClipRect();
  const int top = std::max(box.top(), bounds.Top);
  const int bottom = std::min(box.top() + box.height(), bounds.Bottom);
  for (int y = top; y < bottom; ++y) {
    const double dy = (y + 0.5 - cy) / ry;
    if (dy * dy > 1.0)
      continue;
    const double half = rx * std::sqrt(1.0 - dy * dy);
    const long long left = std::max<long long>(box.left(), static_cast<long long>(std::ceil(cx - half - 0.5)));
    const long long right =
        std::min<long long>(box.left() + box.width(), static_cast<long long>(std::floor(cx + half - 0.5)) + 1);
    FillBox(left, y, right, y + 1LL, c, bounds);
  }
}

void TCanvas::Ellipse(int x1, int y1, int x2, int y2) {
  if (!Active())
    return;
  const long long l = std::min(x1, x2), r = std::max(x1, x2);
  const long long t = std::min(y1, y2), b = std::max(y1, y2);
  if (r <= l || b <= t)
    return;
  const bool pen = FPenStyle != psClear;
  // Without a pen the figure is one pixel smaller at right and bottom, as for rectangles.
  const QRect box = pen ? SafeQRect(l, t, r, b) : SafeQRect(l, t, r - 1, b - 1);
  if (box.isEmpty())
    return;
  const double cx = box.left() + box.width() / 2.0, cy = box.top() + box.height() / 2.0;
  if (FBrushStyle == bsSolid) {
    // Under an outline the fill takes the outline's path, through the centres of the box's
    // border pixels, so it never shows outside the outline.
    const double inset = pen ? 0.5 : 0.0;
    FillEllipse(cx, cy, box.width() / 2.0 - inset, box.height() / 2.0 - inset, box, FBrushColor);
  }
  if (!pen)
    return;
  FPainter->save();
  FPainter->setClipRect(box, Qt::IntersectClip);
  QPen qpen(ToQColor(FPenColor));
  qpen.setStyle(FPenWidth == 1 ? QtPenStyle(FPenStyle) : Qt::SolidLine);
  qpen.setWidth(FPenWidth);
  FPainter->setPen(qpen);
  FPainter->setBrush(Qt::NoBrush);
  if (FPenWidth == 1) {
    FPainter->drawEllipse(QRect(box.left(), box.top(), box.width() - 1, box.height() - 1));
  } else {
    const double inset = FPenWidth / 2.0;
    FPainter->drawEllipse(QRectF(box).adjusted(inset, inset, -inset, -inset));
  }
  FPainter->restore();
}

void TCanvas::FillRect(const TRect &r) {
  if (!Active() || FBrushStyle != bsSolid)
    return;
  FillBox(r.Left, r.Top, r.Right, r.Bottom, FBrushColor, ClipRect());
}

void TCanvas::FillRects(const std::vector<TRect> &rects) {
  if (!Active() || FBrushStyle != bsSolid || rects.empty())
    return;
  const TRect bounds = ClipRect();
  if (bounds.IsEmpty())
    return;
  if (!DirectlyWritable()) {
    for (const TRect &r : rects)
      FillBox(r.Left, r.Top, r.Right, r.Bottom, FBrushColor, bounds);
    return;
  }
  // An opaque fill of a 32-bit image without transform or shaped clip is a store per pixel.
  const QRgb pixel = ToQColor(FBrushColor).rgb();
  uchar *bits = FImage->bits();
  const qsizetype stride = FImage->bytesPerLine();
  const qsizetype step = stride / static_cast<qsizetype>(sizeof(QRgb));
  for (const TRect &r : rects) {
    const int l = std::max(r.Left, bounds.Left), rt = std::min(r.Right, bounds.Right);
    const int t = std::max(r.Top, bounds.Top), b = std::min(r.Bottom, bounds.Bottom);
    if (rt <= l || b <= t)
      continue;
    QRgb *row = reinterpret_cast<QRgb *>(bits + t * stride) + l;
    const int w = rt - l;
    // Narrow upright strips (a chart's columns) are the common case: no call per row.
    if (w <= 2) {
      for (int y = t; y < b; ++y, row += step) {
        row[0] = pixel;
        row[w - 1] = pixel;
      }
      continue;
    }
    for (int y = t; y < b; ++y, row += step)
      std::fill_n(row, w, pixel);
  }
}

bool TCanvas::DirectlyWritable() const {
  if (FImage == nullptr || !FImage->isDetached())
    return false;
  const QImage::Format f = FImage->format();
  if (f != QImage::Format_RGB32 && f != QImage::Format_ARGB32 && f != QImage::Format_ARGB32_Premultiplied)
    return false;
  return FPainter->deviceTransform().type() == QTransform::TxNone &&
         FPainter->compositionMode() == QPainter::CompositionMode_SourceOver &&
         (!FPainter->hasClipping() || FPainter->clipRegion().rectCount() <= 1);
}

// ---- pixels and images ----------------------------------------------------------------------

void TCanvas::SetPixel(int x, int y, TColor c) {
  if (!Active())
    return;
  FillBox(x, y, static_cast<long long>(x) + 1, static_cast<long long>(y) + 1, c, ClipRect());
}

const QImage *TCanvas::ReadableImage() const {
  if (FImage != nullptr)
    return FImage;
  if (Active() && FPainter->device() != nullptr && FPainter->device()->devType() == QInternal::Image)
    return static_cast<const QImage *>(FPainter->device());
  return nullptr;
}

TColor TCanvas::Pixel(int x, int y) const {
  const QImage *img = ReadableImage();
  if (img == nullptr)
    return clNone;
  const QPoint p = Active() ? FPainter->deviceTransform().map(QPoint(x, y)) : QPoint(x, y);
  if (!img->valid(p))
    return clNone;
  const QColor c = img->pixelColor(p);
  return RGBColor(c.red(), c.green(), c.blue());
}

QImage TCanvas::CopyToImage(const TRect &r) const {
  const QImage *img = ReadableImage();
  if (img == nullptr || r.IsEmpty())
    return QImage();
  const long long w = static_cast<long long>(r.Right) - r.Left;
  const long long h = static_cast<long long>(r.Bottom) - r.Top;
  if (w > kCoordLimit || h > kCoordLimit)
    return QImage();
  QRect src = SafeQRect(r);
  if (Active())
    src = FPainter->deviceTransform().mapRect(src);
  return img->copy(src);
}

void TCanvas::Draw(int x, int y, const QImage &image) {
  if (!Active() || image.isNull())
    return;
  FPainter->drawImage(QPoint(x, y), image);
}

void TCanvas::StretchDraw(const TRect &dest, const QImage &image) {
  if (!Active() || image.isNull() || dest.IsEmpty())
    return;
  FPainter->drawImage(SafeQRect(dest), image);
}

void TCanvas::CopyRect(const TRect &dest, const QImage &src, const TRect &srcRect) {
  if (!Active() || src.isNull() || dest.IsEmpty() || srcRect.IsEmpty())
    return;
  FPainter->drawImage(SafeQRect(dest), src, SafeQRect(srcRect));
}

// ---- clipping -------------------------------------------------------------------------------

TRect TCanvas::ClipRect() const {
  if (!Active() || FPainter->device() == nullptr)
    return {};
  const QPaintDevice *dev = FPainter->device();
  const QTransform toLogical = FPainter->deviceTransform().inverted();
  QRect area = toLogical.mapRect(QRect(0, 0, dev->width(), dev->height()));
  // A paint event limits drawing to its region through the engine's system clip.
  if (const QPaintEngine *engine = FPainter->paintEngine()) {
    const QRegion sys = engine->systemClip();
    if (!sys.isEmpty())
      area &= toLogical.mapRect(sys.boundingRect());
  }
  if (FPainter->hasClipping())
    area &= FPainter->clipBoundingRect().toAlignedRect();
  if (area.isEmpty())
    return {};
  return TRect::FromQRect(area);
}

void TCanvas::SetClipRect(const TRect &r) {
  if (!Active())
    return;
  if (FBaseHasClip) {
    FPainter->setClipRegion(FBaseClip, Qt::ReplaceClip);
    FPainter->setClipRect(SafeQRect(r), Qt::IntersectClip);
  } else {
    FPainter->setClipRect(SafeQRect(r), Qt::ReplaceClip);
  }
}

void TCanvas::ResetClipRect() {
  if (!Active())
    return;
  if (FBaseHasClip)
    FPainter->setClipRegion(FBaseClip, Qt::ReplaceClip);
  else
    FPainter->setClipping(false);
}
