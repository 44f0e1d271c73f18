#include "instruments/AnFlashT.h"

#include <QCoreApplication>
#include <QPointer>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <vector>

#include <sys/resource.h>
#include <unistd.h>

#include "platform/Application.h"
#include "platform/GuiThread.h"

// What the GUI thread and the worker share. It outlives the component while a worker still runs.
struct TAnFlash::TShared {
  std::mutex Mutex;
  std::condition_variable Wake;
  // Guarded by Mutex.
  bool Started = false;
  bool Exited = false;
  bool Stop = false;
  bool Running = false;
  bool Parked = false;
  std::uint64_t WakeUps = 0;
  std::int32_t Interval = 16;
  TThreadPriority Priority = tpNormal;
  // GUI thread only.
  TAnFlash *Owner = nullptr;
  bool InTick = false;
};

namespace {

// Read by workers, hence atomic; everything else of the service is GUI-thread state.
std::atomic<bool> GShuttingDown{false};

void ApplyPriority(TThreadPriority priority) {
  static constexpr int Nice[] = {19, 10, 5, 0, -5, -10, -20};
  // Linux applies a nice value per thread. Without the privilege to raise it the thread keeps its
  // priority, which only changes how soon ticks arrive under load.
  if (setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), Nice[priority]) != 0)
    return;
}

// A worker whose owner was destroyed inside that worker's own tick: the worker ends as soon as the
// tick returns, and the join is left to the event loop.
void JoinLater(std::unique_ptr<TWorkerThread> thread) {
  TWorkerThread *raw = thread.release();
  if (QCoreApplication *app = QCoreApplication::instance()) {
    QTimer::singleShot(0, app, [raw] {
      raw->JoinServing();
      delete raw;
    });
  }
  // Without an application nothing would ever run the join: the thread object is left behind on
  // purpose (destroying it here would wait for the very tick that is running).
}

} // namespace

TAnFlash::TAnFlash(QObject *Owner) : QObject(Owner), FShared(std::make_shared<TShared>()) {
  FShared->Owner = this;
}

TAnFlash::~TAnFlash() { EndThread(); }

void TAnFlash::SetEnabled(bool Value) {
  if (FEnabled == Value)
    return;
  FEnabled = Value;
  Apply();
}

void TAnFlash::SetThreadPriority(TThreadPriority Value) {
  if (Value < tpIdle || Value > tpTimeCritical || FThreadPriority == Value)
    return;
  FThreadPriority = Value;
  Apply();
}

void TAnFlash::SetOnTimer(TNotifyEvent Value) {
  const bool had = static_cast<bool>(FOnTimer);
  FOnTimer = std::move(Value);
  if (had != static_cast<bool>(FOnTimer))
    Apply();
}

void TAnFlash::Tick() {
  if (!FEnabled || FDestroying || !FOnTimer)
    return;
  Timer();
}

void TAnFlash::Timer() {
  // A copy: the handler may destroy this component, and with it the stored handler.
  const TNotifyEvent handler = FOnTimer;
  handler(this);
}

void TAnFlash::Stop() {
  FEnabled = false;
  JoinThread();
}

bool TAnFlash::ThreadRunning() const {
  std::lock_guard lock(FShared->Mutex);
  return FShared->Started && !FShared->Exited && !FShared->Stop && FShared->Running;
}

std::uint64_t TAnFlash::WakeUps() const {
  std::lock_guard lock(FShared->Mutex);
  return FShared->WakeUps;
}

bool TAnFlash::ThreadParked() const {
  std::lock_guard lock(FShared->Mutex);
  return FShared->Parked;
}

void TAnFlash::SetResting(bool Value) {
  if (FResting == Value)
    return;
  FResting = Value;
  Apply();
}

void TAnFlash::EndThread() {
  FDestroying = true;
  FEnabled = false;
  FOnTimer = nullptr;
  FShared->Owner = nullptr; // a tick already queued finds no owner
  JoinThread();
  if (FThread && FShared->InTick)
    JoinLater(std::move(FThread));
}

void TAnFlash::Apply() {
  const bool run = FInterval > 0 && FEnabled && FOnTimer && !FDestroying && !FResting;
  {
    std::lock_guard lock(FShared->Mutex);
    FShared->Interval = FInterval;
    FShared->Priority = FThreadPriority;
    FShared->Running = run;
    const bool alive = FShared->Started && !FShared->Exited;
    if (!run || alive) {
      // A stop asked for earlier in this same tick is taken back by resuming.
      if (run)
        FShared->Stop = false;
      FShared->Wake.notify_all();
      return;
    }
  }
  StartThread();
}

void TAnFlash::StartThread() {
  if (FThread)
    FThread->JoinServing(); // an ended worker: only its join is left
  else
    FThread = std::make_unique<TWorkerThread>();
  {
    std::lock_guard lock(FShared->Mutex);
    FShared->Started = true;
    FShared->Exited = false;
    FShared->Stop = false;
  }
  FThread->Start([shared = FShared] { Run(shared); });
}

void TAnFlash::JoinThread() {
  {
    std::lock_guard lock(FShared->Mutex);
    FShared->Stop = true;
    FShared->Running = false;
    FShared->Wake.notify_all();
  }
  // Inside its own tick the worker waits for this very call to return: it cannot be joined now.
  if (FThread && !FShared->InTick)
    FThread->JoinServing();
}

void TAnFlash::Run(const std::shared_ptr<TShared> &Shared) {
  TShared &s = *Shared;
  TThreadPriority applied = tpNormal;
  std::unique_lock lock(s.Mutex);
  for (;;) {
    if (!s.Stop && !s.Running) {
      s.Parked = true;
      s.Wake.wait(lock, [&] { return s.Stop || s.Running; });
      s.Parked = false;
      ++s.WakeUps;
    }
    if (s.Stop) {
      s.Exited = true;
      return;
    }
    if (s.Priority != applied) {
      applied = s.Priority;
      lock.unlock();
      ApplyPriority(applied);
      lock.lock();
      continue;
    }
    // A condition wait rather than a sleep: a stop or a pause ends the period at once.
    const bool interrupted =
        s.Wake.wait_for(lock, std::chrono::milliseconds(s.Interval), [&] { return s.Stop || !s.Running; });
    ++s.WakeUps;
    if (interrupted)
      continue;
    if (GShuttingDown.load())
      continue;
    lock.unlock();
    Synchronize([&s] { DeliverTick(s); });
    lock.lock();
  }
}

void TAnFlash::DeliverTick(TShared &Shared) {
  if (!Shared.Owner)
    return;
  Shared.InTick = true;
  // A failing handler is shown like any other handler's failure, and the timer goes on.
  RunGuarded([&] { Shared.Owner->Tick(); });
  Shared.InTick = false;
}

// ---- The client list and the service ---------------------------------------------------------

namespace {

struct TBlinkItem {
  TBlinkClient *Control = nullptr;
  TBlinkProc Proc = nullptr;
  std::int32_t Code = 0;
  std::int64_t Due = 0;
  bool LastState = false;
};

struct TBlinkModule {
  std::vector<TBlinkItem> Items;
  // Counts removals (and the service's end): a pass over the list stops when it changes.
  std::uint64_t Removals = 0;
  int TimerInstances = 0;
  TBlinkClock Clock;
  QPointer<QCoreApplication> HookedApp;
  std::unique_ptr<TAnFlashTimer> Service;

  // The service goes first, while the rest it touches on its way out still exists.
  ~TBlinkModule() { Service.reset(); }
};

TBlinkModule &Module() {
  static TBlinkModule module;
  return module;
}

std::vector<TBlinkItem>::iterator Find(TBlinkModule &m, TBlinkClient *control, TBlinkProc proc) {
  return std::find_if(m.Items.begin(), m.Items.end(), [&](const TBlinkItem &item) {
    return control ? item.Control == control : !item.Control && item.Proc == proc;
  });
}

// The end of the main loop marks the shutdown, so the program needs no call of its own.
void HookQuit(TBlinkModule &m) {
  QCoreApplication *app = QCoreApplication::instance();
  if (!app || m.HookedApp == app)
    return;
  QObject::connect(app, &QCoreApplication::aboutToQuit, app, [] { SetApplicationShuttingDown(true); });
  m.HookedApp = app;
}

void Register(TBlinkClient *control, TBlinkProc proc, std::int32_t code) {
  TBlinkModule &m = Module();
  const std::int64_t due = BlinkTickCount() + code;
  const auto it = Find(m, control, proc);
  if (it != m.Items.end()) {
    it->Code = code;
    it->Due = due;
  } else {
    m.Items.push_back({control, proc, code, due, false});
  }
  if (m.Service) {
    m.Service->Resume();
  } else {
    m.Service = std::make_unique<TAnFlashTimer>();
    HookQuit(m);
  }
}

void Unregister(TBlinkClient *control, TBlinkProc proc) {
  TBlinkModule &m = Module();
  const auto it = Find(m, control, proc);
  if (it == m.Items.end())
    return;
  m.Items.erase(it);
  ++m.Removals;
  if (!m.Items.empty() || !m.Service)
    return;
  if (GShuttingDown.load())
    m.Service.reset();
  else
    m.Service->Rest();
}

void Notify(const TBlinkItem &item, std::uint32_t counter, std::int32_t state) {
  if (item.Control)
    item.Control->BlinkTick(counter, state);
  else
    item.Proc(counter, state, item.Code);
}

// Serves one item. The item is copied before the client is called: the call may change the list.
void Serve(TBlinkItem &item, std::uint32_t counter, std::int64_t now, bool secondTick) {
  const std::int32_t code = item.Code;
  if (code >= 2 && code <= 6) {
    const bool state = ((counter >> code) & 1u) != 0;
    if (state == item.LastState)
      return;
    item.LastState = state;
    Notify(TBlinkItem(item), counter, state ? 1 : 0);
  } else if (code == BlinkEverySecond) {
    if (secondTick)
      Notify(TBlinkItem(item), counter, 0);
  } else if (now >= item.Due) {
    std::int64_t lateness = now - item.Due;
    // Far behind (a stalled GUI thread): start afresh from now instead of catching up.
    if (lateness > 1000)
      lateness = 0;
    item.Due = now + code - lateness;
    Notify(TBlinkItem(item), counter, static_cast<std::int32_t>(lateness));
  }
}

} // namespace

TAnFlashTimer::TAnFlashTimer(QObject *Owner) : TAnFlash(Owner) {
  TBlinkModule &m = Module();
  if (m.TimerInstances > 0)
    throw EAnFlashTimer(FlashTimerRefusalMessage);
  ++m.TimerInstances;
  FNextSecond = BlinkTickCount() + 1000;
  SetOnTimer([this](TObject *) { BlinkTick(); });
}

TAnFlashTimer::~TAnFlashTimer() {
  EndThread();
  TBlinkModule &m = Module();
  --m.TimerInstances;
  ++m.Removals;
}

void TAnFlashTimer::Rest() { SetResting(true); }

void TAnFlashTimer::Resume() {
  if (!Resting())
    return;
  // Seconds that passed while resting had nobody to tell.
  const std::int64_t now = BlinkTickCount();
  if (FNextSecond <= now)
    FNextSecond = now + 1000;
  SetResting(false);
}

void TAnFlashTimer::BlinkTick() {
  ++FTickCounter; // unsigned: after the largest value it starts again at 0
  TBlinkModule &m = Module();
  const std::int64_t now = BlinkTickCount();
  // The second ticks follow the monotonic clock too, so setting the wall clock cannot stall or
  // flood them.
  bool secondTick = false;
  if (now >= FNextSecond) {
    FNextSecond += 1000;
    secondTick = true;
  }
  const std::uint32_t counter = FTickCounter;
  const std::uint64_t removals = m.Removals;
  for (std::size_t i = 0; i < m.Items.size() && !GShuttingDown.load(); ++i) {
    try {
      Serve(m.Items[i], counter, now, secondTick);
    } catch (const std::overflow_error &) {
    } catch (const std::range_error &) {
    } catch (const std::out_of_range &) {
    }
    // Removed items end the pass; this service itself may be gone, so nothing of it is touched.
    if (m.Removals != removals)
      return;
  }
}

TBlinkClient::~TBlinkClient() { BlinkUnregister(this); }

void BlinkRegister(TBlinkClient *Control, std::int32_t Code) {
  if (Control)
    Register(Control, nullptr, Code);
}

void BlinkRegister(TBlinkProc Proc, std::int32_t Code) {
  if (Proc)
    Register(nullptr, Proc, Code);
}

void BlinkUnregister(TBlinkClient *Control) {
  if (Control)
    Unregister(Control, nullptr);
}

void BlinkUnregister(TBlinkProc Proc) {
  if (Proc)
    Unregister(nullptr, Proc);
}

int BlinkClientCount() { return static_cast<int>(Module().Items.size()); }

TAnFlashTimer *BlinkService() { return Module().Service.get(); }

std::int64_t BlinkTickCount() {
  const TBlinkModule &m = Module();
  if (m.Clock)
    return m.Clock();
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

TBlinkClock SetBlinkClock(TBlinkClock Clock) {
  TBlinkClock previous = std::move(Module().Clock);
  Module().Clock = std::move(Clock);
  return previous;
}

bool ApplicationShuttingDown() { return GShuttingDown.load(); }

void SetApplicationShuttingDown(bool Value) {
  GShuttingDown.store(Value);
  TBlinkModule &m = Module();
  if (Value && m.Items.empty())
    m.Service.reset();
}
