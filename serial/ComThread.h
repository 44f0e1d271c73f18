#pragma once
// The event thread of an open port: it blocks in the device's WaitCommEvent (no polling) and hands
// every batch of events to the port by the port's sync method. CancelWait is its stop signal.
//
// A wait that fails for any other reason than the stop (the device hung up) ends the loop; the
// thread then tells the port on the GUI thread, which reports failure 3 once and closes itself.
#include <QThread>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <exception>
#include <memory>
#include <thread>

#include "platform/GuiThread.h"
#include "serial/ComPort.h"

class TComThread {
public:
  TComThread(TCustomComPort &port, std::shared_ptr<TSerialDevice> device, TSyncMethod syncMethod,
             uint64_t session);
  // Stops the thread and waits for it (see Stop).
  ~TComThread();
  TComThread(const TComThread &) = delete;
  TComThread &operator=(const TComThread &) = delete;

  // Sets the device's event mask and starts the loop.
  void Start(uint32_t mask, QThread::Priority priority);
  // Signals the stop and waits for the thread to end; on the GUI thread the wait still runs the
  // hand-offs the thread queued before it saw the stop.
  void Stop();
  // Signals the stop without waiting, for a close from inside this thread's own batch: the thread
  // ends as soon as the batch returns and touches neither device nor port again.
  void Abandon();
  bool Abandoned() const { return FAbandoned.load(); }
  // Waits for an ended or abandoned thread (serving hand-offs on the GUI thread).
  void Join() { FWorker.JoinServing(); }

  bool Running() const { return FWorker.Running(); }
  // The caller runs on this event thread (a handler with smNone).
  bool IsCurrentThread() const { return FThreadId.load() == std::this_thread::get_id(); }
  // The exception that ended the loop (an escaping batch), or null.
  std::exception_ptr Failure() const { return FWorker.Failure(); }
  // Batches handed over so far (counted once handed over: with smThreadSync, once queued).
  uint64_t Batches() const { return FBatches.load(); }

  // Hand-off pacing (smThreadSync). Within one frame period the GUI thread is handed received
  // data at once while it stays light (fewer than LightBytes over the period, as a record now and
  // then); beyond that the rest of the period is gathered and handed over in one batch when it
  // ends, or at once when HeavyBytes arrived since the last hand-off. The period starts with a hand-off after it.
  static constexpr std::chrono::nanoseconds DefaultFramePeriod{16'666'667};
  // For tests: a long period makes what is held observable without racing the clock.
  static void SetFramePeriod(std::chrono::nanoseconds period);
  static std::chrono::nanoseconds FramePeriod();
  // How long a period gathers: the period less the lateness of a millisecond timeout.
  static std::chrono::nanoseconds GatherTime();
  static constexpr uint32_t LightBytes = 512;
  static constexpr uint32_t HeavyBytes = 64 * 1024;

private:
  void Execute(QThread::Priority priority);
  // held: the data waited for the end of the frame period, so its redraw need not wait again.
  void Dispatch(TComEvents events, bool held);
  // Whether received events may wait for the end of the frame period; `received` is the device's
  // running count of bytes taken in.
  bool Hold(uint32_t mask, uint64_t received, std::chrono::steady_clock::time_point now) const;
  void NoteHandOff(uint64_t received, std::chrono::steady_clock::time_point now);

  TCustomComPort &FPort;
  std::shared_ptr<TSerialDevice> FDevice;
  const TSyncMethod FSyncMethod;
  const uint64_t FSession;
  std::atomic<bool> FStop{false};
  std::atomic<bool> FAbandoned{false};
  bool FStopped = false; // Stop has run (GUI thread only)
  std::atomic<uint64_t> FBatches{0};
  std::atomic<std::thread::id> FThreadId{};
  // The batch handed to the GUI thread (smThreadSync): the thread waits for it only before the
  // next one, so that it is woken once per batch, by the line.
  TDeferredSync FBatch;
  // The frame period of the pacing, event thread only.
  std::chrono::steady_clock::time_point FPeriodStart{};
  uint64_t FReceivedAtPeriodStart = 0;
  uint64_t FReceivedAtHandOff = 0;
  TWorkerThread FWorker;
};
