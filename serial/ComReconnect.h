#pragma once
// Opens a port again when the device it lost comes back: after the line went away under an open
// port (hangup, EIO, unplugged), it waits for the same path, or for the same adapter under another
// name (its by-id link or USB serial number), and reopens with the port's settings unchanged.
// The failure is reported for the first loss only; later losses of the same run are silent, until
// the user connects, disconnects or chooses another port.
#include <QObject>
#include <QPointer>

#include <functional>
#include <memory>
#include <string>

#include "serial/ComLink.h"
#include "serial/ComPort.h"
#include "tty/DeviceIdentity.h"
#include "tty/DeviceWatcher.h"

class QSocketNotifier;

class TComReconnect : public QObject {
  Q_OBJECT
public:
  explicit TComReconnect(QObject *owner = nullptr, TDeviceRoots roots = {});
  ~TComReconnect() override;

  TCustomComPort *ComPort() const { return FComPort; }
  // Attaches to `port` and takes its OnHangup; null detaches.
  void SetComPort(TCustomComPort *port);
  bool Enabled() const { return FEnabled; }
  // Off: a loss is reported and the port stays closed; a wait in progress ends.
  void SetEnabled(bool value);
  bool Waiting() const { return FNotifier != nullptr; }
  // The user closed the port (Disconnect): the wait ends and the next loss is reported again.
  void Stop();
  // The port's name may have changed: a wait for another name ends.
  void PortChosen();
  // The device the port had open last, as found when it opened.
  const TDeviceIdentity &Identity() const { return FIdentity; }

  // Raised when waiting starts and when it ends (device back, Disconnect, another port, off).
  std::function<void(bool Waiting)> OnWaitingChange;

private:
  void Hangup(bool &report, bool &waiting);
  void ConnChange(bool open);
  void StartWaiting();
  void StopWaiting();
  void DeviceEvent();
  void Reopen(const std::string &name);

  TDeviceRoots FRoots;
  QPointer<TCustomComPort> FComPort;
  TComLink FLink;
  TDeviceWatcher FWatcher;
  std::unique_ptr<QSocketNotifier> FNotifier;
  TDeviceIdentity FIdentity;
  std::string FWaitedPort;
  bool FEnabled = true;
  bool FReported = false;
  bool FReopening = false;
};
