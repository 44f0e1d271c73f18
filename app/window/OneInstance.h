#pragma once
// Only one copy of the program runs per user and desktop: a second start asks the first to bring
// its window to the front and ends. TInstanceApplication registers the process before any window
// exists; the main window's OneInstance1 acts on the result once the window is loaded.
#include <QObject>
#include <QPointer>
#include <QWidget>

#include <string>

#include "platform/Events.h"
#include "platform/InstanceGuard.h"

class TInstanceApplication {
public:
  // Registers under `key`; at most one exists per process, from before the main window until
  // after it.
  explicit TInstanceApplication(std::string key);
  ~TInstanceApplication();
  TInstanceApplication(const TInstanceApplication &) = delete;
  TInstanceApplication &operator=(const TInstanceApplication &) = delete;

  // The key of the running program: its file name in capital letters, the user, the desktop.
  static std::string ProcessKey(const char *argv0);
  // The registered application object, null when the run takes no part (demo, screenshot, tests).
  static TInstanceApplication *Current();

  bool AnotherInstance() const { return FGuard.AnotherInstance(); }
  TInstanceGuard &Guard() { return FGuard; }

private:
  TInstanceGuard FGuard;
};

enum TOneInstanceMode { oiActivateOnly };

// Restores a minimized window, brings it to the top and asks the window system to activate it;
// whether it is the active window now (activation may follow later or be refused).
bool ActivateWindow(QWidget *window);

class TOneInstance : public QObject, public TObject {
  Q_OBJECT
public:
  explicit TOneInstance(QWidget *owner);
  ~TOneInstance() override;
  const char *ClassName() const override { return "TOneInstance"; }

  bool Enabled() const { return FEnabled; }
  void SetEnabled(bool value) { FEnabled = value; }
  TOneInstanceMode Mode() const { return FMode; }
  void SetMode(TOneInstanceMode value) { FMode = value; }

  // The decision, made when the owner window has been loaded. As the first copy it starts
  // answering raise requests; as a later one it asks the first to raise its window and closes
  // the owner once the event loop runs, the normal way, so the run ends as any run does.
  void Loaded();
  // This run is a later start on its way out: it must not open the port.
  bool Terminating() const { return FTerminating; }

  // Called when a raise request has made the owner the active window.
  TNotifyEvent OnActivate;

protected:
  bool eventFilter(QObject *watched, QEvent *event) override;

private:
  void ActivateOwner();

  QPointer<QWidget> FOwner;
  bool FEnabled = true;
  TOneInstanceMode FMode = oiActivateOnly;
  bool FTerminating = false;
};
