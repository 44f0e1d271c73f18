#pragma once
// The blink service: one timer thread for the whole application ticks every 16 ms and hands each
// tick to the GUI thread, where the registered clients learn that their blink state flipped, that a
// second passed or that their period elapsed. Clients, the list and the counter live on the GUI
// thread only; the worker thread does nothing but wait and hand ticks over.
#include <QObject>

#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>

#include "platform/Events.h"

class TWorkerThread;

enum TThreadPriority { tpIdle, tpLowest, tpLower, tpNormal, tpHigher, tpHighest, tpTimeCritical };

// A non-visual component owning a timer thread. The thread runs only while `Interval` > 0,
// `Enabled` is set and `OnTimer` is assigned; it waits `Interval` ms, then runs Tick() on the GUI
// thread and waits for it to finish before the next period starts.
class TAnFlash : public QObject, public TObject {
public:
  explicit TAnFlash(QObject *Owner = nullptr);
  // Disables the timer, clears `OnTimer` and ends the thread, serving hand-offs while it waits.
  ~TAnFlash() override;
  TAnFlash(const TAnFlash &) = delete;
  TAnFlash &operator=(const TAnFlash &) = delete;
  const char *ClassName() const override { return "TAnFlash"; }

  bool Enabled() const { return FEnabled; }
  void SetEnabled(bool Value);
  // Best effort: the thread's nice value; raising above normal needs the privilege to do so.
  TThreadPriority ThreadPriority() const { return FThreadPriority; }
  void SetThreadPriority(TThreadPriority Value);
  // Milliseconds per tick (16). The thread takes a new value over at the next change of `Enabled`,
  // `ThreadPriority` or of whether `OnTimer` is assigned.
  std::int32_t Interval() const { return FInterval; }
  void SetInterval(std::int32_t Value) { FInterval = Value; }
  const TNotifyEvent &OnTimer() const { return FOnTimer; }
  void SetOnTimer(TNotifyEvent Value);

  // One tick as the GUI thread runs it for the worker: raises `OnTimer` when `Enabled`, assigned
  // and not being destroyed.
  void Tick();
  // Clears `Enabled` and ends the thread. Returns once it has ended, serving hand-offs meanwhile;
  // called inside this timer's own tick it cannot wait, and the thread ends when the tick returns.
  // Setting `Enabled` again starts a new thread.
  void Stop();
  // Whether a thread exists that ticks (started, resumed and not told to end).
  bool ThreadRunning() const;
  // How often the worker came out of a wait (a period elapsed, a pause or stop was signalled),
  // and whether it now sits in a wait without timeout: a paused timer costs no wake-ups at all.
  std::uint64_t WakeUps() const;
  bool ThreadParked() const;
  // Paused because a derived service has nobody to serve (see SetResting).
  bool Resting() const { return FResting; }

protected:
  // Raises `OnTimer`; derived classes may react without the event.
  virtual void Timer();
  // The destructors' shutdown, also run by derived destructors so that no tick reaches a
  // half-destroyed object. Idempotent.
  void EndThread();
  // Pauses the thread without touching `Enabled` (a service with nobody to serve); the thread
  // waits without a timeout until resumed.
  void SetResting(bool Value);

private:
  struct TShared;
  // Passes the properties to the thread and pauses, resumes or starts it.
  void Apply();
  void StartThread();
  // Tells the thread to end and joins it unless this is its own tick.
  void JoinThread();
  static void Run(const std::shared_ptr<TShared> &Shared);
  static void DeliverTick(TShared &Shared);

  bool FEnabled = true;
  TThreadPriority FThreadPriority = tpNormal;
  std::int32_t FInterval = 16;
  TNotifyEvent FOnTimer;
  bool FDestroying = false;
  bool FResting = false;
  std::shared_ptr<TShared> FShared;
  std::unique_ptr<TWorkerThread> FThread;
};

// The refusal of a second TAnFlashTimer.
class EAnFlashTimer : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

inline constexpr const char *FlashTimerRefusalMessage = "Only one TAnFlashTimer per Application!\nRemove it...";

// The application-wide blink service: a TAnFlash whose tick serves the client list. BlinkRegister
// creates it; only one may exist at a time (the constructor throws EAnFlashTimer otherwise).
class TAnFlashTimer : public TAnFlash {
public:
  explicit TAnFlashTimer(QObject *Owner = nullptr);
  ~TAnFlashTimer() override;
  const char *ClassName() const override { return "TAnFlashTimer"; }

  // One pass over the client list (the service's `OnTimer`); GUI thread only.
  void BlinkTick();
  std::uint32_t TickCounter() const { return FTickCounter; }
  // The list became empty / has a client again: the thread rests in between. A second tick due
  // during the rest is not caught up on resuming; the seconds count from the resumption.
  void Rest();
  void Resume();

private:
  std::uint32_t FTickCounter = 0;
  std::int64_t FNextSecond = 0; // in BlinkTickCount() milliseconds
};

// A control that receives the blink service's ticks. Its destructor unregisters it, so a client
// destroyed while registered (also inside another client's tick) is never called afterwards.
class TBlinkClient {
public:
  // TickCounter is the service's counter; State is the new blink state (1 on, 0 off) for codes
  // 2…6, 0 for code 32 and the lateness in ms for periodic codes.
  virtual void BlinkTick(std::uint32_t TickCounter, std::int32_t State) = 0;

protected:
  TBlinkClient() = default;
  TBlinkClient(const TBlinkClient &) = delete;
  TBlinkClient &operator=(const TBlinkClient &) = delete;
  virtual ~TBlinkClient();
};

// A client without a control: a plain routine given the counter, the state or lateness, and the
// item's rate code. Identified by its address.
using TBlinkProc = void (*)(std::uint32_t TickCounter, std::int32_t State, std::int32_t Code);

// Rate codes: 2…6 blink with bit `Code` of the tick counter (a flip every 2^Code ticks); 32 once
// per second; any other code is a period in milliseconds.
inline constexpr std::int32_t BlinkEverySecond = 32;

// GUI thread only. A listed client gets its code replaced and its due time set to now + Code;
// otherwise it is added. The first client creates the service. No effect for a null client.
void BlinkRegister(TBlinkClient *Control, std::int32_t Code);
void BlinkRegister(TBlinkProc Proc, std::int32_t Code);
// Removes the client if listed. Removing the last client lets the service's thread rest without
// any wake-up until the next registration; while the application shuts down it frees the service.
void BlinkUnregister(TBlinkClient *Control);
void BlinkUnregister(TBlinkProc Proc);
int BlinkClientCount();
// The service the first registration created, or null.
TAnFlashTimer *BlinkService();

// The "system tick count" in ms the service schedules with: a monotonic clock unless replaced.
using TBlinkClock = std::function<std::int64_t()>;
std::int64_t BlinkTickCount();
// Installs `Clock` (empty: the monotonic clock again) and returns the previous one.
TBlinkClock SetBlinkClock(TBlinkClock Clock);

// Whether the application's main loop has ended (set automatically when it emits aboutToQuit).
// While set, ticks notify nobody and timer threads hand nothing over; setting it with no client
// listed frees the service at once.
bool ApplicationShuttingDown();
void SetApplicationShuttingDown(bool Value);
