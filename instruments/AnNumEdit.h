#pragma once
// A single-line edit field for numbers in one of four bases. Every typed character is checked at
// once (the field turns red and the bad stretch is selected); the number is taken over on Enter,
// on leaving the field and on the arrow keys, clamped to optional limits and rewritten in the
// field's base.
#include <cstdint>
#include <string>

#include <QLineEdit>

#include "platform/Color.h"
#include "platform/Events.h"

enum TEditBase { ebBin, ebHex, ebFloat, ebInt };
enum TNumEditOption { eoLimitMax = 1, eoLimitMin = 2, eoMultiply = 4 };
using TNumEditOptions = int; // bit set of TNumEditOption
enum TNumEditState { esNormal, esEditing, esError };

class TAnNumEdit : public QLineEdit, public TObject {
  Q_OBJECT
public:
  explicit TAnNumEdit(QWidget *parent = nullptr);
  const char *ClassName() const override { return "TAnNumEdit"; }

  // Ends the design-time set-up: from now on value changes are reported.
  void Loaded();
  bool Loading() const { return FLoading; }

  bool AutoSelect() const { return FAutoSelect; }
  void SetAutoSelect(bool v) { FAutoSelect = v; }
  TColor ColorDefault() const { return FColorDefault; }
  void SetColorDefault(TColor c);
  TColor ColorError() const { return FColorError; }
  void SetColorError(TColor c) { FColorError = c; }
  TColor ColorEditing() const { return FColorEditing; }
  void SetColorEditing(TColor c) { FColorEditing = c; }
  // The field's background colour now (follows the state).
  TColor Color() const { return FColor; }
  std::int32_t DigitsBool() const { return FDigitsBool; }
  void SetDigitsBool(std::int32_t n) { FDigitsBool = n; }
  std::int32_t DigitsHex() const { return FDigitsHex; }
  void SetDigitsHex(std::int32_t n) { FDigitsHex = n; }
  bool EditorEnabled() const { return FEditorEnabled; }
  void SetEditorEnabled(bool v) { FEditorEnabled = v; }
  TEditBase EditBase() const { return FEditBase; }
  void SetEditBase(TEditBase b);
  const std::string &FormatStr() const { return FFormatStr; }
  void SetFormatStr(const std::string &s);
  float Increment() const { return FIncrement; }
  void SetIncrement(float v) { FIncrement = v; }
  double MaxValue() const { return FMaxValue; }
  void SetMaxValue(double v);
  double MinValue() const { return FMinValue; }
  void SetMinValue(double v);
  TNumEditOptions Options() const { return FOptions; }
  void SetOptions(TNumEditOptions o);
  // Limits the field to min … max in one step. Each of MinValue, MaxValue and Options clamps the
  // value as it is written, so setting them one by one clamps it against a half-changed pair (a
  // new minimum above the old maximum pulls the value down to that maximum). False, and nothing
  // changed, for NaN or min > max.
  bool SetLimits(double minValue, double maxValue);
  TNumEditState State() const { return FState; }
  bool AtMax() const { return FAtMax; }
  bool AtMin() const { return FAtMin; }

  double Value() const { return FValue; }
  // NaN is refused: it is no number a field could show or a meter could use.
  void SetValue(double x);
  const std::string &ValueAsBool() const { return FValueAsBool; }
  void SetValueAsBool(const std::string &s);
  const std::string &ValueAsHex() const { return FValueAsHex; }
  void SetValueAsHex(const std::string &s);
  float ValueAsSingle() const { return FValueAsSingle; }
  void SetValueAsSingle(float x);
  std::int32_t ValueAsInt() const { return FValueAsInt; }
  void SetValueAsInt(std::int32_t n);

  // Checks the text; when taking over, the number becomes the value. False when characters are
  // refused. Text of allowed characters that is no number throws EConvertError; a number beyond
  // the base's range is clamped to it.
  bool Validate(bool takeOver);
  void StepUp();
  void StepDown();
  // Whoever the value went to did not take it: the field shows the error colour with `why` as its
  // tool tip until it is edited or the value is taken; an empty `why` clears that mark only.
  void ShowRefused(const std::string &why);
  bool Refused() const { return FRefused; }
  // The field's name for the user: its accessible name, else the text of the label whose buddy it
  // is, else a general word.
  std::string FieldLabel() const;

  TNotifyEvent OnChange;
  TNotifyEvent OnLimit;
  TNotifyEvent OnValueChanged;

protected:
  void keyPressEvent(QKeyEvent *event) override;
  void focusInEvent(QFocusEvent *event) override;
  void focusOutEvent(QFocusEvent *event) override;
  // The system beep; tests count it.
  virtual void Beep();

private:
  double ClampToLimits(double x);
  void TakeValue(double x);
  void SetState(TNumEditState s);
  void SetColor(TColor c);
  std::string TextOfValue() const;
  std::string Text() const;
  // Sets the text without validating it again (the program's own rewrites).
  void SetTextQuietly(const std::string &s);
  void TextChanged();
  void FireChange();
  // Validate for event handlers: a conversion error goes to the application's error display.
  void ValidateReporting(bool takeOver);
  // Enter and leaving the field.
  void TakeOverTyped();

  bool FAutoSelect = true;
  TColor FColorDefault = clWindow;
  TColor FColorError = clRed;
  TColor FColorEditing = clLime;
  TColor FColor = clWindow;
  std::int32_t FDigitsBool = 0;
  std::int32_t FDigitsHex = 0;
  bool FEditorEnabled = true;
  TEditBase FEditBase = ebFloat;
  std::string FFormatStr = "#0.#";
  float FIncrement = 1.0f;
  double FMaxValue = 0.0;
  double FMinValue = 0.0;
  TNumEditOptions FOptions = 0;
  TNumEditState FState = esNormal;
  double FValue = 0.0;
  std::string FValueAsBool;
  std::string FValueAsHex;
  float FValueAsSingle = 0.0f;
  std::int32_t FValueAsInt = 0;
  bool FAtMax = false;
  bool FAtMin = false;
  std::string FLastText;
  bool FSkipNextChange = true;
  bool FRefused = false;
  bool FLoading = true;
};
