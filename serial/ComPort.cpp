// The port's lifecycle and I/O: opening and closing with their notifications, reads and writes,
// the line state, the failures and the link list.
#include "serial/ComPort.h"

#include "platform/Application.h"
#include "platform/GuiThread.h"
#include "tty/PosixSerialDevice.h"
#include "serial/ComOpenHint.h"
#include "serial/ComThread.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <system_error>

namespace {

constexpr const char *ErrorMessages[] = {
    "Unable to open com port",
    "WriteFile function failed",
    "ReadFile function failed",
    "Invalid Async parameter",
    "PurgeComm function failed",
    "Unable to get async status",
    "SetCommState function failed",
    "SetCommTimeouts failed",
    "SetupComm function failed",
    "ClearCommError function failed",
    "GetCommModemStatus function failed",
    "EscapeCommFunction function failed",
    "TransmitCommChar function failed",
    "Cannot set property while connected",
    "EnumPorts function failed",
    "Failed to store settings",
    "Failed to load settings",
    "Link (un)registration failed",
    "Cannot change led state if ComPort is selected",
    "Cannot wait for event if event thread is created",
    "WaitForEvent method failed",
    "A component is linked to OnRxBuf event",
    "Registry error",
    "Port Not Open",
};

int32_t Saturate32(int64_t value) {
  return int32_t(std::clamp<int64_t>(value, INT32_MIN, INT32_MAX));
}

std::string ComposeMessage(int32_t code, int32_t systemError, bool withError, const std::string &hint = {}) {
  std::string text = ComErrorMessage(code);
  if (withError)
    text += " (Error: " + std::to_string(systemError) + ")";
  if (!hint.empty())
    text += "\n" + hint;
  return text;
}

std::mutex DefaultFactoryMutex;
TSerialDeviceFactory DefaultFactory;

std::shared_ptr<TSerialDevice> NewPosixDevice() { return std::make_shared<TPosixSerialDevice>(); }

} // namespace

const char *ComErrorMessage(int code) {
  return code >= 1 && code <= int(std::size(ErrorMessages)) ? ErrorMessages[code - 1] : "";
}

EComPort::EComPort(int32_t portErrorCode, int32_t systemErrorCode, const std::string &hint)
    : std::runtime_error(ComposeMessage(portErrorCode, systemErrorCode, true, hint)), FPortErrorCode(portErrorCode),
      FSystemErrorCode(systemErrorCode) {}

EComPort::EComPort(int32_t portErrorCode, const std::string &hint)
    : std::runtime_error(ComposeMessage(portErrorCode, -1, false, hint)), FPortErrorCode(portErrorCode),
      FSystemErrorCode(-1) {}

void NewAsyncRequest(TAsyncRequest *&request) { request = new TAsyncRequest; }

void FreeAsyncRequest(TAsyncRequest *&request) {
  delete request;
  request = nullptr;
}

// --- construction -------------------------------------------------------------------------------

TCustomComPort::TCustomComPort(QObject *owner)
    : QObject(owner), FParity(std::make_unique<TComParity>(this)),
      FFlowControl(std::make_unique<TComFlowControl>(this)), FTimeouts(std::make_unique<TComTimeouts>(this)),
      FBuffer(std::make_unique<TComBuffer>(this)), FLinks(std::make_shared<const TLinkList>()) {
  std::lock_guard lock(DefaultFactoryMutex);
  FDeviceFactory = DefaultFactory;
}

TCustomComPort::~TCustomComPort() {
  try {
    ClosePort();
  } catch (...) {
    ShowCurrentException();
  }
  // A port closed while one of its batches ran leaves a thread that ends once the batch returned.
  ReapRetiredThreads();
  FThread.reset();
  FBuffer.reset();
  FFlowControl.reset();
  FTimeouts.reset();
  FParity.reset();
}

void TCustomComPort::Loaded() {
  if (!FLoading)
    return;
  FLoading = false;
  if (FConnected) {
    FConnected = false;
    RunGuarded([this] { OpenPort(); });
  }
}

void TCustomComPort::SetDeviceFactory(TSerialDeviceFactory factory) { FDeviceFactory = std::move(factory); }

TSerialDeviceFactory TCustomComPort::SetDefaultDeviceFactory(TSerialDeviceFactory factory) {
  std::lock_guard lock(DefaultFactoryMutex);
  std::swap(DefaultFactory, factory);
  return factory;
}

std::shared_ptr<TSerialDevice> TCustomComPort::Device() const {
  std::lock_guard lock(FDeviceMutex);
  return FDevice;
}

// --- failures -----------------------------------------------------------------------------------

void TCustomComPort::ReportPortError(uint16_t portErrorCode, int64_t winError, const std::string &hint) {
  if (OnException) {
    // The message of the number reported, which is the device's result for the failed call.
    const std::string winMessage =
        winError > 0 ? std::error_code(Saturate32(winError), std::generic_category()).message() : std::string();
    OnException(this, TComExceptions(portErrorCode - 1), ComErrorMessage(portErrorCode), winError, winMessage, hint);
    return;
  }
  if (winError > 0)
    throw EComPort(portErrorCode, Saturate32(winError), hint);
  throw EComPort(portErrorCode, hint);
}

// --- open and close -----------------------------------------------------------------------------

void TCustomComPort::SetConnected(bool value) {
  if (FLoading) {
    FConnected = value;
    return;
  }
  if (value == FConnected)
    return;
  if (value)
    OpenPort();
  else
    ClosePort();
}

void TCustomComPort::OpenDevice() {
  const TSerialDeviceFactory factory = FDeviceFactory ? FDeviceFactory : TSerialDeviceFactory(NewPosixDevice);
  std::shared_ptr<TSerialDevice> device = factory();
  const int error = device ? device->Open(FPort) : ENODEV;
  if (error) {
    ReportPortError(CE_OpenFailed + 1, error, OpenFailureHint(FPort, error, SystemOpenHintSources(), FHintWording));
    return;
  }
  std::lock_guard lock(FDeviceMutex);
  FDevice = std::move(device);
}

void TCustomComPort::CloseDevice() {
  std::shared_ptr<TSerialDevice> device;
  {
    std::lock_guard lock(FDeviceMutex);
    device = std::move(FDevice);
  }
  // The device releases its descriptor also when closing reports an error; nothing is left to
  // retry, so the handle counts as closed either way.
  if (device)
    device->Close();
}

void TCustomComPort::OpenPort() {
  if (FConnected)
    return;
  ReapRetiredThreads();
  DoBeforeOpen();
  OpenDevice();
  if (!Device())
    return; // the failure went to OnException
  FConnected = true;
  ++FSession;
  try {
    ApplyAllSettings();
    if (!FEvents.Empty()) {
      if (FSyncMethod == smWindowSync)
        FMessageWindow = std::make_unique<QObject>();
      StartThread();
    }
  } catch (...) {
    FThread.reset();
    FMessageWindow.reset();
    CloseDevice();
    FConnected = false;
    throw;
  }
  CallLinks(&TComLink::OnConnChange, true);
  DoAfterOpen();
  SendSignals();
}

void TCustomComPort::SendSignals() {
  bool on = ModemSignals().Contains(csCTS);
  CallLinks(&TComLink::OnCTSChange, on);
  DoCTSChange(on);
  on = ModemSignals().Contains(csDSR);
  CallLinks(&TComLink::OnDSRChange, on);
  DoDSRChange(on);
  on = ModemSignals().Contains(csRLSD);
  CallLinks(&TComLink::OnRLSDChange, on);
  DoRLSDChange(on);
}

void TCustomComPort::ClosePort() {
  if (!FConnected)
    return;
  CallLinks(&TComLink::OnCTSChange, false);
  CallLinks(&TComLink::OnDSRChange, false);
  CallLinks(&TComLink::OnRLSDChange, false);
  DoCTSChange(false);
  DoDSRChange(false);
  DoRLSDChange(false);
  DoBeforeClose();
  // A failed purge is raised once the port is closed: stopping half-way would leave the event
  // thread running on a port that can no longer be closed.
  std::exception_ptr purgeFailure;
  try {
    AbortAllIo();
  } catch (...) {
    purgeFailure = std::current_exception();
  }
  StopThread();
  if (!FConnected) {
    // A batch served while waiting for the thread closed the port itself.
    if (purgeFailure)
      std::rethrow_exception(purgeFailure);
    return;
  }
  FMessageWindow.reset(); // takes the window messages not yet handled with it
  CloseDevice();
  FConnected = false;
  CallLinks(&TComLink::OnConnChange, false);
  DoAfterClose();
  if (purgeFailure)
    std::rethrow_exception(purgeFailure);
}

void TCustomComPort::StartThread() {
  auto thread = std::make_unique<TComThread>(*this, Device(), FSyncMethod, FSession);
  thread->Start(EventsToMask(FEvents), FEventPriority);
  FThread = std::move(thread);
}

void TCustomComPort::StopThread() {
  if (!FThread)
    return;
  const bool insideOwnBatch =
      std::find(FDispatching.begin(), FDispatching.end(), FThread.get()) != FDispatching.end();
  if (insideOwnBatch || FThread->IsCurrentThread()) {
    // The thread waits for the code that is closing the port: it cannot be joined now.
    FThread->Abandon();
    FRetiredThreads.push_back(std::move(FThread));
    QMetaObject::invokeMethod(this, [this] { ReapRetiredThreads(); }, Qt::QueuedConnection);
    return;
  }
  FThread->Stop();
  FThread.reset();
}

void TCustomComPort::ReapRetiredThreads() {
  for (auto it = FRetiredThreads.begin(); it != FRetiredThreads.end();) {
    const TComThread *thread = it->get();
    const bool busy = std::find(FDispatching.begin(), FDispatching.end(), thread) != FDispatching.end() ||
                      thread->IsCurrentThread();
    if (busy) {
      ++it;
      continue;
    }
    (*it)->Join();
    it = FRetiredThreads.erase(it);
  }
}

// --- reads and writes ---------------------------------------------------------------------------

int32_t TCustomComPort::ReadBytesAsync(void *buffer, int32_t count, TAsyncRequest *request) {
  if (!request) {
    ReportPortError(CE_InvalidAsync + 1, 0);
    return 0;
  }
  request->HasOperation = true;
  request->Operation = aoRead;
  request->Data.reset();
  request->Size = 0;
  request->Transferred = 0;
  request->Notified = false;
  const auto device = Device();
  if (!device) {
    request->Error = EBADF;
    ReportPortError(CEPortNotOpen + 1, -(CEPortNotOpen + 1));
    return 0;
  }
  uint32_t done = 0;
  request->Error = device->Read(buffer, uint32_t(std::max(count, 0)), done);
  request->Transferred = done;
  if (request->Error)
    ReportPortError(CE_ReadFailed + 1, request->Error);
  return int32_t(done);
}

int32_t TCustomComPort::WriteBytesAsync(const void *buffer, int32_t count, TAsyncRequest *request) {
  if (!request) {
    ReportPortError(CE_InvalidAsync + 1, 0);
    return 0;
  }
  const auto device = Device();
  if (!device) {
    ReportPortError(CEPortNotOpen + 1, -(CEPortNotOpen + 1));
    return 0;
  }
  count = std::max(count, 0);
  request->HasOperation = true;
  request->Operation = aoWrite;
  // A private copy: the caller may change its buffer as soon as the write has started.
  request->Data = std::make_unique<char[]>(size_t(count));
  if (count > 0)
    std::memcpy(request->Data.get(), buffer, size_t(count));
  request->Size = count;
  request->Transferred = 0;
  request->Notified = false;
  uint32_t done = 0;
  request->Error = device->Write(request->Data.get(), uint32_t(count), done);
  request->Transferred = done;
  if (request->Error)
    ReportPortError(CE_WriteFailed + 1, request->Error);
  CallLinks(&TComLink::OnTxActivity, true);
  return int32_t(done);
}

int32_t TCustomComPort::WaitAsync(TAsyncRequest *request) {
  if (!request) {
    ReportPortError(CE_InvalidAsync + 1, 0);
    return 0;
  }
  // The transfer ended inside the call that started it; a failed one was reported there.
  if (request->HasOperation && !request->Notified && request->Error == 0) {
    request->Notified = true;
    if (request->Operation == aoRead) {
      if (BytesWaiting() == 0)
        CallLinks(&TComLink::OnRxActivity, false);
    } else if (request->Data && request->Transferred > 0) {
      CallLinks(&TComLink::OnTxData, static_cast<const char *>(request->Data.get()),
                int32_t(request->Transferred));
    }
  }
  return int32_t(request->Transferred);
}

int32_t TCustomComPort::ReadBytes(void *buffer, int32_t count) {
  std::unique_ptr<TAsyncRequest> request = std::make_unique<TAsyncRequest>();
  ReadBytesAsync(buffer, count, request.get());
  return WaitAsync(request.get());
}

int32_t TCustomComPort::WriteTextAsync(const std::string &text, TAsyncRequest *request) {
  if (text.empty())
    return 0;
  return WriteBytesAsync(text.data(), Saturate32(int64_t(text.size())), request);
}

int32_t TCustomComPort::WriteText(const std::string &text) {
  std::unique_ptr<TAsyncRequest> request = std::make_unique<TAsyncRequest>();
  WriteTextAsync(text, request.get());
  return WaitAsync(request.get());
}

void TCustomComPort::AbortAllIo() {
  const auto device = Device();
  const int error = device ? device->PurgeComm(PURGE_TXABORT | PURGE_RXABORT) : EBADF;
  if (error)
    ReportPortError(CE_PurgeFailed + 1, error);
}

int32_t TCustomComPort::BytesWaiting() {
  const auto device = Device();
  uint32_t errors = 0;
  COMSTAT stat{};
  const int error = device ? device->ClearCommError(errors, stat) : EBADF;
  if (error) {
    ReportPortError(CE_ClearComFailed + 1, error);
    return 0;
  }
  return Saturate32(stat.cbInQue);
}

TComSignals TCustomComPort::ModemSignals() {
  const auto device = Device();
  uint32_t status = 0;
  const int error = device ? device->GetCommModemStatus(status) : EBADF;
  if (error) {
    ReportPortError(CE_ModemStatFailed + 1, error);
    return {};
  }
  TComSignals lines;
  if (status & MS_CTS_ON)
    lines.Include(csCTS);
  if (status & MS_DSR_ON)
    lines.Include(csDSR);
  if (status & MS_RING_ON)
    lines.Include(csRing);
  if (status & MS_RLSD_ON)
    lines.Include(csRLSD);
  return lines;
}

TComErrors TCustomComPort::ReadLineErrors() {
  const auto device = Device();
  uint32_t bits = 0;
  COMSTAT stat{};
  const int error = device ? device->ClearCommError(bits, stat) : EBADF;
  if (error) {
    ReportPortError(CE_ClearComFailed + 1, error);
    return {};
  }
  TComErrors errors;
  if (bits & CE_FRAME)
    errors.Include(ceFrame);
  if ((bits & CE_RXPARITY) && FParity->Check())
    errors.Include(ceRxParity);
  if (bits & CE_OVERRUN)
    errors.Include(ceOverrun);
  if (bits & CE_RXOVER)
    errors.Include(ceRxOver);
  if (bits & CE_TXFULL)
    errors.Include(ceTxFull);
  if (bits & CE_BREAK)
    errors.Include(ceBreak);
  if (bits & CE_IOE)
    errors.Include(ceIO);
  if (bits & CE_MODE)
    errors.Include(ceMode);
  return errors;
}

// --- links --------------------------------------------------------------------------------------

std::shared_ptr<const TCustomComPort::TLinkList> TCustomComPort::Links() const {
  std::lock_guard lock(FLinkMutex);
  return FLinks;
}

bool TCustomComPort::HasLink(const TComLink *link) const {
  const auto links = Links();
  return std::find(links->begin(), links->end(), link) != links->end();
}

void TCustomComPort::AttachLink(TComLink *link) {
  bool added = false;
  {
    std::lock_guard lock(FLinkMutex);
    if (link && std::find(FLinks->begin(), FLinks->end(), link) == FLinks->end()) {
      auto links = std::make_shared<TLinkList>(*FLinks);
      links->push_back(link);
      FLinks = std::move(links);
      added = true;
    }
  }
  UpdateBlockConsumerFlag();
  if (!added)
    ReportPortError(CE_RegFailed + 1, 0);
}

void TCustomComPort::DetachLink(TComLink *link) {
  bool found = false;
  {
    std::lock_guard lock(FLinkMutex);
    const auto it = std::find(FLinks->begin(), FLinks->end(), link);
    if (link && it != FLinks->end()) {
      auto links = std::make_shared<TLinkList>(*FLinks);
      links->erase(links->begin() + (it - FLinks->begin()));
      FLinks = std::move(links);
      found = true;
    }
  }
  UpdateBlockConsumerFlag();
  if (!found)
    ReportPortError(CE_RegFailed + 1, 0);
}

void TCustomComPort::UpdateBlockConsumerFlag() {
  const auto links = Links();
  FHasBlockConsumer = std::any_of(links->begin(), links->end(), [](const TComLink *l) { return bool(l->OnRxBuf); });
}

// --- event raisers ------------------------------------------------------------------------------

void TCustomComPort::DoAfterClose() {
  if (OnAfterClose)
    OnAfterClose(this);
}

void TCustomComPort::DoAfterOpen() {
  if (OnAfterOpen)
    OnAfterOpen(this);
}

void TCustomComPort::DoBeforeClose() {
  if (OnBeforeClose)
    OnBeforeClose(this);
}

void TCustomComPort::DoBeforeOpen() {
  if (OnBeforeOpen)
    OnBeforeOpen(this);
}

void TCustomComPort::DoRxChar(int32_t count) {
  if (OnRxChar)
    OnRxChar(this, count);
}

void TCustomComPort::DoRxBuf(const char *buffer, int32_t count) {
  if (OnRxBuf)
    OnRxBuf(this, buffer, count);
}

void TCustomComPort::DoTxEmpty() {
  if (OnTxEmpty)
    OnTxEmpty(this);
}

void TCustomComPort::DoBreak() {
  if (OnBreak)
    OnBreak(this);
}

void TCustomComPort::DoRing() {
  if (OnRing)
    OnRing(this);
}

void TCustomComPort::DoRxFlag() {
  if (OnRxFlag)
    OnRxFlag(this);
}

void TCustomComPort::DoCTSChange(bool onOff) {
  if (OnCTSChange)
    OnCTSChange(this, onOff);
}

void TCustomComPort::DoDSRChange(bool onOff) {
  if (OnDSRChange)
    OnDSRChange(this, onOff);
}

void TCustomComPort::DoError(TComErrors errors) {
  if (OnError)
    OnError(this, errors);
}

void TCustomComPort::DoRLSDChange(bool onOff) {
  if (OnRLSDChange)
    OnRLSDChange(this, onOff);
}

void TCustomComPort::DoRx80Full() {
  if (OnRx80Full)
    OnRx80Full(this);
}
