// Writes the documentation's pictures of the Instrumente page, with all ten meters switched on
// and meter 3 selected in the editor, of its Trend tab with a trend of meters 1 and 2 over one
// minute, and of the Optionen page.
//   docs_editor_pages INSTRUMENTE.png OPTIONEN.png TREND.png
#include <cstdio>
#include <cstdlib>

#include <QApplication>
#include <QCheckBox>
#include <QImage>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QString>

#include "app/window/FormMain.h"

namespace {

bool Save(TFormMain &form, const char *path) {
  QApplication::processEvents();
  if (form.grab().toImage().save(QString::fromLocal8Bit(path))) return true;
  std::fprintf(stderr, "cannot write %s\n", path);
  return false;
}

} // namespace

int main(int argc, char **argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: %s INSTRUMENTE.png OPTIONEN.png TREND.png\n", argv[0]);
    return 2;
  }
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  QApplication app(argc, argv);
  TFormMain form;
  form.show();
  form.ShowPageByName("Instrumente");

  // What a user does: tick the ten boxes, assign their status, pick meter 3.
  for (int n = 1; n <= 10; ++n) {
    auto *box = form.FindComponent<QCheckBox>(QStringLiteral("CheckBox%1").arg(n));
    if (!box) {
      std::fprintf(stderr, "CheckBox%d is missing\n", n);
      return 1;
    }
    box->setChecked(true);
  }
  form.ButtonInstrAktivieren->click();
  auto *button = form.FindComponent<QPushButton>(QStringLiteral("CButton3"));
  if (!button) {
    std::fprintf(stderr, "CButton3 is missing\n");
    return 1;
  }
  button->click();
  if (!Save(form, argv[1])) return 1;

  // The Trend tab as a user fills it for Trend1: meters 1 and 2 over a minute, shown.
  form.PageControl2->setCurrentWidget(form.FindComponent<QWidget>(QStringLiteral("TabSheetTrend")));
  form.ComboBoxTrendNummer->setCurrentIndex(0);
  form.CheckBoxTrendAnzeigen->setChecked(true);
  form.ComboBoxTrendZeitraum->setCurrentIndex(1);
  form.ComboBoxTrendKanal[0]->setCurrentIndex(1);
  form.ComboBoxTrendKanal[1]->setCurrentIndex(2);
  form.ButtonTrendWerteZuweisen->click();
  if (!Save(form, argv[3])) return 1;

  form.ShowPageByName("Optionen");
  // A broker typed in, not yet in use ("Werte senden" off): the prefix shows its default.
  form.EditMqttBroker->setText(QStringLiteral("mqtt://raspberrypi.local"));
  form.ApplyBrokerOptions();
  return Save(form, argv[2]) ? 0 : 1;
}
