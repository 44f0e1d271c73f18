#include "tty/SerialDevice.h"

#include <cerrno>

namespace {

// Per thread, like GetLastError: the event thread's waits must not overwrite what a reader on the
// GUI thread is about to report.
thread_local int LastResult = 0;

int Keep(int result) {
  LastResult = result;
  return result;
}

} // namespace

TSerialDevice::~TSerialDevice() = default;

int TSerialDevice::LastError() { return LastResult; }

int TSerialDevice::Open(const std::string &name) { return Keep(DoOpen(name)); }

int TSerialDevice::Close() { return Keep(DoClose()); }

int TSerialDevice::SetupComm(uint32_t inQueue, uint32_t outQueue) { return Keep(DoSetupComm(inQueue, outQueue)); }

int TSerialDevice::SetCommState(const DCB &dcb) {
  if (int e = ValidateDcb(dcb))
    return Keep(e);
  return Keep(DoSetCommState(dcb));
}

int TSerialDevice::GetCommState(DCB &dcb) { return Keep(DoGetCommState(dcb)); }

int TSerialDevice::SetCommTimeouts(const COMMTIMEOUTS &timeouts) { return Keep(DoSetCommTimeouts(timeouts)); }

int TSerialDevice::GetCommTimeouts(COMMTIMEOUTS &timeouts) { return Keep(DoGetCommTimeouts(timeouts)); }

int TSerialDevice::SetCommMask(uint32_t mask) { return Keep(DoSetCommMask(mask)); }

int TSerialDevice::GetCommMask(uint32_t &mask) {
  mask = 0;
  return Keep(DoGetCommMask(mask));
}

int TSerialDevice::WaitCommEvent(uint32_t &mask) { return WaitCommEvent(mask, -1); }

int TSerialDevice::WaitCommEvent(uint32_t &mask, int timeoutMs) {
  mask = 0;
  return Keep(DoWaitCommEvent(mask, timeoutMs));
}

int TSerialDevice::CancelWait() { return Keep(DoCancelWait()); }

int TSerialDevice::TakeCommEvents(uint32_t &mask) {
  mask = 0;
  return Keep(DoTakeCommEvents(mask));
}

int TSerialDevice::Read(void *buffer, uint32_t count, uint32_t &done) {
  done = 0;
  return Keep(DoRead(buffer, count, done));
}

int TSerialDevice::Write(const void *buffer, uint32_t count, uint32_t &done) {
  done = 0;
  return Keep(DoWrite(buffer, count, done));
}

int TSerialDevice::ClearCommError(uint32_t &errors, COMSTAT &stat) {
  errors = 0;
  stat = COMSTAT{};
  return Keep(DoClearCommError(errors, stat));
}

int TSerialDevice::GetCommModemStatus(uint32_t &status) {
  status = 0;
  return Keep(DoGetCommModemStatus(status));
}

int TSerialDevice::PurgeComm(uint32_t flags) {
  constexpr uint32_t known = PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR;
  if (flags == 0 || (flags & ~known) != 0)
    return Keep(EINVAL);
  return Keep(DoPurgeComm(flags));
}

int ValidateDcb(const DCB &dcb) {
  if (dcb.BaudRate == 0 || dcb.ByteSize < 5 || dcb.ByteSize > 8 || dcb.Parity > SPACEPARITY ||
      dcb.StopBits > TWOSTOPBITS)
    return EINVAL;
  return 0;
}
