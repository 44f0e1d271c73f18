#include "serial/ComReconnect.h"

#include <QSocketNotifier>

#include <filesystem>
#include <utility>

#include "tty/PosixSerialDevice.h"

namespace {

// A pseudo-terminal never comes back: a new pair is another line, and its number may go to any
// other program's terminal meanwhile.
bool IsPseudoTerminalPath(const std::string &path) { return path.rfind("/dev/pts/", 0) == 0; }

// The port name for a device node: as the port list names it when it sits in /dev, else the path.
std::string PortNameFor(const std::string &node) {
  const std::filesystem::path p(node);
  return p.parent_path() == "/dev" ? p.filename().string() : node;
}

bool Exists(const std::string &path) {
  std::error_code ec;
  return std::filesystem::exists(path, ec);
}

} // namespace

TComReconnect::TComReconnect(QObject *owner, TDeviceRoots roots)
    : QObject(owner), FRoots(std::move(roots)), FWatcher(FRoots) {
  FLink.OnConnChange = [this](TObject *, bool open) { ConnChange(open); };
}

// Quietly: whoever listens to OnWaitingChange may be on its way out too.
TComReconnect::~TComReconnect() {
  FNotifier.reset();
  FWatcher.Stop();
  OnWaitingChange = nullptr;
  SetComPort(nullptr);
}

void TComReconnect::SetComPort(TCustomComPort *port) {
  if (port == FComPort)
    return;
  StopWaiting();
  if (FComPort) {
    FComPort->DetachLink(&FLink);
    FComPort->OnHangup = nullptr;
  }
  FComPort = port;
  FReported = false;
  if (port) {
    port->AttachLink(&FLink);
    port->OnHangup = [this](TObject *, int, bool &report, bool &waiting) { Hangup(report, waiting); };
  }
}

void TComReconnect::SetEnabled(bool value) {
  FEnabled = value;
  if (!value) {
    StopWaiting();
    FReported = false;
  }
}

void TComReconnect::Stop() {
  StopWaiting();
  FReported = false;
}

void TComReconnect::PortChosen() {
  if (Waiting() && FComPort && FComPort->Port() != FWaitedPort)
    Stop();
}

void TComReconnect::Hangup(bool &report, bool &waiting) {
  if (!FEnabled || !FComPort || IsPseudoTerminalPath(ResolveSerialDeviceName(FComPort->Port())))
    return;
  StartWaiting();
  if (!Waiting())
    return; // no watch to be had (inotify limits): a loss like any other
  waiting = true;
  report = !FReported;
  FReported = true;
}

void TComReconnect::ConnChange(bool open) {
  if (!open || !FComPort)
    return;
  // Read now: once the adapter is pulled, sysfs and the by-id link are gone with it.
  FIdentity = IdentifyDevice(ResolveSerialDeviceName(FComPort->Port()), FRoots);
  if (FReopening)
    return;
  // Opened by the user: a wait in progress has nothing left to do, and a new run begins.
  Stop();
}

// Nothing is looked at until the watch runs: the device may come back any moment from here on,
// and an event is what tells. Only a path that can come back at all is waited for.
void TComReconnect::StartWaiting() {
  FWaitedPort = FComPort->Port();
  if (FWatcher.Watch(ResolveSerialDeviceName(FWaitedPort)) != 0)
    return;
  FNotifier = std::make_unique<QSocketNotifier>(FWatcher.Fd(), QSocketNotifier::Read);
  connect(FNotifier.get(), &QSocketNotifier::activated, this, [this] { DeviceEvent(); });
  if (OnWaitingChange)
    OnWaitingChange(true);
}

void TComReconnect::StopWaiting() {
  if (!Waiting())
    return;
  FNotifier.reset();
  FWatcher.Stop();
  if (OnWaitingChange)
    OnWaitingChange(false);
}

void TComReconnect::DeviceEvent() {
  if (!FWatcher.ReadEvents() || !Waiting())
    return;
  if (!FComPort || FComPort->Connected() || FComPort->Port() != FWaitedPort) {
    Stop();
    return;
  }
  if (Exists(ResolveSerialDeviceName(FWaitedPort))) {
    Reopen(FWaitedPort);
    return;
  }
  const std::string found = FindDevice(FIdentity, FRoots);
  if (!found.empty())
    Reopen(PortNameFor(found));
}

// A device that is not ready yet (udev still setting its permissions, a driver still binding)
// fails to open: the wait goes on, and the next event tries again.
void TComReconnect::Reopen(const std::string &name) {
  const std::string before = FComPort->Port();
  FReopening = true;
  if (name != before)
    FComPort->SetPort(name);
  try {
    FComPort->SetConnected(true);
  } catch (const std::exception &) {
  }
  FReopening = false;
  if (!FComPort)
    return;
  if (FComPort->Connected()) {
    FWaitedPort = name;
    StopWaiting();
  } else if (name != before) {
    FComPort->SetPort(before);
  }
}
