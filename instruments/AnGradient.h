#pragma once
// A windowless control that fills its client area with a gradient (the Show page's background).
#include "instruments/AnBase.h"
#include "instruments/AnBevel.h"

class TAnGradient : public TAnGraphicControl {
  Q_OBJECT
public:
  explicit TAnGradient(QWidget *parent = nullptr);
  const char *ClassName() const override { return "TAnGradient"; }
  // Wires the settings' notification, as after loading the stored properties.
  void Loaded();
  TAnGradSettings &GradSettings() { return FGradSettings; }
  const TAnGradSettings &GradSettings() const { return FGradSettings; }
  void ParamChange(TObject *Sender) override;
  // Fills its parent's client area, following its size.
  void SetAlignClient(bool on);

protected:
  void Paint(QPainter &painter, const QRect &damaged) override;
  bool eventFilter(QObject *watched, QEvent *event) override;

private:
  TAnGradSettings FGradSettings;
  bool FAlignClient = false;
};
