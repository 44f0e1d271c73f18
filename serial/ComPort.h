#pragma once
// The serial port component: its line configuration, opening and closing, reads and writes, the
// numbered failures, and the event thread that hands line events to the port's events and to the
// linked components (TComLink).
//
// Threads: the port is configured, opened and closed on the GUI thread. With smThreadSync (the
// default) and smWindowSync every event and link slot runs on the GUI thread too; with smNone they
// run on the event thread and must not touch widgets or unguarded state.
#include <QObject>
#include <QThread>

#include <atomic>
#include <cstdint>
#include <exception>
#include <functional>
#include <initializer_list>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/Events.h"
#include "platform/FormatSettings.h"
#include "tty/SerialDevice.h"
#include "tty/WinComm.h"
#include "serial/ComLink.h"

class TIniFile;
class TKeyValueStore;
class TComThread;
class TCustomComPort;

// A set of up to 32 members of an enumeration, bit n standing for ordinal n.
template <class E> class TSmallSet {
public:
  constexpr TSmallSet() = default;
  constexpr TSmallSet(std::initializer_list<E> members) {
    for (E e : members)
      Include(e);
  }
  static constexpr TSmallSet FromBits(uint32_t bits) {
    TSmallSet s;
    s.FBits = bits;
    return s;
  }
  constexpr uint32_t Bits() const { return FBits; }
  constexpr bool Contains(E e) const { return (FBits >> unsigned(e) & 1u) != 0; }
  constexpr bool Empty() const { return FBits == 0; }
  constexpr TSmallSet &Include(E e) {
    FBits |= 1u << unsigned(e);
    return *this;
  }
  constexpr TSmallSet &Exclude(E e) {
    FBits &= ~(1u << unsigned(e));
    return *this;
  }
  friend constexpr bool operator==(const TSmallSet &, const TSmallSet &) = default;
  friend constexpr TSmallSet operator|(TSmallSet a, TSmallSet b) { return FromBits(a.FBits | b.FBits); }
  friend constexpr TSmallSet operator&(TSmallSet a, TSmallSet b) { return FromBits(a.FBits & b.FBits); }

private:
  uint32_t FBits = 0;
};

// --- enumerations -------------------------------------------------------------------------------

enum TBaudRate {
  brCustom, br110, br300, br600, br1200, br2400, br4800, br9600, br14400, br19200, br38400, br56000,
  br57600, br115200, br128000, br256000
};
enum TStopBits { sbOneStopBit, sbOne5StopBits, sbTwoStopBits };
enum TDataBits { dbFive, dbSix, dbSeven, dbEight };
enum TParityBits { prNone, prOdd, prEven, prMark, prSpace };
enum TDTRFlowControl { dtrDisable, dtrEnable, dtrHandshake };
enum TRTSFlowControl { rtsDisable, rtsEnable, rtsHandshake, rtsToggle };
enum TFlowControl { fcHardware, fcSoftware, fcNone, fcCustom };
enum TComEvent { evRxChar, evTxEmpty, evRxFlag, evRing, evBreak, evCTS, evDSR, evError, evRLSD, evRx80Full };
using TComEvents = TSmallSet<TComEvent>;
enum TSyncMethod { smThreadSync, smWindowSync, smNone };
enum TStoredProp { spBasic, spFlowControl, spBuffer, spTimeouts, spParity, spOthers };
using TStoredProps = TSmallSet<TStoredProp>;
enum TComSignal { csCTS, csDSR, csRing, csRLSD };
using TComSignals = TSmallSet<TComSignal>;
enum TComError { ceFrame, ceRxParity, ceOverrun, ceBreak, ceIO, ceMode, ceRxOver, ceTxFull };
using TComErrors = TSmallSet<TComError>;

// The failures; a member's ordinal is its failure number minus one.
enum TComExceptions {
  CE_OpenFailed, CE_WriteFailed, CE_ReadFailed, CE_InvalidAsync, CE_PurgeFailed, CE_AsyncCheck,
  CE_SetStateFailed, CE_TimeoutsFailed, CE_SetupComFailed, CE_ClearComFailed, CE_ModemStatFailed,
  CE_EscapeComFailed, CE_TransmitFailed, CE_ConnChangeProp, CE_EnumPortsFailed, CE_StoreFailed,
  CE_LoadFailed, CE_RegFailed, CE_LedStateFailed, CE_ThreadCreated, CE_WaitFailed, CE_HasLink,
  CE_RegError, CEPortNotOpen
};

inline constexpr TComEvents AllComEvents{evRxChar, evTxEmpty, evRxFlag, evRing,  evBreak,
                                         evCTS,    evDSR,     evError,  evRLSD,  evRx80Full};
// The order in which the events of one batch are handled.
inline constexpr TComEvent BatchOrder[] = {evError, evRxChar, evTxEmpty, evBreak, evRing,
                                           evCTS,   evDSR,    evRxFlag,  evRLSD,  evRx80Full};
// The window message that carries one event (its EV_ bit as first parameter) with smWindowSync.
inline constexpr uint32_t CM_COMEVENT = 0x0400 + 1;

// --- conversions --------------------------------------------------------------------------------

uint32_t EventToMask(TComEvent event);
uint32_t EventsToMask(TComEvents events);
// Mask bits without a member are ignored.
TComEvents MaskToEvents(uint32_t mask);
// Bits per second of a standard member; 0 for brCustom.
uint32_t BaudRateValue(TBaudRate rate);

// Texts of the members; the readers compare upper-cased ASCII and fall back as documented.
std::string BaudRateToText(TBaudRate value);
TBaudRate TextToBaudRate(const std::string &text); // br9600
std::string StopBitsToText(TStopBits value);
TStopBits TextToStopBits(const std::string &text); // sbOneStopBit
std::string DataBitsToText(TDataBits value);
TDataBits TextToDataBits(const std::string &text); // dbEight
std::string ParityToText(TParityBits value);
TParityBits TextToParity(const std::string &text); // prNone
std::string FlowControlToText(TFlowControl value);
TFlowControl TextToFlowControl(const std::string &text); // fcCustom
std::string DTRToText(TDTRFlowControl value);
TDTRFlowControl TextToDTR(const std::string &text); // dtrDisable
std::string RTSToText(TRTSFlowControl value);
TRTSFlowControl TextToRTS(const std::string &text); // rtsDisable
std::string BoolToText(bool value);                   // "Yes" / "No"
bool TextToBool(const std::string &text);             // "YES" in any case, else false
// Codes 33..127 as themselves, every other code as "#" and its decimal value.
std::string CharToText(char value);
char TextToChar(const std::string &text);

// --- failures -----------------------------------------------------------------------------------

// The message of failure `code` (1..24); empty for other numbers.
const char *ComErrorMessage(int code);

class EComPort : public std::runtime_error {
public:
  // The message is the failure's text and " (Error: n)", and `hint` on a line of its own when
  // there is one.
  EComPort(int32_t portErrorCode, int32_t systemErrorCode, const std::string &hint = {});
  // The failure's text alone (and the hint's line); SystemErrorCode is -1.
  explicit EComPort(int32_t portErrorCode, const std::string &hint = {});
  int32_t PortErrorCode() const { return FPortErrorCode; }
  int32_t SystemErrorCode() const { return FSystemErrorCode; }

private:
  int32_t FPortErrorCode = 0;
  int32_t FSystemErrorCode = -1;
};

// A settings value the registry store could not read as the type asked for.
class ERegistryException : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

// --- overlapped requests ------------------------------------------------------------------------

enum TAsyncOperation { aoWrite, aoRead };

// One read or write request. The device completes a transfer within the call that starts it (as
// its timeouts allow), so a request is always finished when ReadBytesAsync/WriteBytesAsync
// return; WaitAsync then collects the transferred count and sends the notifications.
struct TAsyncRequest {
  bool HasOperation = false; // no read or write has used the request yet
  TAsyncOperation Operation = aoWrite;
  std::unique_ptr<char[]> Data; // a write's private copy of its bytes
  int32_t Size = 0;
  uint32_t Transferred = 0;
  int Error = 0;          // errno of the transfer, 0 when it succeeded
  bool Notified = false;  // WaitAsync has sent this transfer's notifications
};

void NewAsyncRequest(TAsyncRequest *&request);
// Frees the request and its data copy and sets `request` to null.
void FreeAsyncRequest(TAsyncRequest *&request);

// --- settings groups ----------------------------------------------------------------------------

// Parity kind and checking; changes re-apply the line settings of an open port.
class TComParity : public TObject {
public:
  explicit TComParity(TCustomComPort *port = nullptr) : FComPort(port) {}
  TComParity(const TComParity &) = delete;
  TComParity &operator=(const TComParity &) = delete;
  const char *ClassName() const override { return "TComParity"; }
  // Copies every field without applying; a source of another class is a conversion error.
  void Assign(const TObject *source);
  TCustomComPort *ComPort() const { return FComPort; }

  TParityBits Bits() const { return FBits; }
  void SetBits(TParityBits value);
  bool Check() const { return FCheck; }
  void SetCheck(bool value);
  bool Replace() const { return FReplace; }
  void SetReplace(bool value);
  char ReplaceChar() const { return FReplaceChar; }
  void SetReplaceChar(char value);

private:
  void Changed();
  TCustomComPort *FComPort = nullptr;
  TParityBits FBits = prNone;
  bool FCheck = false;
  bool FReplace = false;
  char FReplaceChar = 0;
};

// Hardware and software handshake and the DTR/RTS levels; FlowControl is a preset derived from
// four of the fields.
class TComFlowControl : public TObject {
public:
  explicit TComFlowControl(TCustomComPort *port = nullptr) : FComPort(port) {}
  TComFlowControl(const TComFlowControl &) = delete;
  TComFlowControl &operator=(const TComFlowControl &) = delete;
  const char *ClassName() const override { return "TComFlowControl"; }
  void Assign(const TObject *source);
  TCustomComPort *ComPort() const { return FComPort; }

  TFlowControl FlowControl() const;
  // Writes the preset's fields and applies the line settings once, also when nothing changed.
  void SetFlowControl(TFlowControl value);
  bool OutCTSFlow() const { return FOutCTSFlow; }
  void SetOutCTSFlow(bool value);
  bool OutDSRFlow() const { return FOutDSRFlow; }
  void SetOutDSRFlow(bool value);
  TDTRFlowControl ControlDTR() const { return FControlDTR; }
  void SetControlDTR(TDTRFlowControl value);
  TRTSFlowControl ControlRTS() const { return FControlRTS; }
  void SetControlRTS(TRTSFlowControl value);
  bool XonXoffOut() const { return FXonXoffOut; }
  void SetXonXoffOut(bool value);
  bool XonXoffIn() const { return FXonXoffIn; }
  void SetXonXoffIn(bool value);
  bool DSRSensitivity() const { return FDSRSensitivity; }
  void SetDSRSensitivity(bool value);
  bool TxContinueOnXoff() const { return FTxContinueOnXoff; }
  void SetTxContinueOnXoff(bool value);
  char XonChar() const { return FXonChar; }
  void SetXonChar(char value);
  char XoffChar() const { return FXoffChar; }
  void SetXoffChar(char value);

private:
  void Changed();
  template <class T> void Set(T &field, T value);
  TCustomComPort *FComPort = nullptr;
  bool FOutCTSFlow = false;
  bool FOutDSRFlow = false;
  TDTRFlowControl FControlDTR = dtrDisable;
  TRTSFlowControl FControlRTS = rtsDisable;
  bool FXonXoffOut = false;
  bool FXonXoffIn = false;
  bool FDSRSensitivity = false;
  bool FTxContinueOnXoff = false;
  char FXonChar = 17;
  char FXoffChar = 19;
};

// Read and write timeouts in milliseconds, in the order of COMMTIMEOUTS; -1 means MAXDWORD.
class TComTimeouts : public TObject {
public:
  explicit TComTimeouts(TCustomComPort *port = nullptr) : FComPort(port) {}
  TComTimeouts(const TComTimeouts &) = delete;
  TComTimeouts &operator=(const TComTimeouts &) = delete;
  const char *ClassName() const override { return "TComTimeouts"; }
  void Assign(const TObject *source);
  TCustomComPort *ComPort() const { return FComPort; }

  int32_t ReadInterval() const { return FReadInterval; }
  void SetReadInterval(int32_t value);
  int32_t ReadTotalMultiplier() const { return FReadTotalMultiplier; }
  void SetReadTotalMultiplier(int32_t value);
  int32_t ReadTotalConstant() const { return FReadTotalConstant; }
  void SetReadTotalConstant(int32_t value);
  int32_t WriteTotalMultiplier() const { return FWriteTotalMultiplier; }
  void SetWriteTotalMultiplier(int32_t value);
  int32_t WriteTotalConstant() const { return FWriteTotalConstant; }
  void SetWriteTotalConstant(int32_t value);

private:
  void Set(int32_t &field, int32_t value);
  TCustomComPort *FComPort = nullptr;
  int32_t FReadInterval = -1;
  int32_t FReadTotalMultiplier = 0;
  int32_t FReadTotalConstant = 0;
  int32_t FWriteTotalMultiplier = 100;
  int32_t FWriteTotalConstant = 1000;
};

// Driver queue sizes in bytes; a positive odd size is stored one lower.
class TComBuffer : public TObject {
public:
  explicit TComBuffer(TCustomComPort *port = nullptr) : FComPort(port) {}
  TComBuffer(const TComBuffer &) = delete;
  TComBuffer &operator=(const TComBuffer &) = delete;
  const char *ClassName() const override { return "TComBuffer"; }
  void Assign(const TObject *source);
  TCustomComPort *ComPort() const { return FComPort; }

  int32_t InputSize() const { return FInputSize; }
  void SetInputSize(int32_t value);
  int32_t OutputSize() const { return FOutputSize; }
  void SetOutputSize(int32_t value);

private:
  void Set(int32_t &field, int32_t value);
  TCustomComPort *FComPort = nullptr;
  int32_t FInputSize = 1024;
  int32_t FOutputSize = 1024;
};

// --- events -------------------------------------------------------------------------------------

using TRxCharEvent = std::function<void(TObject *Sender, int32_t Count)>;
using TRxBufEvent = std::function<void(TObject *Sender, const char *Buffer, int32_t Count)>;
using TComSignalEvent = std::function<void(TObject *Sender, bool OnOff)>;
using TComErrorEvent = std::function<void(TObject *Sender, TComErrors Errors)>;
// Hint: what the message box shows as the message's second line (what went wrong in words, what
// to do), empty when there is none.
using TComExceptionEvent = std::function<void(TObject *Sender, TComExceptions TComException,
                                              const std::string &ComportMessage, int64_t WinError,
                                              const std::string &WinMessage, const std::string &Hint)>;
// Report: cleared by the handler, the failure is not reported. Waiting: set by a handler that
// waits for the device and opens the port again when it is back; the message says so.
using TComHangupEvent = std::function<void(TObject *Sender, int Error, bool &Report, bool &Waiting)>;

// Creates the device object an open uses.
using TSerialDeviceFactory = std::function<std::shared_ptr<TSerialDevice>()>;

// --- the port -----------------------------------------------------------------------------------

class TCustomComPort : public QObject, public TObject {
  Q_OBJECT
public:
  explicit TCustomComPort(QObject *owner = nullptr);
  // Closes the port (a failure of the close is shown, not thrown). Linked components learn of the
  // removal through QPointer or QObject::destroyed and must not call back into the port then.
  ~TCustomComPort() override;
  TCustomComPort(const TCustomComPort &) = delete;
  TCustomComPort &operator=(const TCustomComPort &) = delete;
  const char *ClassName() const override { return "TCustomComPort"; }

  // Loading from stored settings: setters only store until Loaded(), which opens the port when
  // Connected was set meanwhile (a failure of that open is shown, not thrown).
  void BeginLoading() { FLoading = true; }
  virtual void Loaded();
  bool Loading() const { return FLoading; }

  // The device object each open creates (default: the POSIX device). Taken at the next open.
  void SetDeviceFactory(TSerialDeviceFactory factory);
  // The factory of ports created later; returns the previous one. Null restores the POSIX device.
  static TSerialDeviceFactory SetDefaultDeviceFactory(TSerialDeviceFactory factory);
  // The open device, or null while closed.
  std::shared_ptr<TSerialDevice> Device() const;

  // --- configuration ---
  const std::string &Port() const { return FPort; }
  // Compared case-sensitively; on an open port the change closes it and opens the new name.
  void SetPort(const std::string &value);
  // The language of the failure messages' second lines (what went wrong, what to do): English
  // for the command line, German for the window.
  TWording HintWording() const { return FHintWording; }
  void SetHintWording(TWording value) { FHintWording = value; }
  TBaudRate BaudRate() const { return FBaudRate; }
  void SetBaudRate(TBaudRate value);
  int32_t CustomBaudRate() const { return FCustomBaudRate; }
  void SetCustomBaudRate(int32_t value);
  TDataBits DataBits() const { return FDataBits; }
  void SetDataBits(TDataBits value);
  TStopBits StopBits() const { return FStopBits; }
  void SetStopBits(TStopBits value);
  TComParity &Parity() { return *FParity; }
  const TComParity &Parity() const { return *FParity; }
  void SetParity(const TComParity &value);
  TComFlowControl &FlowControl() { return *FFlowControl; }
  const TComFlowControl &FlowControl() const { return *FFlowControl; }
  void SetFlowControl(const TComFlowControl &value);
  bool DiscardNull() const { return FDiscardNull; }
  void SetDiscardNull(bool value);
  char EventChar() const { return FEventChar; }
  void SetEventChar(char value);
  TComTimeouts &Timeouts() { return *FTimeouts; }
  const TComTimeouts &Timeouts() const { return *FTimeouts; }
  void SetTimeouts(const TComTimeouts &value);
  TComBuffer &Buffer() { return *FBuffer; }
  const TComBuffer &Buffer() const { return *FBuffer; }
  void SetBuffer(const TComBuffer &value);
  // Taken when the event thread is created at the next open.
  TComEvents Events() const { return FEvents; }
  void SetEvents(TComEvents value) { FEvents = value; }
  TSyncMethod SyncMethod() const { return FSyncMethod; }
  // Failure 14 while connected; the value is kept then.
  void SetSyncMethod(TSyncMethod value);
  // The stored value, but false while a link with OnRxBuf is attached.
  bool TriggersOnRxChar() const;
  // Failure 22 while a link with OnRxBuf is attached.
  void SetTriggersOnRxChar(bool value);
  TStoredProps StoredProps() const { return FStoredProps; }
  void SetStoredProps(TStoredProps value) { FStoredProps = value; }
  // Taken when the event thread starts; raising it above normal needs the privilege to do so.
  QThread::Priority EventPriority() const { return FEventPriority; }
  void SetEventPriority(QThread::Priority value) { FEventPriority = value; }
  uint32_t CodePage() const { return FCodePage; }
  void SetCodePage(uint32_t value) { FCodePage = value; }
  bool Connected() const { return FConnected; }
  void SetConnected(bool value);

  // The records the configuration becomes.
  DCB BuildDcb() const;
  COMMTIMEOUTS BuildTimeouts() const;

  // --- lifecycle and I/O ---
  void OpenPort();
  void ClosePort();
  int32_t ReadBytes(void *buffer, int32_t count);
  int32_t ReadBytesAsync(void *buffer, int32_t count, TAsyncRequest *request);
  int32_t WriteBytesAsync(const void *buffer, int32_t count, TAsyncRequest *request);
  int32_t WriteText(const std::string &text);
  int32_t WriteTextAsync(const std::string &text, TAsyncRequest *request);
  int32_t WaitAsync(TAsyncRequest *request);
  void AbortAllIo();
  int32_t BytesWaiting();
  TComSignals ModemSignals();
  TComErrors ReadLineErrors();
  // The single route of every failure: OnException when assigned (and the caller goes on),
  // otherwise EComPort, with the error number when it is greater than 0; `hint` is the message's
  // second line when given, for both.
  void ReportPortError(uint16_t portErrorCode, int64_t winError, const std::string &hint = {});

  // --- links ---
  void AttachLink(TComLink *link);
  void DetachLink(TComLink *link);
  bool HasLink(const TComLink *link) const;
  // The event thread of the open port, or null (closed, or opened with no events).
  const TComThread *EventThread() const { return FThread.get(); }

  // --- events ---
  TNotifyEvent OnBeforeOpen;
  TNotifyEvent OnAfterOpen;
  TNotifyEvent OnBeforeClose;
  TNotifyEvent OnAfterClose;
  TComExceptionEvent OnException;
  // The line went away under the open port (hangup, EIO, device removed): raised once the port
  // has closed itself, before the failure is reported.
  TComHangupEvent OnHangup;
  TRxCharEvent OnRxChar;
  TRxBufEvent OnRxBuf;
  TNotifyEvent OnTxEmpty;
  TNotifyEvent OnBreak;
  TNotifyEvent OnRing;
  TNotifyEvent OnRxFlag;
  TNotifyEvent OnRx80Full;
  TComSignalEvent OnCTSChange;
  TComSignalEvent OnDSRChange;
  TComSignalEvent OnRLSDChange;
  TComErrorEvent OnError;

  // --- saving and loading ---
  // Into the open key of `registry`.
  virtual void SaveToRegistryKey(TKeyValueStore &registry);
  // Into the section named after the component (objectName()).
  virtual void SaveToIniSection(TIniFile &ini);
  // Missing strings read as empty text; a missing integer throws ERegistryException.
  virtual void LoadFromRegistryKey(TKeyValueStore &registry);
  // A missing key keeps the current value.
  virtual void LoadFromIniSection(TIniFile &ini);

protected:
  // Each event is raised through one of these, so a derived port can react without the event.
  virtual void DoAfterClose();
  virtual void DoAfterOpen();
  virtual void DoBeforeClose();
  virtual void DoBeforeOpen();
  virtual void DoRxChar(int32_t count);
  virtual void DoRxBuf(const char *buffer, int32_t count);
  virtual void DoTxEmpty();
  virtual void DoBreak();
  virtual void DoRing();
  virtual void DoRxFlag();
  virtual void DoCTSChange(bool onOff);
  virtual void DoDSRChange(bool onOff);
  virtual void DoError(TComErrors errors);
  virtual void DoRLSDChange(bool onOff);
  virtual void DoRx80Full();
  // Each does nothing unless connected and not loading.
  virtual void ApplyLineSettings();
  virtual void ApplyTimeoutSettings();
  virtual void ApplyQueueSizes();
  virtual void OpenDevice();
  virtual void CloseDevice();
  // Queue sizes, then line settings, then timeouts.
  virtual void ApplyAllSettings();
  // The port's message window with smWindowSync: CM_COMEVENT carries one event's EV_ bit.
  virtual void WindowProc(uint32_t message, uintptr_t wParam, intptr_t lParam);

private:
  friend class TComThread;
  friend class TComParity;
  friend class TComFlowControl;
  friend class TComTimeouts;
  friend class TComBuffer;
  using TLinkList = std::vector<TComLink *>;

  std::shared_ptr<const TLinkList> Links() const;
  void UpdateBlockConsumerFlag();
  template <class Slot, class... Args> void CallLinks(Slot TComLink::*slot, Args... args);
  void SendSignals();
  void StartThread();
  void StopThread();
  void ReapRetiredThreads();

  // Dispatch, called from the event thread's hand-off (see ComThread.cpp).
  void RunSynchronizedBatch(TComEvents events, const TComThread *thread);
  void FireBatch(TComEvents events, const TComThread *thread);
  void FireEvent(TComEvent event);
  void ReceivePath();
  void PostWindowMessage(uint32_t bit);
  void ThreadEnded(uint64_t session, int error);

  TSerialDeviceFactory FDeviceFactory;
  mutable std::mutex FDeviceMutex;
  std::shared_ptr<TSerialDevice> FDevice;

  std::string FPort = "COM1";
  TWording FHintWording = TWording::English;
  TBaudRate FBaudRate = br9600;
  int32_t FCustomBaudRate = 9600;
  TDataBits FDataBits = dbEight;
  TStopBits FStopBits = sbOneStopBit;
  std::unique_ptr<TComParity> FParity;
  std::unique_ptr<TComFlowControl> FFlowControl;
  std::unique_ptr<TComTimeouts> FTimeouts;
  std::unique_ptr<TComBuffer> FBuffer;
  bool FDiscardNull = false;
  char FEventChar = 0;
  TComEvents FEvents = AllComEvents;
  TSyncMethod FSyncMethod = smThreadSync;
  std::atomic<bool> FTriggersOnRxChar{true};
  TStoredProps FStoredProps{spBasic};
  QThread::Priority FEventPriority = QThread::NormalPriority;
  uint32_t FCodePage = 0;
  bool FConnected = false;
  bool FLoading = false;

  // Links: replaced as a whole under the mutex, so a walk on the event thread (smNone) works on
  // a list that no attach or detach changes under it.
  mutable std::mutex FLinkMutex;
  std::shared_ptr<const TLinkList> FLinks;
  std::atomic<bool> FHasBlockConsumer{false};

  std::unique_ptr<TComThread> FThread;
  // Threads whose port was closed from inside their own batch: they end once the batch returns.
  std::vector<std::unique_ptr<TComThread>> FRetiredThreads;
  std::unique_ptr<QObject> FMessageWindow;
  uint64_t FSession = 0; // counts opens: stale hand-offs of an earlier open are dropped
  // Event threads whose batch runs on the GUI thread's stack right now: they wait for it to
  // return, so a close from inside such a batch must not wait for them.
  std::vector<const TComThread *> FDispatching;
};

// The link slot rule: the slot of every link that has it set, first attached first.
template <class Slot, class... Args> void TCustomComPort::CallLinks(Slot TComLink::*slot, Args... args) {
  const auto links = Links();
  for (TComLink *link : *links)
    if (const Slot &call = link->*slot)
      call(static_cast<TObject *>(this), args...);
}

class TComPort : public TCustomComPort {
  Q_OBJECT
public:
  explicit TComPort(QObject *owner = nullptr) : TCustomComPort(owner) {}
  const char *ClassName() const override { return "TComPort"; }
};
