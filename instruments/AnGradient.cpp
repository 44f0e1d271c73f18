#include "instruments/AnGradient.h"

#include <QEvent>
#include <QPainter>

#include "platform/Canvas.h"

// Built locked, as a control whose stored properties are still to come; Loaded releases it.
TAnGradient::TAnGradient(QWidget *parent) : TAnGraphicControl(parent, 1) {
  SetBounds(Left(), Top(), 50, 50);
}

void TAnGradient::Loaded() {
  FGradSettings.OnChange = [this](TObject *sender) { ParamChange(sender); };
  EndUpdate();
}

void TAnGradient::ParamChange(TObject *) {
  // A repaint whatever the lock: the fill has nothing to recompute.
  update();
}

void TAnGradient::Paint(QPainter &painter, const QRect &) {
  if (!Visible())
    return;
  TCanvas canvas(painter);
  GradientFill(canvas, TRect{0, 0, width(), height()}, FGradSettings.ColorFrom(), FGradSettings.Style(),
               FGradSettings.ColorTo());
}

void TAnGradient::SetAlignClient(bool on) {
  QWidget *parent = parentWidget();
  if (on == FAlignClient)
    return;
  FAlignClient = on;
  if (!parent)
    return;
  if (on) {
    parent->installEventFilter(this);
    setGeometry(parent->rect());
  } else {
    parent->removeEventFilter(this);
  }
}

bool TAnGradient::eventFilter(QObject *watched, QEvent *event) {
  if (FAlignClient && watched == parentWidget() && event->type() == QEvent::Resize)
    setGeometry(parentWidget()->rect());
  return TAnGraphicControl::eventFilter(watched, event);
}
