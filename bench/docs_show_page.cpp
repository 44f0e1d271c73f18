// Writes the documentation's picture of the Show page: the ten working meters visible, enlarged
// so that their scales fit (at the design size of 116 × 73 a meter has no room for its scale),
// values spread over the range and one meter above its range caught while its pointer blinks.
//   docs_show_page OUT.png
#include <cstdio>
#include <cstdlib>

#include <QApplication>
#include <QImage>
#include <QString>

#include "app/window/FormMain.h"
#include "instruments/AnFlashT.h"
#include "instruments/AnVMeter.h"

int main(int argc, char **argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s OUT.png\n", argv[0]);
    return 2;
  }
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  QApplication app(argc, argv);
  TFormMain form;
  form.show();
  form.ShowPageByName("Show");

  // Two rows of five, as a first start lays them out.
  form.ApplyFirstStartLayout();
  constexpr float Values[10] = {4.0f, 13.5f, 27.0f, 38.0f, 50.0f, 61.5f, 72.0f, 86.0f, 97.0f, 130.0f};
  for (int n = 1; n <= 10; ++n) {
    auto *m = form.FindComponent<TAnVMeter>(QStringLiteral("Instr%1").arg(n));
    if (!m) {
      std::fprintf(stderr, "Instr%d is missing\n", n);
      return 1;
    }
    const int i = n - 1;
    m->SetVisible(true);
    m->SetValue(Values[i]);
  }
  QApplication::processEvents();
  // Instr10 stands above its range and blinks; stop the timer thread and tick by hand so the
  // picture catches a known state (the red half of the blink).
  if (TAnFlashTimer *service = BlinkService()) {
    service->SetEnabled(false);
    while ((service->TickCounter() + 1) % 32 != 16) service->BlinkTick();
    service->BlinkTick();
  }
  QApplication::processEvents();
  QApplication::processEvents();

  const QImage shot = form.grab().toImage();
  if (!shot.save(QString::fromLocal8Bit(argv[1]))) {
    std::fprintf(stderr, "cannot write %s\n", argv[1]);
    return 1;
  }
  return 0;
}
