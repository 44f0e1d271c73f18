// Writes the documentation's picture of the Show page: the ten working meters visible, enlarged
// so that their scales fit (at the design size of 116 × 73 a meter has no room for its scale),
// values spread over the range and one meter above its range caught while its pointer blinks;
// beside them two trend charts: meters 4 and 7 over the last minute, and meters 6 and 10 over the
// last ten seconds, where meter 10's values above its range run along the top edge.
//   docs_show_page OUT.png
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include <QApplication>
#include <QImage>
#include <QString>

#include "app/window/FormMain.h"
#include "instruments/AnFlashT.h"
#include "instruments/AnTrend.h"
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
  // The charts' history: a minute of values that end where the meters stand, on a clock of the
  // picture's own (the labels read 14:03:20 at the right edge, whenever the picture is made).
  const std::int64_t now = 3'600'000'000'000LL;
  const std::int64_t unixAtNowMs = 1'714'572'200'000LL; // 2024-05-01 14:03:20 UTC
  form.TrendHistory1->SetClock([now] { return now; });
  for (std::int64_t t = now - 60'000'000'000LL; t <= now; t += 20'000'000) {
    const double s = static_cast<double>(t - now) / 1e9;
    for (int n = 1; n <= 10; ++n) {
      // Within the range, except for meter 10, which stands above it.
      const double v = Values[n - 1];
      const double a = std::min({15.0, v / 2.5, (100 - v) / 2.5});
      double wave = a * (std::sin(s * 0.25 + n) - std::sin(n)) + a / 4 * (std::sin(s * 2.9 + n) - std::sin(n));
      if (n == 10) wave = 25 * (std::cos(s * 1.7) - 1); // 80 … 130

      form.TrendHistory1->AddAt(n, static_cast<float>(v + wave), t);
    }
  }
  const int charts[2][2] = {{4, 7}, {6, 10}};
  for (int k = 0; k < 2; ++k) {
    TAnTrend *chart = form.Trend(k + 1);
    chart->UnixOffsetMs = [=] { return unixAtNowMs - now / 1'000'000; };
    chart->LocalOffsetMs = [] { return std::int64_t{0}; };
    chart->SetSpan(k == 0 ? ts1min : ts10s);
    chart->SetInstrument(0, charts[k][0]);
    chart->SetInstrument(1, charts[k][1]);
    chart->SetVisible(true);
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
