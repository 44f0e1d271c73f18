#pragma once
// A serial device for tests, scripted from the test: any operation can be made to fail with a
// chosen errno, received bytes, events, modem lines, line errors and a hangup can be injected,
// what was written can be read back, and every call is logged in order.
//
// It keeps the real device's rules where the engine depends on them: events outside the mask are
// not recorded, events are kept until a wait takes them, a wait sleeps (on a condition variable)
// until an event, CancelWait, Close or a mask change, and after a hangup every wait returns the
// hangup error at once. Reads ignore the timeouts: they return at once with what is queued.
#include "tty/SerialDevice.h"

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <vector>

enum class TFakeOp {
  Open,
  Close,
  SetupComm,
  SetCommState,
  GetCommState,
  SetCommTimeouts,
  GetCommTimeouts,
  SetCommMask,
  GetCommMask,
  WaitCommEvent,
  CancelWait,
  Read,
  Write,
  ClearCommError,
  GetCommModemStatus,
  PurgeComm,
};

const char *FakeOpName(TFakeOp op);

class TFakeSerialDevice : public TSerialDevice {
public:
  static constexpr int Always = -1;

  TFakeSerialDevice() = default;
  ~TFakeSerialDevice() override;

  bool IsOpen() const override;
  bool HungUp() const override;

  // Scripting ------------------------------------------------------------------------------
  // The next `times` calls of `op` (or all of them) fail with `error` and have no effect.
  void Fail(TFakeOp op, int error, int times = Always);
  void ClearFailures();
  // Received bytes: queued for Read and counted in cbInQue; raise EV_RXCHAR, EV_RXFLAG when the
  // event character is among them, and EV_RX80FULL at 80 % of the input queue size.
  void InjectRx(const std::string &bytes);
  // Raises events (EV_ bits) as the driver would.
  void InjectEvents(uint32_t events);
  // Sets the modem lines (MS_ bits); changed lines raise EV_CTS, EV_DSR, EV_RLSD, and a ring that
  // ends raises EV_RING, unless `raiseEvents` is false.
  void SetModemStatus(uint32_t status, bool raiseEvents = true);
  // Line errors (CE_ bits) for the next ClearCommError; raise EV_ERR (EV_BREAK for CE_BREAK).
  void InjectLineErrors(uint32_t errors);
  // The line goes away: a pending and every later wait returns `error`, reads and writes fail.
  void Hangup(int error = EIO);
  // Each Read returns at most this many bytes (0: no limit).
  void SetReadLimit(uint32_t limit);
  // Every SetCommState fails with EINVAL, as a driver that keeps other settings makes it, and
  // reports `refused`; an empty list ends that.
  void RefuseSettings(std::vector<TRefusedSetting> refused);

  // Observation ----------------------------------------------------------------------------
  // Every call in order, with its main arguments: "Open(COM10)", "SetupComm(1024,1024)",
  // "SetCommMask(0x5)", "PurgeComm(0xa)", "Read(5)", "Write(3)", "SetCommState" ...
  std::vector<std::string> Calls() const;
  // Only the operation names, in order.
  std::vector<std::string> CallNames() const;
  void ClearCalls();
  int CallCount(TFakeOp op) const;
  // All bytes written since the last TakeWritten.
  std::string Written() const;
  std::string TakeWritten();
  std::string OpenedName() const;
  DCB Dcb() const;
  COMMTIMEOUTS Timeouts() const;
  uint32_t Mask() const;
  uint32_t InQueueSize() const;
  uint32_t OutQueueSize() const;
  // Bytes injected and not read yet.
  size_t Pending() const;
  uint64_t BytesReceived() const override;
  std::vector<TRefusedSetting> RefusedSettings() const override;
  bool CancelRequested() const;
  // True while a WaitCommEvent sleeps.
  bool Waiting() const;
  // Waits until a WaitCommEvent sleeps (true) or the timeout passes (false).
  bool WaitUntilWaiting(std::chrono::milliseconds timeout) const;
  // How many waits have begun, and the time limit the last one was given (-1: none).
  uint64_t WaitsBegun() const;
  int LastWaitTimeout() const;

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
  // Logs the call and returns the scripted failure, or 0. FMutex held.
  int EnterLocked(TFakeOp op, const std::string &args = {});
  void LatchLocked(uint32_t events);

  mutable std::mutex FMutex;
  mutable std::condition_variable FChanged;
  std::vector<std::pair<TFakeOp, std::string>> FCalls;
  std::map<TFakeOp, std::pair<int, int>> FFailures; // error, remaining times (Always: no end)

  bool FOpen = false;
  std::string FName;
  DCB FDcb;
  COMMTIMEOUTS FTimeouts = DefaultCommTimeouts();
  uint32_t FInQueue = 0;
  uint32_t FOutQueue = 0;
  uint32_t FMask = 0;
  uint64_t FMaskGen = 0;
  uint32_t FLatched = 0;
  uint64_t FWaitsBegun = 0;
  uint64_t FReceived = 0;
  int FLastWaitTimeout = -1;
  bool FCancelled = false;
  bool FWaiting = false;
  bool FHungUp = false;
  int FHangupError = 0;
  std::string FRx;
  std::string FWritten;
  uint32_t FModemStatus = 0;
  uint32_t FLineErrors = 0;
  uint32_t FReadLimit = 0;
  std::vector<TRefusedSetting> FRefused;
};
