#pragma once
// The analog instruments' value model: settings objects and the base controls that turn a
// measured value into a per-mille pointer position, limit, sector and range states and events.
#include <cstdint>
#include <string>

#include <QWidget>

#include "platform/Events.h"
#include "platform/Color.h"
#include "platform/Font.h"
#include "platform/FormatFloat.h"

// Base of every settings object: each setter stores a changed value and calls Changed.
class TAnPersistent : public TObject {
public:
  const char *ClassName() const override { return "TAnPersistent"; }
  TNotifyEvent OnChange;
  virtual void Changed();
  // Same-class assignment through the target's setters; other classes fail with EConvertError.
  virtual void Assign(const TAnPersistent &source);
};

class TSignalSettings : public TAnPersistent {
public:
  const char *ClassName() const override { return "TSignalSettings"; }
  void Assign(const TAnPersistent &source) override;
  void Changed() override;

  std::int32_t DigitalFrom() const { return FDigitalFrom; }
  void SetDigitalFrom(std::int32_t v);
  std::int32_t DigitalTo() const { return FDigitalTo; }
  void SetDigitalTo(std::int32_t v);
  const std::string &Name1() const { return FName1; }
  void SetName1(const std::string &v);
  const std::string &Name2() const { return FName2; }
  void SetName2(const std::string &v);
  const std::string &ValueFormat() const { return FValueFormat; }
  void SetValueFormat(const std::string &v);
  float ValueFrom() const { return FValueFrom; }
  void SetValueFrom(float v);
  float ValueTo() const { return FValueTo; }
  void SetValueTo(float v);
  // Both bounds at once, for every range that comes from outside (stored settings, a project, the
  // editor): one bound at a time refuses a start equal to the end still in effect, so a range
  // valid as a pair would depend on the one before it. A pair the bound setters could reach from
  // some old range always takes; one they never could (NaN, bounds that would be equal) is
  // refused whole. True when the pair is in effect afterwards.
  bool SetValueRange(float from, float to);
  const std::string &ValueUnit() const { return FValueUnit; }
  void SetValueUnit(const std::string &v);

  // Derived values.
  bool LogScale() const { return FLogScale; }
  void SetLogScaleFlag(bool b) { FLogScale = b; }
  float ValueSpan() const { return FValueSpan; }
  std::int32_t DigitalSpan() const { return FDigitalSpan; }
  float ValuePerDigit() const { return FValuePerDigit; }
  float DigitsPerValue() const { return FDigitsPerValue; }
  float PptPerValue() const { return FPptPerValue; }
  const std::string &WidestFormat() const { return FWidestFormat; }

  // Recomputes the derived values without notifying.
  void DeriveRange();

private:
  std::int32_t FDigitalFrom = 0;
  std::int32_t FDigitalTo = 1000;
  std::string FName1 = "SignalName1";
  std::string FName2 = "SignalName2";
  std::string FValueFormat = "##0.0";
  float FValueFrom = 0.0f;
  float FValueTo = 100.0f;
  std::string FValueUnit = "%";
  bool FLogScale = false;
  float FValueSpan = 100.0f;
  std::int32_t FDigitalSpan = 1000;
  float FValuePerDigit = 0.1f;
  float FDigitsPerValue = 10.0f;
  float FPptPerValue = 10.0f;
  std::string FWidestFormat = "##0.0";
};

// The widest ";" section of a pattern, measured in characters (the rest wins a tie).
std::string WidestSection(const std::string &pattern);
// 10 to the power of the nearest (halves to even) decade of x; 1 for x <= 0.
double SnapToDecade(double x);

class TSectorSettings : public TAnPersistent {
public:
  const char *ClassName() const override { return "TSectorSettings"; }
  void Assign(const TAnPersistent &source) override;

  TColor Sector1Color() const { return FColor[0]; }
  void SetSector1Color(TColor v) { SetColor(0, v); }
  TColor Sector2Color() const { return FColor[1]; }
  void SetSector2Color(TColor v) { SetColor(1, v); }
  TColor Sector3Color() const { return FColor[2]; }
  void SetSector3Color(TColor v) { SetColor(2, v); }
  std::int32_t Sector1From() const { return FFrom[0]; }
  void SetSector1From(std::int32_t v) { SetFrom(0, v); }
  std::int32_t Sector2From() const { return FFrom[1]; }
  void SetSector2From(std::int32_t v) { SetFrom(1, v); }
  std::int32_t Sector3From() const { return FFrom[2]; }
  void SetSector3From(std::int32_t v) { SetFrom(2, v); }
  std::int32_t Sector1To() const { return FTo[0]; }
  void SetSector1To(std::int32_t v) { SetTo(0, v); }
  std::int32_t Sector2To() const { return FTo[1]; }
  void SetSector2To(std::int32_t v) { SetTo(1, v); }
  std::int32_t Sector3To() const { return FTo[2]; }
  void SetSector3To(std::int32_t v) { SetTo(2, v); }
  std::int32_t Offset() const { return FOffset; }
  void SetOffset(std::int32_t v);
  std::int32_t WidthOffset() const { return FWidthOffset; }
  void SetWidthOffset(std::int32_t v);
  bool LogScale() const { return FLogScale; }
  void SetLogScaleFlag(bool b) { FLogScale = b; }

  // Sector i is 0, 1 or 2.
  TColor Color(int i) const { return FColor[i]; }
  std::int32_t From(int i) const { return FFrom[i]; }
  std::int32_t To(int i) const { return FTo[i]; }
  void SetColor(int i, TColor v);
  void SetFrom(int i, std::int32_t v);
  void SetTo(int i, std::int32_t v);

  // Colour of the first sector whose closed interval holds the position; false when none does.
  bool SectorColorAt(std::int64_t position, TColor &color) const;

private:
  TColor FColor[3] = {clYellow, clGreen, clRed};
  std::int32_t FFrom[3] = {0, 334, 667};
  std::int32_t FTo[3] = {333, 666, 1000};
  std::int32_t FOffset = 0;
  std::int32_t FWidthOffset = 0;
  bool FLogScale = false;
};

class TMinMax : public TAnPersistent {
public:
  static constexpr float NoMin = 9999999.0f;
  static constexpr float NoMax = -9999999.0f;

  TMinMax();
  const char *ClassName() const override { return "TMinMax"; }

  // Direct writes stamp the time and do not notify.
  float Max() const { return FMax; }
  void SetMax(float v);
  TDateTime MaxDateTime() const { return FMaxDateTime; }
  void SetMaxDateTime(TDateTime t) { FMaxDateTime = t; }
  float Min() const { return FMin; }
  void SetMin(float v);
  TDateTime MinDateTime() const { return FMinDateTime; }
  void SetMinDateTime(TDateTime t) { FMinDateTime = t; }
  TColor MaxColor() const { return FMaxColor; }
  void SetMaxColor(TColor v);
  TColor MinColor() const { return FMinColor; }
  void SetMinColor(TColor v);
  bool UseSectorCol() const { return FUseSectorCol; }
  void SetUseSectorCol(bool v);
  bool MinVisible() const { return FMinVisible; }
  void SetMinVisible(bool v);
  bool MaxVisible() const { return FMaxVisible; }
  void SetMaxVisible(bool v);

  // Resets to the "nothing recorded yet" sentinels, leaving the date-times.
  void ResetValues() { FMin = NoMin; FMax = NoMax; }

private:
  float FMax = NoMax;
  TDateTime FMaxDateTime = 0;
  float FMin = NoMin;
  TDateTime FMinDateTime = 0;
  TColor FMaxColor = clAqua;
  TColor FMinColor = clAqua;
  bool FUseSectorCol = true;
  bool FMinVisible = true;
  bool FMaxVisible = true;
};

// A windowless control painting on its parent: the parent shows through what it leaves unpainted.
class TAnGraphicControl : public QWidget, public TObject {
  Q_OBJECT
public:
  explicit TAnGraphicControl(QWidget *parent = nullptr, int initialUpdateCount = 0);
  const char *ClassName() const override { return "TAnGraphicControl"; }

  int UpdateCount() const { return FUpdateCount; }
  void BeginUpdate();
  void EndUpdate();
  void RequestParamChange();
  virtual void ParamChange(TObject *Sender);

  // Position and size as the component's properties.
  // Positions stay within what Qt's widget geometry can hold (left + width must not overflow).
  static constexpr int MaxPosition = 16777215;
  int Left() const { return x(); }
  int Top() const { return y(); }
  void SetLeft(int v) { SetBounds(v, Top(), width(), height()); }
  void SetTop(int v) { SetBounds(Left(), v, width(), height()); }
  void SetWidth(int v) { SetBounds(Left(), Top(), v, height()); }
  void SetHeight(int v) { SetBounds(Left(), Top(), width(), v); }
  virtual void SetBounds(int left, int top, int width, int height);
  // The component's own visibility flag (a hidden parent does not change it).
  bool Visible() const { return FVisible; }
  virtual void SetVisible(bool v) {
    FVisible = v;
    setVisible(v);
  }
  int Tag() const { return FTag; }
  void SetTag(int t) { FTag = t; }
  // The hint as it stands; a control whose hint follows its state brings it up to date first.
  const std::string &Hint() const {
    const_cast<TAnGraphicControl *>(this)->RefreshHint();
    return FHint;
  }
  void SetHint(const std::string &h);
  bool ShowHint() const { return FShowHint; }
  void SetShowHint(bool b);

  TNotifyEvent OnClick;
  TNotifyEvent OnDblClick;
  TMouseEvent OnMouseDown;
  TMouseEvent OnMouseUp;
  TMouseMoveEvent OnMouseMove;

protected:
  // Brings a hint that is built on demand up to date (before it is read or shown).
  virtual void RefreshHint() {}
  bool event(QEvent *e) override;
  void mousePressEvent(QMouseEvent *e) override;
  void mouseReleaseEvent(QMouseEvent *e) override;
  void mouseMoveEvent(QMouseEvent *e) override;
  void mouseDoubleClickEvent(QMouseEvent *e) override;
  void paintEvent(QPaintEvent *e) override;
  virtual void Paint(QPainter &painter, const QRect &damaged);

private:
  int FUpdateCount = 0;
  int FTag = 0;
  bool FVisible = true;
  std::string FHint;
  bool FShowHint = true;
  bool FClickPending = false;
};

enum THintOption { hoAutoHint, hoValue, hoName1, hoName2, hoMin, hoMax, hoMinMaxDate, hoMinMaxTime };
using THintOptions = unsigned; // bit set of THintOption
constexpr THintOptions HintBit(THintOption o) { return 1u << o; }
constexpr THintOptions AllHintOptions = 0xFFu;

using TOverflowEvent = std::function<void(TObject *Sender, std::int32_t PPT)>;
using TSectorChangeEvent = std::function<void(TObject *Sender, bool Sector1, bool Sector2, bool Sector3, bool Enter)>;
using TLimitEvent = std::function<void(TObject *Sender, bool Lower, bool Upper)>;

class TAnAnalogGControl : public TAnGraphicControl {
  Q_OBJECT
public:
  explicit TAnAnalogGControl(QWidget *parent = nullptr, int initialUpdateCount = 0);
  ~TAnAnalogGControl() override;
  const char *ClassName() const override { return "TAnAnalogGControl"; }

  // Finishes the set-up after the stored properties were applied.
  virtual void Loaded();
  bool IsLoaded() const { return FLoaded; }

  std::int32_t Digit() const { return FDigit; }
  void SetDigit(std::int32_t d);
  float LimitUpper() const { return FLimitUpper; }
  void SetLimitUpper(float x);
  float LimitLower() const { return FLimitLower; }
  void SetLimitLower(float x);
  THintOptions HintOptions() const { return FHintOptions; }
  void SetHintOptions(THintOptions o);
  bool LogScale() const { return FLogScale; }
  void SetLogScale(bool b);
  float Value() const { return FValue; }
  void SetValue(float x);

  TSectorSettings &SectorSettings() { return FSectorSettings; }
  TSignalSettings &SignalSettings() { return FSignalSettings; }
  TMinMax &MinMax() { return FMinMax; }
  TFont &Font() { return FFont; }
  const TSectorSettings &SectorSettings() const { return FSectorSettings; }
  const TSignalSettings &SignalSettings() const { return FSignalSettings; }
  const TMinMax &MinMax() const { return FMinMax; }
  const TFont &Font() const { return FFont; }

  // Internal state read by the drawing class and by tests.
  // The value as the value format shows it; formatted when first read after a value update (a
  // record stream updates far more often than anything reads it).
  const std::string &ValueText() const;
  std::int32_t PPT() const { return FPPT; }
  bool OverflowFlag() const { return FOverflowFlag; }
  bool UnderflowFlag() const { return FUnderflowFlag; }
  bool UpperExceeded() const { return FUpperExceeded; }
  bool LowerExceeded() const { return FLowerExceeded; }
  bool SectorActive(int i) const { return FSectorActive[i]; }
  std::int32_t MinPPT() const { return FMinPPT; }
  std::int32_t MaxPPT() const { return FMaxPPT; }
  double DigitsPerDecade() const { return FDigitsPerDecade; }
  double DecadeOffset() const { return FDecadeOffset; }
  static constexpr TColor BlinkColorOff = clYellow;
  static constexpr TColor BlinkColorOn = clRed;

  TNotifyEvent OnMinMaxChange;
  TOverflowEvent OnOverflow;
  TSectorChangeEvent OnSectorChange;
  TNotifyEvent OnSettingsChange;
  TNotifyEvent OnValueChange;
  TLimitEvent OnLimit;
  TNotifyEvent OnPosChange;

  void ParamChange(TObject *Sender) override;

protected:
  virtual void ValueChange();
  virtual void OverflowChange(std::int32_t ppt);
  virtual void LimitChange();
  virtual void MinMaxChange(TObject *Sender);
  virtual void LogScaleChange();

  // Digit of a value on the current scale (linear or log), saturated to 32 bits.
  std::int32_t DigitOfValue(double v) const;
  // The tooltip follows every value, but is only composed when it is read or about to be shown:
  // formatting dates and numbers per record would cost more than the record itself.
  void RebuildHint() { FHintStale = (FHintOptions & HintBit(hoAutoHint)) != 0; }
  void RefreshHint() override;

private:
  void CheckLimits();

  TSectorSettings FSectorSettings;
  TSignalSettings FSignalSettings;
  TMinMax FMinMax;
  TFont FFont;
  bool FLoaded = false;
  bool FLogScale = false;
  std::int32_t FDigit = 500;
  float FLimitUpper = 90.0f;
  float FLimitLower = 10.0f;
  THintOptions FHintOptions = AllHintOptions;
  float FValue = 50.0f;
  double FDigitsPerDecade = 0;
  double FDecadeOffset = 0;
  mutable std::string FValueText;
  mutable bool FValueTextStale = false;
  bool FHintStale = false;
  std::int32_t FPPT = 500;
  bool FOverflowFlag = false;
  bool FUnderflowFlag = false;
  bool FUpperExceeded = true;
  bool FLowerExceeded = true;
  bool FSectorActive[3] = {false, false, false};
  std::int32_t FMinPPT = 0;
  std::int32_t FMaxPPT = 0;
  QPoint FLastPos;
};
