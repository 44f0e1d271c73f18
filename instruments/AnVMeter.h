#pragma once
// The vertical analog meter: the value model plus its fonts, bevels, options and scale.
#include <cstdint>

#include "instruments/AnBase.h"
#include "instruments/AnBevel.h"
#include "instruments/AnScale.h"

enum TAnVMeterOption { opBevelInner, opBevelOuter, opValue, opName1, opName2, opOverflow, opLimit, opSector, opUnit };
using TAnVMeterOptions = std::uint16_t; // bit set of TAnVMeterOption
constexpr TAnVMeterOptions OptionBit(TAnVMeterOption o) { return static_cast<TAnVMeterOptions>(1u << o); }
constexpr TAnVMeterOptions AllVMeterOptions = 0x1FF;

class TAnVMeter : public TAnAnalogGControl {
  Q_OBJECT
public:
  explicit TAnVMeter(QWidget *parent = nullptr);
  const char *ClassName() const override { return "TAnVMeter"; }
  void Loaded() override;

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

  // How often the meter was fully painted and how often only its value was redrawn.
  std::uint64_t FullPaintCount() const { return FFullPaints; }
  std::uint64_t ValueRedrawCount() const { return FValueRedraws; }

protected:
  void LogScaleChange() override;
  void ParamChange(TObject *Sender) override;
  void ValueChange() override;
  void Paint(QPainter &painter, const QRect &damaged) override;
  // Repaint request, skipped while locked.
  void RequestRepaint();

private:
  bool FAutoSize = true;
  TFont FFontValue;
  TAnSBevel FBevelInner;
  TAnSBevel FBevelOuter;
  TAnSBevel FBevelValue;
  TAnVMeterOptions FOptions = AllVMeterOptions;
  TScaleSettings FScaleSettings;
  std::uint64_t FFullPaints = 0;
  std::uint64_t FValueRedraws = 0;
};
