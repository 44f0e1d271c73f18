#pragma once
// The vertical meter's arithmetic, free of any painter: the size its content needs, where each
// part of it goes, where the scale's ticks fall and where pointer and min/max markers stand.
// The painting code measures text, calls these and draws what they return.
#include <array>
#include <cstdint>
#include <vector>

#include "instruments/AnBevel.h"
#include "instruments/AnScale.h"
#include "platform/Geometry.h"

enum TAnVMeterOption { opBevelInner, opBevelOuter, opValue, opName1, opName2, opOverflow, opLimit, opSector, opUnit };
using TAnVMeterOptions = std::uint16_t; // bit set of TAnVMeterOption
constexpr TAnVMeterOptions OptionBit(TAnVMeterOption o) { return static_cast<TAnVMeterOptions>(1u << o); }
constexpr TAnVMeterOptions AllVMeterOptions = 0x1FF;

// Text extents the painter measured: the captions in the meter's font, the widest value pattern
// and the unit in the value font (the unit's width is 0 without opUnit).
struct TVMeterExtents {
  int Name1Width = 0;
  int Name1Height = 0;
  int Name2Width = 0;
  int Name2Height = 0;
  int ValueWidth = 0;
  int ValueHeight = 0;
  int UnitWidth = 0;
};

// Everything the layout depends on besides the client size. The scale's metrics must have been
// computed (ComputeScaleMetrics) before.
struct TVMeterParts {
  TAnVMeterOptions Options;
  const TAnSBevel &Outer;
  const TAnSBevel &Inner;
  const TAnSBevel &Value;
  const TScaleSettings &Scale;
  TVMeterExtents Extents;
  bool Has(TAnVMeterOption o) const { return (Options & OptionBit(o)) != 0; }
};

// The size the content needs, held in 16 bits (saturated).
struct TVMeterNeed {
  std::int16_t Width = 0;
  std::int16_t Height = 0;
};
TVMeterNeed MeasureVMeter(const TVMeterParts &p);

// The content rectangle a bevel leaves when drawn into r: its thickness on every side, then its
// offset (what TAnSBevel::Draw returns, without drawing).
TRect BevelContentRect(const TAnSBevel &b, const TRect &r);

// Where the parts of a meter of a given size go, in client coordinates.
struct TVMeterLayout {
  TRect Client;
  TPoint Name1Pos; // top-left of the captions' text
  TPoint Name2Pos;
  TRect ValueBox;  // BevelValue is drawn here
  TPoint UnitPos;  // top-left of the unit text
  TRect ValueRect; // the value text area inside the value box
  TRect InnerRect; // BevelInner is drawn here
  TRect BackRect;  // inside the inner bevel: the area the pointer is composed over
  bool TooSmall = false;
  TRect ScaleRect; // the rest is only meaningful when not TooSmall
  TRect SectorRect;
  int PointerBaseX = 0;
};
TVMeterLayout LayoutVMeter(const TVMeterParts &p, int width, int height);

// Tick positions of a scale drawn into r (L, T, R, B).
struct TScaleTicks {
  int LineX = 0;          // x of the scale line
  int Direction = 1;      // +1: ticks point right; −1: left
  int Steps = 1;          // main steps N (LogSteps on a log scale)
  std::vector<int> MainY; // y(0) … y(N), top to bottom
  std::vector<int> SubY;  // every sub tick, main tick by main tick
  int ScaleTop = 0;
  int ScaleBottom = 0;
};
TScaleTicks ScaleTickPositions(const TScaleSettings &s, const TRect &r);
// Left edge of a label of the given width in a scale drawn into r.
int ScaleLabelLeft(const TScaleSettings &s, const TRect &r, int textWidth);

// A sector band's corner pair in the sector rectangle; false when the sector is not drawn.
bool SectorBand(const TRect &sectorRect, std::int32_t from, std::int32_t to, TRect &band);

// What the pointer and markers are placed by, from the last full paint.
struct TPointerFrame {
  TRect BackRect;
  int ScaleTop = 0;
  int ScaleBottom = 0;
  int PointerBaseX = 0;
  int TickLength = 0;
  bool PosLeftTop = false;
};
using TTriangle = std::array<TPoint, 3>;

// y of a per-mille position, relative to BackRect's top.
int PositionY(const TPointerFrame &f, std::int32_t ppt);
// Corners relative to BackRect's top-left corner.
TTriangle PointerTriangle(const TPointerFrame &f, std::int32_t ppt);
TTriangle MinMarker(const TPointerFrame &f, std::int32_t minPpt);
TTriangle MaxMarker(const TPointerFrame &f, std::int32_t maxPpt);
// The pixels a triangle drawn with a 1-pixel outline can touch, moved by `offset`.
TRect TriangleBounds(const TTriangle &t, TPoint offset);
TRect Intersect(const TRect &a, const TRect &b);
