#include "app/window/OneInstance.h"

#include <QEvent>
#include <QTimer>

#include <cstdlib>
#include <unistd.h>

namespace {
TInstanceApplication *CurrentApplication = nullptr;
}

TInstanceApplication::TInstanceApplication(std::string key) : FGuard(std::move(key)) {
  CurrentApplication = this;
}

TInstanceApplication::~TInstanceApplication() {
  if (CurrentApplication == this) CurrentApplication = nullptr;
}

std::string TInstanceApplication::ProcessKey(const char *argv0) {
  return InstanceKey(ProgramFilePath(argv0), ::getuid(), InstanceDesktop([](const char *n) { return std::getenv(n); }));
}

TInstanceApplication *TInstanceApplication::Current() { return CurrentApplication; }

bool ActivateWindow(QWidget *window) {
  if (!window) return false;
  // Clearing only the minimized flag brings a maximized window back maximized.
  if (window->isMinimized()) window->setWindowState(window->windowState() & ~Qt::WindowMinimized);
  if (window->isActiveWindow()) return true;
  window->show();
  window->raise();
  window->activateWindow();
  return window->isActiveWindow();
}

TOneInstance::TOneInstance(QWidget *owner) : QObject(owner), FOwner(owner) {
  setObjectName(QStringLiteral("OneInstance1"));
}

TOneInstance::~TOneInstance() {
  // The guard outlives the window and the application object: it stops serving with the window.
  if (auto *app = TInstanceApplication::Current()) app->Guard().StopServing();
}

void TOneInstance::Loaded() {
  auto *app = TInstanceApplication::Current();
  if (!app || !FEnabled) return;
  if (!app->AnotherInstance()) {
    app->Guard().Serve([self = QPointer<TOneInstance>(this)] {
      if (self) self->ActivateOwner();
    });
    return;
  }
  FTerminating = true;
  app->Guard().RequestRaise(); // a refusal is not reported: this run ends all the same
  // Later starts look who is there while this one ends: their connections are served too.
  app->Guard().Serve({});
  if (FOwner) QTimer::singleShot(0, FOwner, [owner = FOwner] { owner->close(); });
}

void TOneInstance::ActivateOwner() {
  if (!FOwner) return;
  if (ActivateWindow(FOwner)) {
    if (OnActivate) OnActivate(this);
  } else if (OnActivate) {
    // The window system activates the window later, if at all.
    FOwner->installEventFilter(this);
  }
}

bool TOneInstance::eventFilter(QObject *watched, QEvent *event) {
  if (watched == FOwner && event->type() == QEvent::WindowActivate) {
    FOwner->removeEventFilter(this);
    if (OnActivate) OnActivate(this);
  }
  return QObject::eventFilter(watched, event);
}
