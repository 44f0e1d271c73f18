// The event thread and the dispatch of its batches: the three sync methods, the order of the
// events in a batch, the step of each event and the receive path.
#include "serial/ComThread.h"

#include "platform/Application.h"
#include "platform/FramePacer.h"
#include "serial/ComStateHint.h"

#include <QMetaObject>

#include <algorithm>
#include <cerrno>

#include <sys/resource.h>
#include <unistd.h>

namespace {

// Linux gives each thread a nice value of its own. Raising the priority needs the privilege to
// do so; without it the thread keeps normal priority, which only matters under load.
void ApplyPriority(QThread::Priority priority) {
  int nice = 0;
  switch (priority) {
  case QThread::IdlePriority: nice = 19; break;
  case QThread::LowestPriority: nice = 10; break;
  case QThread::LowPriority: nice = 5; break;
  case QThread::HighPriority: nice = -5; break;
  case QThread::HighestPriority: nice = -10; break;
  case QThread::TimeCriticalPriority: nice = -20; break;
  default: return;
  }
  setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), nice);
}

} // namespace

// --- the thread ---------------------------------------------------------------------------------

TComThread::TComThread(TCustomComPort &port, std::shared_ptr<TSerialDevice> device, TSyncMethod syncMethod,
                       uint64_t session)
    : FPort(port), FDevice(std::move(device)), FSyncMethod(syncMethod), FSession(session) {}

TComThread::~TComThread() {
  // An abandoned thread's device may already serve a new open: leave it alone.
  if (FAbandoned.load() || FStopped)
    Join();
  else
    Stop();
}

void TComThread::Start(uint32_t mask, QThread::Priority priority) {
  FDevice->SetCommMask(mask); // as with the driver, a refused mask shows as silence
  FWorker.Start([this, priority] { Execute(priority); });
}

void TComThread::Stop() {
  FStopped = true;
  FStop = true;
  FDevice->CancelWait();
  std::this_thread::yield();
  FWorker.JoinServing();
}

void TComThread::Abandon() {
  FAbandoned = true;
  FStop = true;
  FDevice->CancelWait();
}

void TComThread::Execute(QThread::Priority priority) {
  FThreadId = std::this_thread::get_id();
  ApplyPriority(priority);
  // Leaves the device as the next open expects it; skipped once the port has let go of it.
  auto finish = [this] {
    if (FAbandoned.load())
      return;
    FDevice->SetCommMask(0);
    FDevice->PurgeComm(PURGE_TXCLEAR | PURGE_RXCLEAR);
  };
  int failure = 0;
  auto reportHangup = [this](int error) {
    TCustomComPort *port = &FPort;
    const uint64_t session = FSession;
    QMetaObject::invokeMethod(
        port, [port, session, error] { port->ThreadEnded(session, error); }, Qt::QueuedConnection);
  };
  try {
    using TClock = std::chrono::steady_clock;
    uint32_t held = 0; // events gathered for the end of the frame period
    TClock::time_point holdUntil{};
    while (!FStop.load()) {
      uint32_t mask = 0;
      int timeout = -1;
      if (held != 0)
        timeout = int(std::max<int64_t>(
            0, std::chrono::ceil<std::chrono::milliseconds>(holdUntil - TClock::now()).count()));
      const bool holding = held != 0;
      int error = FDevice->WaitCommEvent(mask, timeout);
      if (FStop.load() || error == ECANCELED)
        break;
      if (error == ETIMEDOUT)
        error = 0; // the period is over: what was gathered goes now
      held |= mask;
      if (held == 0 && error == 0)
        continue; // the mask changed while waiting
      const TClock::time_point now = TClock::now();
      const uint64_t received = FDevice->BytesReceived();
      if (error == 0 && mask != 0 && Hold(held, received, now)) {
        holdUntil = FPeriodStart + std::chrono::duration_cast<TClock::duration>(GatherTime());
        continue;
      }
      if (held != 0 && error == 0 && FBatch.Wait()) {
        // The last batch was still running: events that occurred meanwhile join this one, as
        // they would have had the thread waited for that batch before waiting for the line.
        uint32_t more = 0;
        error = FDevice->TakeCommEvents(more);
        held |= more;
        if (FStop.load() || error == ECANCELED)
          break;
      }
      if (held != 0) {
        // Bytes received before a hangup are handed over before it is reported.
        const TComEvents events = MaskToEvents(held);
        held = 0;
        NoteHandOff(received, now);
        if (!events.Empty())
          Dispatch(events, holding);
      }
      if (error != 0) {
        // A hung-up device answers every further wait at once: waiting again would spin.
        failure = error;
        break;
      }
    }
    FBatch.Wait();
  } catch (...) {
    // Thrown by the batch or by the wait: either way no batch is pending any more.
    try {
      FBatch.Wait();
    } catch (...) {
    }
    finish();
    // A batch that failed because the line went away (a modem-line query on an unplugged
    // adapter) is a hangup all the same: the port must not stay open and silent.
    if (!FStop.load() && !FAbandoned.load() && FDevice->HungUp())
      reportHangup(EIO);
    throw; // ends the thread; kept as Failure(), not displayed
  }
  finish();
  if (failure != 0 && !FStop.load())
    reportHangup(failure);
}

namespace {
std::atomic<std::int64_t> GFramePeriodNs{TComThread::DefaultFramePeriod.count()};
} // namespace

void TComThread::SetFramePeriod(std::chrono::nanoseconds period) { GFramePeriodNs = period.count(); }

std::chrono::nanoseconds TComThread::FramePeriod() { return std::chrono::nanoseconds(GFramePeriodNs.load()); }

bool TComThread::Hold(uint32_t mask, uint64_t received, std::chrono::steady_clock::time_point now) const {
  constexpr uint32_t Received = EV_RXCHAR | EV_RXFLAG | EV_RX80FULL;
  if (FSyncMethod != smThreadSync || (mask & ~Received) != 0)
    return false; // other events go at once, and what was gathered goes with them, in order
  if (now - FPeriodStart >= GatherTime())
    return false; // a quiet spell, or the period is over
  return received - FReceivedAtHandOff < HeavyBytes && received - FReceivedAtPeriodStart >= LightBytes;
}

std::chrono::nanoseconds TComThread::GatherTime() {
  // A wait's timeout counts whole milliseconds and ends late, never early: ending the gathering up
  // to a millisecond before the period is over keeps hand-offs a period apart on average.
  return std::max<std::chrono::nanoseconds>(FramePeriod() - std::chrono::milliseconds(1), FramePeriod() / 2);
}

void TComThread::NoteHandOff(uint64_t received, std::chrono::steady_clock::time_point now) {
  if (now - FPeriodStart >= GatherTime()) {
    FPeriodStart = now;
    // The bytes of this hand-off count towards the new period.
    FReceivedAtPeriodStart = FReceivedAtHandOff;
  }
  FReceivedAtHandOff = received;
}

void TComThread::Dispatch(TComEvents events, bool held) {
  switch (FSyncMethod) {
  case smThreadSync: {
    // A batch that throws ends the thread: wake the wait, which then learns of it.
    const std::shared_ptr<TSerialDevice> device = FDevice;
    // Counted before it is posted: the GUI thread may run the batch before this thread goes on,
    // and whoever sees its effects must see it counted.
    ++FBatches;
    FBatch.Post(
        [this, events, held] {
          FPort.RunSynchronizedBatch(events, this);
          if (held)
            TFramePacer::Instance().ServeHeldData();
        },
        [this, device] {
          if (!FAbandoned.load())
            device->CancelWait();
        });
    break;
  }
  case smWindowSync:
    // One message per event; the thread goes on as soon as the GUI thread has taken it.
    for (const TComEvent event : BatchOrder)
      if (events.Contains(event)) {
        const uint32_t bit = EventToMask(event);
        Synchronize([&] { FPort.PostWindowMessage(bit); });
      }
    ++FBatches;
    break;
  case smNone:
    FPort.FireBatch(events, this);
    ++FBatches;
    break;
  }
}

// --- dispatch on the port -----------------------------------------------------------------------

void TCustomComPort::RunSynchronizedBatch(TComEvents events, const TComThread *thread) {
  if (thread->Abandoned())
    return;
  FDispatching.push_back(thread);
  struct TPop {
    std::vector<const TComThread *> &List;
    ~TPop() { List.pop_back(); }
  } pop{FDispatching};
  FireBatch(events, thread);
}

void TCustomComPort::FireBatch(TComEvents events, const TComThread *thread) {
  for (const TComEvent event : BatchOrder) {
    if (!events.Contains(event))
      continue;
    // Closed from inside this batch: the rest belongs to a port that is gone.
    if (thread && thread->Abandoned())
      return;
    FireEvent(event);
  }
}

void TCustomComPort::FireEvent(TComEvent event) {
  switch (event) {
  case evError: {
    const TComErrors errors = ReadLineErrors();
    if (!errors.Empty())
      DoError(errors);
    break;
  }
  case evRxChar:
    ReceivePath();
    break;
  case evTxEmpty:
    CallLinks(&TComLink::OnTxActivity, false);
    CallLinks(&TComLink::OnTxEmpty);
    DoTxEmpty();
    break;
  case evBreak:
    DoBreak();
    break;
  case evRing:
    CallLinks(&TComLink::OnRing);
    DoRing();
    break;
  case evCTS: {
    const bool on = ModemSignals().Contains(csCTS);
    CallLinks(&TComLink::OnCTSChange, on);
    DoCTSChange(on);
    break;
  }
  case evDSR: {
    const bool on = ModemSignals().Contains(csDSR);
    CallLinks(&TComLink::OnDSRChange, on);
    DoDSRChange(on);
    break;
  }
  case evRxFlag:
    CallLinks(&TComLink::OnRxFlag);
    DoRxFlag();
    break;
  case evRLSD: {
    const bool on = ModemSignals().Contains(csRLSD);
    CallLinks(&TComLink::OnRLSDChange, on);
    DoRLSDChange(on);
    break;
  }
  case evRx80Full:
    DoRx80Full();
    break;
  }
}

void TCustomComPort::ReceivePath() {
  const int32_t count = BytesWaiting();
  if (count <= 0)
    return;
  CallLinks(&TComLink::OnRxActivity, true);
  if (TriggersOnRxChar()) {
    // Announced only: the bytes stay in the driver for the handler to read.
    DoRxChar(count);
    return;
  }
  // Read once, then the same block to the port's OnRxBuf and every consumer in attachment order.
  // The count given on is what the read returned: a device that drops bytes on the way (NUL
  // stripping, error marks) may deliver fewer than it announced.
  const auto block = std::make_unique_for_overwrite<char[]>(size_t(count));
  const int32_t got = ReadBytes(block.get(), count);
  if (got <= 0)
    return;
  DoRxBuf(block.get(), got);
  CallLinks(&TComLink::OnRxBuf, static_cast<const char *>(block.get()), got);
}

void TCustomComPort::PostWindowMessage(uint32_t bit) {
  // Messages still queued when the port closes go with the window.
  if (QObject *window = FMessageWindow.get())
    QMetaObject::invokeMethod(window, [this, bit] { WindowProc(CM_COMEVENT, bit, 0); }, Qt::QueuedConnection);
}

void TCustomComPort::WindowProc(uint32_t message, uintptr_t wParam, intptr_t) {
  if (message != CM_COMEVENT || !FConnected)
    return;
  const TComEvents events = MaskToEvents(uint32_t(wParam));
  for (const TComEvent event : BatchOrder)
    if (events.Contains(event))
      RunGuarded([&] { FireEvent(event); });
}

void TCustomComPort::ThreadEnded(uint64_t session, int error) {
  if (!FConnected || session != FSession)
    return; // closed (or closed and opened again) meanwhile
  // Closed first, so that everything linked shows the port closed while the message is read.
  RunGuarded([this] { ClosePort(); });
  bool report = true, waiting = false;
  if (OnHangup)
    RunGuarded([&] { OnHangup(this, error, report, waiting); });
  if (report)
    RunGuarded([&] { ReportPortError(CE_ReadFailed + 1, error, HangupHint(FPort, waiting, FHintWording)); });
}
