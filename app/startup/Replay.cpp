#include "app/startup/Replay.h"

#include <cstring>

#include <QCheckBox>
#include <QTimer>

#include "app/window/FormMain.h"
#include "instruments/AnVMeter.h"
#include "platform/Application.h"
#include "serial/ComPort.h"
#include "tools/SimRunner.h"

TReplay::TReplay(TFormMain &form) : FForm(form) {}

TReplay::~TReplay() { Stop(); }

void TReplay::Stop() {
  if (FStop) FStop->Raise();
  if (FThread.joinable()) FThread.join();
}

bool TReplay::Start(const std::string &file, double speed, std::string *error) {
  if (!FReader.Open(file, error)) return false;
  std::int64_t first = 0, last = 0;
  if (RecordingSpan(file, first, last)) FDurationMs = last - first;
  if (const int e = FPty.Open(); e != 0) {
    if (error) *error = std::string("Cannot create the device for the replay: ") + std::strerror(e) + ".";
    return false;
  }
  FStop = std::make_unique<TSimStop>();
  FSpeed = speed;
  FForm.UsePort(FPty.SlavePath(), 115200);
  FForm.ComPort1->SetConnected(true);
  // Started once the port listens, so the meters see the recording from its first line.
  FThread = std::thread([this] {
    const std::string error = RunReplay(FPty.MasterFd(), FReader, FSpeed, *FStop, FProgress);
    {
      std::lock_guard lock(FMutex);
      FError = error;
    }
    FFinished.store(true, std::memory_order_release);
  });
  FTimer = new QTimer(this);
  FTimer->setInterval(500);
  connect(FTimer, &QTimer::timeout, this, &TReplay::Tick);
  FTimer->start();
  Tick();
  return true;
}

std::string TReplay::Error() const {
  std::lock_guard lock(FMutex);
  return FError;
}

namespace {
QString Clock(std::int64_t ms) {
  const std::int64_t s = ms / 1000;
  return QStringLiteral("%1:%2:%3")
      .arg(s / 3600, 2, 10, QLatin1Char('0'))
      .arg(s / 60 % 60, 2, 10, QLatin1Char('0'))
      .arg(s % 60, 2, 10, QLatin1Char('0'));
}
} // namespace

QString TReplay::StatusText() const {
  const bool done = Finished();
  const std::int64_t at = FProgress.PositionMs.load(std::memory_order_relaxed);
  QString text = done ? QStringLiteral("Wiedergabe beendet ") : QStringLiteral("Wiedergabe ");
  text += Clock(at) + QStringLiteral(" / ") + Clock(FDurationMs);
  if (FSpeed != 1) text += FSpeed > 0 ? QStringLiteral(" (%1×)").arg(FSpeed) : QStringLiteral(" (so schnell wie möglich)");
  return text;
}

void TReplay::Tick() {
  // Meters the recording addresses are shown as they first appear, as the demo shows its ten.
  const std::uint32_t seen = FProgress.Instruments.load(std::memory_order_relaxed) & ~FShownInstruments;
  for (int i = 1; i <= 10; ++i) {
    if (!(seen & (1u << i))) continue;
    if (auto *meter = FForm.FindComponent<TAnVMeter>(QStringLiteral("Instr%1").arg(i))) meter->SetVisible(true);
    if (auto *box = FForm.FindComponent<QCheckBox>(QStringLiteral("CheckBox%1").arg(i))) box->setChecked(true);
  }
  FShownInstruments |= seen;
  const QString status = StatusText();
  if (status != FLastStatus) {
    FLastStatus = status;
    emit StatusChanged(status);
  }
  if (Finished()) {
    FTimer->stop();
    const std::string error = Error();
    if (!error.empty() && !FErrorShown) {
      FErrorShown = true;
      ShowExceptionMessage("Die Wiedergabe wurde angehalten: " + error);
    }
  }
}
