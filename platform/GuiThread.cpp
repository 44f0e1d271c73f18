#include "platform/GuiThread.h"

#include <QCoreApplication>
#include <QObject>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <stdexcept>
#include <utility>

#include <unistd.h>

// One queued call; it lives with the worker that waits for it until Done.
struct THandOffCall {
  const std::function<void()> *Call = nullptr;
  // Runs on the GUI thread after a call that threw (deferred hand-offs only).
  const std::function<void()> *OnFailure = nullptr;
  std::exception_ptr Error;
  bool Done = false;
  std::condition_variable DoneChanged;
};

namespace {

class THandOffHub;

struct THandOffState {
  std::mutex Mutex;
  std::deque<THandOffCall *> Queue;
  // Woken when a call is queued or a worker ends: JoinServing waits on it.
  std::condition_variable GuiWake;
  // The object on the GUI thread that wake events are posted to; null while no application exists.
  THandOffHub *Hub = nullptr;
  bool HasGuiThread = false;
  std::thread::id GuiThread;
};

// Never destroyed: a worker may still be finishing while static objects are torn down.
THandOffState &State() {
  static THandOffState *state = new THandOffState;
  return *state;
}

class THandOffHub final : public QObject {
public:
  using QObject::QObject;
  ~THandOffHub() override {
    THandOffState &s = State();
    std::lock_guard lock(s.Mutex);
    if (s.Hub == this)
      s.Hub = nullptr;
  }

protected:
  bool event(QEvent *e) override {
    if (e->type() != SynchronizeEventType())
      return QObject::event(e);
    CheckSynchronize();
    return true;
  }
};

// The wake event a worker allocates and Qt frees on the GUI thread. Qt's event queue is not
// instrumented for ThreadSanitizer, so the event carries its own release/acquire pair: its
// freeing is then seen to follow its allocation, whatever frames Qt's deleting leaves in a report.
class TWakeEvent final : public QEvent {
public:
  TWakeEvent() : QEvent(SynchronizeEventType()) {}
  ~TWakeEvent() override { (void)FPosted.load(std::memory_order_acquire); }
  void Posting() { FPosted.store(true, std::memory_order_release); }

private:
  std::atomic<bool> FPosted{false};
};

// Posts a wake event; the caller holds the state's mutex, which keeps the hub alive meanwhile.
void PostWakeLocked(THandOffState &s) {
  if (!s.Hub)
    return;
  auto *wake = new TWakeEvent;
  wake->Posting();
  QCoreApplication::postEvent(s.Hub, wake);
}

// Queues a worker's call and wakes the GUI thread for it; the caller holds the state's mutex.
void EnqueueLocked(THandOffState &s, THandOffCall &item) {
  s.Queue.push_back(&item);
  s.GuiWake.notify_all();
  PostWakeLocked(s);
}

// Runs inside every QCoreApplication constructor (or at once if one exists already), on the
// thread that becomes the GUI thread. The hub is a child of the application and dies with it.
void CreateHub() {
  auto *hub = new THandOffHub(QCoreApplication::instance());
  THandOffState &s = State();
  std::lock_guard lock(s.Mutex);
  s.Hub = hub;
  s.GuiThread = std::this_thread::get_id();
  s.HasGuiThread = true;
  // Calls queued before the application existed never posted a wake.
  if (!s.Queue.empty())
    PostWakeLocked(s);
}

} // namespace

Q_COREAPP_STARTUP_FUNCTION(CreateHub)

QEvent::Type SynchronizeEventType() {
  static const auto type = static_cast<QEvent::Type>(QEvent::registerEventType());
  return type;
}

namespace {

bool IsGuiThreadLocked(const THandOffState &s) {
  if (s.HasGuiThread)
    return s.GuiThread == std::this_thread::get_id();
  return gettid() == getpid();
}

} // namespace

bool IsGuiThread() {
  THandOffState &s = State();
  std::lock_guard lock(s.Mutex);
  return IsGuiThreadLocked(s);
}

void Synchronize(const std::function<void()> &call) {
  if (IsGuiThread()) {
    call();
    return;
  }
  THandOffState &s = State();
  THandOffCall item;
  item.Call = &call;
  std::unique_lock lock(s.Mutex);
  EnqueueLocked(s, item);
  item.DoneChanged.wait(lock, [&] { return item.Done; });
  if (item.Error)
    std::rethrow_exception(item.Error);
}

bool CheckSynchronize() {
  if (!IsGuiThread())
    throw std::logic_error("CheckSynchronize called outside the GUI thread");
  THandOffState &s = State();
  // Calls are taken one at a time from the shared queue, so that a call which waits for another
  // worker (JoinServing) still finds that worker's call queued. Only the calls present on entry
  // are run: workers re-queueing quickly cannot keep the GUI thread here.
  std::size_t budget;
  {
    std::lock_guard lock(s.Mutex);
    budget = s.Queue.size();
  }
  bool ran = false;
  for (; budget > 0; --budget) {
    THandOffCall *item;
    {
      std::lock_guard lock(s.Mutex);
      if (s.Queue.empty())
        break;
      item = s.Queue.front();
      s.Queue.pop_front();
    }
    std::exception_ptr error;
    try {
      (*item->Call)();
    } catch (...) {
      error = std::current_exception();
    }
    ran = true;
    // Copied before Done: as soon as its worker sees Done, the item may be reused or gone.
    std::function<void()> onFailure;
    if (error && item->OnFailure)
      onFailure = *item->OnFailure;
    {
      std::lock_guard lock(s.Mutex);
      // Moved, not copied: the worker then drops the last reference and frees the exception
      // itself, rather than this thread freeing it through a count the sanitizer cannot see.
      item->Error = std::move(error);
      item->Done = true;
      // Notified under the lock: the item is gone as soon as its worker sees Done.
      item->DoneChanged.notify_one();
    }
    if (onFailure)
      onFailure();
  }
  return ran;
}

TDeferredSync::TDeferredSync() : FItem(new THandOffCall) {}

TDeferredSync::~TDeferredSync() {
  if (FPending) {
    THandOffState &s = State();
    std::unique_lock lock(s.Mutex);
    const auto at = std::find(s.Queue.begin(), s.Queue.end(), FItem);
    if (at != s.Queue.end()) {
      s.Queue.erase(at); // not taken yet: withdrawn
    } else if (!IsGuiThreadLocked(s)) {
      FItem->DoneChanged.wait(lock, [&] { return FItem->Done; });
    } else if (!FItem->Done) {
      return; // destroyed by its own call, which still runs: the item must outlive it
    }
  }
  delete FItem;
}

void TDeferredSync::Post(std::function<void()> call, std::function<void()> onFailure) {
  Wait();
  FCall = std::move(call);
  FOnFailure = std::move(onFailure);
  THandOffCall &item = *FItem;
  item.Call = &FCall;
  item.OnFailure = FOnFailure ? &FOnFailure : nullptr;
  item.Error = nullptr;
  item.Done = false;
  FPending = true;
  if (IsGuiThread()) {
    try {
      FCall();
    } catch (...) {
      item.Error = std::current_exception();
    }
    item.Done = true;
    return;
  }
  THandOffState &s = State();
  std::lock_guard lock(s.Mutex);
  EnqueueLocked(s, item);
}

bool TDeferredSync::Wait() {
  if (!FPending)
    return false;
  std::exception_ptr error;
  bool blocked;
  {
    THandOffState &s = State();
    std::unique_lock lock(s.Mutex);
    blocked = !FItem->Done;
    FItem->DoneChanged.wait(lock, [&] { return FItem->Done; });
    error = std::exchange(FItem->Error, nullptr);
    FPending = false;
  }
  if (error)
    std::rethrow_exception(error);
  return blocked;
}

TWorkerThread::~TWorkerThread() { JoinServing(); }

void TWorkerThread::Start(std::function<void()> body) {
  THandOffState &s = State();
  {
    std::lock_guard lock(s.Mutex);
    if (FStarted && !FFinished)
      throw std::logic_error("TWorkerThread started while running");
  }
  if (FThread.joinable())
    FThread.join(); // ended already; only its thread object is left
  {
    std::lock_guard lock(s.Mutex);
    FStarted = true;
    FFinished = false;
    FFailure = nullptr;
  }
  try {
    FThread = std::thread([this, body = std::move(body)] {
      std::exception_ptr failure;
      try {
        body();
      } catch (...) {
        failure = std::current_exception();
      }
      THandOffState &st = State();
      std::lock_guard lock(st.Mutex);
      FFailure = failure;
      FFinished = true;
      st.GuiWake.notify_all();
    });
  } catch (...) {
    std::lock_guard lock(s.Mutex);
    FStarted = false;
    throw;
  }
}

bool TWorkerThread::Running() const {
  std::lock_guard lock(State().Mutex);
  return FStarted && !FFinished;
}

std::exception_ptr TWorkerThread::Failure() const {
  std::lock_guard lock(State().Mutex);
  return FFailure;
}

void TWorkerThread::JoinServing() {
  if (!FThread.joinable())
    return;
  if (FThread.get_id() == std::this_thread::get_id())
    throw std::logic_error("TWorkerThread joined from its own body");
  if (IsGuiThread()) {
    THandOffState &s = State();
    for (;;) {
      {
        std::unique_lock lock(s.Mutex);
        s.GuiWake.wait(lock, [&] { return FFinished || !s.Queue.empty(); });
        // Calls of other workers left over now are served by their own wake events.
        if (FFinished)
          break;
      }
      CheckSynchronize();
    }
  }
  FThread.join();
  std::lock_guard lock(State().Mutex);
  FStarted = false;
}
