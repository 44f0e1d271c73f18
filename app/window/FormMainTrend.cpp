// The trend charts: four on the Show page, drawn from the history the measurement handler fills,
// dragged like the meters; their editor on the Trend tab of the Instrumente page; their settings
// in sections of their own after the stored properties; and the CSV their menu saves.
#include "app/window/FormMain.h"

#include <cmath>

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QSignalBlocker>
#include <QPushButton>
#include <QTabWidget>
#include <QVBoxLayout>

#include "app/records/RecordCsv.h"
#include "app/storage/FormStorage.h"
#include "app/storage/StoredProps.h"
#include "app/window/ColorBox.h"
#include "app/window/EditorFields.h"
#include "instruments/AnNumEdit.h"
#include "instruments/AnTrend.h"
#include "instruments/AnVMeter.h"
#include "platform/AtomicFile.h"

namespace {

constexpr int Trends = 4;

QString TrendName(int n) { return QStringLiteral("Trend%1").arg(n); }

} // namespace

bool WriteTrendCsv(const std::vector<TTrendExportRow> &rows, const std::string &file, std::string *error) {
  std::string text = RecordingHeader;
  text += "\r\n";
  TLocalTimeCache cache;
  for (const TTrendExportRow &r : rows) {
    if (!std::isfinite(r.Value)) continue;
    AppendIsoLocalTime(text, r.UnixMs, cache);
    text += ',' + std::to_string(r.Instrument) + ',';
    AppendShortestFloat(text, r.Value);
    text += ',';
    AppendCsvField(text, r.Unit);
    text += "\r\n";
  }
  std::string why;
  if (WriteFileAtomically(file, text, &why)) return true;
  if (error) *error = "Cannot save the trend values " + file + ": " + why;
  return false;
}

TAnTrend *TFormMain::Trend(int n) const { return FindComponent<TAnTrend>(TrendName(n)); }

void TFormMain::BuildTrends() {
  TrendHistory1 = new TTrendHistory(this);
  TrendHistory1->setObjectName(QStringLiteral("TrendHistory1"));
  for (int n = 1; n <= Trends; ++n) {
    auto *t = new TAnTrend(TabSheetShow, TrendHistory1);
    t->setObjectName(TrendName(n));
    t->SetTag(n);
    // Right of the meters' two rows, one below the other.
    t->SetBounds(680, 8 + (n - 1) * 208, 440, 200);
    t->SetInstrument(0, n);
    t->SetVisible(false);
    t->SetInfoSource([this](int instrument) {
      TTrendSeriesInfo info;
      const auto *m = FindComponent<TAnVMeter>(QStringLiteral("Instr%1").arg(instrument));
      if (!m) return info;
      info.Name = m->SignalSettings().Name1();
      info.Unit = m->SignalSettings().ValueUnit();
      info.From = m->SignalSettings().ValueFrom();
      info.To = m->SignalSettings().ValueTo();
      info.Steps = m->ScaleSettings().Steps();
      info.Format = m->ScaleSettings().ValueFormat();
      return info;
    });
    t->OnWriteCsv = WriteTrendCsv;
    // The meters' mouse rules: any button drags, the chart comes to the front.
    t->OnMouseDown = [this](TObject *s, TMouseButton b, TShiftState sh, int x, int y) { ControlMouseDown(s, b, sh, x, y); };
    t->OnMouseMove = [this](TObject *s, TShiftState sh, int x, int y) { ControlMouseMove(s, sh, x, y); };
    t->OnMouseUp = [this](TObject *s, TMouseButton b, TShiftState sh, int x, int y) { ControlMouseUp(s, b, sh, x, y); };
  }
}

// ---- The Trend tab ------------------------------------------------------------------------------

void TFormMain::BuildTrendEditor() {
  QWidget *tab = FindComponent<QWidget>(QStringLiteral("TabSheetTrend"));
  auto *layout = new QVBoxLayout(tab);
  auto *group = new QGroupBox(QStringLiteral("  Trend Anzeige  "), tab);
  group->setObjectName(QStringLiteral("GroupBoxEditTrend"));
  auto *grid = new QGridLayout(group);
  auto named = [](auto *w, const QString &name) {
    w->setObjectName(name);
    return w;
  };
  // Made in the order they stand, which is the order Tab walks them.
  int row = 0;
  auto add = [&](const char *name, const char *caption, QWidget *field, QWidget *second = nullptr) {
    grid->addWidget(EditorFieldLabel(name, caption, group), row, 0);
    grid->addWidget(field, row, 1);
    if (second) grid->addWidget(second, row, 2);
    ++row;
  };
  ComboBoxTrendNummer = named(new QComboBox(group), QStringLiteral("ComboBoxTrendNummer"));
  for (int n = 1; n <= Trends; ++n) ComboBoxTrendNummer->addItem(TrendName(n));
  add("LabelTrendNummer", "Trend", ComboBoxTrendNummer);
  CheckBoxTrendAnzeigen = named(new QCheckBox(QStringLiteral("auf der Seite Show"), group), QStringLiteral("CheckBoxTrendAnzeigen"));
  add("LabelTrendAnzeigen", "Anzeigen", CheckBoxTrendAnzeigen);
  ComboBoxTrendZeitraum = named(new QComboBox(group), QStringLiteral("ComboBoxTrendZeitraum"));
  for (int s = 0; s < TrendSpanCount; ++s) ComboBoxTrendZeitraum->addItem(QString::fromUtf8(TrendSpanText(TTrendSpan(s))));
  add("LabelTrendZeitraum", "Zeitraum", ComboBoxTrendZeitraum);
  for (int i = 0; i < TAnTrend::MaxSeries; ++i) {
    ComboBoxTrendKanal[i] = named(new QComboBox(group), QStringLiteral("ComboBoxTrendKanal%1").arg(i + 1));
    ColorBoxTrendFarbe[i] = named(new TColorBox(group), QStringLiteral("ColorBoxTrendFarbe%1").arg(i + 1));
    const std::string caption = "Kanal " + std::to_string(i + 1);
    const std::string label = "LabelTrendKanal" + std::to_string(i + 1);
    add(label.c_str(), caption.c_str(), ComboBoxTrendKanal[i], ColorBoxTrendFarbe[i]);
  }
  CheckBoxTrendAchseAuto = named(new QCheckBox(QStringLiteral("vom ersten Instrument"), group), QStringLiteral("CheckBoxTrendAchseAuto"));
  add("LabelTrendAchse", "Werteachse", CheckBoxTrendAchseAuto);
  AnNumEditTrendAchseVon = EditorNumEdit("AnNumEditTrendAchseVon", ebFloat, group);
  add("LabelTrendAchseVon", "Achse von", AnNumEditTrendAchseVon);
  AnNumEditTrendAchseBis = EditorNumEdit("AnNumEditTrendAchseBis", ebFloat, group);
  add("LabelTrendAchseBis", "Achse bis", AnNumEditTrendAchseBis);
  AnNumEditTrendBreite = EditorNumEdit("AnNumEditTrendBreite", ebInt, group);
  add("LabelTrendBreite", "Breite  ", AnNumEditTrendBreite);
  AnNumEditTrendHoehe = EditorNumEdit("AnNumEditTrendHoehe", ebInt, group);
  add("LabelTrendHoehe", "Höhe", AnNumEditTrendHoehe);
  ColorBoxTrendHintergrund = named(new TColorBox(group), QStringLiteral("ColorBoxTrendHintergrund"));
  add("LabelTrendHintergrund", "Hintergrund", ColorBoxTrendHintergrund);
  connect(CheckBoxTrendAchseAuto, &QCheckBox::toggled, this, [this](bool automatic) {
    AnNumEditTrendAchseVon->setEnabled(!automatic);
    AnNumEditTrendAchseBis->setEnabled(!automatic);
  });
  layout->addWidget(group);
  ButtonTrendWerteZuweisen = named(new QPushButton(QStringLiteral("Werte zuweisen"), tab), QStringLiteral("ButtonTrendWerteZuweisen"));
  connect(ButtonTrendWerteZuweisen, &QPushButton::clicked, this, [this] { ButtonTrendWerteZuweisenClick(this); });
  layout->addWidget(ButtonTrendWerteZuweisen);
  layout->addStretch(1);

  connect(ComboBoxTrendNummer, &QComboBox::currentIndexChanged, this, [this](int index) { TrendSelect(index + 1); });
  // The fields show the chart as it is whenever the tab comes up.
  connect(PageControl2, &QTabWidget::currentChanged, this, [this, tab](int) {
    if (PageControl2->currentWidget() == tab) TrendSelect(ComboBoxTrendNummer->currentIndex() + 1);
  });
  TrendSelect(1);
}

void TFormMain::TrendSelect(int n) {
  TAnTrend *t = Trend(n);
  if (!t) return;
  // The channel lists name the meters as they are named now.
  for (QComboBox *box : ComboBoxTrendKanal) {
    const QSignalBlocker quiet(box);
    box->clear();
    box->addItem(QStringLiteral("–"));
    for (int m = 1; m <= 10; ++m) {
      const auto *meter = FindComponent<TAnVMeter>(QStringLiteral("Instr%1").arg(m));
      const QString name = meter ? QString::fromStdString(meter->SignalSettings().Name1()) : QString();
      box->addItem(QStringLiteral("#%1  %2").arg(m, 2, 10, QLatin1Char('0')).arg(name));
    }
  }
  CheckBoxTrendAnzeigen->setChecked(t->Visible());
  ComboBoxTrendZeitraum->setCurrentIndex(t->Span());
  for (int i = 0; i < TAnTrend::MaxSeries; ++i) {
    ComboBoxTrendKanal[i]->setCurrentIndex(t->Instrument(i));
    ColorBoxTrendFarbe[i]->SetSelected(t->SeriesColor(i));
  }
  CheckBoxTrendAchseAuto->setChecked(t->AutoAxis());
  AnNumEditTrendAchseVon->setEnabled(!t->AutoAxis());
  AnNumEditTrendAchseBis->setEnabled(!t->AutoAxis());
  AnNumEditTrendAchseVon->SetValue(t->AxisFrom());
  AnNumEditTrendAchseBis->SetValue(t->AxisTo());
  AnNumEditTrendBreite->SetValue(t->width());
  AnNumEditTrendHoehe->SetValue(t->height());
  ColorBoxTrendHintergrund->SetSelected(t->BackgroundColor());
}

void TFormMain::ButtonTrendWerteZuweisenClick(TObject * /*Sender*/) {
  TAnTrend *t = Trend(ComboBoxTrendNummer->currentIndex() + 1);
  if (!t) return;
  t->SetSpan(TTrendSpan(ComboBoxTrendZeitraum->currentIndex()));
  for (int i = 0; i < TAnTrend::MaxSeries; ++i) {
    t->SetInstrument(i, ComboBoxTrendKanal[i]->currentIndex());
    t->SetSeriesColor(i, ColorBoxTrendFarbe[i]->Selected());
  }
  t->SetAutoAxis(CheckBoxTrendAchseAuto->isChecked());
  // A range whose end is not above its start is refused; the chart keeps the one it had.
  t->SetAxis(AnNumEditTrendAchseVon->Value(), AnNumEditTrendAchseBis->Value());
  t->SetWidth(AnNumEditTrendBreite->ValueAsInt());
  t->SetHeight(AnNumEditTrendHoehe->ValueAsInt());
  t->SetBackgroundColor(ColorBoxTrendHintergrund->Selected());
  t->SetVisible(CheckBoxTrendAnzeigen->isChecked());
  if (t->Visible()) t->raise();
}

// ---- Settings -----------------------------------------------------------------------------------

void TFormMain::RestoreTrendSettings(TFormStorage &storage) {
  for (int n = 1; n <= Trends; ++n)
    if (TAnTrend *t = Trend(n)) storage.RestoreSection(TrendName(n).toStdString(), [t](TPropList &l) { DescribeTrend(*t, l); });
}

void TFormMain::SaveTrendSettings(TFormStorage &storage) {
  for (int n = 1; n <= Trends; ++n)
    if (TAnTrend *t = Trend(n)) storage.SaveSection(TrendName(n).toStdString(), [t](TPropList &l) { DescribeTrend(*t, l); });
}
