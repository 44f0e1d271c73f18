#pragma once
// The vertical meter's scale: its look, and the label list and metrics derived from it.
#include <cstdint>
#include <string>
#include <vector>

#include "instruments/AnBase.h"

class TCanvas;

class TScaleSettings : public TAnPersistent {
public:
  TScaleSettings();
  const char *ClassName() const override { return "TScaleSettings"; }
  void Assign(const TAnPersistent &source) override;

  TColor Color() const { return FColor; }
  void SetColor(TColor v);
  TColor PointerColor() const { return FPointerColor; }
  void SetPointerColor(TColor v);
  bool DrawLine() const { return FDrawLine; }
  void SetDrawLine(bool v);
  TFont &Font() { return FFont; }
  const TFont &Font() const { return FFont; }
  void SetFont(const TFont &f);
  bool PosLeftTop() const { return FPosLeftTop; }
  void SetPosLeftTop(bool v);
  std::int32_t Steps() const { return FSteps; }
  void SetSteps(std::int32_t v);
  std::int32_t SubSteps() const { return FSubSteps; }
  void SetSubSteps(std::int32_t v);
  const std::string &ValueFormat() const { return FValueFormat; }
  void SetValueFormat(const std::string &v);
  const std::string &ValueFormatLog() const { return FValueFormatLog; }
  void SetValueFormatLog(const std::string &v);

  bool LogScale() const { return FLogScale; }
  void SetLogScaleFlag(bool b) { FLogScale = b; }

  // Derived metrics (filled by the meter's measuring).
  std::int32_t LogSteps = 1;
  std::int32_t LogFrom = 0;
  std::int32_t LogTo = 0;
  std::string LabelList;
  std::int32_t LabelWidth = 0;
  std::int32_t LabelHeight = 0;
  std::int32_t TickLength = 14;
  std::int32_t SubTickLength = 7;
  std::int32_t TickWidth = 2;
  std::int32_t SubTickWidth = 1;
  std::int32_t LabelGap = 4;
  std::int32_t ScaleWidth = 0;
  std::int32_t ScaleMinHeight = 0;
  std::int32_t ScaleTop = 0;
  std::int32_t ScaleBottom = 0;

private:
  TColor FColor = clBlack;
  TColor FPointerColor = clLime;
  bool FDrawLine = true;
  TFont FFont;
  bool FPosLeftTop = false;
  std::int32_t FSteps = 5;
  std::int32_t FSubSteps = 2;
  std::string FValueFormat = "##0";
  std::string FValueFormatLog = "0e-0";
  bool FLogScale = false;
};

struct TFormatSettings;

// Fills LogFrom, LogTo, LogSteps (log scale) and LabelList: the scale labels from the top of the
// range to the bottom, each followed by ";". Returns the list.
std::string BuildLabelList(TScaleSettings &s, float valueFrom, float valueTo, const TFormatSettings &fs);
// Fills LabelWidth, LabelHeight and the tick, gap and size metrics derived from the widest
// label's width and the scale font's text height.
void ComputeScaleMetrics(TScaleSettings &s, int labelWidth, int labelHeight);
