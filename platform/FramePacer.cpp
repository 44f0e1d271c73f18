#include "platform/FramePacer.h"

#include <algorithm>

#include <QCoreApplication>
#include <QPointer>

namespace {

QPointer<TFramePacer> &InstancePointer() {
  static QPointer<TFramePacer> instance;
  return instance;
}

std::chrono::nanoseconds SteadyNow() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch());
}

} // namespace

TFramePacer::TFramePacer(QObject *parent) : QObject(parent), FClock(SteadyNow) {
  FTimer.setSingleShot(true);
  FTimer.setTimerType(Qt::PreciseTimer);
  connect(&FTimer, &QTimer::timeout, this, &TFramePacer::Tick);
}

TFramePacer::~TFramePacer() = default;

TFramePacer &TFramePacer::Instance() {
  QPointer<TFramePacer> &p = InstancePointer();
  if (!p)
    p = new TFramePacer(QCoreApplication::instance());
  return *p;
}

void TFramePacer::Forget(TFrameClient *client) {
  if (TFramePacer *p = InstancePointer())
    p->Cancel(client);
}

std::chrono::nanoseconds TFramePacer::Now() const { return FClock(); }

void TFramePacer::SetClock(TClock clock) { FClock = clock ? std::move(clock) : TClock(SteadyNow); }

void TFramePacer::Request(TFrameClient *client) {
  if (IsPending(client))
    return;
  FPending.push_back(client);
  if (FTimer.isActive())
    return;
  FTimer.start(std::max(0, MillisecondsToNextFrame()));
}

void TFramePacer::Cancel(TFrameClient *client) {
  std::replace(FServing.begin(), FServing.end(), client, static_cast<TFrameClient *>(nullptr));
  FPending.erase(std::remove(FPending.begin(), FPending.end(), client), FPending.end());
  if (FPending.empty())
    FTimer.stop();
}

bool TFramePacer::IsPending(const TFrameClient *client) const {
  return std::find(FPending.begin(), FPending.end(), client) != FPending.end();
}

int TFramePacer::MillisecondsToNextFrame() const {
  if (FPending.empty())
    return -1;
  const auto wait = FLastFrame + FPeriod - Now();
  if (wait.count() <= 0)
    return 0;
  // Rounded down: a frame served up to a millisecond early keeps the cadence (see Tick), where
  // rounding up would add a millisecond to every frame and to the wait of every value.
  return int(wait.count() / 1'000'000);
}

void TFramePacer::Tick() {
  if (FInTick)
    return; // a client that runs the event loop while being served
  FInTick = true;
  FTimer.stop();
  const auto now = Now();
  const auto due = FLastFrame + FPeriod;
  FLastFrame = (now < due && due - now <= std::chrono::milliseconds(1)) ? due : now;
  ++FFrames;
  // Clients asking again while being served wait for the next frame.
  FServing.swap(FPending);
  for (std::size_t i = 0; i < FServing.size(); ++i) {
    // A client served earlier in this frame may have destroyed a later one (Cancel cleared it).
    if (TFrameClient *client = FServing[i])
      client->FrameDue();
  }
  FServing.clear();
  FInTick = false;
  if (!FPending.empty())
    FTimer.start(std::max(0, MillisecondsToNextFrame()));
}

void TFramePacer::ServeHeldData() {
  if (FPending.empty() || FInTick)
    return;
  if (Now() - FLastFrame >= FPeriod / 2)
    Tick();
}
