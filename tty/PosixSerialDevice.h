#pragma once
// The serial device over termios, ioctl and poll, for every tty Linux offers: USB adapters,
// CDC-ACM boards, on-board UARTs, pseudo-terminals, gadget serial, BLE bridges.
//
// The device keeps an input queue of its own (sized by SetupComm): the event wait moves newly
// arrived bytes into it, so it can tell what is new (EV_RXCHAR), spot the event character
// (EV_RXFLAG) and the 80 % mark, and it never wakes again for bytes it has already announced.
// Read drains that queue first and then the kernel's; bytes a reader takes straight from the
// kernel were never announced and raise no event, since the reader already has them.
//
// What termios cannot express is approximated: DSR output flow and DSR sensitivity are ignored,
// DTR handshake keeps DTR on, RTS toggle keeps RTS on; 1.5 stop bits become 2.
#include "tty/SerialDevice.h"

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// "ttyUSB0" → "/dev/ttyUSB0"; an absolute path is used as it stands.
std::string ResolveSerialDeviceName(const std::string &name);

// The kernel marks bytes received with parity or framing errors (and breaks) as FF 00 x and
// doubles a real FF once marking is on; this turns the marked stream back into bytes, replacing a
// faulty byte when asked, and drops NUL bytes when asked. Works in place (output ≤ input) and
// keeps its state across calls, so a mark split between two reads is still understood.
class TInputFilter {
public:
  void Configure(bool marked, bool replace, char errorChar, bool discardNull);
  void Reset() { FState = 0; }
  bool Active() const { return FMarked || FDiscardNull; }
  // Returns the number of bytes left in `data`.
  size_t Apply(char *data, size_t count);

private:
  void Emit(char *data, size_t &out, char c) const;

  bool FMarked = false;
  bool FReplace = false;
  bool FDiscardNull = false;
  char FErrorChar = 0;
  int FState = 0; // 0 plain, 1 after FF, 2 after FF 00
};

// Calls a blocking step again and again on a thread of its own. Stop() interrupts a step blocked
// in the kernel by sending the thread a signal (the kernel offers no other way to wake a thread in
// TIOCMIWAIT), repeating it until the loop has ended, so a signal that arrives just before the
// step blocks is not lost.
class TInterruptibleLoop {
public:
  TInterruptibleLoop() = default;
  TInterruptibleLoop(const TInterruptibleLoop &) = delete;
  TInterruptibleLoop &operator=(const TInterruptibleLoop &) = delete;
  ~TInterruptibleLoop();

  // Runs `step` until it returns false or Stop is called. A step must return (EINTR) when its
  // blocking call is interrupted. False when a loop already runs or the process has claimed the
  // wake-up signal for itself.
  bool Start(std::function<bool()> step);
  void Stop();
  bool StopRequested() const { return FStop.load(); }
  bool Running() const;

private:
  std::thread FThread;
  std::atomic<bool> FStop{false};
  mutable std::mutex FMutex;
  std::condition_variable FEnded;
  bool FRunning = false;
};

// Line speeds outside the Bxxx constants (termios2 with BOTHER). 0 or errno.
int SetCustomLineSpeed(int fd, uint32_t baud);
int GetLineSpeed(int fd, uint32_t &inputBaud, uint32_t &outputBaud);

class TPosixSerialDevice : public TSerialDevice {
public:
  TPosixSerialDevice() = default;
  ~TPosixSerialDevice() override;

  bool IsOpen() const override;
  bool HungUp() const override;
  // The path the last Open used.
  std::string Path() const;
  // The tty descriptor (-1 while closed), for tests that read the line settings back.
  int Fd() const;
  // How often the event wait came back from the kernel: tests count these to prove a wait sleeps.
  uint64_t WaitWakeups() const { return FWakeups.load(); }
  // True while a WaitCommEvent, a Read or a Write sleeps in the kernel.
  bool WaitBlocked() const;
  uint64_t BytesReceived() const override;
  bool ReadBlocked() const;
  bool WriteBlocked() const;
  // The device answers TIOCMGET (pseudo-terminals do not).
  bool HasModemLines() const;
  std::vector<TRefusedSetting> RefusedSettings() const override;

protected:
  int DoOpen(const std::string &name) override;
  int DoClose() override;
  int DoSetupComm(uint32_t inQueue, uint32_t outQueue) override;
  int DoSetCommState(const DCB &dcb) override;
  int DoGetCommState(DCB &dcb) override;
  int DoSetCommTimeouts(const COMMTIMEOUTS &timeouts) override;
  int DoGetCommTimeouts(COMMTIMEOUTS &timeouts) override;
  int DoSetCommMask(uint32_t mask) override;
  int DoGetCommMask(uint32_t &mask) override;
  int DoWaitCommEvent(uint32_t &mask, int timeoutMs) override;
  int DoCancelWait() override;
  int DoTakeCommEvents(uint32_t &mask) override;
  int DoRead(void *buffer, uint32_t count, uint32_t &done) override;
  int DoWrite(const void *buffer, uint32_t count, uint32_t &done) override;
  int DoClearCommError(uint32_t &errors, COMSTAT &stat) override;
  int DoGetCommModemStatus(uint32_t &status) override;
  int DoPurgeComm(uint32_t flags) override;

private:
  class TUse;
  // The kernel's counters (TIOCGICOUNT), kept apart from its header.
  struct TCounters {
    int Cts = 0, Dsr = 0, Rng = 0, Dcd = 0, Frame = 0, Overrun = 0, Parity = 0, Brk = 0, BufOverrun = 0;
  };

  // All *Locked members run with FMutex held.
  size_t Buffered() const { return FIn.size() - FInHead; }
  size_t InputCapacity() const;
  void FillLocked();
  void NoteArrivalLocked(const char *data, size_t count, bool drained);
  size_t TakeLocked(char *dst, size_t count);
  void MarkHungUpLocked(int error);
  void LatchLocked(uint32_t events);
  int TxEmptyTimeoutLocked();
  bool ReadCounters(TCounters &counters) const;
  void UpdateModemWatch();
  bool WatchModemStep(int fd);

  mutable std::mutex FMutex;
  std::condition_variable FLeft; // FInside fell to 0
  int FFd = -1;
  int FWaitWake = -1;  // eventfd: wakes the event wait
  int FReadWake = -1;  // eventfd: wakes a blocked read
  int FWriteWake = -1; // eventfd: wakes a blocked write
  bool FClosing = false;
  int FInside = 0; // calls using the descriptor
  std::string FPath;

  DCB FDcb;
  std::vector<TRefusedSetting> FRefused; // what the last SetCommState's read-back found not taken
  COMMTIMEOUTS FTimeouts = DefaultCommTimeouts();
  uint32_t FInQueue = 0;
  uint64_t FReceived = 0; // guarded by FMutex
  uint32_t FOutQueue = 0;
  uint32_t FMask = 0;

  std::vector<char> FIn; // the device's input queue: FIn[FInHead..]
  size_t FInHead = 0;
  TInputFilter FFilter;

  uint32_t FLatched = 0; // events that occurred and were not yet reported
  uint64_t FMaskGen = 0;
  bool FCancelled = false;
  bool FWaiting = false;
  bool FWaitBlocked = false;
  bool FWaiterStarved = false; // the wait sleeps without reading because the queue is full
  bool FTxPending = false;     // written bytes not yet seen drained
  bool FOutQueued = false;     // written bytes the kernel may still hold (TIOCOUTQ last saw some)
  int FDrainWaitMs = 0;
  bool FHungUp = false;
  int FHangupError = 0;

  std::mutex FReadMutex;
  std::mutex FWriteMutex;
  uint64_t FReadAbortGen = 0;
  uint64_t FWriteAbortGen = 0;
  bool FReaderBlocked = false;
  bool FWriterBlocked = false;

  bool FHasModemLines = false;
  bool FHasCounters = false;
  TCounters FEventCounters; // last seen by the event wait
  TCounters FErrorCounters; // last seen by ClearCommError
  TCounters FModemCounters; // last seen by the modem watch
  int FModemLines = 0;      // TIOCM_ bits last seen by the modem watch
  bool FModemWatchFailed = false; // TIOCMIWAIT refused: not tried again until the next open

  std::atomic<uint64_t> FWakeups{0};
  std::mutex FWatchMutex; // serialises starting and stopping the modem watch
  TInterruptibleLoop FModemWatch;
};
