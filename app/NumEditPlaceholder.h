#pragma once
// A stand-in for the numeric edit field of the instrument editor: a line edit that holds a
// number. It keeps the exact value it was given, so reading back an unedited field returns that
// value and not its rounded text; edited text is parsed when read and taken over on leaving.
#include <cstdint>

#include <QLineEdit>

class TNumEditField : public QLineEdit {
  Q_OBJECT
public:
  explicit TNumEditField(QWidget *parent = nullptr);

  double Value() const;
  void SetValue(double v);
  std::int32_t ValueAsInt() const;
  void SetValueAsInt(std::int32_t n);

  // Nearest integer (halves to even) kept to the 32-bit range; NaN gives 0.
  static std::int32_t SaturateToInt(double v);
  // A finite number written with "." or "," as the decimal separator; nothing for other text.
  static bool ParseNumber(const QString &text, double &out);

private:
  void TakeOver();
  double FValue = 0.0;
  QString FShownText;
};
