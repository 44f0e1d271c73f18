#pragma once
// The vertical analog meter: the value model plus its fonts, bevels, options and scale, drawn as
// an outer bevel, two captions, a value box with unit, an inner bevel, sector bands, a scale,
// min/max markers and a triangular pointer that blinks while the value is out of range.
//
// Drawing follows the project's rule that Qt paints only inside paintEvent. A full paint renders
// bevels, captions, value box frame and scale into a cached face image; it happens only on the
// settings, font, bevel, LogScale, AutoSize, FontValue, Options and size triggers. A value write
// updates the model and marks the value dirty; when the next frame is due (some sixty a
// second) the old and new value box and pointer rectangles are invalidated once, and the paint
// blits the face and composes value text, markers and pointer over it. However many values arrive
// between two frames, they cost one composition.
#include <cstdint>
#include <optional>

#include <QImage>
#include <QRegion>

#include "instruments/AnBase.h"
#include "instruments/AnBevel.h"
#include "instruments/AnFlashT.h"
#include "instruments/AnScale.h"
#include "instruments/AnVMeterGeometry.h"
#include "platform/FramePacer.h"

class TCanvas;

class TAnVMeter : public TAnAnalogGControl, public TBlinkClient, public TFrameClient {
  Q_OBJECT
public:
  // The blink service's rate code the pointer blinks with (a flip every 16 ticks).
  static constexpr std::int32_t BlinkRate = 4;
  // The largest width and height a meter takes, from wherever they come (settings, a project,
  // the editor, AutoSize): wider than a 4K screen, and its face image (four bytes a pixel) stays
  // within 64 MB, where an unbounded 30000 x 30000 meter took gigabytes and many seconds.
  static constexpr int MaxSide = 4096;

  explicit TAnVMeter(QWidget *parent = nullptr);
  ~TAnVMeter() override;
  const char *ClassName() const override { return "TAnVMeter"; }
  void Loaded() override;
  // Width and height held to 0 … MaxSide.
  void SetBounds(int left, int top, int width, int height) override;

  bool AutoSize() const { return FAutoSize; }
  void SetAutoSize(bool v);
  TFont &FontValue() { return FFontValue; }
  const TFont &FontValue() const { return FFontValue; }
  void SetFontValue(const TFont &f);
  TAnSBevel &BevelInner() { return FBevelInner; }
  TAnSBevel &BevelOuter() { return FBevelOuter; }
  TAnSBevel &BevelValue() { return FBevelValue; }
  const TAnSBevel &BevelInner() const { return FBevelInner; }
  const TAnSBevel &BevelOuter() const { return FBevelOuter; }
  const TAnSBevel &BevelValue() const { return FBevelValue; }
  TAnVMeterOptions Options() const { return FOptions; }
  void SetOptions(TAnVMeterOptions o);
  bool HasOption(TAnVMeterOption o) const { return (FOptions & OptionBit(o)) != 0; }
  TScaleSettings &ScaleSettings() { return FScaleSettings; }
  const TScaleSettings &ScaleSettings() const { return FScaleSettings; }

  // The blink service's tick: State 1 shows the pointer red, 0 yellow.
  void BlinkTick(std::uint32_t TickCounter, std::int32_t State) override;
  // The frame pacer's turn: invalidates the value rectangles once for all values since the last.
  void FrameDue() override;

  // Drawing state: the layout of the last full paint, the blink state and the pointer.
  bool TooSmall() const { return FLayout.TooSmall; }
  bool Blinking() const { return FBlinking; }
  TColor BlinkColor() const { return FBlinkColor; }
  std::int16_t NeedWidth() const { return FNeed.Width; }
  std::int16_t NeedHeight() const { return FNeed.Height; }
  const TVMeterLayout &Layout() const { return FLayout; }
  const TVMeterExtents &Extents() const { return FExtents; }
  TRect ValueRect() const { return FLayout.ValueRect; }
  TRect BackRect() const { return FLayout.BackRect; }
  int PointerBaseX() const { return FLayout.PointerBaseX; }
  // The pointer's corners in client coordinates, at the current position.
  TTriangle PointerPoints() const;

  // How often the meter was fully painted and how often value and pointer were composed.
  std::uint64_t FullPaintCount() const { return FFullPaints; }
  std::uint64_t ValueRedrawCount() const { return FValueRedraws; }

protected:
  void LogScaleChange() override;
  void ParamChange(TObject *Sender) override;
  void ValueChange() override;
  void OverflowChange(std::int32_t ppt) override;
  void LimitChange() override;
  void paintEvent(QPaintEvent *e) override;
  void resizeEvent(QResizeEvent *e) override;
  void showEvent(QShowEvent *e) override;
  void hideEvent(QHideEvent *e) override;
  // Marks the face stale and, unless locked, requests the repaint that renders it again.
  void RequestRepaint();

private:
  void Measure();
  void FullPaint();
  void DrawFace(TCanvas &c);
  void DrawScale(TCanvas &c, const TRect &r);
  void DrawSectors(TCanvas &c);
  void Compose(QPainter &painter);
  void DrawPointer(TCanvas &c);
  bool CanCompose() const;
  // Client rectangles the composition draws into: value text area, markers and pointer.
  QRegion ValueRegion() const;
  // Marks the value dirty; the invalidation follows once, when the next frame is due.
  void ScheduleValueRedraw();
  void BlinkDecision(bool outOfRange);
  // The blink service serves the meter only while it blinks and is on screen: a hidden meter
  // keeps its blink state but costs the service no ticks.
  void SyncBlinkRegistration();
  void UpdateOpacity();
  TPointerFrame PointerFrame() const;

  bool FAutoSize = true;
  TFont FFontValue;
  TAnSBevel FBevelInner;
  TAnSBevel FBevelOuter;
  TAnSBevel FBevelValue;
  TAnVMeterOptions FOptions = AllVMeterOptions;
  TScaleSettings FScaleSettings;

  TVMeterExtents FExtents;
  TVMeterNeed FNeed;
  TVMeterLayout FLayout;
  // Bevels, captions, value box frame and scale of the last full paint; its BackRect part is the
  // background the pointer is composed over. Null until the first full paint.
  QImage FFace;
  bool FNeedFull = true;
  bool FInPaint = false;
  bool FRedrawPending = false;
  // What the last composition covered: the next one must repaint it.
  QRegion FShown;
  // What the last composition showed. A frame whose values would draw the very same value text,
  // pointer and markers invalidates nothing: a steady signal at a high rate costs no paints.
  struct TComposed {
    std::string Text;
    std::int32_t Ppt = 0, MinPpt = 0, MaxPpt = 0;
    bool MinVisible = false, MaxVisible = false, Blinking = false;
    TColor BlinkColor = 0;
    bool operator==(const TComposed &) const = default;
  };
  TComposed ComposedNow() const;
  std::optional<TComposed> FComposed;

  bool FBlinking = false;
  TColor FBlinkColor = BlinkColorOn;

  std::uint64_t FFullPaints = 0;
  std::uint64_t FValueRedraws = 0;
};
