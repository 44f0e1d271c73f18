// The Instrumente page: which meters show, and the editor of one selected meter.
#include "app/window/FormMain.h"

#include <cmath>
#include <iterator>
#include <limits>

#include <QCheckBox>
#include <QFontDialog>
#include <QFontInfo>
#include <QFrame>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QStyle>
#include <QTabBar>
#include <QTabWidget>
#include <QVBoxLayout>

#include "app/window/ColorBox.h"
#include "app/window/EditorFields.h"
#include "instruments/AnNumEdit.h"
#include "instruments/AnVMeter.h"

std::optional<float> FieldToFloat(double v) {
  if (std::isnan(v)) return std::nullopt;
  constexpr double maxFloat = std::numeric_limits<float>::max();
  if (v > maxFloat) return std::numeric_limits<float>::max();
  if (v < -maxFloat) return -std::numeric_limits<float>::max();
  return static_cast<float>(v);
}

namespace {

struct DisabledGroup {
  const char *Name;
  const char *Caption;
  int First;
  int Last;
};

// Groups of instrument kinds that do not exist yet: shown, disabled, never stored.
constexpr DisabledGroup DisabledGroups[] = {
    {"GroupBox270Meter", "  270° Meter  ", 20, 29},
    {"GroupBoxDigitalAnzeige", "  Digital Anzeige    ", 60, 69},
    {"GroupBoxPC", "    > PC    ", 80, 86},
    {"GroupBoxTrendAnzeige", "  Trend Anzeige", 90, 93},
    {"GroupBoxHorizontalMeter", "  Horizontal Meter  ", 30, 34},
    {"GroupBoxVirtuelleKanaele", "  Virtuelle Kanäle  ", 95, 96},
};

QCheckBox *InstrumentCheckBox(int n, QWidget *parent) {
  auto *cb = new QCheckBox(QStringLiteral("   #%1").arg(n, 2, 10, QLatin1Char('0')), parent);
  cb->setObjectName(QStringLiteral("CheckBox%1").arg(n));
  SetComponentTag(cb, n);
  return cb;
}

QLabel *FieldLabel(const char *name, const char *caption, QWidget *parent) {
  auto *l = new QLabel(QString::fromUtf8(caption), parent);
  l->setObjectName(QString::fromLatin1(name));
  QFont f = l->font();
  f.setBold(true);
  l->setFont(f);
  return l;
}

template <class T> T *Named(T *w, const char *name) {
  w->setObjectName(QString::fromLatin1(name));
  return w;
}

// A numeric field of the editor with its design settings.
TAnNumEdit *NumEdit(const char *name, TEditBase base, QWidget *parent) {
  auto *e = Named(new TAnNumEdit(parent), name);
  e->SetEditBase(base);
  e->SetFormatStr("#0.#");
  e->SetOptions(0);
  e->SetIncrement(1.0f);
  e->SetDigitsBool(0);
  e->SetDigitsHex(0);
  e->SetColorDefault(clWindow);
  e->Loaded();
  return e;
}

// Another meter or a fresh page: what a meter refused before is no longer shown.
void ClearRefusals(QWidget *editor) {
  for (TAnNumEdit *field : editor->findChildren<TAnNumEdit *>()) field->ShowRefused({});
  if (auto *notice = editor->findChild<QLabel *>(QStringLiteral("LabelNichtUebernommen"))) notice->clear();
}

} // namespace

void TFormMain::BuildInstrumentePage() {
  // Below its natural size (the window may be 500 x 500) the page scrolls instead of cutting labels.
  auto *page = new QHBoxLayout(ScrollablePage(TabSheetInstrumente));

  // Left: which meters show.
  auto *frame = Named(new QFrame(TabSheetInstrumente), "FrameInstrumentStatus");
  frame->setFrameShape(QFrame::StyledPanel);
  auto *frameLayout = new QVBoxLayout(frame);
  auto *groups = new QHBoxLayout;
  auto *columnA = new QVBoxLayout;
  auto *columnB = new QVBoxLayout;
  auto *columnC = new QVBoxLayout;

  auto *vertkal = Named(new QGroupBox(QStringLiteral("  Vertkal Meter  "), frame), "GroupBoxVertkalMeter");
  auto *vertkalGrid = new QGridLayout(vertkal);
  for (int n = 1; n <= 10; ++n) {
    QCheckBox *cb = InstrumentCheckBox(n, vertkal);
    // Only the box shows: the button beside it names the instrument.
    cb->setFixedWidth(cb->style()->pixelMetric(QStyle::PM_IndicatorWidth) + 4);
    auto *button = new TFlatButton(QStringLiteral("#%1").arg(n, 2, 10, QLatin1Char('0')), vertkal);
    button->setObjectName(QStringLiteral("CButton%1").arg(n));
    SetComponentTag(button, n);
    button->setFixedWidth(44);
    connect(button, &QPushButton::clicked, this, [this, button] { CButton1Click(button); });
    vertkalGrid->addWidget(cb, n - 1, 0);
    vertkalGrid->addWidget(button, n - 1, 1);
  }
  columnA->addWidget(vertkal);

  // Three columns keep the frame narrow enough for the editor's tabs.
  int index = 0;
  for (const DisabledGroup &g : DisabledGroups) {
    auto *group = Named(new QGroupBox(QString::fromUtf8(g.Caption), frame), g.Name);
    group->setEnabled(false);
    auto *grid = new QGridLayout(group);
    for (int n = g.First; n <= g.Last; ++n) {
      const int i = n - g.First;
      grid->addWidget(InstrumentCheckBox(n, group), i / 2, i % 2);
    }
    (index++ < 3 ? columnB : columnC)->addWidget(group);
  }
  for (QVBoxLayout *column : {columnA, columnB, columnC}) {
    column->addStretch(1);
    groups->addLayout(column);
  }
  frameLayout->addLayout(groups, 1);

  ButtonInstrAktivieren = Named(new QPushButton(QStringLiteral("Instrumenten Status zuweisen"), frame), "ButtonInstrAktivieren");
  connect(ButtonInstrAktivieren, &QPushButton::clicked, this, [this] { ButtonInstrAktivierenClick(this); });
  frameLayout->addWidget(ButtonInstrAktivieren);
  page->addWidget(frame, 0);

  // Right: the editor area, usable once a meter is selected.
  PageControl2 = Named(new QTabWidget(TabSheetInstrumente), "PageControl2");
  PageControl2->tabBar()->setFont(DesignFont("MS Sans Serif", -13));
  PageControl2->setEnabled(false);
  TabSheetVertkalMeter = Named(new QWidget(PageControl2), "TabSheetVertkalMeter");
  PageControl2->addTab(TabSheetVertkalMeter, QStringLiteral("  Analog Meter  "));
  PageControl2->addTab(Named(new QWidget(PageControl2), "TabSheetDigital"), QStringLiteral("  Digital "));
  PageControl2->addTab(Named(new QWidget(PageControl2), "TabSheetVirtuell"), QStringLiteral("  Virtuell"));
  PageControl2->addTab(Named(new QWidget(PageControl2), "TabSheetTrend"), QStringLiteral("  Trend"));
  PageControl2->addTab(Named(new QWidget(PageControl2), "TabSheetDigitalPC"), QStringLiteral("Digital > PC"));

  auto *editorLayout = new QVBoxLayout(TabSheetVertkalMeter);
  GroupBoxEditAnalogMeter = Named(new QGroupBox(QStringLiteral("  "), TabSheetVertkalMeter), "GroupBoxEditAnalogMeter");
  auto *fields = new QGridLayout(GroupBoxEditAnalogMeter);
  QWidget *g = GroupBoxEditAnalogMeter;
  EditName = Named(new QLineEdit(g), "EditName");
  AnNumEditAWertVon = NumEdit("AnNumEditAWertVon", ebFloat, g);
  AnNumEditAWertBis = NumEdit("AnNumEditAWertBis", ebFloat, g);
  EditEinheit = Named(new QLineEdit(g), "EditEinheit");
  EditAnzeigeFormat = Named(new QLineEdit(g), "EditAnzeigeFormat");
  AnNumEditBreite = NumEdit("AnNumEditBreite", ebInt, g);
  AnNumEditHoehe = NumEdit("AnNumEditHoehe", ebInt, g);
  AnNumEditSkalaSteps = NumEdit("AnNumEditSkalaSteps", ebInt, g);
  AnNumEditSkalaSubSteps = NumEdit("AnNumEditSkalaSubSteps", ebInt, g);
  ButtonSkalaFont = Named(new QPushButton(QStringLiteral("Font wählen"), g), "ButtonSkalaFont");
  connect(ButtonSkalaFont, &QPushButton::clicked, this, [this] { ButtonSkalaFontClick(this); });
  ColorBoxInstrumentZeiger = Named(new TColorBox(g), "ColorBoxInstrumentZeiger");
  ColorBoxInstrBackground = Named(new TColorBox(g), "ColorBoxInstrBackground");

  const struct {
    const char *Name;
    const char *Caption;
    QWidget *Field;
  } rows[] = {
      {"LabelName", "Name  ", EditName},
      {"LabelAWertVon", "Anzeige Wert von", AnNumEditAWertVon},
      {"LabelAWertBis", "Anzeige Wert bis", AnNumEditAWertBis},
      {"LabelEinheit", "Anzeige Einheit", EditEinheit},
      {"LabelAnzeigeFormat", "Anzeige Format ##0.0", EditAnzeigeFormat},
      {"LabelBreite", "Breite  ", AnNumEditBreite},
      {"LabelHoehe", "Höhe", AnNumEditHoehe},
      {"LabelSkalaSteps", "Skala Steps", AnNumEditSkalaSteps},
      {"LabelSkalaSubSteps", "Skala SubSteps", AnNumEditSkalaSubSteps},
      {"LabelSkalaFont", "Skala Font", ButtonSkalaFont},
      {"LabelSkalaZeiger", "Skala Zeiger", ColorBoxInstrumentZeiger},
      {"LabelSkalaBackground", "Skala Background", ColorBoxInstrBackground},
  };
  int r = 0;
  for (const auto &row : rows) {
    QLabel *label = FieldLabel(row.Name, row.Caption, g);
    // The field's messages name it by its label.
    label->setBuddy(row.Field);
    fields->addWidget(label, r, 0);
    fields->addWidget(row.Field, r, 1);
    ++r;
  }
  editorLayout->addWidget(GroupBoxEditAnalogMeter);
  ButtonInstrWerteZuweisen = Named(new QPushButton(QStringLiteral("Werte zuweisen"), TabSheetVertkalMeter), "ButtonInstrWerteZuweisen");
  connect(ButtonInstrWerteZuweisen, &QPushButton::clicked, this, [this] { ButtonInstrWerteZuweisenClick(this); });
  editorLayout->addWidget(ButtonInstrWerteZuweisen);
  auto *refused = Named(new QLabel(TabSheetVertkalMeter), "LabelNichtUebernommen");
  refused->setWordWrap(true);
  refused->setStyleSheet(QStringLiteral("color: #b00000;"));
  editorLayout->addWidget(refused);
  editorLayout->addStretch(1);
  page->addWidget(PageControl2, 1);
}

TAnVMeter *TFormMain::SelectedMeter() const {
  if (SelectedInstrumentName.empty()) return nullptr;
  return FindComponent<TAnVMeter>(QString::fromStdString(SelectedInstrumentName));
}

void TFormMain::TabSheetInstrumenteShow(TObject * /*Sender*/) {
  ClearRefusals(TabSheetVertkalMeter);
  EditName->clear();
  AnNumEditAWertVon->SetValue(0);
  AnNumEditAWertBis->SetValue(0);
  EditEinheit->clear();
  AnNumEditBreite->SetValue(0);
  AnNumEditHoehe->SetValue(0);
  AnNumEditSkalaSteps->SetValue(5);
  AnNumEditSkalaSubSteps->SetValue(2);
  ColorBoxInstrBackground->SetSelected(clBtnFace);
  ColorBoxInstrumentZeiger->SetSelected(clLime);
  ButtonInstrWerteZuweisen->setText(QStringLiteral("Instrument nicht zugewiesenn"));
  GroupBoxEditAnalogMeter->setTitle(QStringLiteral("  Instrument nicht zugewiesenn  "));
}

void TFormMain::TabSheetInstrumenteExit(TObject * /*Sender*/) { PageControl2->setEnabled(false); }

void TFormMain::CButton1Click(TObject *Sender) {
  const int n = ComponentTag(dynamic_cast<QObject *>(Sender));
  // Only the ten buttons call this; a tag without one of the ten meters selects nothing.
  if (n < 1 || n > 10) return;
  const std::string name = "Instr" + std::to_string(n);
  auto *meter = FindComponent<TAnVMeter>(QString::fromStdString(name));
  if (!meter) return;

  PageControl2->setEnabled(true);
  ClearRefusals(TabSheetVertkalMeter);
  SelectedInstrumentNumber = n;
  SelectedInstrumentName = name;
  GroupBoxEditAnalogMeter->setTitle(QStringLiteral("   Instrument #%1   ").arg(n));
  SelectedScaleFont = &meter->ScaleSettings().Font();

  const TSignalSettings &sig = meter->SignalSettings();
  EditName->setText(QString::fromStdString(sig.Name1()));
  AnNumEditAWertVon->SetValue(sig.ValueFrom());
  AnNumEditAWertBis->SetValue(sig.ValueTo());
  EditEinheit->setText(QString::fromStdString(sig.ValueUnit()));
  EditAnzeigeFormat->setText(QString::fromStdString(meter->ScaleSettings().ValueFormat()));
  AnNumEditBreite->SetValue(meter->width());
  AnNumEditHoehe->SetValue(meter->height());
  AnNumEditSkalaSteps->SetValue(meter->ScaleSettings().Steps());
  AnNumEditSkalaSubSteps->SetValue(meter->ScaleSettings().SubSteps());
  ColorBoxInstrBackground->SetSelected(meter->BevelInner().Color());
  ColorBoxInstrumentZeiger->SetSelected(meter->ScaleSettings().PointerColor());
  ButtonInstrWerteZuweisen->setText(QStringLiteral("Instrument  #%1  Werte zuweisen").arg(n));
}

void TFormMain::ButtonInstrWerteZuweisenClick(TObject * /*Sender*/) {
  // Without a selection there is no meter to write to.
  TAnVMeter *meter = SelectedMeter();
  if (!meter) return;
  TSignalSettings &sig = meter->SignalSettings();
  TScaleSettings &scale = meter->ScaleSettings();
  // What the meter held before each numeric field is written: a field whose value differs from
  // it while the meter still holds it afterwards was refused, and says so.
  const double before[] = {sig.ValueFrom(), sig.ValueTo(), double(meter->width()), double(meter->height()),
                           double(scale.Steps()), double(scale.SubSteps())};
  const std::optional<float> from = FieldToFloat(AnNumEditAWertVon->Value()), to = FieldToFloat(AnNumEditAWertBis->Value());
  const int width = AnNumEditBreite->ValueAsInt(), height = AnNumEditHoehe->ValueAsInt();
  sig.SetName1(EditName->text().toStdString());
  // As a pair: one bound at a time, a start equal to the end still in effect would be refused.
  sig.SetValueRange(from.value_or(sig.ValueFrom()), to.value_or(sig.ValueTo()));
  sig.SetValueUnit(EditEinheit->text().toStdString());
  scale.SetValueFormat(EditAnzeigeFormat->text().toStdString());
  // A meter without width or height would be gone from the Show page, out of reach of the mouse.
  if (width >= 1) meter->SetWidth(width);
  if (height >= 1) meter->SetHeight(height);
  scale.SetSteps(AnNumEditSkalaSteps->ValueAsInt());
  scale.SetSubSteps(AnNumEditSkalaSubSteps->ValueAsInt());
  meter->BevelInner().SetColor(ColorBoxInstrBackground->Selected());
  scale.SetPointerColor(ColorBoxInstrumentZeiger->Selected());
  if (SelectedScaleFont) scale.SetFont(*SelectedScaleFont);

  const struct {
    TAnNumEdit *Field;
    double Asked, Now;
    const char *Why;
  } written[] = {
      {AnNumEditAWertVon, from ? *from : before[0], sig.ValueFrom(), "„Anzeige Wert von“ muss unter „Anzeige Wert bis“ liegen."},
      {AnNumEditAWertBis, to ? *to : before[1], sig.ValueTo(), "„Anzeige Wert bis“ muss über „Anzeige Wert von“ liegen."},
      {AnNumEditBreite, double(width), double(meter->width()), "Die Breite muss mindestens 1 sein."},
      {AnNumEditHoehe, double(height), double(meter->height()), "Die Höhe muss mindestens 1 sein."},
      {AnNumEditSkalaSteps, double(AnNumEditSkalaSteps->ValueAsInt()), double(scale.Steps()), "Skala Steps geht von 1 bis 20."},
      {AnNumEditSkalaSubSteps, double(AnNumEditSkalaSubSteps->ValueAsInt()), double(scale.SubSteps()),
       "Skala SubSteps geht von 1 bis 10."},
  };
  QStringList refused;
  for (std::size_t i = 0; i < std::size(written); ++i) {
    const auto &w = written[i];
    const bool kept = w.Asked != before[i] && w.Now == before[i];
    w.Field->ShowRefused(kept ? std::string("Das Instrument hat diesen Wert nicht übernommen. ") + w.Why : std::string());
    if (kept) refused << QString::fromStdString(w.Field->FieldLabel());
  }
  if (auto *notice = TabSheetVertkalMeter->findChild<QLabel *>(QStringLiteral("LabelNichtUebernommen")))
    notice->setText(refused.isEmpty() ? QString()
                                      : QStringLiteral("Nicht übernommen (rot markiert, der Grund steht im Tooltip): ") +
                                            refused.join(QStringLiteral(", ")));
}

void TFormMain::ButtonSkalaFontClick(TObject * /*Sender*/) {
  if (!ExecuteFontDialog(FontDialog1Font)) return;
  SelectedScaleFont = &FontDialog1Font;
  // The chosen font shows on the selected meter at once, without "Werte zuweisen".
  if (TAnVMeter *meter = SelectedMeter()) meter->ScaleSettings().SetFont(FontDialog1Font);
}

bool TFormMain::ExecuteFontDialog(TFont &font) {
  bool ok = false;
  const QFont chosen = QFontDialog::getFont(&ok, font.ToQFont(), this);
  if (!ok) return false;
  // A Windows face name stays when the user kept its installed twin.
  if (MapFontFamily(font.Name()) != chosen.family()) font.SetName(chosen.family().toStdString());
  const int pixels = chosen.pixelSize() > 0 ? chosen.pixelSize() : QFontInfo(chosen).pixelSize();
  font.SetHeight(-pixels);
  font.SetStyle((chosen.bold() ? fsBold : 0) | (chosen.italic() ? fsItalic : 0) |
                (chosen.underline() ? fsUnderline : 0) | (chosen.strikeOut() ? fsStrikeOut : 0));
  return true;
}

void TFormMain::ButtonInstrAktivierenClick(TObject * /*Sender*/) {
  for (int n = 1; n <= 10; ++n) {
    auto *box = FindComponent<QCheckBox>(QStringLiteral("CheckBox%1").arg(n));
    if (!box) continue;
    if (auto *meter = FindComponent<TAnVMeter>(QStringLiteral("Instr%1").arg(n))) meter->SetVisible(box->isChecked());
  }
}

TAnNumEdit *EditorNumEdit(const char *name, TEditBase base, QWidget *parent) { return NumEdit(name, base, parent); }

QLabel *EditorFieldLabel(const char *name, const char *caption, QWidget *parent) {
  return FieldLabel(name, caption, parent);
}
