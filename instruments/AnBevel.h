#pragma once
// Frames and surfaces of the instruments: insets, gradient settings and the shaded bevel.
#include <cstdint>

#include "instruments/AnBase.h"
#include "platform/Geometry.h"

class TCanvas;

class TAnOffset : public TAnPersistent {
public:
  const char *ClassName() const override { return "TAnOffset"; }
  void Assign(const TAnPersistent &source) override;
  std::int32_t Top() const { return FTop; }
  void SetTop(std::int32_t v);
  std::int32_t Left() const { return FLeft; }
  void SetLeft(std::int32_t v);
  std::int32_t Right() const { return FRight; }
  void SetRight(std::int32_t v);
  std::int32_t Bottom() const { return FBottom; }
  void SetBottom(std::int32_t v);

private:
  std::int32_t FTop = 0, FLeft = 0, FRight = 0, FBottom = 0;
};

enum TGradientStyle {
  gsHorizontal1, gsHorizontal2, gsHorizontal3, gsVertical1, gsVertical2, gsVertical3,
  gsElliptic1, gsElliptic2, gsElliptic3, gsRectangle, gsDiamond1, gsDiamond2, gsTopLeft, gsTopRight
};

class TAnGradSettings : public TAnPersistent {
public:
  const char *ClassName() const override { return "TAnGradSettings"; }
  void Assign(const TAnPersistent &source) override;
  TColor ColorFrom() const { return FColorFrom; }
  void SetColorFrom(TColor v);
  TColor ColorTo() const { return FColorTo; }
  void SetColorTo(TColor v);
  bool Visible() const { return FVisible; }
  void SetVisible(bool v);
  TGradientStyle Style() const { return FStyle; }
  void SetStyle(TGradientStyle v);

private:
  TColor FColorFrom = 0x00E2E2E2;
  TColor FColorTo = 0x008F8F8F;
  bool FVisible = false;
  TGradientStyle FStyle = gsHorizontal1;
};

enum TBevelStyle { bsLowered, bsRaised };
enum TBevelLine { blNone, blOuter, blInner, blBoth };

class TAnSBevel : public TAnPersistent {
public:
  TAnSBevel();
  // The owned settings notify this object: a copy would notify the original.
  TAnSBevel(const TAnSBevel &) = delete;
  TAnSBevel &operator=(const TAnSBevel &) = delete;
  const char *ClassName() const override { return "TAnSBevel"; }
  void Assign(const TAnPersistent &source) override;
  // Recomputes Thickness before notifying.
  void Changed() override;

  TAnOffset &Offset() { return FOffset; }
  const TAnOffset &Offset() const { return FOffset; }
  TBevelStyle Style() const { return FStyle; }
  void SetStyle(TBevelStyle v);
  std::int32_t Spacing() const { return FSpacing; }
  void SetSpacing(std::int32_t v);
  TBevelLine BevelLine() const { return FBevelLine; }
  void SetBevelLine(TBevelLine v);
  std::int32_t Width() const { return FWidth; }
  void SetWidth(std::int32_t v);
  TColor Color() const { return FColor; }
  void SetColor(TColor v);
  TColor ColorShadowFrom() const { return FColorShadowFrom; }
  void SetColorShadowFrom(TColor v);
  TColor ColorShadowTo() const { return FColorShadowTo; }
  void SetColorShadowTo(TColor v);
  TColor ColorHighLightFrom() const { return FColorHighLightFrom; }
  void SetColorHighLightFrom(TColor v);
  TColor ColorHighLightTo() const { return FColorHighLightTo; }
  void SetColorHighLightTo(TColor v);
  TColor PenColor() const { return FPenColor; }
  void SetPenColor(TColor v);
  TAnGradSettings &SurfaceGrad() { return FSurfaceGrad; }
  const TAnGradSettings &SurfaceGrad() const { return FSurfaceGrad; }

  std::int32_t Thickness() const { return FThickness; }

  // Draws the bevel into r and shrinks r to the content rectangle.
  void Draw(TCanvas &canvas, TRect &r) const;

private:
  TAnOffset FOffset;
  TBevelStyle FStyle = bsRaised;
  std::int32_t FSpacing = 5;
  TBevelLine FBevelLine = blNone;
  std::int32_t FWidth = 2;
  TColor FColor = clBtnFace;
  TColor FColorShadowFrom = clBtnShadow;
  TColor FColorShadowTo = clBtnShadow;
  TColor FColorHighLightFrom = clBtnHighlight;
  TColor FColorHighLightTo = clBtnHighlight;
  TColor FPenColor = clBlack;
  TAnGradSettings FSurfaceGrad;
  std::int32_t FThickness = 7;
};

// Colour i of n steps from c1 to c2 (system colours resolved; equal colours returned unchanged).
TColor InterpolateColor(TColor c1, TColor c2, int n, int i);
void Frame3D(TCanvas &canvas, TRect &r, TColor top, TColor bottom, int width);
void GradientFill(TCanvas &canvas, const TRect &r, TColor from, TGradientStyle style, TColor to);
