// The Show page with its meters and gradient, dragging the meters, and the Optionen page.
#include "app/window/FormMain.h"

#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QVBoxLayout>

#include "app/window/ColorBox.h"
#include "instruments/AnGradient.h"
#include "instruments/AnVMeter.h"

namespace {

struct MeterPlace {
  int Number;
  int Left;
  int Top;
};

constexpr MeterPlace MeterPlaces[] = {
    {1, 13, 8},    {2, 13, 88},   {3, 13, 168},  {4, 13, 248},  {5, 13, 328},  {6, 13, 408},
    {7, 13, 488},  {8, 141, 8},   {9, 141, 88},  {10, 141, 168}, {20, 389, 24}, {29, 389, 112},
};

void SetFont(TFont &f, const char *name, int height, TColor color) {
  f.SetName(name);
  f.SetHeight(height);
  f.SetColor(color);
}

void SetBevel(TAnSBevel &b, TBevelStyle style, int spacing, TBevelLine line, int width) {
  b.SetStyle(style);
  b.SetSpacing(spacing);
  b.SetBevelLine(line);
  b.SetWidth(width);
  b.SurfaceGrad().SetVisible(false);
}

} // namespace

void TFormMain::BuildShowPage() {
  AnGradient1 = new TAnGradient(TabSheetShow);
  AnGradient1->setObjectName(QStringLiteral("AnGradient1"));
  AnGradient1->SetAlignClient(true);
  AnGradient1->GradSettings().SetColorFrom(clMoneyGreen);
  AnGradient1->GradSettings().SetVisible(true);
  AnGradient1->GradSettings().SetStyle(gsHorizontal1);
  AnGradient1->Loaded();
  // Created after the gradient, the meters lie above it.
  for (const MeterPlace &p : MeterPlaces) CreateMeter(p.Number, p.Left, p.Top);
}

TAnVMeter *TFormMain::CreateMeter(int number, int left, int top) {
  auto *m = new TAnVMeter(TabSheetShow);
  m->setObjectName(QStringLiteral("Instr%1").arg(number));
  m->SetTag(number);
  m->SetBounds(left, top, 116, 73);
  m->SetVisible(false);
  m->SetAutoSize(false);
  m->SetDigit(500);
  m->SetLimitUpper(90.0f);
  m->SetLimitLower(10.0f);
  m->SetValue(50.0f);

  TSignalSettings &sig = m->SignalSettings();
  sig.SetName1("SignalName1");
  sig.SetName2(QStringLiteral("#%1").arg(number, 2, 10, QLatin1Char('0')).toStdString());
  sig.SetValueFormat("##0");
  sig.SetValueFrom(0.001f);
  sig.SetValueTo(100.0f);
  sig.SetValueUnit("%");

  m->SectorSettings().SetOffset(0);
  m->SectorSettings().SetWidthOffset(0);
  m->MinMax().SetUseSectorCol(false);
  m->MinMax().SetMinVisible(false);
  m->MinMax().SetMaxVisible(false);

  m->SetOptions(OptionBit(opBevelInner) | OptionBit(opBevelOuter) | OptionBit(opValue) | OptionBit(opName1) |
                OptionBit(opName2) | OptionBit(opOverflow) | OptionBit(opUnit));
  SetFont(m->Font(), "Arial", -13, clBlack);
  TFont valueFont;
  SetFont(valueFont, "System", -17, clLime);
  m->SetFontValue(valueFont);

  SetBevel(m->BevelInner(), bsLowered, 5, blInner, 2);
  m->BevelInner().SetColor(clInfoBk);
  SetBevel(m->BevelOuter(), bsRaised, 5, blOuter, 2);
  SetBevel(m->BevelValue(), bsLowered, 0, blNone, 2);
  m->BevelValue().SetColor(clBlack);

  TScaleSettings &sc = m->ScaleSettings();
  sc.SetColor(clBlack);
  sc.SetPointerColor(clLime);
  sc.SetDrawLine(true);
  TFont scaleFont;
  SetFont(scaleFont, "Arial", -20, clBlack);
  sc.SetFont(scaleFont);
  sc.SetPosLeftTop(false);
  sc.SetSteps(5);
  sc.SetSubSteps(2);
  sc.SetValueFormat("##0.0");
  sc.SetValueFormatLog("0e-0");

  m->OnMouseDown = [this](TObject *s, TMouseButton b, TShiftState sh, int x, int y) { ControlMouseDown(s, b, sh, x, y); };
  m->OnMouseMove = [this](TObject *s, TShiftState sh, int x, int y) { ControlMouseMove(s, sh, x, y); };
  m->OnMouseUp = [this](TObject *s, TMouseButton b, TShiftState sh, int x, int y) { ControlMouseUp(s, b, sh, x, y); };
  // The meter is locked since its construction; loading releases it with every setting in place.
  m->Loaded();
  return m;
}

void TFormMain::ControlMouseDown(TObject *Sender, TMouseButton /*Button*/, TShiftState /*Shift*/, int X, int Y) {
  auto *c = dynamic_cast<TAnGraphicControl *>(Sender);
  if (!c) return;
  DragStartX = X;
  DragStartY = Y;
  Dragging = true;
  c->grabMouse();
}

void TFormMain::ControlMouseMove(TObject *Sender, TShiftState /*Shift*/, int X, int Y) {
  auto *c = dynamic_cast<TAnGraphicControl *>(Sender);
  if (!c || !Dragging) return;
  c->SetLeft(c->Left() + (X - DragStartX));
  c->SetTop(c->Top() + (Y - DragStartY));
  c->raise();
}

void TFormMain::ControlMouseUp(TObject *Sender, TMouseButton /*Button*/, TShiftState /*Shift*/, int /*X*/, int /*Y*/) {
  auto *c = dynamic_cast<TAnGraphicControl *>(Sender);
  if (!c) return;
  if (Dragging) {
    Dragging = false;
    c->releaseMouse();
  }
  c->raise();
}

void TFormMain::TabSheetShowShow(TObject * /*Sender*/) {
  // The box named ...FarbeVon sits in the "Farbe bis" row: it gives the end colour.
  AnGradient1->GradSettings().SetColorTo(ColorBoxShowFarbeVon->Selected());
  AnGradient1->GradSettings().SetColorFrom(ColorBoxShowFarbeNach->Selected());
  AnGradient1->update();
}

void TFormMain::BuildOptionenPage() {
  auto *page = new QVBoxLayout(TabSheetOptionen);
  ButtonSetStandardView = new QPushButton(QStringLiteral("Set Standard View"), TabSheetOptionen);
  ButtonSetStandardView->setObjectName(QStringLiteral("ButtonSetStandardView"));
  connect(ButtonSetStandardView, &QPushButton::clicked, this, [this] { ButtonSetStandardViewClick(this); });
  page->addWidget(ButtonSetStandardView, 0, Qt::AlignLeft);

  auto *group = new QGroupBox(QStringLiteral("  Set Background Color    "), TabSheetOptionen);
  group->setObjectName(QStringLiteral("GroupBoxBackgroundColor"));
  auto *grid = new QGridLayout(group);
  auto *labelVon = new QLabel(QStringLiteral("Farbe von"), group);
  labelVon->setObjectName(QStringLiteral("LabelFarbeVon"));
  ColorBoxShowFarbeNach = new TColorBox(group);
  ColorBoxShowFarbeNach->setObjectName(QStringLiteral("ColorBoxShowFarbeNach"));
  ColorBoxShowFarbeNach->SetSelected(clMoneyGreen);
  auto *labelBis = new QLabel(QStringLiteral("Farbe bis"), group);
  labelBis->setObjectName(QStringLiteral("LabelFarbeBis"));
  ColorBoxShowFarbeVon = new TColorBox(group);
  ColorBoxShowFarbeVon->setObjectName(QStringLiteral("ColorBoxShowFarbeVon"));
  ColorBoxShowFarbeVon->SetSelected(clSilver);
  grid->addWidget(labelVon, 0, 0);
  grid->addWidget(ColorBoxShowFarbeNach, 0, 1);
  grid->addWidget(labelBis, 1, 0);
  grid->addWidget(ColorBoxShowFarbeVon, 1, 1);
  page->addWidget(group, 0, Qt::AlignLeft);
  page->addWidget(BuildReconnectOption(TabSheetOptionen), 0, Qt::AlignLeft);
  page->addStretch(1);
}

void TFormMain::ButtonSetStandardViewClick(TObject * /*Sender*/) {
  // A maximized window would ignore a new size.
  if (isMaximized() || isFullScreen()) showNormal();
  SetOuterSize(OuterSize().width(), 670);
  SetOuterSize(1140, OuterSize().height());
}
