#pragma once
// The serial device as the port engine sees it: the operations of the Windows communications API
// in a form POSIX can give. Every operation returns 0 or an errno value and leaves the same value
// as the calling thread's LastError() (as GetLastError does), so the engine can turn it into its
// numbered failures in one place.
//
// Threads: one thread may wait in WaitCommEvent while others read, write, query and purge; reads
// are served one at a time, and so are writes. Close may be called from any thread: it wakes every
// blocked call, waits until all have left and only then releases the device.
#include "tty/LineCheck.h"
#include "tty/WinComm.h"

#include <cstdint>
#include <string>
#include <vector>

class TSerialDevice {
public:
  TSerialDevice() = default;
  TSerialDevice(const TSerialDevice &) = delete;
  TSerialDevice &operator=(const TSerialDevice &) = delete;
  virtual ~TSerialDevice();

  // Opens the named device exclusively (EBUSY when another opener holds it). Default timeouts
  // make a read return at once with what the driver holds. Clears an earlier CancelWait and
  // hangup.
  int Open(const std::string &name);
  // Wakes blocked calls, waits for them to leave and releases the device (EBADF when closed).
  int Close();
  virtual bool IsOpen() const = 0;

  // Queue sizes are recommendations: they are kept, and the input size is what "80 % full" means.
  int SetupComm(uint32_t inQueue, uint32_t outQueue);
  // EINVAL for values no line can carry (rate 0, ByteSize outside 5..8, Parity > 4, StopBits > 2),
  // and for a speed, size, parity or flow control the driver of a real line did not take
  // (RefusedSettings names them). A tty without modem lines (a pseudo-terminal forces 8 bits) has
  // no line those settings could be wrong for: what it coerces is not a failure.
  int SetCommState(const DCB &dcb);
  // The settings the driver did not take at the last SetCommState that reached it; empty when
  // that one succeeded.
  virtual std::vector<TRefusedSetting> RefusedSettings() const { return {}; }
  int GetCommState(DCB &dcb);
  int SetCommTimeouts(const COMMTIMEOUTS &timeouts);
  int GetCommTimeouts(COMMTIMEOUTS &timeouts);
  // Events outside the mask are not recorded. A wait pending while the mask changes returns 0 with
  // an empty mask.
  int SetCommMask(uint32_t mask);
  int GetCommMask(uint32_t &mask);

  // Blocks until an event of the mask occurs (0, `mask` holds the events), CancelWait or Close is
  // called (ECANCELED), or the device hangs up (its error number, usually EIO, and HungUp() turns
  // true). Once hung up, every further wait returns that error at once. One waiter at a time
  // (EBUSY for a second). Events that occur while no wait is pending are kept for the next one.
  int WaitCommEvent(uint32_t &mask);
  // The same wait for at most `timeoutMs` (-1: no limit): ETIMEDOUT with an empty mask when no
  // event came meanwhile. The line is still watched and taken in all the while.
  int WaitCommEvent(uint32_t &mask, int timeoutMs);
  // The part of a wait that finds events already there, without blocking: the events of the mask
  // that occurred since the last wait (0 and an empty mask when none did), after taking in what
  // the line has delivered meanwhile. ECANCELED after CancelWait, as for a wait.
  int TakeCommEvents(uint32_t &mask);
  // The stop signal of the event thread: ends a pending wait and makes every later one return
  // ECANCELED at once, until the next Open.
  int CancelWait();
  // The device was unplugged or its other end closed. Stays true until Close.
  virtual bool HungUp() const = 0;
  // Bytes taken in from the line so far (a running count, never reset): the event thread paces its
  // hand-offs by what arrived, without the side effects of ClearCommError.
  virtual uint64_t BytesReceived() const = 0;

  // Reads up to `count` bytes as the timeouts say; `done` is set also when the call fails. A
  // timeout is not a failure: the call succeeds with fewer bytes.
  int Read(void *buffer, uint32_t count, uint32_t &done);
  // Writes `count` bytes, waiting for room as the write timeouts allow; `done` as for Read.
  int Write(const void *buffer, uint32_t count, uint32_t &done);
  // Line errors since the last call (CE_ bits; clears them) and the queue state (cbInQue).
  int ClearCommError(uint32_t &errors, COMSTAT &stat);
  // MS_ bits. A device without modem lines reports all lines off and succeeds.
  int GetCommModemStatus(uint32_t &status);
  // PURGE_ flags: the ABORT flags end blocked reads/writes (they return ECANCELED), the CLEAR
  // flags discard queued bytes. EINVAL for an empty or unknown set.
  int PurgeComm(uint32_t flags);

  // The result of the calling thread's last operation on any device.
  static int LastError();

protected:
  virtual int DoOpen(const std::string &name) = 0;
  virtual int DoClose() = 0;
  virtual int DoSetupComm(uint32_t inQueue, uint32_t outQueue) = 0;
  virtual int DoSetCommState(const DCB &dcb) = 0;
  virtual int DoGetCommState(DCB &dcb) = 0;
  virtual int DoSetCommTimeouts(const COMMTIMEOUTS &timeouts) = 0;
  virtual int DoGetCommTimeouts(COMMTIMEOUTS &timeouts) = 0;
  virtual int DoSetCommMask(uint32_t mask) = 0;
  virtual int DoGetCommMask(uint32_t &mask) = 0;
  virtual int DoWaitCommEvent(uint32_t &mask, int timeoutMs) = 0;
  virtual int DoCancelWait() = 0;
  virtual int DoTakeCommEvents(uint32_t &mask) = 0;
  virtual int DoRead(void *buffer, uint32_t count, uint32_t &done) = 0;
  virtual int DoWrite(const void *buffer, uint32_t count, uint32_t &done) = 0;
  virtual int DoClearCommError(uint32_t &errors, COMSTAT &stat) = 0;
  virtual int DoGetCommModemStatus(uint32_t &status) = 0;
  virtual int DoPurgeComm(uint32_t flags) = 0;
};

// The COMMTIMEOUTS a device starts with: reads return at once, writes have no time limit.
constexpr COMMTIMEOUTS DefaultCommTimeouts() { return COMMTIMEOUTS{MAXDWORD, 0, 0, 0, 0}; }

// Checks the values a DCB must carry for any line: 0 or EINVAL.
int ValidateDcb(const DCB &dcb);
