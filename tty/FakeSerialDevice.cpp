#include "tty/FakeSerialDevice.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <utility>

namespace {

constexpr uint32_t DefaultInputSize = 4096;

std::string Hex(uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%x", unsigned(value));
  return text;
}

} // namespace

const char *FakeOpName(TFakeOp op) {
  switch (op) {
  case TFakeOp::Open: return "Open";
  case TFakeOp::Close: return "Close";
  case TFakeOp::SetupComm: return "SetupComm";
  case TFakeOp::SetCommState: return "SetCommState";
  case TFakeOp::GetCommState: return "GetCommState";
  case TFakeOp::SetCommTimeouts: return "SetCommTimeouts";
  case TFakeOp::GetCommTimeouts: return "GetCommTimeouts";
  case TFakeOp::SetCommMask: return "SetCommMask";
  case TFakeOp::GetCommMask: return "GetCommMask";
  case TFakeOp::WaitCommEvent: return "WaitCommEvent";
  case TFakeOp::CancelWait: return "CancelWait";
  case TFakeOp::Read: return "Read";
  case TFakeOp::Write: return "Write";
  case TFakeOp::ClearCommError: return "ClearCommError";
  case TFakeOp::GetCommModemStatus: return "GetCommModemStatus";
  case TFakeOp::PurgeComm: return "PurgeComm";
  }
  return "?";
}

TFakeSerialDevice::~TFakeSerialDevice() = default;

int TFakeSerialDevice::EnterLocked(TFakeOp op, const std::string &args) {
  FCalls.emplace_back(op, args);
  auto it = FFailures.find(op);
  if (it != FFailures.end()) {
    const int error = it->second.first;
    if (it->second.second != Always && --it->second.second == 0)
      FFailures.erase(it);
    return error;
  }
  if (op != TFakeOp::Open && !FOpen)
    return EBADF;
  return 0;
}

void TFakeSerialDevice::LatchLocked(uint32_t events) {
  FLatched |= events & FMask;
  FChanged.notify_all();
}

// Scripting ------------------------------------------------------------------------------------

void TFakeSerialDevice::Fail(TFakeOp op, int error, int times) {
  std::lock_guard lock(FMutex);
  if (times == 0)
    FFailures.erase(op);
  else
    FFailures[op] = {error, times};
}

void TFakeSerialDevice::ClearFailures() {
  std::lock_guard lock(FMutex);
  FFailures.clear();
}

void TFakeSerialDevice::InjectRx(const std::string &bytes) {
  if (bytes.empty())
    return;
  std::lock_guard lock(FMutex);
  FRx += bytes;
  FReceived += bytes.size();
  uint32_t events = EV_RXCHAR;
  if (bytes.find(FDcb.EvtChar) != std::string::npos)
    events |= EV_RXFLAG;
  const uint64_t size = FInQueue ? FInQueue : DefaultInputSize;
  if (uint64_t(FRx.size()) * 5 >= size * 4)
    events |= EV_RX80FULL;
  LatchLocked(events);
}

void TFakeSerialDevice::InjectEvents(uint32_t events) {
  std::lock_guard lock(FMutex);
  LatchLocked(events);
}

void TFakeSerialDevice::SetModemStatus(uint32_t status, bool raiseEvents) {
  std::lock_guard lock(FMutex);
  const uint32_t changed = FModemStatus ^ status;
  FModemStatus = status;
  if (!raiseEvents)
    return;
  uint32_t events = 0;
  if (changed & MS_CTS_ON)
    events |= EV_CTS;
  if (changed & MS_DSR_ON)
    events |= EV_DSR;
  if (changed & MS_RLSD_ON)
    events |= EV_RLSD;
  if ((changed & MS_RING_ON) && !(status & MS_RING_ON))
    events |= EV_RING;
  LatchLocked(events);
}

void TFakeSerialDevice::InjectLineErrors(uint32_t errors) {
  std::lock_guard lock(FMutex);
  FLineErrors |= errors;
  uint32_t events = 0;
  if (errors & ~CE_BREAK)
    events |= EV_ERR;
  if (errors & CE_BREAK)
    events |= EV_BREAK;
  LatchLocked(events);
}

void TFakeSerialDevice::Hangup(int error) {
  std::lock_guard lock(FMutex);
  FHungUp = true;
  FHangupError = error;
  FChanged.notify_all();
}

void TFakeSerialDevice::SetReadLimit(uint32_t limit) {
  std::lock_guard lock(FMutex);
  FReadLimit = limit;
}

// Observation ----------------------------------------------------------------------------------

std::vector<std::string> TFakeSerialDevice::Calls() const {
  std::lock_guard lock(FMutex);
  std::vector<std::string> calls;
  for (const auto &[op, args] : FCalls)
    calls.push_back(args.empty() ? std::string(FakeOpName(op)) : std::string(FakeOpName(op)) + "(" + args + ")");
  return calls;
}

std::vector<std::string> TFakeSerialDevice::CallNames() const {
  std::lock_guard lock(FMutex);
  std::vector<std::string> names;
  for (const auto &call : FCalls)
    names.emplace_back(FakeOpName(call.first));
  return names;
}

void TFakeSerialDevice::ClearCalls() {
  std::lock_guard lock(FMutex);
  FCalls.clear();
}

int TFakeSerialDevice::CallCount(TFakeOp op) const {
  std::lock_guard lock(FMutex);
  return int(std::count_if(FCalls.begin(), FCalls.end(), [op](const auto &call) { return call.first == op; }));
}

std::string TFakeSerialDevice::Written() const {
  std::lock_guard lock(FMutex);
  return FWritten;
}

std::string TFakeSerialDevice::TakeWritten() {
  std::lock_guard lock(FMutex);
  return std::exchange(FWritten, {});
}

std::string TFakeSerialDevice::OpenedName() const {
  std::lock_guard lock(FMutex);
  return FName;
}

DCB TFakeSerialDevice::Dcb() const {
  std::lock_guard lock(FMutex);
  return FDcb;
}

COMMTIMEOUTS TFakeSerialDevice::Timeouts() const {
  std::lock_guard lock(FMutex);
  return FTimeouts;
}

uint32_t TFakeSerialDevice::Mask() const {
  std::lock_guard lock(FMutex);
  return FMask;
}

uint32_t TFakeSerialDevice::InQueueSize() const {
  std::lock_guard lock(FMutex);
  return FInQueue;
}

uint32_t TFakeSerialDevice::OutQueueSize() const {
  std::lock_guard lock(FMutex);
  return FOutQueue;
}

uint64_t TFakeSerialDevice::BytesReceived() const {
  std::lock_guard lock(FMutex);
  return FReceived;
}

uint64_t TFakeSerialDevice::WaitsBegun() const {
  std::lock_guard lock(FMutex);
  return FWaitsBegun;
}

int TFakeSerialDevice::LastWaitTimeout() const {
  std::lock_guard lock(FMutex);
  return FLastWaitTimeout;
}

size_t TFakeSerialDevice::Pending() const {
  std::lock_guard lock(FMutex);
  return FRx.size();
}

bool TFakeSerialDevice::CancelRequested() const {
  std::lock_guard lock(FMutex);
  return FCancelled;
}

bool TFakeSerialDevice::Waiting() const {
  std::lock_guard lock(FMutex);
  return FWaiting;
}

bool TFakeSerialDevice::WaitUntilWaiting(std::chrono::milliseconds timeout) const {
  std::unique_lock lock(FMutex);
  return FChanged.wait_for(lock, timeout, [this] { return FWaiting; });
}

bool TFakeSerialDevice::IsOpen() const {
  std::lock_guard lock(FMutex);
  return FOpen;
}

bool TFakeSerialDevice::HungUp() const {
  std::lock_guard lock(FMutex);
  return FHungUp;
}

// Operations -----------------------------------------------------------------------------------

int TFakeSerialDevice::DoOpen(const std::string &name) {
  std::lock_guard lock(FMutex);
  if (int e = EnterLocked(TFakeOp::Open, name))
    return e;
  if (FOpen)
    return EBUSY;
  FOpen = true;
  FName = name;
  FDcb = DCB{};
  FDcb.DCBlength = sizeof(DCB);
  FTimeouts = DefaultCommTimeouts();
  FMask = 0;
  FLatched = 0;
  FCancelled = false;
  FHungUp = false;
  FHangupError = 0;
  FLineErrors = 0;
  return 0;
}

int TFakeSerialDevice::DoClose() {
  std::lock_guard lock(FMutex);
  if (int e = EnterLocked(TFakeOp::Close))
    return e;
  FOpen = false;
  FChanged.notify_all();
  return 0;
}

int TFakeSerialDevice::DoSetupComm(uint32_t inQueue, uint32_t outQueue) {
  std::lock_guard lock(FMutex);
  if (int e = EnterLocked(TFakeOp::SetupComm, std::to_string(inQueue) + "," + std::to_string(outQueue)))
    return e;
  FInQueue = inQueue;
  FOutQueue = outQueue;
  return 0;
}

int TFakeSerialDevice::DoSetCommState(const DCB &dcb) {
  std::lock_guard lock(FMutex);
  if (int e = EnterLocked(TFakeOp::SetCommState))
    return e;
  if (!FRefused.empty())
    return EINVAL;
  FDcb = dcb;
  return 0;
}

void TFakeSerialDevice::RefuseSettings(std::vector<TRefusedSetting> refused) {
  std::lock_guard lock(FMutex);
  FRefused = std::move(refused);
}

std::vector<TRefusedSetting> TFakeSerialDevice::RefusedSettings() const {
  std::lock_guard lock(FMutex);
  return FRefused;
}

int TFakeSerialDevice::DoGetCommState(DCB &dcb) {
  std::lock_guard lock(FMutex);
  if (int e = EnterLocked(TFakeOp::GetCommState))
    return e;
  dcb = FDcb;
  return 0;
}

int TFakeSerialDevice::DoSetCommTimeouts(const COMMTIMEOUTS &timeouts) {
  std::lock_guard lock(FMutex);
  if (int e = EnterLocked(TFakeOp::SetCommTimeouts))
    return e;
  FTimeouts = timeouts;
  return 0;
}

int TFakeSerialDevice::DoGetCommTimeouts(COMMTIMEOUTS &timeouts) {
  std::lock_guard lock(FMutex);
  if (int e = EnterLocked(TFakeOp::GetCommTimeouts))
    return e;
  timeouts = FTimeouts;
  return 0;
}

int TFakeSerialDevice::DoSetCommMask(uint32_t mask) {
  std::lock_guard lock(FMutex);
  if (int e = EnterLocked(TFakeOp::SetCommMask, Hex(mask)))
    return e;
  FMask = mask;
  FLatched = 0;
  ++FMaskGen;
  FChanged.notify_all();
  return 0;
}

int TFakeSerialDevice::DoGetCommMask(uint32_t &mask) {
  std::lock_guard lock(FMutex);
  if (int e = EnterLocked(TFakeOp::GetCommMask))
    return e;
  mask = FMask;
  return 0;
}

int TFakeSerialDevice::DoWaitCommEvent(uint32_t &mask, int timeoutMs) {
  std::unique_lock lock(FMutex);
  if (int e = EnterLocked(TFakeOp::WaitCommEvent))
    return e;
  if (FWaiting)
    return EBUSY;
  const uint64_t gen = FMaskGen;
  FWaiting = true;
  ++FWaitsBegun;
  FLastWaitTimeout = timeoutMs;
  FChanged.notify_all();
  const auto woken = [&] { return !FOpen || FCancelled || FMaskGen != gen || (FLatched & FMask) || FHungUp; };
  bool timedOut = false;
  if (timeoutMs < 0)
    FChanged.wait(lock, woken);
  else
    timedOut = !FChanged.wait_for(lock, std::chrono::milliseconds(timeoutMs), woken);
  FWaiting = false;
  if (timedOut) {
    FChanged.notify_all();
    return ETIMEDOUT;
  }
  FChanged.notify_all();
  if (!FOpen || FCancelled)
    return ECANCELED;
  if (FMaskGen != gen)
    return 0;
  if (const uint32_t events = FLatched & FMask) {
    FLatched = 0;
    mask = events;
    return 0;
  }
  return FHangupError;
}

int TFakeSerialDevice::DoCancelWait() {
  std::lock_guard lock(FMutex);
  if (int e = EnterLocked(TFakeOp::CancelWait))
    return e;
  FCancelled = true;
  FChanged.notify_all();
  return 0;
}

// Not among the logged calls: it stands for the part of a wait that finds events already there.
int TFakeSerialDevice::DoTakeCommEvents(uint32_t &mask) {
  std::lock_guard lock(FMutex);
  if (!FOpen)
    return EBADF;
  if (FCancelled)
    return ECANCELED;
  mask = FLatched & FMask;
  FLatched &= ~mask;
  return 0;
}

int TFakeSerialDevice::DoRead(void *buffer, uint32_t count, uint32_t &done) {
  std::lock_guard lock(FMutex);
  if (int e = EnterLocked(TFakeOp::Read, std::to_string(count)))
    return e;
  size_t n = std::min<size_t>(count, FRx.size());
  if (FReadLimit)
    n = std::min<size_t>(n, FReadLimit);
  if (n == 0 && count > 0 && FHungUp)
    return FHangupError;
  std::memcpy(buffer, FRx.data(), n);
  FRx.erase(0, n);
  done = uint32_t(n);
  return 0;
}

int TFakeSerialDevice::DoWrite(const void *buffer, uint32_t count, uint32_t &done) {
  std::lock_guard lock(FMutex);
  if (int e = EnterLocked(TFakeOp::Write, std::to_string(count)))
    return e;
  if (FHungUp)
    return FHangupError;
  FWritten.append(static_cast<const char *>(buffer), count);
  done = count;
  // Nothing holds the bytes back: the output queue is empty at once, as on a pseudo-terminal.
  if (count > 0)
    LatchLocked(EV_TXEMPTY);
  return 0;
}

int TFakeSerialDevice::DoClearCommError(uint32_t &errors, COMSTAT &stat) {
  std::lock_guard lock(FMutex);
  if (int e = EnterLocked(TFakeOp::ClearCommError))
    return e;
  errors = std::exchange(FLineErrors, 0);
  stat.cbInQue = uint32_t(FRx.size());
  return 0;
}

int TFakeSerialDevice::DoGetCommModemStatus(uint32_t &status) {
  std::lock_guard lock(FMutex);
  if (int e = EnterLocked(TFakeOp::GetCommModemStatus))
    return e;
  status = FModemStatus;
  return 0;
}

int TFakeSerialDevice::DoPurgeComm(uint32_t flags) {
  std::lock_guard lock(FMutex);
  if (int e = EnterLocked(TFakeOp::PurgeComm, Hex(flags)))
    return e;
  if (flags & PURGE_RXCLEAR)
    FRx.clear();
  return 0;
}
