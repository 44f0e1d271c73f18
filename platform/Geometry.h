#pragma once
// Rectangles and points as the drawing code thinks of them: a rectangle covers Left…Right−1 and
// Top…Bottom−1.
#include <QPoint>
#include <QRect>

struct TPoint {
  int X = 0;
  int Y = 0;
  bool operator==(const TPoint &) const = default;
};

struct TRect {
  int Left = 0;
  int Top = 0;
  int Right = 0;
  int Bottom = 0;
  int Width() const { return Right - Left; }
  int Height() const { return Bottom - Top; }
  bool IsEmpty() const { return Right <= Left || Bottom <= Top; }
  void Inflate(int dx, int dy) { Left -= dx; Top -= dy; Right += dx; Bottom += dy; }
  bool operator==(const TRect &) const = default;
  // Qt's rectangle of the same pixels (empty rectangles stay empty).
  QRect ToQRect() const { return QRect(Left, Top, Right - Left, Bottom - Top); }
  static TRect FromQRect(const QRect &r) { return {r.left(), r.top(), r.left() + r.width(), r.top() + r.height()}; }
};

inline TRect Rect(int l, int t, int r, int b) { return TRect{l, t, r, b}; }
