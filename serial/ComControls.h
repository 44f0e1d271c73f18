#pragma once
// The port-bound controls: a drop-down list bound to one property of a port (TComComboBox with
// its TComSelect) and a lamp bound to one signal of a port (TComLed).
//
// Both are GUI-thread objects. A bound port is held by QPointer and its QObject::destroyed is the
// removal notice; by then the port is gone, so neither control calls back into it.
#include <QComboBox>
#include <QImage>
#include <QMetaObject>
#include <QPointer>
#include <QTimer>
#include <QWidget>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/Events.h"
#include "platform/Geometry.h"
#include "serial/ComLink.h"
#include "serial/ComPort.h"

// --- the selection box --------------------------------------------------------------------------

enum TComProperty { cpNone, cpPort, cpBaudRate, cpDataBits, cpStopBits, cpParity, cpFlowControl };

// Fills `list` with the port names on offer; leaves it as it is when there is nothing to read.
using TSerialPortLister = std::function<void(std::vector<std::string> &list)>;

// The texts offered for a property other than cpPort, in the order of their enumeration (empty
// for cpNone and cpPort).
std::vector<std::string> ComPropertyItems(TComProperty property);
// The text of the port's current value of `property` (the flow control is the derived preset);
// empty for cpNone.
std::string ComPropertyText(const TCustomComPort &port, TComProperty property);

// The binding of one selection box: which property of which port, the item list it offers and
// the value picked but not (yet) written to the port.
class TComSelect : public TObject {
public:
  // `items` is the box's list; it is not owned and must outlive the select.
  explicit TComSelect(QComboBox &items);
  const char *ClassName() const override { return "TComSelect"; }

  TComProperty ComProperty() const { return FComProperty; }
  // Fills the list for the property, then selects the port's value (no port: the first item).
  void SetComProperty(TComProperty value);
  TCustomComPort *ComPort() const { return FComPort; }
  // Stores the port only; the box does the binding around it.
  void SetComPort(TCustomComPort *value) { FComPort = value; }
  bool AutoApply() const { return FAutoApply; }
  void SetAutoApply(bool value) { FAutoApply = value; }
  // Where a cpPort list comes from (default: the machine's serial ports).
  void SetPortLister(TSerialPortLister lister);

  // Fills the list for the current property (cpPort: asks the lister again).
  void FillItems();
  // Selects the item of the port's current value, or nothing when it is not listed; a port path
  // that is not listed ("/dev/pts/3") is added as an item of its own. The selected item becomes the pending
  // value. Without a port (or with cpNone) nothing changes.
  void SelectPortValue();
  // Lists the ports again, keeping the selected name when it is still offered; otherwise selects
  // the bound port's value (nothing when unbound).
  void RefreshPorts();
  // The index of the item equal to `text` ignoring ASCII case, or -1.
  int IndexOf(const std::string &text) const;

  // The picked text becomes the pending value, as its property's conversion reads it.
  void TakePending(const std::string &text);
  // Writes the pending value to the bound port (nothing when unbound or cpNone). When the port
  // fails, it is closed and the failure is rethrown: the line must not stay open in a state that
  // differs from what the port reports.
  void ApplyPending();

  const std::string &PendingPort() const { return FPendingPort; }
  TBaudRate PendingBaudRate() const { return FPendingBaudRate; }
  TDataBits PendingDataBits() const { return FPendingDataBits; }
  TStopBits PendingStopBits() const { return FPendingStopBits; }
  TParityBits PendingParity() const { return FPendingParity; }
  TFlowControl PendingFlowControl() const { return FPendingFlowControl; }

private:
  void SetItems(const std::vector<std::string> &texts);
  std::string ItemText(int index) const;

  QComboBox &FItems;
  TComProperty FComProperty = cpNone;
  QPointer<TCustomComPort> FComPort;
  bool FAutoApply = false;
  TSerialPortLister FPortLister;
  std::string FPendingPort;
  TBaudRate FPendingBaudRate = brCustom;
  TDataBits FPendingDataBits = dbFive;
  TStopBits FPendingStopBits = sbOneStopBit;
  TParityBits FPendingParity = prNone;
  TFlowControl FPendingFlowControl = fcHardware;
};

// A drop-down list (no typing) offering the values of one port property; a pick becomes the
// pending value, is written to the port with AutoApply, and fires OnChange.
class TComComboBox : public QComboBox, public TObject {
  Q_OBJECT
public:
  explicit TComComboBox(QWidget *parent = nullptr);
  ~TComComboBox() override;
  const char *ClassName() const override { return "TComComboBox"; }

  TCustomComPort *ComPort() const { return FSelect.ComPort(); }
  // Binds and selects the port's value; none unbinds and keeps the selection.
  void SetComPort(TCustomComPort *value);
  TComProperty ComProperty() const { return FSelect.ComProperty(); }
  void SetComProperty(TComProperty value) { FSelect.SetComProperty(value); }
  bool AutoApply() const { return FSelect.AutoApply(); }
  void SetAutoApply(bool value) { FSelect.SetAutoApply(value); }
  // The selected item's text, empty when nothing is selected.
  std::string Text() const;
  // Selects the item equal to `value` ignoring case; keeps the selection when there is none.
  void SetText(const std::string &value);
  int ItemIndex() const { return currentIndex(); }
  void SetItemIndex(int value) { setCurrentIndex(value); }
  TComSelect &Select() { return FSelect; }
  const TComSelect &Select() const { return FSelect; }
  // For tests and other platforms; set it before ComProperty.
  void SetPortLister(TSerialPortLister lister) { FSelect.SetPortLister(std::move(lister)); }

  // A cpPort box lists the ports afresh each time it drops down, so a board plugged in after the
  // start shows up.
  void showPopup() override;

  // What the user's pick does (the box's `activated` runs it, showing a failure in the
  // application's exception display): the selected text becomes the pending value, AutoApply
  // writes it, then OnChange. A failure of the port propagates; the port is then closed, the
  // picked entry stays selected and OnChange does not fire.
  virtual void Change();

  TNotifyEvent OnChange;

private:
  void PortRemoved();

  TComSelect FSelect;
  QMetaObject::Connection FPortDestroyed;
};

// --- the lamp -----------------------------------------------------------------------------------

enum TComLedSignal { lsConn, lsCTS, lsDSR, lsRLSD, lsRing, lsRx, lsTx };
enum TLedKind { lkRedLight, lkGreenLight, lkBlueLight, lkYellowLight, lkPurpleLight, lkBulb, lkCustom };
enum TLedState { lsOff, lsOn };

using TLedStateEvent = std::function<void(TObject *Sender, TLedState AState)>;

// The built-in picture of a kind (15 × 15, drawn by this program, transparent around the lamp);
// a null image for lkCustom.
QImage LedPicture(TLedKind kind, TLedState state);
// `image` with every pixel of its lower-left pixel's colour made fully transparent.
QImage MakeTransparent(const QImage &image);
// Where a picture is drawn: centred in the client rectangle, but never left of or above it.
TPoint LedPicturePos(const TRect &client, int width, int height);

// A windowless lamp showing one signal of a port (25 × 25 at creation).
class TComLed : public QWidget, public TObject {
  Q_OBJECT
public:
  explicit TComLed(QWidget *parent = nullptr);
  // Detaches from the port; OnChange does not fire.
  ~TComLed() override;
  const char *ClassName() const override { return "TComLed"; }

  // Loading the stored properties: no OnChange and no reading of the port until Loaded().
  void BeginLoading() { FLoading = true; }
  void Loaded() { FLoading = false; }
  bool Loading() const { return FLoading; }

  TCustomComPort *ComPort() const { return FComPort; }
  // Moves the link to `value`; a connected port sets the state from the signal at once, none
  // turns the lamp off.
  void SetComPort(TCustomComPort *value);
  TComLedSignal LedSignal() const { return FLedSignal; }
  // Re-wires the link; the shown state is not re-read.
  void SetLedSignal(TComLedSignal value);
  TLedKind Kind() const { return FKind; }
  void SetKind(TLedKind value);
  const QImage &GlyphOn() const { return FGlyphOn; }
  const QImage &GlyphOff() const { return FGlyphOff; }
  // Taken (made transparent by its lower-left pixel) only while Kind is lkCustom.
  void SetGlyphOn(const QImage &value);
  void SetGlyphOff(const QImage &value);
  TLedState State() const { return FState; }
  // Failure 19 (EComPort) while a port is bound.
  void SetState(TLedState value);
  int32_t RingDuration() const { return FRingDuration; }
  // A negative duration rings for no time at all.
  void SetRingDuration(int32_t value);

  // Fired on every state set (also when unchanged), except while loading.
  TLedStateEvent OnChange;

  const TComLink &Link() const { return FLink; }
  // Its interval is RingDuration; tests fire its timeout instead of waiting for it.
  QTimer &RingTimer() { return FRingTimer; }

  QSize sizeHint() const override { return {25, 25}; }

protected:
  // Raises OnChange.
  virtual void DoChange(TLedState state);
  void paintEvent(QPaintEvent *event) override;
  void changeEvent(QEvent *event) override;

private:
  void ChangeState(TLedState state);
  void SignalChanged(bool onOff);
  void Ring();
  void RingTimerFired();
  TLedState PortSignalState();
  void PortRemoved();
  void LoadPictures();

  TComLink FLink;
  QPointer<TCustomComPort> FComPort;
  QMetaObject::Connection FPortDestroyed;
  TComLedSignal FLedSignal = lsConn;
  TLedKind FKind = lkRedLight;
  QImage FGlyphOn;
  QImage FGlyphOff;
  TLedState FState = lsOff;
  int32_t FRingDuration = 1000;
  QTimer FRingTimer;
  bool FLoading = false;
};
